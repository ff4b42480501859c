// SPDX-License-Identifier: GPL-3.0-or-later
// The two documents the settings store reads from outside: an import file
// and the shared preferences file. Neither may crash or hang the reader, and
// what the reader accepts must come back unchanged when written and read again.
#include "omvara/prefs/PreferencesErrors.h"
#include "omvara/prefs/PreferencesXml.h"
#include "omvara/util/Properties.h"

#include <QBuffer>

#include <cstdint>
#include <cstdlib>

using omvara::prefs::InvalidPreferencesFormatError;
using omvara::prefs::PreferencesRefusedError;
using omvara::prefs::PreferencesXml;
using omvara::util::Properties;

namespace {

// Every node of an accepted document, exported alone and read back, holds
// the same entries.
void checkNode(const PreferencesXml::Node &node, QStringList path)
{
    if (!node.name.isEmpty())
        path << node.name;
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    try {
        PreferencesXml::write(buffer, path, node.entries);
    } catch (const PreferencesRefusedError &) {
        return; // text the export refuses to write
    }
    const PreferencesXml::Document again = PreferencesXml::parse(buffer.data());
    const PreferencesXml::Node *inner = &again.root;
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (inner->children.size() != 1 || inner->children[0].name != path[i])
            std::abort();
        inner = &inner->children[0];
    }
    if (inner->entries != node.entries)
        std::abort();
    for (const PreferencesXml::Node &child : node.children)
        checkNode(child, path);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        checkNode(PreferencesXml::parse(bytes).root, {});
    } catch (const InvalidPreferencesFormatError &) {
    }

    const QList<Properties::Entry> entries = Properties::parseEntries(bytes);
    if (Properties::parseEntries(Properties::serialize(entries, QStringLiteral("FilePreferences")))
        != entries)
        std::abort();
    return 0;
}
