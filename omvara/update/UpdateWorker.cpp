// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/update/UpdateWorker.h"

#include "omvara/update/ReadRemoteUpdate.h"
#include "omvara/util/Bundle.h"

#include <stdexcept>

namespace omvara::update {

namespace {

const QString WINDOW_BUNDLE = QStringLiteral("omvara.Omvara");

// Start-up has checked every key; should one still be missing, the status
// line shows the key rather than the check failing in a way nobody sees.
QString text(const QString &key)
{
    try {
        return util::Bundle::get(WINDOW_BUNDLE).getString(key);
    } catch (const util::MissingResourceError &) {
        return key;
    }
}

} // namespace

UpdateWorker::UpdateWorker(
    UpdateWorkerView *view, QString remoteUrl, QString currentVersion, QString language, QObject *parent)
    : BackgroundTask(parent)
    , m_view(view)
    , m_remoteUrl(std::move(remoteUrl))
    , m_currentVersion(std::move(currentVersion))
    , m_language(std::move(language))
{
    if (!m_view)
        throw std::invalid_argument(
            "Argument for @NotNull parameter 'view' of omvara/util/UpdateWorker.<init> must not be null");
}

UpdateWorker::~UpdateWorker()
{
    stopAndWait();
}

QString UpdateWorker::updateAvailableText()
{
    QString result = text(QStringLiteral("update.available"));
    result.replace(QStringLiteral("{0}"), ReadRemoteUpdate::productSite() + u'/');
    return result;
}

bool UpdateWorker::doInBackground()
{
    publish(text(QStringLiteral("checking.for.update")));
    ReadRemoteUpdate update(m_remoteUrl, m_currentVersion, m_language);
    try {
        return update.check();
    } catch (const util::InterruptedError &) {
        throw;
    } catch (const std::exception &) {
        publish(text(QStringLiteral("update.check.failed")));
        return false;
    }
}

void UpdateWorker::process(const std::vector<QString> &messages)
{
    for (const QString &message : messages)
        m_view->setStatusText(message);
}

void UpdateWorker::done()
{
    bool newer = false;
    try {
        newer = get();
    } catch (const std::exception &) {
        // Cancelled or interrupted: no verdict, back to the normal text.
    }
    m_view->setStatusText(
        newer ? updateAvailableText() : text(QStringLiteral("RadezoZiDadFrame2.statusJLabel.text")));
}

} // namespace omvara::update
