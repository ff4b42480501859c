// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/config/RequestSettings.h"

#include "omvara/util/HexDigit.h"

#include <QStringList>

namespace omvara::config {

namespace {

std::optional<QByteArray> refuse(QString *problem, const QString &why)
{
    if (problem)
        *problem = why;
    return std::nullopt;
}

// The named keys a hotkey may use, as the portable text writes them, and
// whether the key needs Ctrl, Alt or Meta.
struct NamedKey
{
    const char *name;
    bool typing; // a key that types something on its own
};
constexpr NamedKey namedKeys[] = {
    { "Space", true },
    { "Tab", true },
    { "Return", true },
    { "Enter", true },
    { "Backspace", true },
    { "Esc", false },
    { "Ins", false },
    { "Del", false },
    { "Home", false },
    { "End", false },
    { "PgUp", false },
    { "PgDown", false },
    { "Left", false },
    { "Up", false },
    { "Right", false },
    { "Down", false },
    { "Pause", false },
    { "Print", false },
    { "ScrollLock", false },
    { "Menu", false },
};

} // namespace

std::optional<QByteArray> RequestCommand::decode(const QString &text, QString *problem)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.unicode() > 0xFF)
            return refuse(problem, QStringLiteral("the character \"%1\" is not a single byte").arg(c));
        if (c != u'\\') {
            bytes.append(char(c.unicode()));
            continue;
        }
        if (++i >= text.size())
            return refuse(problem, QStringLiteral("a backslash at the end: write \\\\ for a backslash"));
        switch (text[i].unicode()) {
        case u'r':
            bytes.append('\r');
            break;
        case u'n':
            bytes.append('\n');
            break;
        case u't':
            bytes.append('\t');
            break;
        case u'e':
            bytes.append('\x1b');
            break;
        case u'\\':
            bytes.append('\\');
            break;
        case u'x': {
            const int high = i + 1 < text.size() ? util::hexDigitValue(text[i + 1]) : -1;
            const int low = i + 2 < text.size() ? util::hexDigitValue(text[i + 2]) : -1;
            if (high < 0 || low < 0)
                return refuse(problem, QStringLiteral("\\x needs two hexadecimal digits"));
            bytes.append(char(high * 16 + low));
            i += 2;
            break;
        }
        default:
            return refuse(problem,
                QStringLiteral("unknown escape \"\\%1\" (known: \\r \\n \\t \\e \\xHH \\\\)").arg(text[i]));
        }
    }
    return bytes;
}

QString RequestCommand::encode(const QByteArray &bytes)
{
    QString text;
    for (const char byte : bytes) {
        const auto b = static_cast<unsigned char>(byte);
        switch (b) {
        case '\r':
            text += QStringLiteral("\\r");
            break;
        case '\n':
            text += QStringLiteral("\\n");
            break;
        case '\t':
            text += QStringLiteral("\\t");
            break;
        case 0x1b:
            text += QStringLiteral("\\e");
            break;
        case '\\':
            text += QStringLiteral("\\\\");
            break;
        default:
            if (b < 0x20 || (b >= 0x7f && b < 0xa0))
                text
                    += QStringLiteral("\\x") + QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
            else
                text += QChar(b);
        }
    }
    return text;
}

std::optional<RequestHotkey::Chord> RequestHotkey::parse(const QString &text, QString *problem)
{
    const auto fail = [problem](const QString &why) -> std::optional<Chord> {
        if (problem)
            *problem = why;
        return std::nullopt;
    };
    if (text.trimmed().isEmpty())
        return fail(QStringLiteral("no key given"));
    // "Ctrl++" is Ctrl and the plus key; a plus key is no hotkey here, so
    // every '+' separates.
    const QStringList parts = text.split(u'+');
    Chord chord;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        const QString part = parts[i].trimmed();
        int bit = 0;
        if (part.compare(QLatin1String("Ctrl"), Qt::CaseInsensitive) == 0)
            bit = Ctrl;
        else if (part.compare(QLatin1String("Alt"), Qt::CaseInsensitive) == 0)
            bit = Alt;
        else if (part.compare(QLatin1String("Shift"), Qt::CaseInsensitive) == 0)
            bit = Shift;
        else if (part.compare(QLatin1String("Meta"), Qt::CaseInsensitive) == 0)
            bit = Meta;
        else
            return fail(QStringLiteral("\"%1\" is not a modifier (Ctrl, Alt, Shift, Meta)").arg(part));
        if (chord.modifiers & bit)
            return fail(QStringLiteral("%1 is given twice").arg(part));
        chord.modifiers |= bit;
    }
    const QString key = parts.last().trimmed();
    if (key.isEmpty())
        return fail(QStringLiteral("no key after the modifiers"));
    bool typing = false;
    if (key.size() == 1 && key[0].unicode() < 0x80 && key[0].isLetterOrNumber()) {
        chord.key = key.toUpper();
        typing = true;
    } else if (key.size() >= 2 && (key[0] == u'F' || key[0] == u'f')) {
        bool ok = false;
        const int n = key.mid(1).toInt(&ok);
        if (!ok || n < 1 || n > 35 || key.mid(1) != QString::number(n))
            return fail(QStringLiteral("\"%1\" is not a key a hotkey can use").arg(key));
        chord.key = QStringLiteral("F%1").arg(n);
    } else {
        for (const NamedKey &named : namedKeys) {
            if (key.compare(QLatin1String(named.name), Qt::CaseInsensitive) == 0) {
                chord.key = QLatin1String(named.name);
                typing = named.typing;
                break;
            }
        }
        if (chord.key.isEmpty())
            return fail(QStringLiteral("\"%1\" is not a key a hotkey can use").arg(key));
    }
    if (typing && !(chord.modifiers & (Ctrl | Alt | Meta)))
        return fail(QStringLiteral("%1 needs Ctrl, Alt or Meta: on its own it would be taken from every "
                                   "application")
                        .arg(chord.key));
    return chord;
}

} // namespace omvara::config
