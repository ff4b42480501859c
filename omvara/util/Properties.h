// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

namespace omvara::util {

// Reader and writer for the classic "properties" text format: ISO-8859-1 bytes,
// \uXXXX escapes for everything else, "#" and "!" comment lines, continuation
// lines ending in an odd number of backslashes, and "=", ":" or blanks between
// key and value. Used for the resource bundles and the shared preferences file.
class Properties
{
public:
    using Entry = QPair<QString, QString>;

    // Parses a whole document. Never fails: malformed escapes are read the way
    // the classic reader reads them where that is harmless (an unknown "\x"
    // becomes "x"); a "\u" not followed by four hex digits is kept literally.
    // A later entry with the same key replaces an earlier one.
    static QMap<QString, QString> parse(const QByteArray &latin1Text);

    // The entries in file order, duplicates included.
    static QList<Entry> parseEntries(const QByteArray &latin1Text);

    // Writes "#comment" lines (one per line of the comment), then one
    // "key=value" line per entry. Every key and value reads back unchanged:
    // characters outside printable ASCII become \uXXXX; blanks in keys, a
    // leading blank in values, "=", ":", "#", "!" and backslashes are escaped.
    static QByteArray serialize(const QList<Entry> &entries, const QString &comment = {});
    static QByteArray serialize(const QMap<QString, QString> &entries, const QString &comment = {});

    static QString escape(const QString &text, bool isKey);
};

} // namespace omvara::util
