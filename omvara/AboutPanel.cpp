// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/AboutPanel.h"

#include "omvara/WindowTexts.h"
#include "omvara/util/OpenHyperlinkInBrowser.h"
#include "omvara/util/ProcessProperties.h"

#include <QTextBrowser>
#include <QVBoxLayout>

namespace omvara {

AboutPanel::AboutPanel(QWidget *parent)
    : QWidget(parent)
    , aboutPane(new QTextBrowser(this))
{
    setObjectName(QStringLiteral("aboutPanel"));
    aboutPane->setObjectName(QStringLiteral("aboutPane"));
    aboutPane->setReadOnly(true);
    aboutPane->setOpenLinks(false);
    aboutPane->setOpenExternalLinks(false);

    QString body = WindowTexts::text("RadezoZiDadFrame2.aboutPane.text");
    if (!util::OpenHyperlinkInBrowser::isBrowsingSupported() || util::OpenHyperlinkInBrowser::getDisableActiveLink())
        body = util::OpenHyperlinkInBrowser::stripLinks(body);
    aboutPane->setHtml(body);
    // The version line goes first, as plain text.
    QTextCursor cursor(aboutPane->document());
    cursor.movePosition(QTextCursor::Start);
    cursor.insertText(versionLine() + QLatin1Char('\n'));

    connect(aboutPane, &QTextBrowser::anchorClicked, this,
            [](const QUrl &url) { util::OpenHyperlinkInBrowser::openHyperlink(url); });

    auto *column = new QVBoxLayout(this);
    column->addWidget(aboutPane);
}

QString AboutPanel::versionLine()
{
    using util::ProcessProperties;
    return QStringLiteral("Version %1 Qt %2 %3 %4")
        .arg(ProcessProperties::get(QStringLiteral("VERSION")), QString::fromLatin1(qVersion()),
             ProcessProperties::get(QStringLiteral("PLK_OSNAME")), ProcessProperties::get(QStringLiteral("PLK_OSARCH")));
}

} // namespace omvara
