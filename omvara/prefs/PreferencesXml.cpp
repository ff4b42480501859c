// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/prefs/PreferencesXml.h"

#include "omvara/prefs/Preferences.h"

#include <QBuffer>
#include <QIODevice>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>

namespace omvara::prefs {

namespace {

const QString DOCTYPE
    = QStringLiteral("<!DOCTYPE preferences SYSTEM \"http://java.sun.com/dtd/preferences.dtd\">");
const QString FORMAT_VERSION = QStringLiteral("1.0");

// The control characters that XML 1.0 cannot carry at all, not even as
// character references. XML 1.1 carries them as references.
bool onlyInVersion11(char16_t c)
{
    return c >= 1 && c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r';
}

bool needsVersion11(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return onlyInVersion11(c.unicode()); });
}

// Characters a version 1.1 document writes as references: its restricted
// characters, which it may not hold literally, and the line ends it adds
// (U+0085, U+2028), which a reader would turn into a line feed.
bool referencedInVersion11(char16_t c)
{
    return onlyInVersion11(c) || (c >= 0x7f && c <= 0x9f) || c == 0x2028;
}

// Not even XML 1.1 can carry U+0000, unpaired surrogates or U+FFFE / U+FFFF.
bool xmlCanHold(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == 0)
            return false;
        if (c == 0xfffe || c == 0xffff)
            return false;
        if (QChar::isHighSurrogate(c)) {
            if (i + 1 >= text.size() || !QChar::isLowSurrogate(text[i + 1].unicode()))
                return false;
            ++i;
        } else if (QChar::isLowSurrogate(c)) {
            return false;
        }
    }
    return true;
}

[[noreturn]] void fail(const QXmlStreamReader &xml, const QString &what)
{
    throw InvalidPreferencesFormatError(QStringLiteral("Not a preferences document (line %1, column %2): %3")
                                            .arg(xml.lineNumber())
                                            .arg(xml.columnNumber())
                                            .arg(what));
}

QString requiredAttribute(const QXmlStreamReader &xml, const QString &name)
{
    const QXmlStreamAttributes attributes = xml.attributes();
    if (!attributes.hasAttribute(name))
        fail(xml, QStringLiteral("<%1> without attribute %2").arg(xml.name().toString(), name));
    return attributes.value(name).toString();
}

// Runs one of the tree's own checks and reports its refusal as a format error.
template <typename Check> void checkField(const QXmlStreamReader &xml, Check check, const QString &text)
{
    try {
        check(text);
    } catch (const PreferencesRefusedError &e) {
        fail(xml, e.message());
    }
}

// Blanks out the document type declaration, keeping line breaks so that
// positions in messages stay right. Without it the reader knows no entities
// but the five predefined ones: any other reference is an error, so nothing
// is ever expanded or fetched. (With an external DTD named, the reader would
// instead keep unknown references such as "&x;" as literal text.) A
// declaration this cannot find, for example in another encoding than an
// ASCII-compatible one, is left for the reader, and parse() refuses it.
void blankDoctype(QByteArray &document)
{
    const qsizetype start = document.indexOf("<!DOCTYPE");
    if (start < 0)
        return;
    char quote = 0;
    int brackets = 0;
    qsizetype end = -1;
    for (qsizetype i = start + 9; i < document.size() && end < 0; ++i) {
        const char c = document[i];
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '[') {
            ++brackets;
        } else if (c == ']') {
            --brackets;
        } else if (c == '>' && brackets <= 0) {
            end = i;
        }
    }
    if (end < 0)
        return;
    for (qsizetype i = start; i <= end; ++i)
        if (document[i] != '\n')
            document[i] = ' ';
}

