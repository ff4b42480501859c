// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/AboutPanel.h"

#include "omvara/texts/WindowTexts.h"
#include "omvara/util/ProcessProperties.h"
#include "omvara/window/links/OpenHyperlinkInBrowser.h"

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
    aboutPane->setAccessibleName(texts::WindowTexts::text("RadezoZiDadFrame2.aboutPanel.tab.title"));

    QString body = texts::WindowTexts::text("RadezoZiDadFrame2.aboutPane.text");
    if (!links::OpenHyperlinkInBrowser::isBrowsingSupported()
        || links::OpenHyperlinkInBrowser::getDisableActiveLink())
        body = links::OpenHyperlinkInBrowser::stripLinks(body);
    // The version line goes first, as a plain paragraph of its own.
    const QString version = QStringLiteral("<p>") + versionLine().toHtmlEscaped() + QStringLiteral("</p>");
    const qsizetype bodyStart = body.indexOf(QLatin1String("<body>"));
    if (bodyStart >= 0)
        body.insert(bodyStart + 6, version);
    else
        body.prepend(version);
    aboutPane->setHtml(body);

    connect(aboutPane, &QTextBrowser::anchorClicked, this,
        [](const QUrl &url) { links::OpenHyperlinkInBrowser::openHyperlink(url); });

    auto *column = new QVBoxLayout(this);
    column->addWidget(aboutPane);
}

QString AboutPanel::versionLine()
{
    using util::ProcessProperties;
    return QStringLiteral("Version %1 Qt %2 %3 %4")
        .arg(ProcessProperties::get(QStringLiteral("VERSION")), QString::fromLatin1(qVersion()),
            ProcessProperties::get(QStringLiteral("PLK_OSNAME")),
            ProcessProperties::get(QStringLiteral("PLK_OSARCH")));
}

} // namespace omvara
