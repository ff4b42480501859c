// SPDX-License-Identifier: GPL-3.0-or-later
// The record file and the broker through the whole program: a test-owned
// pseudo-terminal sends records, `omvara --headless --print` reads them,
// publishes each value to a real mosquitto broker over TLS (a certificate
// authority made by the test) and records every line in a file.
#include "BrokerProcesses.h"
#include "ProgramRun.h"
#include "RunRecords.h"

#include "omvara/sim/PseudoTerminal.h"

#include <QDateTime>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using headless_test::app;
using headless_test::portReady;
using headless_test::Program;
using omvara::sim::PseudoTerminal;

namespace {

// A certificate authority and a certificate for 127.0.0.1 signed by it, in
// `folder` (ca.pem, server.pem, server.key). Returns what failed, or "".
QString makeCertificates(const QString &folder)
{
    const auto run = [&](const QStringList &arguments) {
        QProcess openssl;
        openssl.setWorkingDirectory(folder);
        openssl.setProcessChannelMode(QProcess::MergedChannels);
        openssl.start(QStringLiteral("openssl"), arguments);
        if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
            return QStringLiteral("openssl %1: %2")
                .arg(arguments.join(u' '), QString::fromUtf8(openssl.readAll()));
        return QString();
    };
    QFile extensions(QDir(folder).filePath(QStringLiteral("server.ext")));
    if (!extensions.open(QIODevice::WriteOnly) || extensions.write("subjectAltName=IP:127.0.0.1\n") < 0)
        return QStringLiteral("cannot write server.ext");
    extensions.close();
    const QStringList ec = { "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes" };
    for (const QStringList &step : {
             QStringList { "req", "-x509" } + ec
                 + QStringList { "-keyout", "ca.key", "-out", "ca.pem", "-days", "2", "-subj",
                     "/CN=Omvara test CA" },
             QStringList { "req" } + ec
                 + QStringList { "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1" },
             QStringList { "x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                 "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile", "server.ext" },
         }) {
        const QString failed = run(step);
        if (!failed.isEmpty())
            return failed;
    }
    return QString();
}

QStringList fileLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}

} // namespace

// Values from the port reach a subscriber of the topic in order, as JSON,
// through a TLS connection whose broker certificate only the test's own
// authority vouches for; every line also gets its row in the record file.
TEST(HeadlessOutputs, valuesReachASubscriberOverTls_andEveryLineIsRecorded)
{
    app();
    ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("mosquitto")).isEmpty())
        << "mosquitto and mosquitto-clients are needed (scripts/lib/deps.sh)";
    QTemporaryDir dir;
    ASSERT_EQ(makeCertificates(dir.path()), QString());
    const int tlsPort = broker_test::freePort();
    const int plainPort = broker_test::freePort();
    broker_test::MosquittoBroker broker(dir.path(),
        QStringLiteral(
            "listener %1 127.0.0.1\ncafile %2/ca.pem\ncertfile %2/server.pem\nkeyfile %2/server.key\n"
            "listener %3 127.0.0.1\n")
            .arg(tlsPort)
            .arg(dir.path())
            .arg(plainPort));
    ASSERT_TRUE(broker.start(tlsPort)) << qPrintable(broker.log());
    broker_test::Subscriber subscriber(plainPort, QStringLiteral("lab/line 2/scale"));
    ASSERT_TRUE(subscriber.waitUntilSubscribed());

    PseudoTerminal device(false);
    const QString record = dir.filePath(QStringLiteral("records.csv"));
    Program program({ "--prefs-file", dir.filePath("prefs.txt"), "--headless", "--print", "--set",
        QStringLiteral("mqttUrl=mqtts://127.0.0.1:%1/lab/line 2/scale").arg(tlsPort), "--set",
        "mqttCaFile=" + dir.filePath("ca.pem"), "--set", "recordFile=" + record, device.devicePath() });
    ASSERT_TRUE(program.waitForLog(portReady)) << qPrintable(program.err);
    device.write(run_records::records(1, 40) + "no value\r" + run_records::records(41, 50));
    ASSERT_TRUE(program.waitForLines(50)) << qPrintable(program.err);
    ASSERT_TRUE(subscriber.waitForSeqs(50)) << subscriber.seqsOnce().size() << "\n"
                                            << qPrintable(program.err);
    EXPECT_EQ(subscriber.seqsOnce(), broker_test::oneTo(50));
    EXPECT_EQ(subscriber.messages().size(), 50u) << "no connection was lost: nothing comes twice";
    EXPECT_EQ(
        broker_test::checkMessages(subscriber.messages(), run_records::numbers(1, 50), device.devicePath()),
        QString());
    EXPECT_EQ(
        subscriber.messages().front().value(QStringLiteral("raw")).toString(), QStringLiteral("1 g<13>"));
    EXPECT_EQ(subscriber.messages().front().value(QStringLiteral("instrument")).toString(),
        QStringLiteral("GENERIC"));

    program.signal(SIGTERM);
    EXPECT_EQ(program.finish(), 0) << qPrintable(program.err);
    EXPECT_TRUE(
        program.err.contains(QStringLiteral("Linked to the broker mqtts://127.0.0.1:%1/").arg(tlsPort)))
        << qPrintable(program.err);
    const QStringList rows = fileLines(record);
    ASSERT_EQ(rows.size(), 52) << qPrintable(rows.join(u'\n'));
    EXPECT_EQ(rows[0], QStringLiteral("time,port,instrument,raw,value,status,typed,connection"));
    EXPECT_TRUE(rows[41].endsWith(QStringLiteral(",GENERIC,no value<13>,,no value,,1")))
        << qPrintable(rows[41]);
    EXPECT_TRUE(rows[51].endsWith(QStringLiteral(",GENERIC,50 g<13>,50,printed,50,1")))
        << qPrintable(rows[51]);
}
