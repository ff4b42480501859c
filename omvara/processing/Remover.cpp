// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/processing/Remover.h"

#include "omvara/processing/CodePoints.h"

#include <algorithm>

namespace omvara::processing {

Remover::Remover(const QString &removeCharacters)
    : m_removeCharacters(removeCharacters)
{
    const QStringView text(m_removeCharacters);
    for (qsizetype i = 0; i < text.size();) {
        int units = 1;
        const char32_t c = codepoints::at(text, i, &units);
        if (c < m_latin1.size())
            m_latin1.set(c);
        else
            m_other.push_back(c);
        i += units;
    }
    std::sort(m_other.begin(), m_other.end());
    m_other.erase(std::unique(m_other.begin(), m_other.end()), m_other.end());
}

bool Remover::contains(char32_t c) const
{
    if (c < m_latin1.size())
        return m_latin1.test(c);
    return std::binary_search(m_other.begin(), m_other.end(), c);
}

QString Remover::remove(const QString &value) const
{
    if (value.isNull() || value.isEmpty() || m_removeCharacters.isEmpty())
        return value;
    const QStringView text(value);
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < text.size();) {
        int units = 1;
        const char32_t c = codepoints::at(text, i, &units);
        if (!contains(c))
            out.append(text.mid(i, units));
        i += units;
    }
    return out;
}

} // namespace omvara::processing
