// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QVariantMap>

#include <optional>

namespace omvara::outputs::keys {

// Catches the Response signal of one portal request object.
class PortalRequest : public QObject
{
    Q_OBJECT

public:
    struct Answer
    {
        uint code = 2; // 0 granted, 1 cancelled by the user, 2 other failure
        QVariantMap results;
    };
    std::optional<Answer> answer;

public Q_SLOTS:
    void response(uint code, const QVariantMap &results) { answer = Answer { code, results }; }
};

} // namespace omvara::outputs::keys
