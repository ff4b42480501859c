// SPDX-License-Identifier: GPL-3.0-or-later
// Makes the links of a label open in the browser.
#pragma once

#include <QString>
#include <QUrl>

#include <functional>

class QLabel;

namespace omvara::links {

class LinkMouseListener;

// Links in label texts: recognising them, taking them apart, and opening
// them in the user's standard browser. A text "has a link" when it holds all
// of HTML, HTML_END, A_HREF and HREF_CLOSED.
//
// Event thread only, except isBrowsingSupported() and the browser call that
// LinkRunner makes on its worker thread.
class OpenHyperlinkInBrowser
{
public:
    OpenHyperlinkInBrowser() = delete;

    static const QString HTML;
    static const QString HTML_END;
    static const QString A_HREF;
    static const QString HREF_CLOSED;
    static const QString HREF_END;

    static QString htmlIfy(const QString &text);
    static QString linkIfy(const QString &url);
    static bool containsHyperlink(const QString &text);
    // The address of the first link; a text without a link comes back unchanged.
    static QString getPlainLink(const QString &text);
    // The text with every anchor taken out, only the links' visible texts left.
    static QString stripLinks(const QString &text);

    // Whether the platform can show an address in a browser. Decided once per
    // process: a display-less platform (offscreen, minimal) cannot.
    static bool isBrowsingSupported();

    // Keeps the link and installs the listener when the label's text has a
    // link, the platform can browse and links are not switched off; otherwise
    // leaves only the visible text, inert.
    static void makeLinkable(QLabel &label, LinkMouseListener &listener);

    static bool getDisableActiveLink();
    static void setDisableActiveLink(bool disable);

    // Opens the address in the background (LinkRunner).
    static void openHyperlink(const QUrl &uri);

    // Test seams: the capability answer, and the call that shows an address
    // (returns false when the platform refused). Empty functions restore the
    // real ones.
    static void setBrowsingSupportedOverride(std::function<bool()> supported);
    using Browser = std::function<bool(const QUrl &)>;
    static Browser setBrowser(Browser browser);
    static bool browse(const QUrl &uri);
};

} // namespace omvara::links
