// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QWidget;

namespace omvara {

// Tooltips of `root` and its children that are plain text become rich text,
// which the toolkit wraps at a readable width (a plain tooltip is one line,
// however long).
void wrapToolTips(QWidget *root);

// Every label of `root` that names a control (its buddy) is enabled and
// disabled with that control, so a disabled control's label is greyed too.
void greyLabelsWithTheirControls(QWidget *root);

// The Tab key visits the controls of `page` in the order its layouts show
// them: rows from top to bottom, each row from left to right, the controls of
// a group together. Controls that no layout holds keep their place.
void orderTabsByLayout(QWidget *page);

// What `root` and its children say to screen readers is plain text:
//  - a tooltip reaches them as the accessible description, without markup;
//  - an entry field or list without a name of its own (its label does not
//    name it) is named after the label before it in its layout.
void plainAccessibleTexts(QWidget *root);

// The plain text of a text that may be markup ("<p>...</p>", "<html>...").
QString plainText(const QString &text);

} // namespace omvara
