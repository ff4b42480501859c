// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/prefs/PreferencesXml.h"

#include "omvara/prefs/Preferences.h"

#include <QBuffer>
#include <QIODevice>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace omvara::prefs {

namespace {

const QString DOCTYPE = QStringLiteral("<!DOCTYPE preferences SYSTEM \"http://java.sun.com/dtd/preferences.dtd\">");
const QString FORMAT_VERSION = QStringLiteral("1.0");

// XML 1.0 cannot carry most control characters, not even as character
// references, nor unpaired surrogates or U+FFFE / U+FFFF.
bool xmlCanHold(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r')
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
    throw InvalidPreferencesFormatError(
        QStringLiteral("Not a preferences document (line %1, column %2): %3")
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
template<typename Check>
void checkField(const QXmlStreamReader &xml, Check check, const QString &text)
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

void applyNode(const PreferencesXml::Node &node, Preferences &target)
{
    for (const PreferencesXml::Entry &e : node.entries)
        target.put(e.first, e.second);
    for (const PreferencesXml::Node &child : node.children)
        applyNode(child, *target.node(child.name));
}

} // namespace

void PreferencesXml::write(QIODevice &out, const QStringList &path, const QList<Entry> &entries)
{
    for (const Entry &e : entries) {
        if (!xmlCanHold(e.first) || !xmlCanHold(e.second))
            throw PreferencesRefusedError(
                QStringLiteral("The value of key %1 holds a character that cannot be exported").arg(e.first));
    }
    for (const QString &name : path) {
        if (!xmlCanHold(name))
            throw PreferencesRefusedError(QStringLiteral("Node name holds a character that cannot be exported"));
    }

    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(2);
    xml.writeStartDocument(QStringLiteral("1.0"), false);
    xml.writeDTD(DOCTYPE);
    xml.writeStartElement(QStringLiteral("preferences"));
    xml.writeAttribute(QStringLiteral("EXTERNAL_XML_VERSION"), FORMAT_VERSION);
    xml.writeStartElement(QStringLiteral("root"));
    xml.writeAttribute(QStringLiteral("type"), QStringLiteral("user"));
    for (const QString &name : path) {
        xml.writeEmptyElement(QStringLiteral("map"));
        xml.writeStartElement(QStringLiteral("node"));
        xml.writeAttribute(QStringLiteral("name"), name);
    }
    if (entries.isEmpty()) {
        xml.writeEmptyElement(QStringLiteral("map"));
    } else {
        xml.writeStartElement(QStringLiteral("map"));
        for (const Entry &e : entries) {
            xml.writeEmptyElement(QStringLiteral("entry"));
            xml.writeAttribute(QStringLiteral("key"), e.first);
            xml.writeAttribute(QStringLiteral("value"), e.second);
        }
        xml.writeEndElement();
    }
    xml.writeEndDocument();

    if (out.write(bytes) != bytes.size())
        throw BackingStoreError(out.errorString().isEmpty() ? QStringLiteral("Cannot write the export document")
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
        Node *node;       // the tree node the element belongs to (Root, Node, Map)
        bool mapSeen;     // Root, Node: a <map> child was read
    };

    Document result;
    bool rootSeen = false;
    QList<Open> stack;
    QByteArray text = document;
    blankDoctype(text);
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
                    fail(xml, QStringLiteral("the document element is <%1>, not <preferences>").arg(name.toString()));
                const QXmlStreamAttributes attributes = xml.attributes();
                if (attributes.hasAttribute(QStringLiteral("EXTERNAL_XML_VERSION"))) {
                    const QString version = attributes.value(QStringLiteral("EXTERNAL_XML_VERSION")).toString();
                    bool ok = false;
                    const double number = version.trimmed().toDouble(&ok);
                    if (!ok || number > FORMAT_VERSION.toDouble())
                        throw InvalidPreferencesFormatError(
                            QStringLiteral("Preferences document format version %1 is not supported; "
                                           "this program reads version %2 and older")
                                .arg(version, FORMAT_VERSION));
                }
                stack.append({Element::Preferences, nullptr, false});
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
                stack.append({Element::Root, &result.root, false});
                break;
            }
            case Element::Root:
            case Element::Node:
                if (name == u"map") {
                    if (top.mapSeen)
                        fail(xml, QStringLiteral("a second <map> in one node"));
                    top.mapSeen = true;
                    stack.append({Element::Map, top.node, false});
                } else if (name == u"node") {
                    if (stack.size() > MAX_DEPTH)
                        fail(xml, QStringLiteral("nodes nested deeper than %1").arg(MAX_DEPTH));
                    const QString nodeName = requiredAttribute(xml, QStringLiteral("name"));
                    checkField(xml, &Preferences::checkName, nodeName);
                    top.node->children.append(Node{nodeName, {}, {}});
                    stack.append({Element::Node, &top.node->children.last(), false});
                } else {
                    fail(xml, QStringLiteral("unexpected <%1> in a node").arg(name.toString()));
                }
                break;
            case Element::Map: {
                if (name != u"entry")
                    fail(xml, QStringLiteral("unexpected <%1> in <map>").arg(name.toString()));
                const QString key = requiredAttribute(xml, QStringLiteral("key"));
                const QString value = requiredAttribute(xml, QStringLiteral("value"));
                checkField(xml, &Preferences::checkKey, key);
                checkField(xml, &Preferences::checkValue, value);
                top.node->entries.append({key, value});
                stack.append({Element::Entry, top.node, false});
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
