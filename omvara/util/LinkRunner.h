// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/util/BackgroundTask.h"

#include <QUrl>

namespace omvara::util {

// Shows one address in the standard browser from a worker thread, so a slow
// browser start never blocks the window; a refusal or failure ends in an
// error message box (through the window's message seam).
class LinkRunner : public BackgroundTask<bool, int>
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

} // namespace omvara::util
