// SPDX-License-Identifier: GPL-3.0-or-later
// The dialog for the limits of duplicate suppression.
#pragma once

#include "omvara/config/Config.h"

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace omvara {

// Edits the two limits of duplicate suppression: the time within which a
// repeated value is not typed again, and the largest difference that still
// counts as a repeat. The dialog never writes the configuration: OK keeps the
// accepted texts as its results, which the caller compares and stores.
class IgnoreDialog : public QDialog
{
    Q_OBJECT

public:
    IgnoreDialog(QWidget *owner, const config::Config &config);

    // Sets both the results and the fields.
    void setResults(const QString &timeLimit, const QString &difference);
    const QString &getTimeLimitResult() const { return timeLimitResult; }
    const QString &getDifferenceResult() const { return differenceResult; }

    void okButtonActionPerformed();
    void cancelButtonActionPerformed();

    QLineEdit *ignoreTimeLimitTextField;
    QLineEdit *ignoreDifferenceTextField;
    QPushButton *okButton;
    QPushButton *cancelButton;

private:
    QString timeLimitResult;
    QString differenceResult;
};

} // namespace omvara
