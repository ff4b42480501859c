// SPDX-License-Identifier: GPL-3.0-or-later
// Turns clicks on a label's links into link actions.
#pragma once

#include <QObject>

class QLabel;

namespace omvara::links {

// Opens the link of a label when the label is clicked: the label's text is
// read at the click, so a label whose text changes keeps working. Attached
// by OpenHyperlinkInBrowser::makeLinkable only while the label holds a live link.
class LinkMouseListener : public QObject
{
    Q_OBJECT

public:
    explicit LinkMouseListener(QObject *parent = nullptr);

    void attach(QLabel &label);
    void detach(QLabel &label);

    // What a click on the label does.
    void mouseClicked(const QLabel &label);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

} // namespace omvara::links
