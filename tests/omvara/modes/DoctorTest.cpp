// SPDX-License-Identifier: GPL-3.0-or-later
// omvara --doctor on this machine's own devices: pseudo-terminals held by
// another process or given to a group the user lacks, and every device of
// the system, which it reads about but never opens.
#include "ProgramRun.h"

#include "QtPrinters.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

using headless_test::Program;
using namespace std::chrono_literals;

namespace {

// A pseudo-terminal whose other side the test keeps.
class Pty
{
public:
    Pty()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0)
            path = QString::fromLocal8Bit(::ptsname(m_master));
    }
    ~Pty()
    {
        if (m_master >= 0)
            ::close(m_master);
    }
    QString path;

private:
    int m_master = -1;
};

} // namespace

TEST(DoctorTest, aTerminalHeldByAnotherProcess_namesItWithItsPid)
{
    Pty pty;
    ASSERT_FALSE(pty.path.isEmpty());
    QProcess holder;
    holder.setStandardInputFile(pty.path);
    holder.start(QStringLiteral("sleep"), { QStringLiteral("30") });
    ASSERT_TRUE(holder.waitForStarted(5000));

    Program doctor({ QStringLiteral("--doctor"), pty.path });
    EXPECT_EQ(doctor.finish(20s), 1) << doctor.err.toStdString();
    EXPECT_TRUE(doctor.out.contains(QStringLiteral("sleep (pid %1)").arg(holder.processId())))
        << doctor.out.toStdString();
    holder.kill();
    holder.waitForFinished(5000);
}

TEST(DoctorTest, aDeviceOfAGroupTheUserLacks_saysWhichGroupAndHowToJoinIt)
{
    if (::getuid() != 0)
        GTEST_SKIP() << "needs root to give the terminal to the group dialout and run as nobody";
    const group *dialout = ::getgrnam("dialout");
    ASSERT_NE(dialout, nullptr) << "no group dialout on this system";
    Pty pty;
    ASSERT_FALSE(pty.path.isEmpty());
    const QByteArray node = QFile::encodeName(pty.path);
    ASSERT_EQ(::chown(node.constData(), 0, dialout->gr_gid), 0);
    ASSERT_EQ(::chmod(node.constData(), 0660), 0);

    Program doctor(QStringLiteral("setpriv"),
        { QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
            QStringLiteral("--clear-groups"), QStringLiteral(OMVARA_EXE), QStringLiteral("--doctor"),
            pty.path });
    EXPECT_EQ(doctor.finish(20s), 1) << doctor.err.toStdString();
    EXPECT_TRUE(doctor.out.contains(
        QStringLiteral("You (nobody) are not a member of the group dialout, which owns %1.").arg(pty.path)))
        << doctor.out.toStdString();
    EXPECT_TRUE(doctor.out.contains(QStringLiteral("sudo usermod -aG dialout nobody")))
        << doctor.out.toStdString();
}

TEST(DoctorTest, everyAdapterOfThisMachine_opensNoDevice)
{
    const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    ASSERT_FALSE(strace.isEmpty()) << "strace is not installed (Debian package strace)";
    QTemporaryDir dir;
    const QString trace = dir.filePath(QStringLiteral("openat.txt"));
    Program doctor(strace,
        { QStringLiteral("-f"), QStringLiteral("-qq"), QStringLiteral("-e"), QStringLiteral("trace=openat"),
            QStringLiteral("-o"), trace, QStringLiteral(OMVARA_EXE), QStringLiteral("--doctor") });
    const int status = doctor.finish(30s);
    ASSERT_TRUE(status == 0 || status == 1) << status << doctor.err.toStdString();
    EXPECT_EQ(status == 0, doctor.out.contains(QStringLiteral("Nothing stands in the way")))
        << doctor.out.toStdString();
    QFile file(trace);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << "strace wrote no trace (ptrace refused?)";
    const QString opened = QString::fromLocal8Bit(file.readAll());
    ASSERT_TRUE(opened.contains(QStringLiteral("openat("))) << "the trace holds no openat call";
    const QRegularExpression device(QStringLiteral("openat\\([^\\n]*\"/dev/tty[A-Za-z]"));
    EXPECT_FALSE(device.match(opened).hasMatch()) << device.match(opened).captured(0).toStdString();
}
