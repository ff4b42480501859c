// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/modes/StoreCommands.h"
#include "omvara/config/ConfigStore.h"
#include "omvara/prefs/FilePreferencesFactory.h"
#include "omvara/util/ProcessProperties.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using omvara::config::ConfigStore;
using omvara::modes::runStoreCommands;
using omvara::prefs::FilePreferencesFactory;
using omvara::prefs::Preferences;
using omvara::util::ProcessProperties;

namespace {

// Each test is a fresh process as far as the preferences tree is concerned.
class StoreCommandsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        forgetTree();
    }
    void TearDown() override { forgetTree(); }
    static void forgetTree()
    {
        ProcessProperties::remove(Preferences::FACTORY_PROPERTY);
        ProcessProperties::remove(FilePreferencesFactory::SYSTEM_PROPERTY_FILE);
        FilePreferencesFactory::forgetPreferencesFile();
        Preferences::setFactory(nullptr);
    }
    std::optional<int> run(const QStringList &arguments)
    {
        out.clear();
        err.clear();
        QTextStream o(&out), e(&err);
        auto status = runStoreCommands(arguments, dir.path(), o, e);
        forgetTree();
        return status;
    }
    QByteArray read(const QString &path) const
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QString path(const char *name) const { return dir.filePath(QString::fromLatin1(name)); }

    QTemporaryDir dir;
    QString out, err;
};

TEST_F(StoreCommandsTest, importThenExport_throughTheFileStore)
{
    const QString store = path("prefs.txt");
    EXPECT_EQ(
        run({ "--prefs-file", store, "--import", QStringLiteral(OMVARA_CONFIG_TEST_DATA "/Omvara.xml") }), 0);
    EXPECT_TRUE(read(store).contains("com.brindlecote.Omvara.instrument=SARTORIUS"));
    EXPECT_TRUE(err.isEmpty()) << err.toStdString();

    const QString exported = path("out.xml");
    EXPECT_EQ(run({ "--export=" + exported, "--prefs-file=" + store }), 0);
    const QByteArray xml = read(exported);
    EXPECT_TRUE(xml.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
                               "<!DOCTYPE preferences SYSTEM \"http://java.sun.com/dtd/preferences.dtd\">"));
    EXPECT_TRUE(xml.contains("<entry key=\"instrument\" value=\"SARTORIUS\"/>"));
    EXPECT_EQ(xml.count("<entry "), 31);
}

TEST_F(StoreCommandsTest, failedImport_saysImportFailedWithTheReason_exitsOne_andChangesNothing)
{
    const QString store = path("prefs.txt");
    ASSERT_EQ(
        run({ "--prefs-file", store, "--import", QStringLiteral(OMVARA_CONFIG_TEST_DATA "/Omvara.xml") }), 0);
    const QByteArray before = read(store);
    {
        QFile bad(path("bad.xml"));
        ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
        bad.write("<preferences><root type=\"user\"><node name=\"com\"><map><entry key=\"k\" value=\"v\"/>");
    }
    for (const QString &source : { path("bad.xml"), path("missing.xml") }) {
        EXPECT_EQ(run({ "--prefs-file", store, "--import", source }), 1);
        EXPECT_TRUE(err.startsWith("Import failed\n")) << err.toStdString();
        EXPECT_GT(err.size(), QStringLiteral("Import failed\n").size());
        EXPECT_EQ(read(store), before);
    }
    EXPECT_TRUE(err.contains("missing.xml"));
}

// A store that cannot be read must not be exported as an empty document (it
// would wipe the settings of every installation it is rolled out to), and an
// import into a store that cannot be written must not report success. (The
// tests run as root, so the stores are made unusable by their place rather
// than by permissions: a folder where the file should be, a missing folder.)
TEST_F(StoreCommandsTest, storeThatCannotBeReadOrWritten_exitsOneWithTheReason_andWritesNothing)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("unreadable.txt")));
    const QString exported = path("out.xml");
    EXPECT_EQ(run({ "--prefs-file", path("unreadable.txt"), "--export", exported }), 1);
    EXPECT_TRUE(err.startsWith("Export failed\n")) << err.toStdString();
    EXPECT_TRUE(err.contains(path("unreadable.txt"))) << err.toStdString();
    EXPECT_TRUE(out.isEmpty()) << out.toStdString();
    EXPECT_FALSE(QFile::exists(exported));

    const QString unwritable = path("gone/prefs.txt");
    EXPECT_EQ(run({ "--prefs-file", unwritable, "--import",
                  QStringLiteral(OMVARA_CONFIG_TEST_DATA "/Omvara.xml") }),
        1);
    EXPECT_TRUE(err.startsWith("Import failed\n")) << err.toStdString();
    EXPECT_TRUE(err.contains(unwritable)) << err.toStdString();
    EXPECT_TRUE(out.isEmpty()) << out.toStdString();
    EXPECT_FALSE(QFile::exists(unwritable));
}

namespace {

// An export document for the settings node with `count` entries k0, k1, ...
// and the instrument KERN_DS.
QByteArray largeDocument(int count)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
                     "<preferences EXTERNAL_XML_VERSION=\"1.0\"><root type=\"user\"><map/>"
                     "<node name=\"com\"><map/><node name=\"brindlecote\"><map/><node name=\"Omvara\"><map>\n"
                     "<entry key=\"instrument\" value=\"KERN_DS\"/>\n";
    for (int i = 0; i < count; ++i)
        xml += "<entry key=\"k" + QByteArray::number(i) + "\" value=\"value " + QByteArray::number(i)
            + "\"/>\n";
    return xml + "</map></node></node></node></root></preferences>\n";
}

