// SPDX-License-Identifier: GPL-3.0-or-later
// Value patterns mean what they mean in java.util.regex: a table of patterns
// (every instrument's own, the constructs users write, the ones the dialect
// refuses) and subjects goes through the reference implementation (a small
// Java program, run with the JDK's single-file launcher) and through the
// program's extraction; acceptance, refusal and every group must agree.
#include "omvara/config/Instrument.h"
#include "omvara/config/LinePattern.h"
#include "omvara/worker/ValueExtractor.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringList>

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace {

using omvara::config::LinePattern;
using omvara::worker::ExtractionError;
using omvara::worker::ValueExtractor;
using I = omvara::config::ConfigHelper::Instrument;

struct Case
{
    QString pattern;
    QStringList subjects; // besides the common ones
};

QString latin1(const char *text)
{
    return QString::fromLatin1(text);
}

// Subjects every accepted pattern meets: records as devices send them, line
// ends of every kind, Latin-1 letters, the texts of the refused constructs.
QStringList commonSubjects()
{
    const char *const texts[] = { "", "\r\n", "ST,GS,+  12.345kg\r\n", "N  60.24 kg\n", "110\r", "ab\r12\r\n",
        "12\n34", "a\r\nb\r\n",
        "12\x85"
        "34\x85",
        "12 34\r\n", "G  1.000 kg N  0.950 kg", "abc ABC 123", "\xc9 \xe9 \xfc \xdf \xb5 \xff x\xe9y",
        "a\tb\x0b"
        "c\x0c"
        "d",
        "  -1.8999 kg\n", "01A+001.1920\r", "[[:digit:]] d1 :9 gt", "{,3}a{,3}5 a{1, 2}", "Wt 12.5 kg\r",
        "key=value; k2=v2", "#12# _7", "x_y z-9", "\x01\x7f\xa0 \xff", "aaaa", "ab12AB", "12,5 g\r\n", "\r",
        "\n\n", "US, -00012,45 g", "DR,02,+123.567\r", "abab1\r\nabab2\r\n", "Net Wt     0.0845 kg\r",
        "x\r\n\r\n",
        "a\x85"
        "b\n"
        "c\r"
        "d" };
    QStringList out;
    for (const char *t : texts)
        out << latin1(t);
    return out;
}

std::vector<Case> cases()
{
    std::vector<Case> out;
    const auto add = [&](const QString &pattern, QStringList subjects = {}) {
        out.push_back({ pattern, std::move(subjects) });
    };
    // Every instrument's pattern with its sample lines.
    for (const I *instrument : I::values()) {
        QStringList samples;
        for (const auto &[line, value] : instrument->getTestStrings())
            samples << line;
        add(instrument->getRegEx(), samples);
    }

    // Line anchors and line terminators.
    add(QStringLiteral(R"((?m)(\d+)$)"),
        { latin1("110\r"), latin1("110\r\n5"),
            latin1("1\x85"
                   "2") });
    add(QStringLiteral(R"((?m)^(\d+))"),
        { latin1("ab\r12\r\n"),
            latin1("ab\x85"
                   "7"),
            latin1("\r\n9") });
    add(QStringLiteral(R"((?m)^$)"), { latin1("a\r\n\r\nb"), latin1("\r\n"), latin1("") });
    add(QStringLiteral(R"((?m)(^.*$))"), { latin1("\r\nab\r\n") });
    add(QStringLiteral(R"((?md)(\d+)$)"), { latin1("110\r"), latin1("110\n") });
    add(QStringLiteral(R"((?md)^(\d+))"), { latin1("ab\r12\r\n"), latin1("ab\n12") });
    add(QStringLiteral(R"((?m)(\d+)\Z)"), { latin1("1\n2\n"), latin1("1\r\n2\r\n") });
    add(QStringLiteral(R"((?m)(\d+)\z)"), { latin1("1\n2\n") });
    add(QStringLiteral(R"((?m-m)(\d+)$)"), { latin1("1\r2") });
    add(QStringLiteral(R"(^(?m:(\d+)$)x)"), { latin1("12\rx") });
    add(QStringLiteral(R"((?m)(?<=^)(\w+))"), { latin1("a\rbc") });
    add(QStringLiteral(R"((?m)\r(^\d))"), { latin1("x\r\n1"), latin1("x\r1") });
    add(QStringLiteral(R"((?m)(\d)$\n)"), { latin1("1\r\n2\n") });
    add(QStringLiteral(R"((\d+)$)"), { latin1("12\r\n"), latin1("12\n\n"), latin1("12\x85") });
    add(QStringLiteral(R"((\d+)\Z)"), { latin1("12\r\n"), latin1("12\r\r") });
    add(QStringLiteral(R"((?d)(.+)$)"), { latin1("a\rb\n") });
    add(QStringLiteral(R"(A(.*))"),
        { latin1("A1\x85"
                 "2"),
            latin1("A1\r2") });
    add(QStringLiteral(R"((?s)A(.*))"),
        { latin1("A1\x85"
                 "2") });
    add(QStringLiteral(R"((?s:A(.))(.))"), { latin1("A\n\n") });
    add(QStringLiteral(R"(^(\d+)$)"), { latin1("12\r\n"), latin1("12\n") });
    add(QStringLiteral(R"(\A(\d+))"));
    add(QStringLiteral(R"((\R))"), { latin1("a\r\nb") });
    add(QStringLiteral(R"((\d)\R(\d))"),
        { latin1("1\r\n2"),
            latin1("1\x85"
                   "2") });

    // The constructs the dialect refuses.
    for (const char *p :
        { R"(a{,3}(\d))", R"((?#c)(\d))", R"((?P<n>x))", R"((?'n'x))", R"((?<a_b>x))", R"(\g1(x))", R"((\0))",
            R"((\x4))", R"([\b](x))", R"(\p{Latin}(x))", R"(\p{L&}(x))", R"((\d+){)", R"(a{1, 2}(x))",
            R"((?x)([#\d]+))", R"((*UTF)(\d))", R"((?^s)(x))", R"(\p{^L}(x))", R"((?|a)(x))", R"((?R)(x))",
            R"(\E(x))", R"([\E](.)])", R"(([a[b])])", R"(\k<n>(?<n>a))", R"([a-\d](x))", R"([\1](x))",
            R"((?<n>a)(?<n>b))", R"(\x{110000}(x))", R"(\cé\Q(x))", R"((x)\8)", R"([\8](x))", R"(*(x))",
            R"((x)**)", R"((x)|+)", R"(\i(x))", R"(\ (x)\y)", R"([z-a](x))", R"((x)\)", R"((x)))", R"(((x))",
            R"((x)[)", R"((x)[^])", R"([]](x)[])", R"(\p{IsNoSuchScript_1}(x))", R"(\u12(x))", R"(\xg(x))",
            R"(a{3,2}(x))", R"(a{99999999999}(x))", R"((?$)(x))", R"((?@)(x))", R"((?i-m-s)(x))",
            R"([[:digit:](x))", R"((?<1a>x))", R"(\k(x))", R"(\p(x))", R"(\p{}(x))", R"(\p{IsL(x))",
            R"(\P{In}(x))", R"([&&a](x))", R"([a&&](x))", R"((x)\Z{2})" })
        add(QString::fromUtf8(p));

    // POSIX brackets: nested classes here.
    add(QStringLiteral(R"(([[:digit:]]+))"), { latin1("12 :digit:"), latin1("g1t") });
    add(QStringLiteral(R"(([[:alpha:][:digit:]]+))"));
    add(QStringLiteral(R"(([^[:space:]]+))"), { latin1("  ab:c") });
    add(QStringLiteral(R"(([:digit:]+))"), { latin1("12 :digit:") });
    add(QStringLiteral(R"(([a[:d:]]+))"));
    add(QStringLiteral(R"(([.x.]+))"), { latin1("a.x.") });
    add(QStringLiteral(R"(([=a=]+))"), { latin1("b=a=") });
    add(QStringLiteral(R"(([^:]+))"));
    add(QStringLiteral(R"((\p{Digit}+))"));

    // Word boundaries, Latin-1 letters count.
    add(QStringLiteral(R"((\b\w+\b))"));
    add(QStringLiteral(R"((\bé))"), { QString::fromUtf8("aé é") });
    add(QStringLiteral(R"((x\B.))"), { QString::fromUtf8("xé x1 x-") });
    add(QStringLiteral(R"(\b(\d+)\b)"),
        { latin1("\xe9"
                 "12 34") });

    // Escapes and characters.
    for (const char *p : { R"((\t|\n|\r|\f|\a|\e))", R"((\x41\x{42}\u0043))", R"((\0101\07\0377))",
             R"((\cA|\c@))", R"((\\\.\*\+\?\{\}\[\]\(\)\|\^\$))", R"((\Q.*+?\E\d))", R"((\Qa\\E))",
             R"(\Q(x)\E|(\d))", R"((\Q)", R"((a\Q)", R"(([\Q]\E]+))", R"(([\Q^\E]+))", R"((\u00e9+))",
             R"((\h+))", R"((\H+))", R"((\v+))", R"((\V+))", R"((\S+))", R"((\W+))", R"((\D+))", R"((\X))",
             R"((\#))", R"((\-?\d+))", R"((\:\,))", R"((\@\!))" })
        add(QString::fromUtf8(p));

    // Classes.
    for (const char *p : { R"(([-+]?\d+))", R"(([0-9.,]+))", R"(([^,]+))", R"(([]a]+))", R"(([^]a]+))",
             R"(([a-]+))", R"(([-a]+))", R"(([a\-z]+))", R"(([\d-z]+))", R"(([a-c&&b-d]+))",
             R"(([a-z&&[^aeiou]]+))", R"(([\w&&[^\d_]]+))", R"(([^a-z&&[aeiou]]+))", R"(([a-d[m-p]]+))",
             R"(([[a-c][x-z]]+))", R"(([^[a-c]]+))", R"(([a-c&&[b]&&b]+))", R"(([&]+))", R"(([a&b]+))",
             R"(([$.^|]+))", R"(([\\\]]+))", R"(([\s\d]+))", R"(([^\s]+))", R"(([\p{Alpha}\d]+))",
             R"(([\P{Alpha}]+))", R"(([\x00-\x1f]+))", R"(([\u00c0-\u00ff]+))", R"(([\0101-\0132]+))",
             R"(([\t ]+))", R"(([a-c[x]&&[b-x]]+))" })
        add(QString::fromUtf8(p));

    // Named classes, properties, scripts and blocks.
    for (const char *p : { R"((\p{Lower}+))", R"((\p{Upper}+))", R"((\p{Alnum}+))", R"((\p{Punct}+))",
             R"((\p{Graph}+))", R"((\p{Print}+))", R"((\p{Blank}+))", R"((\p{Space}+))", R"((\p{Cntrl}+))",
             R"((\p{XDigit}+))", R"((\p{ASCII}+))", R"((\p{L}+))", R"((\pL+))", R"((\p{Lu}+))",
             R"((\p{IsLu}+))", R"((\p{Nd}+))", R"((\p{IsLatin}+))", R"((\p{script=Latin}+))",
             R"((\p{IsAlphabetic}+))", R"((\p{IsWhite_Space}+))", R"((\p{InBasicLatin}+))",
             R"((\p{InLatin-1 Supplement}+))", R"((\p{block=BasicLatin}+))", R"((\P{InBasicLatin}+))",
             R"((\p{javaLowerCase}+))", R"((\p{javaWhitespace}+))", R"((\p{javaDigit}+))", R"((\p{Sc}+))",
             R"((\p{gc=Ll}+))", R"((\p{L1}+))", R"((\P{L}+))", R"((\p{IsPunctuation}+))", R"((\p{Zs}+))" })
        add(QString::fromUtf8(p));

    // Groups, references, options.
    for (const char *p :
        { R"((a)(b)?(c))", R"((a)|(b))", R"((?:a|b)(c))", R"((?<num>\d+))", R"((?<n>\d)\k<n>)", R"((\d)\1)",
            R"((\d)\12)", R"(x\12(a))", R"(\2(a))", R"((a)\2)", R"((?=\d)(\w+))", R"((?!a)(\w))",
            R"((?<=a)(b))", R"((?<!a)(b))", R"((?<=a{1,3})(b))", R"((?>a+)(b))", R"((a++)(b))", R"((a*+)(a))",
            R"((?i)(abc))", R"((?i)(\xe9))", R"((?iu)(\xe9+))", R"((?i:a)(b))", R"((?)(a))", R"((?-)(a))",
            R"((?i-)(a))", R"((?x) ( \d + ) # digits)", R"((?x)(a b))", R"((?x)([a b]+))", R"((?x)(\ ))",
            R"((?x)(a)#c)", R"((?x:a b)(c))", R"((?s)(.+))", R"((?d)(.+))", R"((?u)(\w+))", R"(a{2}{3}(x)?)",
            R"((a{2,}))", R"((a{0,2}?))", R"((a{2}+))", R"(()a)", R"((|a)(b))", R"(((a)|b)+)",
            R"((a|ab)(c|bcd))", R"(^N.*?(\d+))", R"((\d+?))", R"((\w*?)\d)", R"(([^)]*)\))", R"((})|(]))" })
        add(QString::fromUtf8(p));

    // Repeated groups, empty iterations, case folding, odd escapes and (?x).
    for (const char *p : { R"((a*)*b)", R"((a*)+b)", R"((a|b?)+)", R"((a|(b))+)", R"((?:(a)|b)*)",
             R"((a|)+x)", R"((|a)+x)", R"((a?)*?x)", R"((\w)(?:,(\w))*)", R"((?i)([a-z]+))",
             R"((?i)([\xe0-\xfe]+))", R"((?iu)([\xe0-\xfe]+))", R"((?i)(\xdf))", R"((?i)(\p{Upper}+))",
             R"((\ca))", R"(([\v-\x0d]+))", R"(([\x{100}-\x{10FFFF}]+|x))", R"(([^\x00-\x7f]+))",
             R"((a|)(b))", R"(([\v-]+))", R"(([\x01-\v]+))", R"((?x) [ ] (\d) )", R"((?x)(\#\d))",
             R"((?x)a\ b(c))", R"((?x)(a)\#)", R"((\d)(?=\d$))", R"((.)(?<=\r))", R"((\d+)(?!.))",
             R"((\d)\1*)", R"((?i)(a)\1)", R"((?<x>a)|(?<y>b))", R"((\s?)-?(\d))",
             R"(([+-]?)(\d+)(?:[.,](\d+))?)", R"(^(?:[^,]*,){2}([^,]*))", R"(\G(\d))", R"((\d)\G)",
             R"((\S+)\s+\1)", R"(([\s&&[^\n]]+))", R"(([\d&&[^5]]+))", R"(([a-z&&[^b-y]&&[^a]]+))" })
        add(QString::fromUtf8(p),
            { latin1("aab ba b,c,d a,b \xc9\xe9\xdf SS x 12 3\r\n"),
                latin1("k9 k9 !\r5 a\x85"
                       "b") });

    // Atoms under quantifiers, and anchors under each option.
    const char *const atoms[]
        = { R"(\d)", R"([0-9.])", R"(\s)", ".", "(?:ab)", R"(\w)", "[^,]", R"(\p{Alpha})", "[a-c&&[b]]" };
    const char *const quantifiers[] = { "*", "+?", "{2}", "{1,}", "{0,2}?", "?+" };
    for (const char *a : atoms)
        for (const char *q : quantifiers)
            add(QStringLiteral("(%1%2)").arg(QString::fromUtf8(a), QString::fromUtf8(q)));
    const char *const options[] = { "", "(?m)", "(?d)", "(?s)", "(?md)", "(?i)", "(?x)" };
    const char *const bodies[]
        = { R"(^(\d+))", R"((\d+)$)", "(.+)", "^(.*)$", R"((\w+)\Z)", R"((?:^|,)(\d+))", "([a-z]+)" };
    for (const char *o : options)
        for (const char *b : bodies)
            add(QString::fromUtf8(o) + QString::fromUtf8(b));
    // Random sequences of fragments, valid or not (a fixed seed: the same table every run).
    {
        const char *const frags[] = { "a", "\\d", "[a-c]", ".", "\\s", "(x)", "(?:ab|a)", "[^\\n]", "\\w",
            "\\b", "^", "$", "\\Z", "\\R", "[\\p{L}&&[^a]]", "\\Qa.\\E", "(?i)", "(?m)", "(?s)", "(?x)", " ",
            "#", "\\1", "{2}", "*", "+", "?", "|", "(", ")", "[", "]", "-", "\\", "(?d)", "\\r", "\\n", "1",
            "k", "g", "[\\r\\n]", "(?=\\d)", "(?<=a)", "\\B", "\\z", "[^a]", "\\p{Digit}", "\\x85", "(\\d+)",
            "([a-z]*)", "(?u)", ",", ":", "[a-", "&&", "[[", "\\Q", "\\E", "{1,", "}", "{0}", "(?<n>",
            "\\k<n>", "\\0", "\\01", "\\x", "\\x4", "\\u00", "\\c", "\\v", "\\h", "\\X", "(?>", "(?!", "(?<!",
            "++", "*?", "\\2", "\\12", "\\p{IsL}", "\\P{Lu}", "\\pL", "[\\w&&[^\\d]]", "\n", "\r", "\t",
            "[ #]", "(?-x)", "(?i)[A-Z]", "\\.", "\\$", "$^", "[\\Q]\\E]", "[^]]", "[]]" };
        quint32 seed = 987;
        const auto rnd = [&](quint32 m) {
            seed = seed * 1103515245u + 12345u;
            return (seed >> 8) % m;
        };
        for (int k = 0; k < 3000; ++k) {
            QString p;
            const int len = 1 + int(rnd(9));
            for (int j = 0; j < len; ++j)
                p += QString::fromLatin1(frags[rnd(sizeof frags / sizeof *frags)]);
            add(p);
        }
    }
    return out;
}

// Refused although the dialect accepts them, with the reason: a look-behind
// whose length varies (the engine needs a fixed length per alternative), and
// case-insensitive classes the rewrite cannot fold as the dialect does
// (letters beyond ASCII without (?u), \p{Lu} and the like), and "\c"
// directly before "\Q" (which takes the quotation's backslash). Never
// matched differently.
bool knownRefusal(const QString &error)
{
    return error.contains(QLatin1String("lookbehind assertion is not fixed length"))
        || error.contains(QLatin1String("case-insensitive matching of"))
        || error.contains(QLatin1String("before a quotation takes its backslash"));
}

QString hex(const QString &text)
{
    QString out;
    for (QChar c : text)
        out += QStringLiteral("%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    return out;
}

QString unhex(QStringView text)
{
    QString out;
    for (qsizetype i = 0; i + 4 <= text.size(); i += 4)
        out += QChar(char16_t(text.mid(i, 4).toUInt(nullptr, 16)));
    return out;
}

QString shown(const QString &text)
{
    QString out;
    for (QChar c : text)
        out += c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() < 0xa0)
            ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
            : QString(c);
    return out;
}

// The reference's answers, one line per input line.
std::optional<QStringList> askReference(const QString &input, QString *problem)
{
    // The reference is the JDK 17 that scripts/lib/deps.sh installs (later
    // versions changed what \b counts as a word character); any other java
    // only when it is not there.
    QString java;
    const QDir jvm(QStringLiteral("/usr/lib/jvm"));
    for (const QString &home : jvm.entryList({ QStringLiteral("java-17-openjdk*") }, QDir::Dirs))
        if (QFileInfo(jvm.filePath(home + QStringLiteral("/bin/java"))).isExecutable())
            java = jvm.filePath(home + QStringLiteral("/bin/java"));
    if (java.isEmpty())
        java = QStandardPaths::findExecutable(QStringLiteral("java"));
    if (java.isEmpty()) {
        *problem
            = QStringLiteral("java is not installed (scripts/lib/deps.sh installs openjdk-17-jdk-headless)");
        return std::nullopt;
    }
    QProcess process;
    process.start(java, { QStringLiteral("-Xss16m"), QStringLiteral(PATTERN_REFERENCE_JAVA) });
    if (!process.waitForStarted(10000)) {
        *problem = QStringLiteral("java does not start: ") + process.errorString();
        return std::nullopt;
    }
    process.write(input.toLatin1());
    process.closeWriteChannel();
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        *problem = QStringLiteral("the reference program failed: ")
            + QString::fromLocal8Bit(process.readAllStandardError());
        return std::nullopt;
    }
    return QString::fromLatin1(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
}

TEST(PatternDialect, everyPatternAndGroup_agreesWithTheReference)
{
    const std::vector<Case> table = cases();
    const QStringList common = commonSubjects();
    ASSERT_GE(table.size(), 3000u);

    // Every case with its subjects, in the order the reference answers.
    QString input;
    std::vector<QStringList> subjectsOf;
    for (const Case &c : table) {
        QStringList subjects = c.subjects + common;
        input += QStringLiteral("P ") + hex(c.pattern) + u'\n';
        for (const QString &s : subjects)
            input += QStringLiteral("S ") + hex(s) + u'\n';
        subjectsOf.push_back(subjects);
    }
    QString problem;
    const std::optional<QStringList> answers = askReference(input, &problem);
    ASSERT_TRUE(answers) << problem.toStdString();

    QStringList differences;
    int accepted = 0;
    int refused = 0;
    int compared = 0;
    qsizetype next = 0;
    for (std::size_t k = 0; k < table.size(); ++k) {
        const QString &pattern = table[k].pattern;
        ASSERT_LT(next, answers->size());
        const QString verdict = answers->at(next++);
        QString error;
        const QRegularExpression ours = LinePattern::compile(pattern, &error);
        const bool javaAccepts = verdict.startsWith(u'A');
        // Accepted by the dialect, but beyond the engine: refused with the
        // engine's reason, never matched differently.
        const bool engineLimit = !ours.isValid() && knownRefusal(error);
        if (javaAccepts != ours.isValid() && !engineLimit) {
            differences << QStringLiteral("%1: reference %2, program %3")
                               .arg(pattern, verdict, ours.isValid() ? QStringLiteral("accepts") : error);
        }
        if (!javaAccepts) {
            ++refused;
            // The refusal names a construct of the pattern.
            if (!ours.isValid() && !error.contains(u'"'))
                differences << pattern + QStringLiteral(": refused without naming the construct: ") + error;
            next += subjectsOf[k].size();
            continue;
        }
        ++accepted;
        const int groups = verdict.mid(2).toInt();
        if (ours.isValid() && ours.captureCount() != groups)
            differences << QStringLiteral("%1: %2 groups, program %3")
                               .arg(pattern)
                               .arg(groups)
                               .arg(ours.captureCount());
        std::optional<ValueExtractor> extractor;
        if (ours.isValid() && groups >= 1)
            extractor.emplace(I::GENERIC, pattern);
        for (const QString &subject : subjectsOf[k]) {
            const QString answer = answers->at(next++);
            if (!ours.isValid() || answer.startsWith(u'E'))
                continue;
            ++compared;
            const QRegularExpressionMatch m = ours.match(subject);
            QString mine = QStringLiteral("N");
            if (m.hasMatch()) {
                mine = QStringLiteral("M");
                for (int g = 0; g <= ours.captureCount(); ++g)
                    mine += m.capturedStart(g) < 0 ? QStringLiteral(" -")
                                                   : QStringLiteral(" '") + hex(m.captured(g));
            }
            if (mine != answer) {
                differences << QStringLiteral("%1 on \"%2\": reference %3, program %4")
                                   .arg(pattern, shown(subject), answer, mine);
                continue;
            }
            // The extraction itself: group 1, as a run types it.
            if (!extractor)
                continue;
            const QStringList fields = answer.split(u' ');
            try {
                const QString value = extractor->extract(subject);
                const QString expected = fields.size() > 2 && fields[2] != u"-"
                    ? unhex(QStringView(fields[2]).mid(1))
                    : QString();
                if (fields.size() > 2 && fields[2] == u"-")
                    differences << QStringLiteral(
                        "%1 on \"%2\": group 1 took no part, extraction gave \"%3\"")
                                       .arg(pattern, shown(subject), value);
                else if (value != expected)
                    differences << QStringLiteral("%1 on \"%2\": extraction gave \"%3\", reference \"%4\"")
                                       .arg(pattern, shown(subject), shown(value), shown(expected));
            } catch (const ExtractionError &e) {
                if (!(fields.size() > 2 && fields[2] == u"-"))
                    differences << QStringLiteral("%1 on \"%2\": extraction failed: %3")
                                       .arg(pattern, shown(subject), QString::fromUtf8(e.what()));
            }
        }
    }
    EXPECT_EQ(next, answers->size());
    EXPECT_GE(refused, 1000);
    EXPECT_GE(compared, 50000);
    EXPECT_TRUE(differences.isEmpty()) << differences.size() << " differences in " << table.size()
                                       << " patterns (" << accepted << " accepted):\n"
                                       << differences.mid(0, 60).join(u'\n').toStdString();
}

} // namespace
