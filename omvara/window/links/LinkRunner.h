// SPDX-License-Identifier: GPL-3.0-or-later
// Opens the address of a clicked link.
#pragma once

#include "omvara/util/BackgroundTask.h"

#include <QUrl>

namespace omvara::links {

// Shows one address in the standard browser from a worker thread, so a slow
// browser start never blocks the window; a refusal or failure ends in an
// error message box (through the window's message seam).
class LinkRunner : public util::BackgroundTask<bool, int>
{
public:
    explicit LinkRunner(QUrl uri, QObject *parent = nullptr);
    ~LinkRunner() override;

    static const QString FAILURE_TEXT;
    static const QString FAILURE_TITLE;

protected:
    bool doInBackground() override;
    void done() override;

private:
    QUrl m_uri;
};

} // namespace omvara::links
