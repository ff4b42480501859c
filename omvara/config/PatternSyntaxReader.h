// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QSet>
#include <QString>

#include <vector>

// Internal to PatternSyntax: the reader that walks a pattern as the dialect
// does. PatternSyntax.cpp holds the cursor and the grammar of groups and
// repetitions, PatternSyntaxClasses.cpp the classes and named classes,
// PatternSyntaxEscapes.cpp the escapes.
namespace omvara::config::syntax {

constexpr int Comments = 1; // (?x)
constexpr int UnixLines = 2; // (?d)
constexpr int MaxDepth = 400; // groups and classes inside each other

inline bool isDigit(char32_t c)
{
    return c >= '0' && c <= '9';
}
inline bool isAsciiAlpha(char32_t c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

class Reader
{
public:
    explicit Reader(const QString &pattern)
        : p(pattern)
    {
        removeQuoting();
    }

    int groupCount() const { return groups; }
    const QList<qsizetype> &emptyRepeatPositions() const { return emptyRepeats; }

    void run();

private:
    // The pattern as code points, "\Q...\E" already turned into escaped
    // characters, with two NULs at the end (the dialect's sentinel); `origin`
    // gives each one's position in the pattern as written.
    std::vector<char32_t> t;
    std::vector<qsizetype> origin;
    qsizetype length = 0;
    qsizetype cursor = 0;
    int flags = 0;
    int groups = 0;
    QSet<QString> names;
    QList<qsizetype> emptyRepeats;
    const QString &p;

    char32_t at(qsizetype i) const { return i >= 0 && i < qsizetype(t.size()) ? t[size_t(i)] : 0; }
    bool has(int f) const { return (flags & f) != 0; }

    void append(char32_t c, qsizetype from);
    void removeQuoting();
    [[noreturn]] void fail(qsizetype from, qsizetype to, const QString &reason) const;

    // The cursor.
    bool isLineSeparator(char32_t c) const;
    char32_t peekPastWhitespace(char32_t c);
    char32_t parsePastWhitespace(char32_t c);
    char32_t peek();
    char32_t read();
    char32_t next();
    char32_t nextEscaped() { return at(++cursor); }
    char32_t skip();
    void unread() { --cursor; }

    // Groups and repetitions.
    void expr(int depth);
    void sequence(int depth);
    void atom();
    void closure();
    qsizetype countTextLength(qsizetype start) const;
    bool countHasLayout(qsizetype start) const;
    void group(int depth);
    QString groupName(char32_t c, qsizetype start);
    void addFlags();

    // Classes and named classes.
    void characterClass(bool consume, int depth);
    bool range();
    void property(qsizetype start);
    void family(bool oneLetter, qsizetype start);
    static bool knownFamily(const QString &name);
    static QString unknownFamilyReason(const QString &name);

    // Escapes.
    int escape(bool inClass, bool create, bool isRange);
    int octal(qsizetype start);
    int hexadecimal(qsizetype start);
    int unicode(qsizetype start);
    void reference();
};

} // namespace omvara::config::syntax
