// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/config/Instrument.h"

#include <QByteArrayView>
#include <QRegularExpression>
#include <QString>

#include <stdexcept>

namespace omvara::config {
class Config;
}

namespace omvara::worker {

// Why a value could not be taken from a line, or why a pattern cannot be used
// at all. what() is the text shown after "Error [WW]: ".
class ExtractionError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Finds the value in a received line: the first match of the pattern,
// searching from the start of the line, and in it the instrument's capture
// group. The pattern is the custom one when that is not empty, else the
// instrument's; the group number always comes from the instrument. Matching
// follows config::LinePattern (case-sensitive, "^" only at the line start,
// "." never crosses a line terminator, ASCII "\s" and "\d").
//
// Compiled once per run; extract() keeps no state between lines. Use one
// extractor from one thread at a time (the reception thread of the run).
//
// A user's pattern can backtrack exponentially ("(a+)+b"); the engine gives
// up after a fixed step budget and the line then fails with an error rather
// than yielding an empty value. The budget still allows a long pause on a
// long line.
class ValueExtractor
{
public:
    // Throws ExtractionError when the pattern does not compile.
    ValueExtractor(const config::ConfigHelper::Instrument &instrument, const QString &customRegEx);
    // The instrument and custom pattern of `config`; GENERIC when no instrument is set.
    explicit ValueExtractor(const config::Config &config);

    // The value text of one line (terminator included, each character one
    // byte); "" when the pattern does not match. Throws ExtractionError when
    // the capture group does not exist in the pattern or did not take part
    // in the match, or when the engine gave up on the line.
    QString extract(const QString &line) const;
    // The same for raw bytes (each byte becomes the character of that code).
    QString extract(QByteArrayView bytes) const { return extract(QString::fromLatin1(bytes)); }

    const QString &patternText() const { return m_patternText; }
    int captureGroup() const { return m_group; }

private:
    QString m_patternText;
    QRegularExpression m_regex;
    int m_group;
};

} // namespace omvara::worker
