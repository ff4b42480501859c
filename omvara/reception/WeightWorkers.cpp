// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/reception/WeightWorkers.h"

#include "omvara/config/Config.h"
#include "omvara/reception/WeightWorkerBarcode.h"

namespace omvara::reception {

std::unique_ptr<WeightWorker> createWeightWorker(
    const config::Config &config, WeightWorkerView &view, const WeightWorkerAnd::WarningPresenter &presenter)
{
    using Instrument = config::ConfigHelper::Instrument;
    const Instrument &instrument
        = config.getInstrument() ? *config.getInstrument() : Instrument::getDefault();
    if (&instrument.getInstrumentType() == &config::ConfigHelper::InstrumentType::TEXT)
        return std::make_unique<WeightWorkerBarcode>(config, view);
    if (&instrument == &Instrument::AND || &instrument == &Instrument::AND_EM) {
        auto worker = std::make_unique<WeightWorkerAnd>(config, view);
        worker->checkSignals(presenter);
        return worker;
    }
    return std::make_unique<WeightWorker>(config, view);
}

} // namespace omvara::reception
