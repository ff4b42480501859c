// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/reception/WeightWorkerBarcode.h"

namespace omvara::reception {

qint32 WeightWorkerBarcode::doInBackground()
{
    return readLines();
}

qint32 WeightWorkerBarcode::readLines()
{
    return readLoop(LoopStyle { false, false });
}

} // namespace omvara::reception
