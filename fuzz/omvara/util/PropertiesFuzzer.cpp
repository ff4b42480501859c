// SPDX-License-Identifier: GPL-3.0-or-later
// The properties text format, which holds the shared preferences file and the text bundles.
// First byte even: the rest is a document as read from disk; what the reader makes of it must
// survive writing and reading again, entry by entry and in order, the map form must hold the
// last value of each key, and the written document must be plain ASCII. First byte odd: the
// rest is UTF-16 text cut at U+0000 into a comment, then keys and values (any code units,
// lone surrogates and controls included), which must be written as plain ASCII and read back
// unchanged, as the settings store writes whatever a user typed.
#include "omvara/util/Properties.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using omvara::util::Properties;

namespace {

void require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

bool plainAscii(const QByteArray &bytes)
{
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u != '\n' && (u < 0x20 || u > 0x7E))
            return false;
    }
    return true;
}

void checkDocument(const QByteArray &document)
{
    const QList<Properties::Entry> entries = Properties::parseEntries(document);
    const QByteArray written = Properties::serialize(entries, QStringLiteral("FilePreferences"));
    require(plainAscii(written), "the written document is not plain ASCII");
    require(Properties::parseEntries(written) == entries, "entries changed by writing and reading again");

    QMap<QString, QString> last;
    for (const Properties::Entry &e : entries)
        last.insert(e.first, e.second);
    const QMap<QString, QString> map = Properties::parse(document);
    require(map == last, "the map does not hold the last value of each key");
    require(
        Properties::parse(Properties::serialize(map)) == map, "the map changed by writing and reading again");
}

void checkTexts(const std::uint8_t *data, std::size_t size)
{
    QString text;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        text += QChar(char16_t(data[i] | (data[i + 1] << 8)));
    const QStringList pieces = text.split(QChar(u'\0'));
    const QString comment = pieces.first();
    QList<Properties::Entry> entries;
    for (qsizetype i = 1; i + 1 < pieces.size(); i += 2)
        entries.append({ pieces[i], pieces[i + 1] });

    const QByteArray written = Properties::serialize(entries, comment);
    require(plainAscii(written), "the written document is not plain ASCII");
    require(Properties::parseEntries(written) == entries, "typed texts changed by writing and reading again");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    if (data[0] % 2 == 0)
        checkDocument(QByteArray(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1)));
    else
        checkTexts(data + 1, size - 1);
    return 0;
}