// A private-use character that occurs in none of `texts`; it marks the
// places of character references while the text passes through the XML
// writer or reader, which know only XML 1.0.
char16_t unusedMark(const QStringList &texts)
{
    for (char16_t mark = 0xe000; mark < 0xf8ff; ++mark) {
        const QChar m(mark);
        if (std::none_of(texts.cbegin(), texts.cend(), [m](const QString &t) { return t.contains(m); }))
            return mark;
    }
    return 0; // 6399 distinct marks in use: cannot happen within the size limit of a document
}

// Each character that a version 1.1 document writes as a reference becomes
// mark, its code in hexadecimal, mark.
QString markReferences(const QString &text, char16_t mark)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (referencedInVersion11(c.unicode()))
            out += QChar(mark) + QString::number(c.unicode(), 16).toUpper() + QChar(mark);
        else
            out += c;
    }
    return out;
}

// The inverse of markReferences (on text read back by the XML reader).
QString unmark(const QString &text, char16_t mark)
{
    if (!mark || !text.contains(QChar(mark)))
        return text;
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != QChar(mark)) {
            out += text[i];
            continue;
        }
        const qsizetype end = text.indexOf(QChar(mark), i + 1);
        bool ok = false;
        const uint code = end < 0 ? 0 : QStringView(text).mid(i + 1, end - i - 1).toUInt(&ok, 16);
        if (!ok || code > 0xffff)
            return text; // not one of ours; cannot happen, the mark occurs nowhere else
        out += QChar(char16_t(code));
        i = end;
    }
    return out;
}

// Replaces every mark sequence in the written UTF-8 bytes by the character
// reference it stands for.
QByteArray referencesForMarks(const QByteArray &bytes, char16_t mark)
{
    const QByteArray m = QString(QChar(mark)).toUtf8();
    QByteArray out;
    out.reserve(bytes.size());
    qsizetype from = 0;
    for (;;) {
        const qsizetype start = bytes.indexOf(m, from);
        if (start < 0)
            break;
        const qsizetype end = bytes.indexOf(m, start + m.size());
        out += bytes.mid(from, start - from);
        out += "&#x" + bytes.mid(start + m.size(), end - start - m.size()) + ';';
        from = end + m.size();
    }
    out += bytes.mid(from);
    return out;
}

// The version in the XML declaration at the start of `document` ("1.0" when
// there is none), and its encoding declaration (empty when absent).
struct Declaration
{
    QByteArray version = "1.0";
    qsizetype versionAt = -1; // offset of the version text, -1 without declaration
    QByteArray encoding;
};

Declaration readDeclaration(const QByteArray &document)
{
    Declaration d;
    qsizetype at = document.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    if (document.mid(at, 5) != "<?xml")
        return d;
    const qsizetype end = document.indexOf("?>", at);
    if (end < 0)
        return d;
    const QByteArray declaration = document.mid(at, end - at);
    const auto value = [&](const char *name, qsizetype *offset) -> QByteArray {
        const qsizetype n = declaration.indexOf(name);
        if (n < 0)
            return {};
        qsizetype i = n + qsizetype(qstrlen(name));
        while (i < declaration.size()
            && (declaration[i] == ' ' || declaration[i] == '=' || declaration[i] == '\t'
                || declaration[i] == '\r' || declaration[i] == '\n'))
            ++i;
        if (i >= declaration.size() || (declaration[i] != '"' && declaration[i] != '\''))
            return {};
        const qsizetype close = declaration.indexOf(declaration[i], i + 1);
        if (close < 0)
            return {};
        if (offset)
            *offset = at + i + 1;
        return declaration.mid(i + 1, close - i - 1);
    };
    qsizetype versionAt = -1;
    const QByteArray version = value("version", &versionAt);
    if (!version.isEmpty()) {
        d.version = version;
        d.versionAt = versionAt;
    }
    d.encoding = value("encoding", nullptr);
    return d;
}

