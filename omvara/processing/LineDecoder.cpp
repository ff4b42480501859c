// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/processing/LineDecoder.h"

#include "omvara/config/CodeSettings.h"

namespace omvara::processing {

namespace {

// The longest byte sequence of one character in the encodings of the list
// (UTF-8 and GB18030).
constexpr int longestSequence = 4;

} // namespace

LineDecoder::LineDecoder(const config::InputEncoding &encoding)
    : m_identity(&encoding == &config::InputEncoding::LATIN_1)
    , m_name(encoding.toString())
{
    if (m_identity)
        return;
    m_decoder = QStringDecoder(encoding.codecName(), QStringConverter::Flag::Stateless);
    if (!m_decoder.isValid())
        throw std::runtime_error(
            QStringLiteral("Qt cannot decode %1 on this system.").arg(m_name).toStdString());
}

bool LineDecoder::tryDecode(const QByteArray &bytes, QString *text) const
{
    m_decoder.resetState();
    *text = m_decoder.decode(bytes);
    return !m_decoder.hasError();
}

QString LineDecoder::decode(QStringView bytes) const
{
    if (m_identity)
        return bytes.toString();
    const QByteArray data = bytes.toLatin1();
    QString text;
    if (tryDecode(data, &text))
        return text;

    // Character by character, to find the bytes that begin none: the
    // shortest sequence from each place that decodes whole is a character.
    QString raw;
    qsizetype firstBad = -1;
    for (qsizetype at = 0; at < data.size();) {
        bool taken = false;
        for (int length = 1; length <= longestSequence && at + length <= data.size(); ++length) {
            QString character;
            if (tryDecode(data.mid(at, length), &character)) {
                raw += character;
                at += length;
                taken = true;
                break;
            }
        }
        if (!taken) {
            if (firstBad < 0)
                firstBad = at;
            raw += QChar(char16_t(quint8(data[at])));
            ++at;
        }
    }
    if (firstBad < 0)
        return raw; // every character reads on its own
    throw InvalidBytesError(QStringLiteral("The line is not valid %1: the byte <%2> at position %3 begins no "
                                           "character. Nothing of it is typed.")
                                .arg(m_name)
                                .arg(quint8(data[firstBad]))
                                .arg(firstBad + 1),
        raw);
}

} // namespace omvara::processing
