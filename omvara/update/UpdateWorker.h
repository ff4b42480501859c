// SPDX-License-Identifier: GPL-3.0-or-later
// The update check that runs in the background.
#pragma once

#include "omvara/update/UpdateWorkerView.h"
#include "omvara/util/BackgroundTask.h"

#include <QString>

#include <vector>

namespace omvara::update {

// The update check as a background task: asks the product site for the latest
// version and tells the main window through its status line.
//
// Status texts reach the view in this order, all on the event thread (the
// thread that created the worker):
//   "checking.for.update";
//   "update.check.failed" when the site could not be asked or its answer not
//   read (no connection, time-out, malformed version);
//   then, when done, "update.available" (HTML with a link to the product site)
//   if a newer version exists, otherwise the normal status text
//   "RadezoZiDadFrame2.statusJLabel.text" again.
// No failure goes further than the status line. A cancelled check shows the
// normal status text and nothing else.
//
// Typical use, on the event thread:
//   auto *worker = new UpdateWorker(view, ReadRemoteUpdate::versionFileUrl(),
//                                   ProcessProperties::get("VERSION"), language, window);
//   worker->execute();
// The view must outlive the worker; destroying the worker stops a check that
// is still running (within a tenth of a second).
class UpdateWorker : public util::BackgroundTask<bool, QString>
{
public:
    // Throws std::invalid_argument when `view` is null.
    UpdateWorker(UpdateWorkerView *view, QString remoteUrl, QString currentVersion, QString language,
        QObject *parent = nullptr);
    ~UpdateWorker() override;

    // The text of "update.available" with the product site filled in.
    static QString updateAvailableText();

    const QString &remoteUrl() const { return m_remoteUrl; }
    const QString &currentVersion() const { return m_currentVersion; }
    const QString &language() const { return m_language; }

protected:
    // True when a newer version is available; false otherwise, also after
    // any failure.
    bool doInBackground() override;
    void process(const std::vector<QString> &messages) override;
    void done() override;

private:
    UpdateWorkerView *m_view;
    QString m_remoteUrl;
    QString m_currentVersion;
    QString m_language;
};

} // namespace omvara::update
