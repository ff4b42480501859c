// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/util/Properties.h"

#include "omvara/util/HexDigit.h"

namespace omvara::util {

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\f';
}

// Splits the document into logical lines: comments and blank lines dropped,
// continuation lines joined (leading blanks of a continued line dropped).
QStringList logicalLines(const QString &text)
{
    QStringList out;
    const qsizetype n = text.size();
    qsizetype i = 0;
    QString current;
    bool continuing = false;
    while (i < n) {
        qsizetype end = i;
        while (end < n && text[end] != u'\n' && text[end] != u'\r')
            ++end;
        QString line = text.mid(i, end - i);
        // Skip the line break: \r, \n or \r\n.
        if (end < n && text[end] == u'\r' && end + 1 < n && text[end + 1] == u'\n')
            i = end + 2;
        else
            i = end + 1;

        qsizetype start = 0;
        while (start < line.size() && isBlank(line[start]))
            ++start;
        if (!continuing) {
            if (start == line.size())
                continue; // blank line
            if (line[start] == u'#' || line[start] == u'!')
                continue; // comment
        }
        line = line.mid(start);

        qsizetype slashes = 0;
        for (qsizetype k = line.size() - 1; k >= 0 && line[k] == u'\\'; --k)
            ++slashes;
        if (slashes % 2 == 1) {
            current += line.left(line.size() - 1);
            continuing = true;
            if (i >= n) { // document ends on a continuation
                out << current;
                current.clear();
                continuing = false;
            }
            continue;
        }
        current += line;
        out << current;
        current.clear();
        continuing = false;
    }
    return out;
}

QString unescape(const QString &s)
{
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        QChar c = s[i];
        if (c != u'\\' || i + 1 >= s.size()) {
            out += c;
            continue;
        }
        QChar e = s[++i];
        switch (e.unicode()) {
        case u't':
            out += u'\t';
            break;
        case u'n':
            out += u'\n';
            break;
        case u'r':
            out += u'\r';
            break;
        case u'f':
            out += u'\f';
            break;
        case u'u': {
            // Exactly four hex digits; anything else is kept as written.
            int value = 0;
            bool ok = i + 4 < s.size();
            for (int k = 1; ok && k <= 4; ++k) {
                const int h = hexDigitValue(s[i + k]);
                ok = h >= 0;
                value = value * 16 + h;
            }
            if (ok) {
                out += QChar(char16_t(value));
                i += 4;
            } else {
                out += QStringLiteral("\\u");
            }
            break;
        }
        default:
            out += e;
            break;
        }
    }
    return out;
}

} // namespace

QList<Properties::Entry> Properties::parseEntries(const QByteArray &latin1Text)
{
    QList<Entry> entries;
    const QStringList lines = logicalLines(QString::fromLatin1(latin1Text));
    for (const QString &line : lines) {
        // The key ends at the first unescaped "=", ":" or blank.
        qsizetype k = 0;
        bool escaped = false;
        for (; k < line.size(); ++k) {
            QChar c = line[k];
            if (escaped) {
                escaped = false;
                continue;
            }
            if (c == u'\\') {
                escaped = true;
                continue;
            }
            if (c == u'=' || c == u':' || isBlank(c))
                break;
        }
        QString key = line.left(k);
        qsizetype v = k;
        while (v < line.size() && isBlank(line[v]))
            ++v;
        if (v < line.size() && (line[v] == u'=' || line[v] == u':'))
            ++v;
        while (v < line.size() && isBlank(line[v]))
            ++v;
        entries.append({ unescape(key), unescape(line.mid(v)) });
    }
    return entries;
}

QMap<QString, QString> Properties::parse(const QByteArray &latin1Text)
{
    QMap<QString, QString> map;
    for (const Entry &e : parseEntries(latin1Text))
        map.insert(e.first, e.second);
    return map;
}

QString Properties::escape(const QString &text, bool isKey)
{
    QString out;
    out.reserve(text.size() * 2);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        const char16_t u = c.unicode();
        switch (u) {
        case u' ':
            if (isKey || i == 0)
                out += u"\\ ";
            else
                out += c;
            break;
        case u'\t':
            out += u"\\t";
            break;
        case u'\n':
            out += u"\\n";
            break;
        case u'\r':
            out += u"\\r";
            break;
        case u'\f':
            out += u"\\f";
            break;
        case u'=':
        case u':':
        case u'#':
        case u'!':
        case u'\\':
            out += u'\\';
            out += c;
            break;
        default:
            if (u < 0x20 || u > 0x7e) {
                out += QStringLiteral("\\u") + QStringLiteral("%1").arg(int(u), 4, 16, QChar(u'0')).toUpper();
            } else {
                out += c;
            }
        }
    }
    return out;
}

QByteArray Properties::serialize(const QList<Entry> &entries, const QString &comment)
{
    QString out;
    if (!comment.isNull()) {
        const QStringList lines = comment.split(u'\n');
        for (const QString &l : lines) {
            // Comments need no escaping of separators, only of what is not Latin-1 ASCII.
            QString line;
            for (QChar c : l)
                line += (c.unicode() < 0x20 || c.unicode() > 0x7e) ? escape(QString(c), false) : QString(c);
            out += u'#' + line + u'\n';
        }
    }
    for (const Entry &e : entries)
        out += escape(e.first, true) + u'=' + escape(e.second, false) + u'\n';
    return out.toLatin1();
}

QByteArray Properties::serialize(const QMap<QString, QString> &entries, const QString &comment)
{
    QList<Entry> list;
    for (auto it = entries.cbegin(); it != entries.cend(); ++it)
        list.append({ it.key(), it.value() });
    return serialize(list, comment);
}

} // namespace omvara::util
