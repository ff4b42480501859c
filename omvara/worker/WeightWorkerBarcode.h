// SPDX-License-Identifier: GPL-3.0-or-later
// The reception engine for text instruments (barcode readers).
#pragma once

#include "omvara/worker/WeightWorker.h"

namespace omvara::worker {

// The reception engine for text instruments (barcode readers): the value
// after edit and character removal is typed as it is, without whitespace
// removal or number formatting; parity and framing errors are logged with
// fixed English texts.
class WeightWorkerBarcode : public WeightWorker
{
public:
    using WeightWorker::WeightWorker;

protected:
    qint32 doInBackground() override;
    qint32 readLines() override;
};

} // namespace omvara::worker
