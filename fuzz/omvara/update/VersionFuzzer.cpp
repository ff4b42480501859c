// SPDX-License-Identifier: GPL-3.0-or-later
// The version file of the update check, without the network: the downloaded bytes are read
// as UTF-8 the way the fetch reads them, the version is cut out of the element for the
// language, and compared with the running version. With a NUL byte in the input, the text
// before it is taken as the running version and the rest as the remote one, so that both
// sides of the comparison see arbitrary text.
//
// What must hold: only the documented UpdateCheckError is thrown; the cut-out version is
// trimmed and comes from inside the file; no version is newer than itself; two versions are
// never each newer than the other.
#include "omvara/update/ReadRemoteUpdate.h"

#include <QByteArrayView>
#include <QString>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

using omvara::update::ReadRemoteUpdate;
using omvara::update::UpdateCheckError;

namespace {

[[noreturn]] void fail(const char *what, const QString &a, const QString &b = {})
{
    std::fprintf(
        stderr, "check failed: %s (\"%s\", \"%s\")\n", what, a.toUtf8().constData(), b.toUtf8().constData());
    std::abort();
}

// The verdict, or nothing when a text does not parse.
std::optional<bool> newer(const QString &current, const QString &remote)
{
    try {
        return ReadRemoteUpdate::newerVersionAvailable(current, remote);
    } catch (const UpdateCheckError &) {
        return std::nullopt;
    } catch (const std::exception &e) {
        fail(e.what(), current, remote);
    }
}

void checkPair(const QString &current, const QString &remote)
{
    const std::optional<bool> forward = newer(current, remote);
    const std::optional<bool> backward = newer(remote, current);
    if (forward && backward && *forward && *backward)
        fail("each version is newer than the other", current, remote);
    for (const QString &v : { current, remote }) {
        const std::optional<bool> self = newer(v, v);
        if (self && *self)
            fail("a version is newer than itself", v);
    }
}

const std::array<const char *, 4> kLanguages = { "", "de", "en", "fr" };
const std::array<const char *, 5> kRunning = { "2016.2.3.4", "2016.2", "1.0", "2017", "9.9.9.9" };

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const QByteArrayView body(data + 1, qsizetype(size - 1));
    const qsizetype nul = body.indexOf('\0');
    if (nul >= 0) {
        checkPair(QString::fromUtf8(body.first(nul)), QString::fromUtf8(body.sliced(nul + 1)));
        return 0;
    }

    const QString content = QString::fromUtf8(body);
    const QString tag
        = ReadRemoteUpdate::tagFor(QString::fromLatin1(kLanguages[data[0] % kLanguages.size()]));
    const QString remote = ReadRemoteUpdate::findXML(content, tag);
    if (remote != remote.trimmed())
        fail("the version is not trimmed", remote);
    if (!remote.isEmpty() && !content.contains(remote))
        fail("the version is not taken from the file", remote);
    const QString running = QString::fromLatin1(kRunning[(data[0] / kLanguages.size()) % kRunning.size()]);
    checkPair(running, remote);
    return 0;
}
