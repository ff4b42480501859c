// SPDX-License-Identifier: GPL-3.0-or-later
#include "PrefsTestSupport.h"

#include "omvara/prefs/FilePreferences.h"
#include "omvara/prefs/FilePreferencesFactory.h"

#include <QDir>
#include <QFileInfo>

#include <thread>

using omvara::prefs::BackingStoreError;
using omvara::prefs::FilePreferencesFactory;
using omvara::prefs::Preferences;
using omvara::prefs::testing::FileStoreTest;
using omvara::prefs::testing::LogCapture;
using omvara::util::ProcessProperties;

namespace {

const QString NODE = QStringLiteral("/com/brindlecote/Omvara");

TEST_F(FileStoreTest, getPreferencesFile_withoutProperty_isDotFileprefsInUserHome)
{
    for (const QString &value : { QString(), QStringLiteral("") }) {
        if (value.isNull())
            ProcessProperties::remove(FilePreferencesFactory::SYSTEM_PROPERTY_FILE);
        else
            ProcessProperties::set(FilePreferencesFactory::SYSTEM_PROPERTY_FILE, value);
        ProcessProperties::set(QStringLiteral("user.home"), dir.path());
        FilePreferencesFactory::forgetPreferencesFile();
        LogCapture log;
        EXPECT_EQ(FilePreferencesFactory::getPreferencesFile(), dir.filePath(QStringLiteral(".fileprefs")));
        EXPECT_TRUE(log.contains(
            QStringLiteral("Preferences file is ") + dir.filePath(QStringLiteral(".fileprefs"))));
    }
    ProcessProperties::remove(QStringLiteral("user.home"));
}

TEST_F(FileStoreTest, getPreferencesFile_relativePath_isMadeAbsoluteAndKept)
{
    useFile(QStringLiteral("relative/prefs.txt"));
    const QString first = FilePreferencesFactory::getPreferencesFile();
    EXPECT_TRUE(QFileInfo(first).isAbsolute());
    EXPECT_EQ(first, QDir::current().absoluteFilePath(QStringLiteral("relative/prefs.txt")));
    ProcessProperties::set(
        FilePreferencesFactory::SYSTEM_PROPERTY_FILE, dir.filePath(QStringLiteral("other")));
    EXPECT_EQ(FilePreferencesFactory::getPreferencesFile(), first);
}

TEST_F(FileStoreTest, put_writesPathPlusKeyAfterTheCommentLines_andReplacesOnlyThatLine)
{
    writeFile("#FilePreferences\nother.node.x=1\ntop=2\ncom.brindlecote.Omvara.delay=30\n");
    FilePreferencesFactory factory;
    Preferences *node = factory.userRoot()->node(NODE);
    node->put(QStringLiteral("port"), QStringLiteral("COM3"));

    const QStringList lines = QString::fromLatin1(fileBytes()).split(u'\n');
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines[0], "#FilePreferences");
    EXPECT_TRUE(lines[1].startsWith(u'#'));
    EXPECT_TRUE(entryLines().contains("com.brindlecote.Omvara.port=COM3"));

    node->put(QStringLiteral("port"), QStringLiteral("COM7"));
    QStringList entries = entryLines();
    entries.sort();
    EXPECT_EQ(entries,
        QStringList({ "com.brindlecote.Omvara.delay=30", "com.brindlecote.Omvara.port=COM7", "other.node.x=1",
            "top=2" }));
}

TEST_F(FileStoreTest, newNode_readsItsOwnEntriesOnly)
{
    writeFile("#FilePreferences\n"
              "com.brindlecote.Omvara.port=COM4\n"
              "com.brindlecote.Omvara.sub.deep=1\n"
              "com.brindlecote.Omvara2.other=2\n"
              "com.brindlecote.shallow=3\n"
              "rootKey=4\n");
    FilePreferencesFactory factory;
    EXPECT_EQ(factory.userRoot()->node(NODE)->keys(), QStringList({ "port" }));
    EXPECT_EQ(
        factory.userRoot()->node(QStringLiteral("/com/brindlecote"))->keys(), QStringList({ "shallow" }));
    EXPECT_EQ(factory.userRoot()->keys(), QStringList({ "rootKey" }));
    EXPECT_EQ(factory.userRoot()->node(NODE + "/sub")->get(QStringLiteral("deep"), {}), "1");
}

