// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/reception/WeightWorkerAnd.h"

#include "omvara/texts/WorkerTexts.h"
#include "omvara/util/Interruption.h"
#include "portlink/NetworkPortName.h"
#include "portlink/SerialPort.h"

namespace omvara::reception {

void WeightWorkerAnd::checkSignals(const WarningPresenter &presenter)
{
    const auto settle = [this] {
        try {
            util::Interruption::sleep(m_settle);
        } catch (const util::InterruptedError &) {
            // The check goes on; only the pause was cut short.
        }
    };
    const auto warn = [&](const char *key) {
        const QString message = texts::WorkerTexts::text(key);
        if (presenter)
            presenter(texts::WorkerTexts::text("warning"), message);
        else
            view().logImportantEvent(message);
    };

    portlink::SerialPort &p = port();
    // A raw network stream has no handshake lines: they would read "not connected".
    if (portlink::NetworkPortName::parse(p.getPortName()).kind == portlink::NetworkPortName::Kind::Tcp) {
        const QString message
            = texts::WorkerTexts::format(texts::WorkerTexts::text("and.check.network"), { p.getPortName() });
        if (presenter)
            presenter(texts::WorkerTexts::text("warning"), message);
        else
            view().logImportantEvent(message);
        return;
    }
    p.setDTR(true);
    settle();
    if (p.sigDSR()) {
        p.setRTS(true);
        settle();
        if (!p.sigCTS())
            warn("and.error.unusual");
    } else {
        p.setRTS(true);
        settle();
        if (p.sigCTS())
            warn("and.error.dataset.not.ready");
        else
            warn("and.error.not.connected");
    }
}

} // namespace omvara::reception
