// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/NativeSerial.h"

#include "portlink/ConfigureRefusals.h"

#include "omvara/util/Interruption.h"

namespace portlink {

QString NativeSerial::SerConfigureFailureHint(int rc, const SerialConfig &config)
{
    return configure_refusal::hint(rc, config);
}

int NativeSerial::SerWaitPortName(const SerialConfig &, int ms)
{
    try {
        omvara::util::Interruption::sleep(std::chrono::milliseconds(ms > 0 ? ms : 0));
    } catch (const omvara::util::InterruptedError &) {
    }
    return 0;
}

} // namespace portlink
