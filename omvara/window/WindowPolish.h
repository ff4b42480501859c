// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QWidget;

namespace omvara {

// Tooltips of `root` and its children that are plain text become rich text,
// which the toolkit wraps at a readable width (a plain tooltip is one line,
// however long).
void wrapToolTips(QWidget *root);

// Every label of `root` that names a control (its buddy) is enabled and
// disabled with that control, so a disabled control's label is greyed too.
void greyLabelsWithTheirControls(QWidget *root);

} // namespace omvara
