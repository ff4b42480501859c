// SPDX-License-Identifier: GPL-3.0-or-later
// Fetches the version file and compares versions.
#pragma once

#include <QString>

#include <stdexcept>

namespace omvara::update {

// Any reason the update check could not reach a verdict: no connection, a
// time-out, an HTTP error, an oversized or unreadable answer, a version text
// that does not parse. The message is for logs and tests; the user only sees
// the "update.check.failed" status text.
class UpdateCheckError : public std::runtime_error
{
public:
    explicit UpdateCheckError(const QString &message);
};

// Fetches the product site's "/version.xml", cuts the latest version out of
// it and compares it with the running version.
//
// The fetch is blocking: it runs a private event loop on the calling thread,
// so call it from a background thread (UpdateWorker does). It needs a
// QCoreApplication to exist but not to be running on the calling thread.
class ReadRemoteUpdate
{
public:
    // Element name of the version; the language is appended as "_<lang>".
    static constexpr const char *TAG = "version2";
    static constexpr int CONNECT_TIMEOUT_MS = 5000;
    static constexpr int READ_TIMEOUT_MS = 5000;
    // A version file is a few hundred bytes; anything beyond this is refused
    // rather than held in memory.
    static constexpr qint64 MAX_CONTENT_BYTES = 1024 * 1024;
    // Process property (or environment variable) that replaces the address
    // of the version file, e.g. http://127.0.0.1:8080/version.xml.
    static constexpr const char *URL_PROPERTY = "OMVARA_UPDATE_URL";

    // The product web site, "https://www.brindlecote.com".
    static QString productSite();
    // The address of the version file: the URL_PROPERTY override when it is
    // set and not empty, otherwise productSite() + "/version.xml".
    static QString versionFileUrl();

    // "version2_" + language, or "version2" when the language is empty.
    static QString tagFor(const QString &language);

    ReadRemoteUpdate(QString url, QString currentVersion, QString language);

    // Fetches `url` and returns the whole body as UTF-8 text; also kept in
    // content(). Only http and https addresses are accepted. The connect
    // phase (name lookup, TCP and TLS set-up, sending the request) may take
    // connectTimeoutMs; after that the fetch gives up when readTimeoutMs pass
    // without any progress of the answer (an inactivity limit like a socket
    // read time-out, not a limit on the whole transfer). Gives up as well
    // within a tenth of a second when the calling thread is interrupted
    // (Interruption, or QThread::requestInterruption) and then throws
    // InterruptedError. Every other failure throws UpdateCheckError.
    QString readURLContent();

    // The text between the first opening tag "<name>" and the first closing
    // tag "</name>" of `content`, with surrounding whitespace removed; "" when
    // either is missing or the closing tag does not come after the opening
    // one.
    static QString findXML(const QString &content, const QString &name);

    // True when `remote` names a newer version than `current`:
    //  - false when either is empty or both are equal;
    //  - a remote with at most one point: both read as decimal numbers;
    //  - otherwise a current with at most one point: true;
    //  - otherwise both must have four components "a.b.c.rest" of decimal
    //    integers, compared from the left.
    // Throws UpdateCheckError when a text needed for the verdict does not
    // parse (so "2017" against "2016.2.3.4" fails: the current version is no
    // decimal number).
    static bool newerVersionAvailable(const QString &current, const QString &remote);

    // newerVersionAvailable(currentVersion(), remoteVersion()).
    bool compareVersions() const;

    // The whole check: fetch, find the element named tag(), compare.
    // Throws UpdateCheckError.
    bool check();

    const QString &url() const { return m_url; }
    const QString &content() const { return m_content; }
    const QString &currentVersion() const { return m_currentVersion; }
    const QString &remoteVersion() const { return m_remoteVersion; }
    const QString &tag() const { return m_tag; }

    // Shorter limits for tests of the time-out behaviour.
    void setTimeouts(int connectTimeoutMs, int readTimeoutMs);

private:
    QString m_url;
    QString m_content;
    QString m_currentVersion;
    QString m_remoteVersion;
    QString m_tag;
    int m_connectTimeoutMs = CONNECT_TIMEOUT_MS;
    int m_readTimeoutMs = READ_TIMEOUT_MS;
};

} // namespace omvara::update
