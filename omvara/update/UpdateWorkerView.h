// SPDX-License-Identifier: GPL-3.0-or-later
// What the update check reports to.
#pragma once

#include <QString>

namespace omvara::update {

// What the update check needs of the main window: a place for one status
// text. UpdateWorker calls it on the event thread only; an implementation
// that may also be called from elsewhere must hand the text over to the
// event thread itself. The text may be HTML with a link.
class UpdateWorkerView
{
public:
    virtual ~UpdateWorkerView() = default;
    virtual void setStatusText(const QString &text) = 0;

protected:
    UpdateWorkerView() = default;
    UpdateWorkerView(const UpdateWorkerView &) = default;
    UpdateWorkerView &operator=(const UpdateWorkerView &) = default;
};

} // namespace omvara::update