TEST_F(FileStoreTest, keyWithDot_isWrittenButNotReadBack_andNotRemovedByLaterFlush)
{
    {
        FilePreferencesFactory factory;
        Preferences *node = factory.userRoot()->node(QStringLiteral("/com/x"));
        node->put(QStringLiteral("a.b"), QStringLiteral("1"));
        node->put(QStringLiteral("c"), QStringLiteral("2"));
    }
    EXPECT_TRUE(entryLines().contains("com.x.a.b=1"));

    FilePreferencesFactory next;
    Preferences *node = next.userRoot()->node(QStringLiteral("/com/x"));
    EXPECT_EQ(node->keys(), QStringList({ "c" }));
    node->put(QStringLiteral("c"), QStringLiteral("3"));
    node->flush();
    EXPECT_TRUE(entryLines().contains("com.x.a.b=1"));
    EXPECT_TRUE(entryLines().contains("com.x.c=3"));
}

TEST_F(FileStoreTest, removeNode_erasesExactlyItsOwnEntries)
{
    writeFile("#FilePreferences\n"
              "com.a.x=1\n"
              "com.a.b.y=2\n"
              "com.ab.z=3\n"
              "com.k=4\n");
    FilePreferencesFactory factory;
    Preferences *a = factory.userRoot()->node(QStringLiteral("/com/a"));
    a->removeNode();
    QStringList entries = entryLines();
    entries.sort();
    EXPECT_EQ(entries, QStringList({ "com.a.b.y=2", "com.ab.z=3", "com.k=4" }));
    EXPECT_THROW(a->get(QStringLiteral("x"), {}), omvara::prefs::PreferencesRefusedError);

    // A node of the same name made afterwards is a new, empty one; it reads
    // what the file holds for it.
    Preferences *again = factory.userRoot()->node(QStringLiteral("/com/a"));
    EXPECT_NE(again, a);
    EXPECT_TRUE(again->keys().isEmpty());
}

TEST_F(FileStoreTest, removeNode_withLoadedChild_erasesTheChildToo)
{
    writeFile("#FilePreferences\ncom.a.x=1\ncom.a.b.y=2\n");
    FilePreferencesFactory factory;
    factory.userRoot()->node(QStringLiteral("/com/a/b"));
    factory.userRoot()->node(QStringLiteral("/com/a"))->removeNode();
    EXPECT_TRUE(entryLines().isEmpty());
}

struct AwkwardCase
{
    const char *name;
    QString key;
    QString value;
};

class FileStoreRoundTrip : public FileStoreTest, public ::testing::WithParamInterface<AwkwardCase>
{
};

TEST_P(FileStoreRoundTrip, keyAndValue_surviveAWriteAndARead)
{
    const AwkwardCase &c = GetParam();
    {
        FilePreferencesFactory factory;
        factory.userRoot()->node(NODE)->put(c.key, c.value);
    }
    for (char ch : fileBytes())
        ASSERT_TRUE(ch == '\n' || (ch >= 0x20 && ch <= 0x7e)) << "the file is plain ASCII";
    FilePreferencesFactory next;
    Preferences *node = next.userRoot()->node(NODE);
    EXPECT_EQ(node->keys(), QStringList({ c.key }));
    EXPECT_EQ(node->get(c.key, QStringLiteral("<absent>")), c.value);
}

INSTANTIATE_TEST_SUITE_P(Cases, FileStoreRoundTrip,
    ::testing::Values(AwkwardCase { "leadingBlank", "k", "  two leading" },
        AwkwardCase { "trailingBlank", "k", "trailing  " }, AwkwardCase { "separators", "k=e:y", "a=b:c" },
        AwkwardCase { "commentMarks", "#k!", "#not a comment!" },
        AwkwardCase { "backslashes", "\\k\\", "C:\\path\\" },
        AwkwardCase { "lineBreaks", "k", "one\ntwo\r\nthree\rfour" },
        AwkwardCase { "tabAndFormFeed", "k\tx", "\t\f" }, AwkwardCase { "blankInKey", "a key", "v" },
        AwkwardCase { "latin1", "k", QString::fromUtf8("caf\xc3\xa9 \xc2\xb5g") },
        AwkwardCase { "nonLatin", QString::fromUtf8("\xd0\xb2\xd0\xb5\xd1\x81"),
            QString::fromUtf8("\xe9\x87\x8d\xe9\x87\x8f \xf0\x9f\x98\x80") },
        AwkwardCase { "emptyValue", "k", "" },
        AwkwardCase { "endsWithBackslashLikeContinuation", "k", "value\\" }),
    [](const ::testing::TestParamInfo<AwkwardCase> &info) { return std::string(info.param.name); });

