// SPDX-License-Identifier: GPL-3.0-or-later
// User-typed value patterns: a pattern the stored patterns' dialect refuses
// is refused naming a construct that is in the pattern; one it accepts keeps
// its groups, or is refused with the engine's message; and checking or
// applying any pattern must not crash.
#include "omvara/config/ConfigHelper.h"
#include "omvara/config/LinePattern.h"

#include <QByteArrayView>
#include <QRegularExpression>
#include <QString>

#include <cstdint>
#include <cstdlib>
#include <optional>

namespace {

// The end of the class that opens at `i` (a "]" before any member is a
// member), or -1 when it is not closed. As the dialect reads it, a class
// nested in a class is part of it (`nested`); the engine takes such a "[" as
// a member.
qsizetype classEnd(const QString &p, qsizetype i, bool nested)
{
    const qsizetype n = p.size();
    ++i;
    if (i < n && p[i] == u'^')
        ++i;
    bool member = false;
    while (i < n) {
        const QChar c = p[i];
        if (c == u'\\' && i + 1 < n && p[i + 1] == u'Q') {
            const qsizetype end = p.indexOf(QLatin1String("\\E"), i + 2);
            member = member || end != i + 2;
            i = end < 0 ? n : end + 2;
        } else if (c == u'\\' && i + 1 < n && p[i + 1] == u'E') {
            i += 2; // stands for nothing (the dialect refuses it; the engine's reading applies)
        } else if (c == u'\\') {
            i += i + 1 < n && p[i + 1] == u'c' ? 3 : 2; // \cX takes the X
            member = true;
        } else if (c == u'[') {
            const qsizetype close = p.indexOf(QLatin1String(":]"), i + 2);
            bool posix = i + 1 < n && p[i + 1] == u':' && close > i + 2;
            for (qsizetype k = i + 2; posix && k < close; ++k)
                posix = p[k].isLetter() || (k == i + 2 && p[k] == u'^');
            if (posix) {
                i = close + 2;
            } else if (nested) {
                i = classEnd(p, i, nested);
                if (i < 0)
                    return -1;
            } else {
                ++i;
            }
            member = true;
        } else if (c == u']' && member) {
            return i + 1;
        } else {
            ++i;
            member = true;
        }
    }
    return -1;
}

// The capturing groups of `p`: every "(" outside classes, quotes and
// escapes that is not followed by "?" or "*", and named groups, with classes
// read as classEnd does. Nothing when the count would depend on more than
// that (comments and flags, branch resets, a class that is not closed).
std::optional<int> groupsOf(const QString &p, bool nestedClasses)
{
    if (p.contains(QLatin1String("(?|")) || p.contains(QLatin1String("(?#"))
        || (p.contains(QLatin1String("(?")) && (p.contains(u'x') || p.contains(u'n'))))
        return std::nullopt;
    const qsizetype n = p.size();
    int groups = 0;
    qsizetype i = 0;
    while (i < n) {
        const QChar c = p[i];
        if (c == u'\\') {
            if (i + 1 < n && p[i + 1] == u'Q') {
                const qsizetype end = p.indexOf(QLatin1String("\\E"), i + 2);
                i = end < 0 ? n : end + 2;
            } else {
                i += i + 1 < n && p[i + 1] == u'c' ? 3 : 2;
            }
            continue;
        }
        if (c == u'[') {
            i = classEnd(p, i, nestedClasses);
            if (i < 0)
                return std::nullopt;
            continue;
        }
        if (c == u'(') {
            const QStringView rest = QStringView(p).mid(i);
            if (rest.startsWith(u"(*")) {
                const qsizetype close = p.indexOf(u')', i);
                i = close < 0 ? n : close + 1;
                continue;
            }
            if (rest.startsWith(u"(?P<") || rest.startsWith(u"(?'")
                || (rest.startsWith(u"(?<") && !rest.startsWith(u"(?<=") && !rest.startsWith(u"(?<!"))
                || !rest.startsWith(u"(?"))
                ++groups;
        }
        ++i;
    }
    return groups;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 512)
        return 0;
    // Pattern (UTF-8) up to the first NUL byte, then the line (bytes as characters).
    const QByteArrayView input(data, static_cast<qsizetype>(size));
    const qsizetype cut = input.indexOf('\0');
    const QString pattern = QString::fromUtf8(cut < 0 ? input : input.first(cut));
    const QString line = cut < 0 ? QString() : QString::fromLatin1(input.sliced(cut + 1));

    QString refusal;
    (void)omvara::config::LinePattern::translate(pattern, &refusal);
    QString error;
    const QRegularExpression translated = omvara::config::LinePattern::compile(pattern, &error);
    if (!refusal.isEmpty()) {
        // The refusal quotes the construct, as written in the pattern.
        const QString prefix = QStringLiteral("The pattern cannot be used as written: \"");
        if (!refusal.startsWith(prefix) || translated.isValid() || error != refusal)
            std::abort();
        const qsizetype end = refusal.lastIndexOf(QLatin1String("\": "));
        if (end < prefix.size() || !pattern.contains(refusal.mid(prefix.size(), end - prefix.size())))
            std::abort();
    } else {
        // A pattern the dialect accepts may still be beyond the engine (a
        // look-behind of varying length, replicated groups outgrowing its
        // size limit): it is refused with the engine's message, never silently.
        if (!translated.isValid() && error.isEmpty())
            std::abort();
        if (translated.isValid()) {
            // The groups are the dialect's; where the dialect's reading of a
            // class fails (it would refuse the pattern), the rewrite keeps the
            // engine's reading of the classes.
            const std::optional<int> dialect = groupsOf(pattern, true);
            const std::optional<int> engine = groupsOf(pattern, false);
            const int groups = translated.captureCount();
            if (dialect && engine && groups != *dialect && groups != *engine)
                std::abort();
        }
    }
    (void)omvara::config::ConfigHelper::CustomRegEx::valid(pattern);
    if (translated.isValid()) {
        const QRegularExpressionMatch m = translated.match(line);
        for (int g = 0; g <= translated.captureCount(); ++g)
            (void)m.captured(g);
    }
    return 0;
}
