// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/PortDoctorDialog.h"

#include "omvara/texts/WindowTexts.h"
#include "omvara/window/MessageBoxes.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QThread>
#include <QVBoxLayout>

namespace omvara {

namespace {

// Writes each rule file given as PATH BASE64 pairs, then has udev read its
// rules again. The files come as arguments, never as part of the script.
const char *const installScript
    = "set -e\n"
      "while [ $# -ge 2 ]; do printf '%s' \"$2\" | base64 -d > \"$1\"; shift 2; done\n"
      "udevadm control --reload-rules\n"
      "udevadm trigger --subsystem-match=tty\n";

std::vector<const portlink::doctor::Finding *> rulesOf(const portlink::doctor::Diagnosis &d)
{
    std::vector<const portlink::doctor::Finding *> found;
    for (const auto &f : d.findings)
        if (f.rule)
            found.push_back(&f);
    return found;
}

} // namespace

QStringList PortDoctorDialog::textKeys()
{
    QStringList keys;
    for (const char *key : { "this.title", "reportArea.accessibleName", "looking", "installButton.text",
             "installButton.toolTipText", "closeButton.text", "install.confirm", "install.no.pkexec",
             "install.failed", "install.done" })
        keys.append(QStringLiteral("PortDoctorDialog.") + QLatin1String(key));
    return keys
        + QStringList { QStringLiteral("RadezoZiDadFrame2.portDoctorButton.text"),
              QStringLiteral("RadezoZiDadFrame2.portDoctorButton.toolTipText") };
}

PortDoctorDialog::PortDoctorDialog(
    QWidget *owner, const QString &port, std::shared_ptr<const portlink::doctor::SystemView> system)
    : QDialog(owner)
    , m_port(port)
    , m_system(system ? std::move(system) : std::make_shared<portlink::doctor::LocalSystemView>())
{
    setObjectName(QStringLiteral("PortDoctorDialog"));
    setWindowTitle(
        texts::WindowTexts::text("PortDoctorDialog.this.title").replace(QStringLiteral("{0}"), port));
    reportArea = new QPlainTextEdit(this);
    reportArea->setObjectName(QStringLiteral("reportArea"));
    reportArea->setReadOnly(true);
    reportArea->setAccessibleName(texts::WindowTexts::text("PortDoctorDialog.reportArea.accessibleName"));
    reportArea->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    reportArea->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    reportArea->setMinimumSize(620, 260);
    installButton = new QPushButton(texts::WindowTexts::text("PortDoctorDialog.installButton.text"), this);
    installButton->setObjectName(QStringLiteral("installButton"));
    installButton->setToolTip(texts::WindowTexts::text("PortDoctorDialog.installButton.toolTipText"));
    installButton->setVisible(false);
    closeButton = new QPushButton(texts::WindowTexts::text("PortDoctorDialog.closeButton.text"), this);
    closeButton->setObjectName(QStringLiteral("closeButton"));
    closeButton->setDefault(true);
    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(installButton, QDialogButtonBox::ActionRole);
    buttons->addButton(closeButton, QDialogButtonBox::RejectRole);
    auto *column = new QVBoxLayout(this);
    column->addWidget(reportArea, 1);
    column->addWidget(buttons);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(installButton, &QPushButton::clicked, this, &PortDoctorDialog::installButtonActionPerformed);
    diagnose();
}

PortDoctorDialog::~PortDoctorDialog()
{
    if (m_worker) {
        m_worker->wait();
        delete m_worker;
    }
}

void PortDoctorDialog::diagnose()
{
    reportArea->setPlainText(
        texts::WindowTexts::text("PortDoctorDialog.looking").replace(QStringLiteral("{0}"), m_port));
    installButton->setVisible(false);
    if (m_worker) {
        m_worker->wait();
        delete m_worker;
    }
    m_worker = QThread::create([this, port = m_port, system = m_system] {
        portlink::doctor::Diagnosis d = portlink::doctor::diagnosePort(port, *system);
        QMetaObject::invokeMethod(
            this, [this, d = std::move(d)] { present(d); }, Qt::QueuedConnection);
    });
    m_worker->start();
}

void PortDoctorDialog::present(const portlink::doctor::Diagnosis &diagnosis)
{
    m_diagnosis = diagnosis;
    reportArea->setPlainText(portlink::doctor::describe(diagnosis));
    installButton->setVisible(!rulesOf(diagnosis).empty());
    Q_EMIT diagnosed();
}

void PortDoctorDialog::installButtonActionPerformed()
{
    if (!m_diagnosis)
        return;
    const auto rules = rulesOf(*m_diagnosis);
    if (rules.empty())
        return;
    QString files;
    QStringList commands;
    QStringList arguments { QStringLiteral("/bin/sh"), QStringLiteral("-c"),
        QString::fromLatin1(installScript), QStringLiteral("sh") };
    for (const auto *f : rules) {
        files += QStringLiteral("\n\n%1:\n%2")
                     .arg(f->rule->path, QString::fromUtf8(f->rule->contents).trimmed());
        commands += f->fix;
        arguments << f->rule->path << QString::fromLatin1(f->rule->contents.toBase64());
    }
    if (MessageBoxes::askOkCancel(this,
            MessageText::own(texts::WindowTexts::text("PortDoctorDialog.install.confirm"))
                + MessageText::outside(files),
            texts::WindowTexts::text("PortDoctorDialog.installButton.text"))
        != MessageBoxes::Answer::Ok)
        return;
    const QString pkexec = QStandardPaths::findExecutable(QStringLiteral("pkexec"));
    QString failure;
    if (pkexec.isEmpty()) {
        failure = texts::WindowTexts::text("PortDoctorDialog.install.no.pkexec");
    } else {
        QProcess process;
        process.start(pkexec, arguments);
        // The administrator's password prompt takes as long as the user takes.
        process.waitForFinished(-1);
        if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
            failure = texts::WindowTexts::text("PortDoctorDialog.install.failed")
                + QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    }
    if (!failure.isEmpty()) {
        // Without administrator rights here, the user can still run the commands.
        MessageBoxes::showMessage(this,
            MessageText::own(failure) + MessageText::outside(QStringLiteral("\n\n"))
                + MessageText::outside(commands.join(QLatin1Char('\n'))),
            texts::WindowTexts::text("PortDoctorDialog.installButton.text"), MessageBoxes::Icon::Warning);
        return;
    }
    MessageBoxes::showMessage(this,
        MessageText::own(texts::WindowTexts::text("PortDoctorDialog.install.done")),
        texts::WindowTexts::text("PortDoctorDialog.installButton.text"), MessageBoxes::Icon::Information);
    diagnose();
}

} // namespace omvara
