// SPDX-License-Identifier: GPL-3.0-or-later
// The settings of the record file and of publishing to a message broker.
#pragma once

#include <QString>

#include <optional>

namespace omvara::config {

// Where every received line is recorded: a file path; "" is off. "{date}"
// becomes the local date of each row (YYYY-MM-DD), "{user}" the login name;
// a relative path (or one beginning with "~/") is taken from the user's home.
// Valid: empty, or at most MaxLength characters without control characters,
// not ending in "/", with no braces except those of the two placeholders.
class RecordFile final
{
public:
    static constexpr int MaxLength = 1024;

    RecordFile() = delete;
    static QString getDefault() { return QStringLiteral(""); }
    static bool valid(const QString &text);
};

// A broker address as the broker setting (MqttUrl) holds it:
// "mqtt://[user@]host[:port]/topic/path" or "mqtts://..." (TLS).
struct BrokerAddress
{
    static constexpr int DefaultPort = 1883;
    static constexpr int DefaultTlsPort = 8883;

    bool tls = false;
    QString user; // empty: none
    QString host; // a name or an address; an IPv6 address without its brackets
    int port = DefaultPort;
    QString topic;

    // The address as the log and the window show it: without the user.
    QString display() const;

    // The address `url` names, or nothing when it is none: longer than
    // RecordFile::MaxLength characters, an unknown scheme,
    // no host or topic, a port outside 1-65535, a password in the address
    // (it is never stored), a topic with the wildcards "+" or "#", or one
    // beginning with "$" (the broker's own topics).
    static std::optional<BrokerAddress> parse(const QString &url);
};

// The broker to publish each value to; "" is off. Valid: empty or a
// BrokerAddress.
class MqttUrl final
{
public:
    MqttUrl() = delete;
    static QString getDefault() { return QStringLiteral(""); }
    static bool valid(const QString &text)
    {
        return text.isEmpty() || BrokerAddress::parse(text).has_value();
    }
};

// The certificate authorities (a PEM file) that TLS connections to the
// broker trust instead of the system's; "" uses the system's. Valid: empty
// or a path of at most RecordFile::MaxLength characters without control
// characters (whether it can be read is found out when a run starts).
class MqttCaFile final
{
public:
    MqttCaFile() = delete;
    static QString getDefault() { return QStringLiteral(""); }
    static bool valid(const QString &text);
};

} // namespace omvara::config