// Makes a version 1.1 document readable by the XML 1.0 reader with the
// meaning it has in version 1.1: references to characters that only 1.1
// allows become marks (given back by unmark), the line ends that only 1.1
// knows become line feeds, and the declaration says 1.0. Characters that
// 1.1 allows only as references are refused when they occur literally.
QByteArray readableAsVersion10(QByteArray document, const Declaration &declaration, char16_t mark)
{
    if (!declaration.encoding.isEmpty() && declaration.encoding.toLower() != "utf-8")
        throw InvalidPreferencesFormatError(
            QStringLiteral("Not a preferences document: a version 1.1 document in %1 instead of UTF-8")
                .arg(QString::fromLatin1(declaration.encoding)));
    document.replace(declaration.versionAt, 3, "1.0");
    // Literal restricted characters: U+007F to U+009F but for U+0085.
    for (qsizetype i = 0; i < document.size(); ++i) {
        const uchar c = uchar(document[i]);
        const bool del = c == 0x7f;
        const bool c1 = c == 0xc2 && i + 1 < document.size() && uchar(document[i + 1]) >= 0x80
            && uchar(document[i + 1]) <= 0x9f && uchar(document[i + 1]) != 0x85;
        if (del || c1)
            throw InvalidPreferencesFormatError(
                QStringLiteral("Not a preferences document: character U+%1 written directly in a version 1.1 "
                               "document, which allows it only as a character reference")
                    .arg(del ? 0x7f : uchar(document[i + 1]), 4, 16, QChar(u'0')));
    }
    document.replace("\r\xC2\x85", "\n");
    document.replace("\xC2\x85", "\n");
    document.replace("\xE2\x80\xA8", "\n");
    // References to the control characters that version 1.0 refuses.
    QByteArray out;
    out.reserve(document.size());
    for (qsizetype i = 0; i < document.size(); ++i) {
        if (document[i] == '&' && i + 2 < document.size() && document[i + 1] == '#') {
            const bool hex = document[i + 2] == 'x';
            const qsizetype digits = i + (hex ? 3 : 2);
            const qsizetype semicolon = document.indexOf(';', digits);
            if (semicolon > digits && semicolon - digits <= 8) {
                bool ok = false;
                const uint code = document.mid(digits, semicolon - digits).toUInt(&ok, hex ? 16 : 10);
                if (ok && code <= 0xffff && onlyInVersion11(char16_t(code))) {
                    out += (QChar(mark) + QString::number(code, 16) + QChar(mark)).toUtf8();
                    i = semicolon;
                    continue;
                }
            }
        }
        out += document[i];
    }
    return out;
}

void applyNode(const PreferencesXml::Node &node, Preferences &target)
{
    for (const PreferencesXml::Entry &e : node.entries)
        target.put(e.first, e.second);
    for (const PreferencesXml::Node &child : node.children)
        applyNode(child, *target.node(child.name));
}

} // namespace

