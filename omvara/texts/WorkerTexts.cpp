// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/texts/WorkerTexts.h"

#include "omvara/util/Bundle.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace omvara::texts {

QString WorkerTexts::text(const char *key)
{
    return util::Bundle::get(QString::fromLatin1(BundleName)).getString(QString::fromLatin1(key));
}

QString WorkerTexts::format(const QString &pattern, const QStringList &args)
{
    QString result;
    result.reserve(pattern.size() + 32);
    qsizetype next = 0;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == u'%' && i + 1 < pattern.size() && pattern[i + 1] == u's') {
            result += next < args.size() ? args[next] : QString();
            ++next;
            ++i;
        } else if (pattern[i] == u'%' && i + 1 < pattern.size() && pattern[i + 1] == u'%') {
            result += u'%';
            ++i;
        } else {
            result += pattern[i];
        }
    }
    return result;
}

QString WorkerTexts::errorText(const std::exception &error)
{
    const char *mangled = typeid(error).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void *)> demangled(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    QString kind = QString::fromLatin1(status == 0 && demangled ? demangled.get() : mangled);
    const qsizetype colons = kind.lastIndexOf(QLatin1String("::"));
    if (colons >= 0)
        kind = kind.mid(colons + 2);
    return kind + QStringLiteral(": ") + QString::fromUtf8(error.what());
}

QStringList WorkerTexts::keys()
{
    return {
        QStringLiteral("null.port.error"),
        QStringLiteral("port.opened"),
        QStringLiteral("parity.error"),
        QStringLiteral("framing.error"),
        QStringLiteral("and.error.unusual"),
        QStringLiteral("and.error.dataset.not.ready"),
        QStringLiteral("and.error.not.connected"),
        QStringLiteral("warning"),
        QStringLiteral("interrupted"),
        QStringLiteral("execution.exception"),
        QStringLiteral("stopped"),
        QStringLiteral("unsent.data"),
        QStringLiteral("line.count"),
        QStringLiteral("line.too.long"),
        QStringLiteral("device.lost"),
        QStringLiteral("device.taken.by.brltty"),
        QStringLiteral("auto.port.detection.started"),
        QStringLiteral("testing.port.0"),
        QStringLiteral("confidence"),
        QStringLiteral("best.port"),
        QStringLiteral("could.not.auto.detect.port"),
        // Readings on request, and settled readings.
        QStringLiteral("request.sent"),
        QStringLiteral("request.command.shortened"),
        QStringLiteral("request.failed"),
        QStringLiteral("request.backlog"),
        QStringLiteral("request.unanswered"),
        QStringLiteral("request.no.command"),
        QStringLiteral("request.interval.started"),
        QStringLiteral("request.hotkey.ready"),
        QStringLiteral("request.hotkey.unavailable"),
        QStringLiteral("request.origin.interval"),
        QStringLiteral("request.origin.hotkey"),
        QStringLiteral("request.origin.signal"),
        QStringLiteral("request.origin.window"),
        QStringLiteral("held.waiting"),
        QStringLiteral("held.again"),
        // What became of a value the run did not type.
        QStringLiteral("not.typed"),
        QStringLiteral("not.typed.focus"),
        QStringLiteral("not.typed.stopped"),
        QStringLiteral("not.typed.no.keyboard"),
        QStringLiteral("not.typed.lost"),
        QStringLiteral("not.typed.holding"),
        QStringLiteral("typing.cut"),
        QStringLiteral("run.ended.cut"),
        QStringLiteral("value.not.typed.focus"),
        QStringLiteral("value.waits.for.focus"),
        QStringLiteral("decimal.separator.mismatch"),
        // Record file and broker.
        QStringLiteral("record.started"),
        QStringLiteral("record.failed"),
        QStringLiteral("record.works.again"),
        QStringLiteral("record.rows.dropped"),
        QStringLiteral("record.rows.not.written"),
        QStringLiteral("record.cannot.open"),
        QStringLiteral("port.held"),
        QStringLiteral("record.file.gone"),
        QStringLiteral("record.link.refused"),
        QStringLiteral("broker.started"),
        QStringLiteral("broker.connected"),
        QStringLiteral("broker.failed"),
        QStringLiteral("broker.works.again"),
        QStringLiteral("broker.values.dropped"),
        QStringLiteral("broker.values.not.published"),
    };
}

} // namespace omvara::texts
