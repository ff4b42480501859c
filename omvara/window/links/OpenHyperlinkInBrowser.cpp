// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/links/OpenHyperlinkInBrowser.h"

#include "omvara/window/links/LinkMouseListener.h"
#include "omvara/window/links/LinkRunner.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QLabel>

#include <atomic>
#include <mutex>
#include <utility>

namespace omvara::links {

const QString OpenHyperlinkInBrowser::HTML = QStringLiteral("<html>");
const QString OpenHyperlinkInBrowser::HTML_END = QStringLiteral("</html>");
const QString OpenHyperlinkInBrowser::A_HREF = QStringLiteral("<a href=\"");
const QString OpenHyperlinkInBrowser::HREF_CLOSED = QStringLiteral("\">");
const QString OpenHyperlinkInBrowser::HREF_END = QStringLiteral("</a>");

namespace {

std::atomic<bool> disableActiveLink { false };

std::mutex seamMutex;
std::function<bool()> supportedOverride;
OpenHyperlinkInBrowser::Browser browser;

bool platformCanBrowse()
{
    const QString platform = QGuiApplication::platformName();
    return !platform.isEmpty() && platform != QLatin1String("offscreen")
        && platform != QLatin1String("minimal");
}

} // namespace

QString OpenHyperlinkInBrowser::htmlIfy(const QString &text)
{
    return HTML + text + HTML_END;
}

QString OpenHyperlinkInBrowser::linkIfy(const QString &url)
{
    return A_HREF + url + HREF_CLOSED + url + HREF_END;
}

bool OpenHyperlinkInBrowser::containsHyperlink(const QString &text)
{
    return text.contains(HTML) && text.contains(HTML_END) && text.contains(A_HREF)
        && text.contains(HREF_CLOSED);
}

QString OpenHyperlinkInBrowser::getPlainLink(const QString &text)
{
    if (!containsHyperlink(text))
        return text;
    const qsizetype start = text.indexOf(A_HREF) + A_HREF.size();
    const qsizetype end = text.indexOf(HREF_CLOSED, start);
    if (end < 0)
        return text;
    return text.mid(start, end - start);
}

QString OpenHyperlinkInBrowser::stripLinks(const QString &text)
{
    QString out = text;
    for (;;) {
        const qsizetype open = out.indexOf(A_HREF);
        if (open < 0)
            break;
        const qsizetype closed = out.indexOf(HREF_CLOSED, open + A_HREF.size());
        if (closed < 0)
            break;
        out.remove(open, closed + HREF_CLOSED.size() - open);
        const qsizetype end = out.indexOf(HREF_END, open);
        if (end >= 0)
            out.remove(end, HREF_END.size());
    }
    return out;
}

bool OpenHyperlinkInBrowser::isBrowsingSupported()
{
    {
        std::lock_guard lock(seamMutex);
        if (supportedOverride)
            return supportedOverride();
    }
    static const bool supported = platformCanBrowse();
    return supported;
}

void OpenHyperlinkInBrowser::makeLinkable(QLabel &label, LinkMouseListener &listener)
{
    const QString text = label.text();
    label.setTextFormat(Qt::RichText);
    label.setOpenExternalLinks(false);
    if (containsHyperlink(text) && isBrowsingSupported() && !getDisableActiveLink()) {
        listener.attach(label);
        return;
    }
    listener.detach(label);
    if (text.contains(A_HREF)) {
        QString plain = stripLinks(text);
        if (!plain.startsWith(HTML))
            plain = htmlIfy(plain);
        label.setText(plain);
    }
}

bool OpenHyperlinkInBrowser::getDisableActiveLink()
{
    return disableActiveLink.load();
}

void OpenHyperlinkInBrowser::setDisableActiveLink(bool disable)
{
    disableActiveLink.store(disable);
}

void OpenHyperlinkInBrowser::openHyperlink(const QUrl &uri)
{
    auto *runner = new LinkRunner(uri);
    QObject::connect(runner, &LinkRunner::finished, runner, &QObject::deleteLater);
    runner->execute();
}

void OpenHyperlinkInBrowser::setBrowsingSupportedOverride(std::function<bool()> supported)
{
    std::lock_guard lock(seamMutex);
    supportedOverride = std::move(supported);
}

OpenHyperlinkInBrowser::Browser OpenHyperlinkInBrowser::setBrowser(Browser b)
{
    std::lock_guard lock(seamMutex);
    return std::exchange(browser, std::move(b));
}

bool OpenHyperlinkInBrowser::browse(const QUrl &uri)
{
    Browser b;
    {
        std::lock_guard lock(seamMutex);
        b = browser;
    }
    if (b)
        return b(uri);
    if (!uri.isValid() || uri.scheme().isEmpty())
        return false;
    return QDesktopServices::openUrl(uri);
}

} // namespace omvara::links
