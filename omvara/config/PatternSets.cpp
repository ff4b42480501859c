// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/config/PatternSets.h"

#include <QStringList>

#include <algorithm>

namespace omvara::config::rewrite {

const QString AnyCharacter = QStringLiteral(R"([\x{0}-\x{10FFFF}])");

QString codeEscape(char32_t c)
{
    return QStringLiteral("\\x{%1}").arg(QString::number(uint(c), 16).toUpper());
}

QString classMember(char32_t c)
{
    if ((c >= U'0' && c <= U'9') || (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z'))
        return QString(QChar(char16_t(c)));
    return codeEscape(c);
}

namespace {

// Sorted, merged, and without the surrogates, which never occur as
// characters of a subject (nor may they be written in a class).
Ranges normalized(Ranges r)
{
    Ranges cut;
    for (auto [a, b] : r) {
        if (a > b)
            continue;
        if (a < 0xD800 && b >= 0xD800)
            cut.push_back({ a, 0xD7FF });
        if (b > 0xDFFF && a <= 0xDFFF)
            cut.push_back({ 0xE000, b });
        if (b < 0xD800 || a > 0xDFFF)
            cut.push_back({ a, b });
    }
    std::sort(cut.begin(), cut.end());
    Ranges out;
    for (auto [a, b] : cut) {
        if (!out.empty() && a <= out.back().second + 1)
            out.back().second = std::max(out.back().second, b);
        else
            out.push_back({ a, b });
    }
    return out;
}

} // namespace

Ranges complement(const Ranges &r)
{
    Ranges out;
    char32_t next = 0;
    for (auto [a, b] : normalized(r)) {
        if (a > next)
            out.push_back({ next, a - 1 });
        next = b + 1;
    }
    if (next <= MaxCode)
        out.push_back({ next, MaxCode });
    return normalized(out);
}

QString rangesFragment(const Ranges &r)
{
    QString out;
    for (auto [a, b] : normalized(r)) {
        out += classMember(a);
        if (b != a)
            out += (b == a + 1 ? QString() : QStringLiteral("-")) + classMember(b);
    }
    return out;
}

QString single(const CharSet &s)
{
    if (!s.group.isEmpty())
        return s.group;
    if (s.members.isEmpty())
        return s.negated ? AnyCharacter : QStringLiteral("(?!)");
    return u'[' + (s.negated ? QStringLiteral("^") : QString()) + s.members + u']';
}

CharSet unite(const std::vector<CharSet> &sets)
{
    QString members;
    QStringList others;
    for (const CharSet &s : sets) {
        if (s.group.isEmpty() && !s.negated)
            members += s.members;
        else
            others << single(s);
    }
    if (others.isEmpty())
        return CharSet::of(members);
    if (members.isEmpty() && others.size() == 1) {
        for (const CharSet &s : sets)
            if (!s.group.isEmpty() || s.negated)
                return s;
    }
    if (!members.isEmpty())
        others.prepend(single(CharSet::of(members)));
    return CharSet::ofGroup(QStringLiteral("(?:") + others.join(u'|') + u')');
}

CharSet intersect(const std::vector<CharSet> &sets)
{
    if (sets.size() == 1)
        return sets.front();
    QString group = QStringLiteral("(?:");
    for (std::size_t i = 1; i < sets.size(); ++i)
        group += QStringLiteral("(?=") + single(sets[i]) + u')';
    group += single(sets.front()) + u')';
    return CharSet::ofGroup(group);
}

CharSet negate(CharSet s)
{
    if (s.group.isEmpty()) {
        s.negated = !s.negated;
        return s;
    }
    return CharSet::ofGroup(QStringLiteral("(?:(?!") + s.group + u')' + AnyCharacter + u')');
}

} // namespace omvara::config::rewrite
