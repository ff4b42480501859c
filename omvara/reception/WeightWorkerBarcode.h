// SPDX-License-Identifier: GPL-3.0-or-later
// The reception engine for text instruments (barcode readers).
#pragma once

#include "omvara/reception/WeightWorker.h"

namespace omvara::reception {

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

} // namespace omvara::reception
