// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/worker/WeightWorkerBarcode.h"

namespace omvara::worker {

qint32 WeightWorkerBarcode::doInBackground()
{
    return readLines();
}

qint32 WeightWorkerBarcode::readLines()
{
    return readLoop(LoopStyle { false, false });
}

} // namespace omvara::worker
