// SPDX-License-Identifier: GPL-3.0-or-later
// The dialog that says why a serial device cannot be used, and how to mend it.
#pragma once

#include "portlink/doctor/PortDoctor.h"

#include <QDialog>

#include <memory>
#include <optional>

class QPlainTextEdit;
class QPushButton;
class QThread;

namespace omvara {

// Shows the port diagnosis of one port: what the system says about the
// device and each finding with the commands that mend it. The diagnosis
// reads the system on a thread of its own (it may wait a moment for a device
// that vanishes); the dialog says so meanwhile. For findings that a udev rule
// mends, "Install the rules..." writes them with administrator rights
// (pkexec) after the user agreed, or shows the commands where that cannot be
// done. Nothing is changed without the user's action.
class PortDoctorDialog : public QDialog
{
    Q_OBJECT

public:
    PortDoctorDialog(QWidget *owner, const QString &port,
        std::shared_ptr<const portlink::doctor::SystemView> system = nullptr);
    ~PortDoctorDialog() override;

    // The resource keys of the dialog's texts.
    static QStringList textKeys();

    // The diagnosis once it is there.
    const std::optional<portlink::doctor::Diagnosis> &diagnosis() const { return m_diagnosis; }

    void installButtonActionPerformed();

    QPlainTextEdit *reportArea;
    QPushButton *installButton;
    QPushButton *closeButton;

Q_SIGNALS:
    void diagnosed();

private:
    void diagnose();
    void present(const portlink::doctor::Diagnosis &diagnosis);

    QString m_port;
    std::shared_ptr<const portlink::doctor::SystemView> m_system;
    std::optional<portlink::doctor::Diagnosis> m_diagnosis;
    QThread *m_worker = nullptr;
};

} // namespace omvara