// The entries of a store file: its lines without the comments (the time of the last write).
QList<QByteArray> entriesOf(const QByteArray &file)
{
    QList<QByteArray> lines = file.split('\n');
    lines.removeIf([](const QByteArray &line) { return line.startsWith('#'); });
    return lines;
}

} // namespace

// An import killed at any moment (here at eight moments spread over the time
// a whole import takes) leaves the old store's entries as they were, or the whole
// import: never a part of it. What a killed write left beside the store goes
// with the next write.
TEST_F(StoreCommandsTest, importKilledMidway_leavesTheOldStoreOrTheWholeImport_neverAPart)
{
    const QString store = path("prefs.txt");
    ASSERT_EQ(
        run({ "--prefs-file", store, "--import", QStringLiteral(OMVARA_CONFIG_TEST_DATA "/Omvara.xml") }), 0);
    const QByteArray before = read(store);
    const int entries = 10000;
    {
        QFile large(path("large.xml"));
        ASSERT_TRUE(large.open(QIODevice::WriteOnly));
        ASSERT_EQ(large.write(largeDocument(entries)), largeDocument(entries).size());
    }
    // The import in a process of its own, killed after `after` (or not).
    const auto importKilled = [&](std::chrono::milliseconds after) {
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            QString o, e;
            QTextStream os(&o), es(&e);
            ::_exit(
                runStoreCommands({ "--prefs-file", store, "--import", path("large.xml") }, dir.path(), os, es)
                    .value_or(99));
        }
        int status = 0;
        const auto start = std::chrono::steady_clock::now();
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() - start >= after) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        EXPECT_TRUE(WIFEXITED(status) || WIFSIGNALED(status));
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
    };
    const auto restore = [&] {
        QFile f(store);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(before), before.size());
    };
    const std::chrono::milliseconds whole
        = std::min(importKilled(std::chrono::milliseconds(10000)), std::chrono::milliseconds(10000));
    const QByteArray imported = read(store);
    ASSERT_TRUE(imported.contains("com.brindlecote.Omvara.k" + QByteArray::number(entries - 1) + "=value"))
        << "the whole import took " << whole.count() << " ms";
    for (int eighth = 1; eighth <= 8; ++eighth) {
        restore();
        importKilled(whole * eighth / 8);
        const QByteArray after = read(store);
        const bool complete
            = after.contains("com.brindlecote.Omvara.k" + QByteArray::number(entries - 1) + "=value")
            && after.contains("com.brindlecote.Omvara.k0=value 0")
            && after.contains("com.brindlecote.Omvara.instrument=KERN_DS");
        EXPECT_TRUE(entriesOf(after) == entriesOf(before) || complete)
            << "killed after " << eighth << "/8: " << after.count("\ncom.brindlecote.Omvara.k") << " of "
            << entries << " entries";
    }
    restore();
    EXPECT_EQ(
        run({ "--prefs-file", store, "--import", QStringLiteral(OMVARA_CONFIG_TEST_DATA "/Omvara.xml") }), 0);
    EXPECT_EQ(QDir(dir.path()).entryList({ QStringLiteral("prefs.txt.tmp*") }, QDir::Files), QStringList());
}

TEST_F(StoreCommandsTest, sharedInstallation_usesTheSharedFileBelowProgramData)
{
    ProcessProperties::set(ConfigStore::SHARED_SWITCH, QStringLiteral("1"));
    ProcessProperties::set(QStringLiteral("ProgramData"), dir.path());
    QDir(dir.path()).mkpath(QStringLiteral("Brindlecote/OmvaraMU"));
    EXPECT_EQ(run({ "--import", QStringLiteral(OMVARA_CONFIG_TEST_DATA "/Omvara.xml") }), 0);
    EXPECT_TRUE(read(path("Brindlecote/OmvaraMU/prefs.txt")).contains("com.brindlecote.Omvara.port=COM4"));
    ProcessProperties::remove(ConfigStore::SHARED_SWITCH);
    ProcessProperties::remove(QStringLiteral("ProgramData"));
}

TEST_F(StoreCommandsTest, prefsFileAlone_selectsTheStoreAndLetsTheProgramGoOn)
{
    QTextStream o(&out), e(&err);
    EXPECT_EQ(runStoreCommands({ "COM3", "--prefs-file", path("p.txt") }, dir.path(), o, e), std::nullopt);
    EXPECT_EQ(ProcessProperties::get(Preferences::FACTORY_PROPERTY), FilePreferencesFactory::CLASS_NAME);
    EXPECT_EQ(ProcessProperties::get(FilePreferencesFactory::SYSTEM_PROPERTY_FILE), path("p.txt"));
    EXPECT_EQ(runStoreCommands({ "COM3" }, dir.path(), o, e), std::nullopt);
}

TEST_F(StoreCommandsTest, malformedOptions_exitOneWithAMessage)
{
    const QList<QStringList> cases = {
        { "--export" },
        { "--import" },
        { "--prefs-file" },
        { "--export", "a.xml", "--import", "b.xml" },
        { "--import=" },
    };
    for (const QStringList &arguments : cases) {
        EXPECT_EQ(run(arguments), 1) << arguments.join(u' ').toStdString();
        EXPECT_TRUE(err.startsWith("omvara: ")) << err.toStdString();
    }
}

} // namespace
