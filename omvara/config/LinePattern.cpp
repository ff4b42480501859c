// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/config/LinePattern.h"

#include "omvara/config/PatternRefusal.h"
#include "omvara/config/PatternSyntax.h"
#include "omvara/config/PatternTranslator.h"

#include <QStringList>

#include <optional>

namespace omvara::config {

using rewrite::refuse;
using rewrite::RefusedError;
using rewrite::Translator;

QString LinePattern::translate(const QString &pattern, QString *refusal)
{
    if (refusal)
        refusal->clear();
    try {
        PatternSyntax::Reading reading;
        if (const std::optional<PatternSyntax::Problem> problem = PatternSyntax::check(pattern, &reading))
            refuse(problem->construct, problem->reason);
        return Translator(pattern, reading).run();
    } catch (const RefusedError &e) {
        if (refusal)
            *refusal = QStringLiteral("The pattern cannot be used as written: \"%1\": %2.")
                           .arg(e.refusal.construct, e.refusal.reason);
        return QString();
    }
}

QRegularExpression LinePattern::compile(const QString &pattern, QString *error)
{
    return compile(pattern, QString(), QString(), error);
}

QRegularExpression LinePattern::compile(
    const QString &pattern, const QString &engineBefore, const QString &engineAfter, QString *error)
{
    QString refusal;
    const QString translated = translate(pattern, &refusal);
    if (!refusal.isEmpty()) {
        if (error)
            *error = refusal;
        // An expression that never compiles: callers that only ask isValid() refuse the pattern too.
        return QRegularExpression(QStringLiteral("("));
    }
    // No options: case-sensitive, "^" only at the start, and without
    // Unicode properties "\s", "\d" and "\w" stay ASCII.
    QRegularExpression re(engineBefore + translated + engineAfter, QRegularExpression::NoPatternOption);
    if (re.isValid())
        re.optimize();
    else if (error)
        *error = re.errorString();
    return re;
}

QString LinePattern::classNameNote(const QString &pattern)
{
    static const struct
    {
        const char *name;
        const char *instead;
    } names[] = { { "alnum", "\\p{Alnum}" }, { "alpha", "\\p{Alpha}" }, { "ascii", "\\p{ASCII}" },
        { "blank", "\\p{Blank}" }, { "cntrl", "\\p{Cntrl}" }, { "digit", "\\p{Digit}" },
        { "graph", "\\p{Graph}" }, { "lower", "\\p{Lower}" }, { "print", "\\p{Print}" },
        { "punct", "\\p{Punct}" }, { "space", "\\p{Space}" }, { "upper", "\\p{Upper}" }, { "word", "\\w" },
        { "xdigit", "\\p{XDigit}" } };
    for (qsizetype i = pattern.indexOf(QLatin1String("[:")); i >= 0;
         i = pattern.indexOf(QLatin1String("[:"), i + 1)) {
        // An escaped "[" is a character, not a class.
        qsizetype backslashes = 0;
        while (i - backslashes > 0 && pattern[i - backslashes - 1] == u'\\')
            ++backslashes;
        if (backslashes % 2 == 1)
            continue;
        const qsizetype from = i + 2 + (pattern.mid(i + 2, 1) == u"^" ? 1 : 0);
        for (const auto &n : names) {
            const QLatin1String name(n.name);
            if (QStringView(pattern).mid(from).startsWith(name)
                && QStringView(pattern).mid(from + name.size()).startsWith(u":]")) {
                const QString written = pattern.mid(i, from + name.size() + 2 - i);
                QString seen;
                QStringList members;
                for (QChar c : QStringView(written).mid(1, written.size() - 2)) {
                    if (!seen.contains(c))
                        members << QStringLiteral("\"%1\"").arg(c);
                    seen += c;
                }
                const QString last = members.takeLast();
                return QStringLiteral("\"%1\" is a class of the characters %2 and %3, not the POSIX class "
                                      "\"%4\"; for that write %5")
                    .arg(written, members.join(QLatin1String(", ")), last, name, QLatin1String(n.instead));
            }
        }
    }
    return QString();
}

} // namespace omvara::config
