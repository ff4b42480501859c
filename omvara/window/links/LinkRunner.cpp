// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/links/LinkRunner.h"

#include "omvara/window/MessageBoxes.h"
#include "omvara/window/links/OpenHyperlinkInBrowser.h"

#include <QApplication>

namespace omvara::links {

const QString LinkRunner::FAILURE_TEXT = QStringLiteral(
    "Sorry, a problem occurred while trying to open this link in your system's standard browser.");
const QString LinkRunner::FAILURE_TITLE = QStringLiteral("A problem occured");

LinkRunner::LinkRunner(QUrl uri, QObject *parent)
    : BackgroundTask(parent)
    , m_uri(std::move(uri))
{
}

LinkRunner::~LinkRunner()
{
    stopAndWait();
}

bool LinkRunner::doInBackground()
{
    if (!m_uri.isValid() || m_uri.scheme().isEmpty())
        return false;
    return OpenHyperlinkInBrowser::browse(m_uri);
}

void LinkRunner::done()
{
    bool opened = false;
    try {
        opened = get();
    } catch (const std::exception &) {
        opened = false;
    }
    if (!opened)
        MessageBoxes::showMessage(QApplication::activeWindow(), MessageText::own(FAILURE_TEXT), FAILURE_TITLE,
            MessageBoxes::Icon::Error);
}

} // namespace omvara::links