TEST_F(FileStoreTest, fileInClassicConventions_isRead)
{
    // ISO-8859-1 byte, \u escapes, "!" and "#" comments, a continuation
    // line, ":" and blank separators, escaped key characters, CR LF.
    writeFile("#FilePreferences\r\n"
              "! written elsewhere\n"
              "com.brindlecote.Omvara.removeCharacters=k\\u00e9g \\u0416\n"
              "com.brindlecote.Omvara.customRegEx = ^\\\\s*([0-9]+)\\\\\n"
              "com.brindlecote.Omvara.ignoreDifference:0.5\r\n"
              "com.brindlecote.Omvara.port    COM4\n"
              "com.brindlecote.Omvara.mathOperand=1\\\n"
              "      000\n"
              "com.brindlecote.Omvara.decimalPlaces=caf\xe9\n"
              "com.brindlecote.Omvara.a\\ b\\=c=\\ x\n");
    FilePreferencesFactory factory;
    Preferences *node = factory.userRoot()->node(NODE);
    EXPECT_EQ(node->get("removeCharacters", {}), QString::fromUtf8("k\xc3\xa9g \xd0\x96"));
    EXPECT_EQ(node->get("customRegEx", {}), "^\\s*([0-9]+)\\");
    EXPECT_EQ(node->get("ignoreDifference", {}), "0.5");
    EXPECT_EQ(node->get("port", {}), "COM4");
    EXPECT_EQ(node->get("mathOperand", {}), "1000");
    EXPECT_EQ(node->get("decimalPlaces", {}), QString::fromUtf8("caf\xc3\xa9"));
    EXPECT_EQ(node->get("a b=c", {}), " x");
}

TEST_F(FileStoreTest, systemRoot_isTheUserRoot)
{
    FilePreferencesFactory factory;
    EXPECT_EQ(factory.systemRoot(), factory.userRoot());
}

TEST_F(FileStoreTest, missingFolder_putIsLoggedAndKept_explicitFlushFails)
{
    useFile(dir.filePath(QStringLiteral("absent/prefs.txt")));
    LogCapture log;
    FilePreferencesFactory factory;
    Preferences *node = factory.userRoot()->node(NODE);
    node->put(QStringLiteral("port"), QStringLiteral("COM3"));
    EXPECT_TRUE(log.contains(QStringLiteral("Unable to flush after putting port")));
    EXPECT_EQ(node->get(QStringLiteral("port"), {}), "COM3");
    node->remove(QStringLiteral("port"));
    EXPECT_TRUE(log.contains(QStringLiteral("Unable to flush after removing port")));
    EXPECT_THROW(node->flush(), BackingStoreError);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("absent"))));
}

TEST_F(FileStoreTest, unreadableFile_nodeIsStillMadeAndTheFailureLogged)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("prefs.txt"))); // reading a folder fails
    LogCapture log;
    FilePreferencesFactory factory;
    Preferences *node = factory.userRoot()->node(QStringLiteral("/com"));
    EXPECT_TRUE(log.contains(QStringLiteral("Unable to sync on creation of node com")));
    EXPECT_TRUE(log.contains(QStringLiteral("Instantiating node com")));
    EXPECT_TRUE(log.contains(QStringLiteral("Instantiating root preferences")));
    EXPECT_THROW(node->sync(), BackingStoreError);
    EXPECT_THROW(node->flush(), BackingStoreError);
}

TEST_F(FileStoreTest, sync_readsWhatAnotherProcessWrote_andKeepsKeysTheFileLacks)
{
    FilePreferencesFactory mine;
    Preferences *node = mine.userRoot()->node(NODE);
    node->put(QStringLiteral("mine"), QStringLiteral("1"));

    FilePreferencesFactory theirs;
    theirs.userRoot()->node(NODE)->put(QStringLiteral("theirs"), QStringLiteral("2"));

    EXPECT_EQ(node->get(QStringLiteral("theirs"), {}), "");
    node->sync();
    EXPECT_EQ(node->get(QStringLiteral("theirs"), {}), "2");
    EXPECT_EQ(node->get(QStringLiteral("mine"), {}), "1");
}

TEST_F(FileStoreTest, threadsWritingDifferentNodes_loseNothing)
{
    FilePreferencesFactory factory;
    constexpr int threads = 4;
    constexpr int puts = 15;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&factory, t] {
            Preferences *node = factory.userRoot()->node(QStringLiteral("/t%1").arg(t));
            for (int i = 0; i < puts; ++i)
                node->putInt(QStringLiteral("k%1").arg(i), i);
        });
    }
    for (auto &w : workers)
        w.join();
    EXPECT_EQ(entryLines().size(), threads * puts);
}

} // namespace
