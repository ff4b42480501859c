// SPDX-License-Identifier: GPL-3.0-or-later
// The dialog for the user's own extraction pattern.
#pragma once

#include "omvara/config/Config.h"

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

namespace omvara {

namespace links {
class LinkMouseListener;
}

// Edits the user's own extraction pattern. OK accepts an empty pattern (the
// instrument's own is used again) or one that compiles and has its value
// group; anything else stays open for correction. The caller stores a
// changed result.
class CustomRegExDialog : public QDialog
{
    Q_OBJECT

public:
    CustomRegExDialog(QWidget *owner, const config::Config &config);

    void setResult(const QString &pattern) { patternResult = pattern; }
    const QString &getResult() const { return patternResult; }

    void okButtonActionPerformed();
    void cancelButtonActionPerformed();

    QPlainTextEdit *regExTextArea;
    QPushButton *okButton;
    QPushButton *cancelButton;

private:
    links::LinkMouseListener *linkListener;
    QString patternResult;
};

} // namespace omvara
