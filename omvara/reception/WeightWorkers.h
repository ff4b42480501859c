// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/reception/WeightWorkerAnd.h"

#include <memory>

namespace omvara::config {
class Config;
}

namespace omvara::reception {

class WeightWorkerView;

// Creates the reception engine the configured instrument asks for (this opens
// the port): text instruments get a WeightWorkerBarcode; A&D (AND, AND_EM) a
// WeightWorkerAnd, whose handshake check then runs with `presenter`; every
// other instrument a WeightWorker. Event thread. Throws what construction throws.
std::unique_ptr<WeightWorker> createWeightWorker(const config::Config &config, WeightWorkerView &view,
    const WeightWorkerAnd::WarningPresenter &presenter = {});

} // namespace omvara::reception
