// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/plus/InstrumentTypeFollower.h"

#include "omvara/config/Instrument.h"

#include <QWidget>

namespace omvara::plus {

void InstrumentTypeFollower::propertyChange(const config::PropertyChangeEvent &event)
{
    if (event.propertyName == QLatin1String("NUMBER"))
        m_control->setEnabled(true);
    else if (event.propertyName == QLatin1String("TEXT"))
        m_control->setEnabled(false);
}

bool InstrumentTypeFollower::enabledFor(const config::ConfigHelper::Instrument *instrument)
{
    return !instrument || &instrument->getInstrumentType() != &config::ConfigHelper::InstrumentType::TEXT;
}

} // namespace omvara::plus
