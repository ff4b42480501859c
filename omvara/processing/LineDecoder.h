// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the bytes of a received line as text.
#pragma once

#include <QString>
#include <QStringDecoder>
#include <QStringView>

#include <stdexcept>

namespace omvara::config {
class InputEncoding;
}

namespace omvara::processing {

// A line with a byte sequence that is not valid in the encoding. raw() is
// the line as far as it can be read: each character decoded, each invalid
// byte as the character of its code (so the raw notation shows it as <NNN>).
class InvalidBytesError : public std::runtime_error
{
public:
    InvalidBytesError(const QString &message, QString raw)
        : std::runtime_error(message.toStdString())
        , m_raw(std::move(raw))
    {
    }
    const QString &raw() const { return m_raw; }

private:
    QString m_raw;
};

// Reads the bytes of a received line (one character per byte, codes 0-255,
// as the line buffer holds them) as text in the configured encoding. With
// Latin-1 the bytes are the text. One thread uses it (the reception thread).
class LineDecoder
{
public:
    // Throws std::runtime_error for an encoding Qt cannot decode on this system.
    explicit LineDecoder(const config::InputEncoding &encoding);

    // Latin-1: decode() gives the bytes back unchanged.
    bool identity() const { return m_identity; }
    // The text of `bytes`; throws InvalidBytesError when a byte sequence is
    // not valid in the encoding.
    QString decode(QStringView bytes) const;

private:
    // `bytes` decoded as a whole, or nothing when that fails.
    bool tryDecode(const QByteArray &bytes, QString *text) const;

    bool m_identity = true;
    QString m_name;
    mutable QStringDecoder m_decoder;
};

} // namespace omvara::processing
