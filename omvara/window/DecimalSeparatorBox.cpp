// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/DecimalSeparatorBox.h"

#include "omvara/texts/WindowTexts.h"

namespace omvara {

DecimalSeparatorBox::DecimalSeparatorBox(
    const config::ConfigHelper::DecimalSeparator &selected, QWidget *parent)
    : PlusConstantBox(selected, parent)
    , InstrumentTypeFollower(this)
{
    setObjectName(QStringLiteral("decimalSeparatorBox"));
    setToolTip(texts::WindowTexts::text("RadezoZiDadFrame2.decimalSeparatorBox.toolTipText"));
}

} // namespace omvara