void PreferencesXml::write(
    QIODevice &out, const QStringList &path, const QList<Entry> &entries, const QList<Node> &children)
{
    for (const Entry &e : entries) {
        if (!xmlCanHold(e.first) || !xmlCanHold(e.second))
            throw PreferencesRefusedError(
                QStringLiteral("The value of key %1 holds a character that cannot be exported").arg(e.first));
    }
    for (const QString &name : path) {
        if (!xmlCanHold(name))
            throw PreferencesRefusedError(
                QStringLiteral("Node name holds a character that cannot be exported"));
    }
    for (const Node &child : children) {
        if (!xmlCanHold(child.name))
            throw PreferencesRefusedError(
                QStringLiteral("Node name holds a character that cannot be exported"));
        for (const Entry &e : child.entries)
            if (!xmlCanHold(e.first) || !xmlCanHold(e.second))
                throw PreferencesRefusedError(
                    QStringLiteral("The value of key %1 holds a character that cannot be exported")
                        .arg(e.first));
    }

    // Control characters (STX and ETX among the characters to remove, for
    // example) exist only in version 1.1, as character references. Any other
    // document stays version 1.0, byte for byte what it always was, so that
    // readers of 1.0 only take it as before.
    QStringList texts = path;
    for (const Entry &e : entries)
        texts << e.first << e.second;
    for (const Node &child : children) {
        texts << child.name;
        for (const Entry &e : child.entries)
            texts << e.first << e.second;
    }
    const bool version11 = std::any_of(texts.cbegin(), texts.cend(), needsVersion11);
    const char16_t mark = version11 ? unusedMark(texts) : 0;
    const auto text = [&](const QString &t) { return version11 ? markReferences(t, mark) : t; };

    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(2);
    xml.writeStartDocument(version11 ? QStringLiteral("1.1") : QStringLiteral("1.0"), false);
    xml.writeDTD(DOCTYPE);
    xml.writeStartElement(QStringLiteral("preferences"));
    xml.writeAttribute(QStringLiteral("EXTERNAL_XML_VERSION"), FORMAT_VERSION);
    xml.writeStartElement(QStringLiteral("root"));
    xml.writeAttribute(QStringLiteral("type"), QStringLiteral("user"));
    for (const QString &name : path) {
        xml.writeEmptyElement(QStringLiteral("map"));
        xml.writeStartElement(QStringLiteral("node"));
        xml.writeAttribute(QStringLiteral("name"), text(name));
    }
    const auto writeMap = [&](const QList<Entry> &mapEntries) {
        if (mapEntries.isEmpty()) {
            xml.writeEmptyElement(QStringLiteral("map"));
            return;
        }
        xml.writeStartElement(QStringLiteral("map"));
        for (const Entry &e : mapEntries) {
            xml.writeEmptyElement(QStringLiteral("entry"));
            xml.writeAttribute(QStringLiteral("key"), text(e.first));
            xml.writeAttribute(QStringLiteral("value"), text(e.second));
        }
        xml.writeEndElement();
    };
    writeMap(entries);
    for (const Node &child : children) {
        xml.writeStartElement(QStringLiteral("node"));
        xml.writeAttribute(QStringLiteral("name"), text(child.name));
        writeMap(child.entries);
        xml.writeEndElement();
    }
    xml.writeEndDocument();
    if (version11)
        bytes = referencesForMarks(bytes, mark);

    if (out.write(bytes) != bytes.size())
        throw BackingStoreError(out.errorString().isEmpty()
                ? QStringLiteral("Cannot write the export document")
                : out.errorString());
}

