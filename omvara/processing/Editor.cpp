// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/processing/Editor.h"

#include "omvara/config/Config.h"
#include "omvara/processing/CodePoints.h"

namespace omvara::processing {

Editor::Editor(const EditOperation &editOperation, const EditPosition &editPosition, qint32 numCharacters)
    : m_editOperation(&editOperation)
    , m_editPosition(&editPosition)
    , m_numCharacters(numCharacters)
{
}

Editor::Editor(const config::Config &config)
    : Editor(config.getEditOperation(), config.getEditPosition(), config.getEditNumCharactersAsInt())
{
}

QString Editor::edit(const QString &value) const
{
    // A count below zero cannot come from a valid setting; it leaves the value alone rather
    // than cutting at a negative position.
    if (value.isNull() || value.isEmpty() || m_numCharacters <= 0)
        return value;
    const QStringView text(value);
    const qsizetype length = codepoints::count(text);
    const qsizetype n = m_numCharacters;
    const bool first = m_editPosition == &EditPosition::FIRST;
    const bool last = m_editPosition == &EditPosition::LAST;

    if (m_editOperation == &EditOperation::REMOVE && (first || last)) {
        if (n >= length)
            return QStringLiteral("");
        const qsizetype cut = codepoints::offset(text, first ? n : length - n);
        return first ? text.mid(cut).toString() : text.left(cut).toString();
    }
    if (m_editOperation == &EditOperation::KEEP && (first || last)) {
        if (n > length)
            return value;
        const qsizetype cut = codepoints::offset(text, first ? n : length - n);
        return first ? text.left(cut).toString() : text.mid(cut).toString();
    }
    return value;
}

} // namespace omvara::processing
