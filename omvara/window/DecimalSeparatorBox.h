// SPDX-License-Identifier: GPL-3.0-or-later
// The choice of decimal separator on the output tab.
#pragma once

#include "omvara/config/ConfigHelper.h"
#include "omvara/window/plus/InstrumentTypeFollower.h"
#include "omvara/window/plus/PlusConstantBox.h"

namespace omvara {

// The decimal-separator choice of the output tab. It follows the instrument
// setting on its own: registered as a listener of the configuration, it is
// enabled for instruments that deliver numbers and disabled for text devices,
// whose values are typed as received.
class DecimalSeparatorBox : public plus::PlusConstantBox<config::ConfigHelper::DecimalSeparator>,
                            public plus::InstrumentTypeFollower
{
public:
    explicit DecimalSeparatorBox(
        const config::ConfigHelper::DecimalSeparator &selected, QWidget *parent = nullptr);
};

} // namespace omvara
