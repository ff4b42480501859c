// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/config/Stamp.h"

#include <optional>

namespace omvara::config {

namespace {

// One token: its name and, after a ":", its pattern.
struct Token
{
    QString name;
    std::optional<QString> pattern;
    qsizetype end = 0; // just after its "}"
};

// The token whose "{" is at `begin`; nothing when no "}" closes it.
std::optional<Token> tokenAt(const QString &text, qsizetype begin)
{
    const qsizetype close = text.indexOf(u'}', begin + 1);
    if (close < 0)
        return std::nullopt;
    const QString inner = text.mid(begin + 1, close - begin - 1);
    Token token;
    token.end = close + 1;
    const qsizetype colon = inner.indexOf(u':');
    if (colon < 0) {
        token.name = inner;
    } else {
        token.name = inner.left(colon);
        token.pattern = inner.mid(colon + 1);
    }
    return token;
}

// What a known token gives; nothing for a token that is not known.
std::optional<QString> replacement(const Token &token, const Stamp::Values &values)
{
    if (token.name == u"date")
        return values.time.date().toString(token.pattern.value_or(QStringLiteral("yyyy-MM-dd")));
    if (token.name == u"time")
        return values.time.time().toString(token.pattern.value_or(QStringLiteral("HH:mm:ss")));
    if (token.pattern)
        return std::nullopt; // only the date and the time take a pattern
    if (token.name == u"seq")
        return QString::number(values.seq);
    if (token.name == u"port")
        return values.port;
    if (token.name == u"connection")
        return values.connection;
    return std::nullopt;
}

} // namespace

QString Stamp::problem(const QString &text)
{
    if (text.size() > MaxLength)
        return QStringLiteral("longer than %1 characters").arg(MaxLength);
    for (const QChar c : text)
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() < 0xA0))
            return QStringLiteral("control character <%1>").arg(c.unicode());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'{')
            continue;
        if (i + 1 < text.size() && text[i + 1] == u'{') {
            ++i;
            continue;
        }
        const std::optional<Token> token = tokenAt(text, i);
        if (!token)
            return QStringLiteral("\"{\" without \"}\" (write \"{{\" for a \"{\")");
        const QString whole = text.mid(i, token->end - i);
        if (token->pattern && token->pattern->isEmpty())
            return QStringLiteral("token %1 without a pattern").arg(whole);
        if (!replacement(
                *token, Values { QDateTime(QDate(2000, 1, 1), QTime(0, 0)), 1, QString(), QString() }))
            return QStringLiteral("unknown token %1").arg(whole);
        i = token->end - 1;
    }
    return {};
}

QString Stamp::expand(const QString &text, const Values &values)
{
    QString out;
    out.reserve(text.size() + 16);
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'{') {
            out += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == u'{') {
            out += u'{';
            ++i;
            continue;
        }
        const std::optional<Token> token = tokenAt(text, i);
        const std::optional<QString> value = token ? replacement(*token, values) : std::nullopt;
        if (!value) {
            out += text[i];
            continue;
        }
        out += *value;
        i = token->end - 1;
    }
    return out;
}

} // namespace omvara::config
