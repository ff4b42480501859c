// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/config/Config.h"

class QWidget;

namespace omvara::plus {

// Enables a control when the configuration announces an instrument of type
// "NUMBER" and disables it on "TEXT"; other names leave it as it is. Numbers
// only make sense for devices that deliver numbers: for a barcode reader the
// arithmetic, rounding and decimal controls have nothing to act on.
class InstrumentTypeFollower : public config::PropertyChangeListener
{
public:
    explicit InstrumentTypeFollower(QWidget *control)
        : m_control(control)
    {
    }

    void propertyChange(const config::PropertyChangeEvent &event) override;

    // The state a control should have for an instrument (none: enabled).
    static bool enabledFor(const config::ConfigHelper::Instrument *instrument);

private:
    QWidget *m_control;
};

} // namespace omvara::plus