PreferencesXml::Document PreferencesXml::parse(const QByteArray &document)
{
    if (document.size() > MAX_DOCUMENT_SIZE)
        throw InvalidPreferencesFormatError(
            QStringLiteral("Not a preferences document: larger than %1 bytes").arg(MAX_DOCUMENT_SIZE));

    enum class Element { Preferences, Root, Node, Map, Entry };
    struct Open
    {
        Element element;
        Node *node; // the tree node the element belongs to (Root, Node, Map)
        bool mapSeen; // Root, Node: a <map> child was read
    };

    Document result;
    bool rootSeen = false;
    QList<Open> stack;
    QByteArray text = document;
    blankDoctype(text);
    const Declaration declaration = readDeclaration(text);
    char16_t mark = 0;
    if (declaration.version == "1.1") {
        mark = unusedMark({ QString::fromUtf8(text) });
        text = readableAsVersion10(text, declaration, mark);
    }
    const auto attribute = [&](const QXmlStreamReader &xml, const QString &name) {
        return unmark(requiredAttribute(xml, name), mark);
    };
    QXmlStreamReader xml(text);
    xml.setNamespaceProcessing(false);

    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        switch (token) {
        case QXmlStreamReader::DTD:
            fail(xml, QStringLiteral("a document type declaration that cannot be read"));
        case QXmlStreamReader::EntityReference:
            fail(xml, QStringLiteral("undeclared entity &%1;").arg(xml.name().toString()));
        case QXmlStreamReader::Characters:
            if (!xml.isWhitespace())
                fail(xml, QStringLiteral("unexpected text \"%1\"").arg(xml.text().left(40).toString()));
            break;
        case QXmlStreamReader::StartElement: {
            const QStringView name = xml.name();
            if (stack.isEmpty()) {
                if (name != u"preferences")
                    fail(xml,
                        QStringLiteral("the document element is <%1>, not <preferences>")
                            .arg(name.toString()));
                const QXmlStreamAttributes attributes = xml.attributes();
                if (attributes.hasAttribute(QStringLiteral("EXTERNAL_XML_VERSION"))) {
                    const QString version
                        = attributes.value(QStringLiteral("EXTERNAL_XML_VERSION")).toString();
                    bool ok = false;
                    const double number = version.trimmed().toDouble(&ok);
                    if (!ok || number > FORMAT_VERSION.toDouble())
                        throw InvalidPreferencesFormatError(
                            QStringLiteral("Preferences document format version %1 is not supported; "
                                           "this program reads version %2 and older")
                                .arg(version, FORMAT_VERSION));
                }
                stack.append({ Element::Preferences, nullptr, false });
                break;
            }
            Open &top = stack.last();
            switch (top.element) {
            case Element::Preferences: {
                if (name != u"root" || rootSeen)
                    fail(xml, QStringLiteral("unexpected <%1> in <preferences>").arg(name.toString()));
                rootSeen = true;
                const QXmlStreamAttributes attributes = xml.attributes();
                const QStringView type = attributes.value(QStringLiteral("type"));
                if (type == u"system")
                    result.systemTree = true;
                else if (!type.isEmpty() && type != u"user")
                    fail(xml, QStringLiteral("root type %1").arg(type.toString()));
                stack.append({ Element::Root, &result.root, false });
                break;
            }
            case Element::Root:
            case Element::Node:
                if (name == u"map") {
                    if (top.mapSeen)
                        fail(xml, QStringLiteral("a second <map> in one node"));
                    top.mapSeen = true;
                    stack.append({ Element::Map, top.node, false });
                } else if (name == u"node") {
                    if (stack.size() > MAX_DEPTH)
                        fail(xml, QStringLiteral("nodes nested deeper than %1").arg(MAX_DEPTH));
                    const QString nodeName = attribute(xml, QStringLiteral("name"));
                    checkField(xml, &Preferences::checkName, nodeName);
                    top.node->children.append(Node { nodeName, {}, {} });
                    stack.append({ Element::Node, &top.node->children.last(), false });
                } else {
                    fail(xml, QStringLiteral("unexpected <%1> in a node").arg(name.toString()));
                }
                break;
            case Element::Map: {
                if (name != u"entry")
                    fail(xml, QStringLiteral("unexpected <%1> in <map>").arg(name.toString()));
                const QString key = attribute(xml, QStringLiteral("key"));
                const QString value = attribute(xml, QStringLiteral("value"));
                checkField(xml, &Preferences::checkKey, key);
                checkField(xml, &Preferences::checkValue, value);
                top.node->entries.append({ key, value });
                stack.append({ Element::Entry, top.node, false });
                break;
            }
            case Element::Entry:
                fail(xml, QStringLiteral("unexpected <%1> in <entry>").arg(name.toString()));
            }
            break;
        }
        case QXmlStreamReader::EndElement:
            stack.removeLast();
            break;
        case QXmlStreamReader::Invalid:
            fail(xml, xml.errorString());
        default: // declaration, comments, processing instructions, end of document
            break;
        }
    }
    if (xml.hasError())
        fail(xml, xml.errorString());
    if (!rootSeen)
        throw InvalidPreferencesFormatError(QStringLiteral("Not a preferences document: no <root> element"));
    return result;
}

void PreferencesXml::apply(const Document &document, Preferences &userRoot, Preferences &systemRoot)
{
    applyNode(document.root, document.systemTree ? systemRoot : userRoot);
}

} // namespace omvara::prefs
