// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/run/RunState.h"

namespace omvara::run {

const RunState::Output *RunState::output(OutputKind kind) const
{
    for (const Output &o : outputs)
        if (o.kind == kind)
            return &o;
    return nullptr;
}

} // namespace omvara::run
