// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

class QIODevice;

namespace omvara::prefs {

class Preferences;

// The preferences export document:
//
//   <?xml version="1.0" encoding="UTF-8" standalone="no"?>
//   <!DOCTYPE preferences SYSTEM "http://java.sun.com/dtd/preferences.dtd">
//   <preferences EXTERNAL_XML_VERSION="1.0">
//     <root type="user">
//       <map/>
//       <node name="com"> <map/> <node name="brindlecote"> ...
//           <node name="Omvara"> <map> <entry key="KEY" value="VALUE"/> ...
//
// Other installations of the program read and write the same form, so the
// DOCTYPE line is written exactly so (it is never fetched).
class PreferencesXml
{
public:
    using Entry = QPair<QString, QString>;

    // One node of a parsed document with its entries and child nodes.
    struct Node
    {
        QString name;
        QList<Entry> entries;
        QList<Node> children;
    };
    struct Document
    {
        bool systemTree = false; // <root type="system">
        Node root;
    };

    // Writes the document for the node at `path` (names below the root)
    // holding `entries`. A document whose text holds control characters other
    // than tab and line breaks (which XML 1.0 cannot carry) is declared
    // version 1.1 and carries them, and the characters U+007F-U+009F and
    // U+2028, as character references; any other document is version 1.0.
    // Refuses (PreferencesRefusedError) text that no XML can hold (U+0000,
    // unpaired surrogates, U+FFFE, U+FFFF) before writing anything; fails
    // with BackingStoreError when `out` does not take the bytes.
    // `children` are written inside the node, after its entries (a document
    // without children is the same as before there were any).
    static void write(QIODevice &out, const QStringList &path, const QList<Entry> &entries,
        const QList<Node> &children = {});

    // Reads a whole document. Accepts it with or without the DOCTYPE, with
    // any whitespace, attribute order, comments and XML declaration. Refuses
    // (InvalidPreferencesFormatError) anything else: other elements, text
    // outside attributes, references to entities other than the five
    // predefined ones (the document type declaration is skipped, so no entity
    // is ever expanded or fetched), keys, values and names the tree cannot
    // hold, nesting deeper than 64 nodes, documents over 16 MiB, and format
    // versions above 1.0. A document declared XML version 1.1 is read with
    // the meaning it has there (references to control characters, U+0085 and
    // U+2028 as line ends); it must be in UTF-8.
    static Document parse(const QByteArray &document);

    // Writes every entry of `document` into the node it names below
    // `userRoot` (or `systemRoot` for a system document), creating nodes.
    static void apply(const Document &document, Preferences &userRoot, Preferences &systemRoot);

    static constexpr qsizetype MAX_DOCUMENT_SIZE = 16 * 1024 * 1024;
    static constexpr int MAX_DEPTH = 64;
};

} // namespace omvara::prefs
