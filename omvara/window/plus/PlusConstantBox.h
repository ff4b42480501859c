// SPDX-License-Identifier: GPL-3.0-or-later
// A combo box offering the values of one setting's value set.
#pragma once

#include <QComboBox>

namespace omvara::plus {

// A combo box over every constant of one setting's value set, in display
// order. Item i is the constant with ordinal i, so the selection converts
// both ways without a lookup. Used by the option controls of the window.
template <typename Constant> class PlusConstantBox : public QComboBox
{
public:
    explicit PlusConstantBox(const Constant &selected, QWidget *parent = nullptr)
        : QComboBox(parent)
    {
        for (const Constant *c : Constant::values())
            addItem(c->toString());
        setSelected(selected);
    }

    const Constant &getSelected() const
    {
        const auto all = Constant::values();
        const int i = currentIndex();
        return *all.at(i >= 0 && i < all.size() ? i : 0);
    }
    void setSelected(const Constant &value) { setCurrentIndex(value.ordinal()); }
};

} // namespace omvara::plus
