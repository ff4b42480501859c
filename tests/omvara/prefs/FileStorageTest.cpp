// SPDX-License-Identifier: GPL-3.0-or-later
#include "PrefsTestSupport.h"

#include "omvara/prefs/FilePreferencesFactory.h"
#include "omvara/prefs/FileStorage.h"

#include <QDir>
#include <QFileInfo>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using omvara::prefs::BackingStoreError;
using omvara::prefs::FilePreferencesFactory;
using omvara::prefs::FileStorage;
using omvara::prefs::Preferences;
using omvara::prefs::testing::FileStoreTest;
using omvara::prefs::testing::LogCapture;

namespace {

// Limits the size of any file this process writes, as a full disk would.
// Even root cannot write past it, so the test does not depend on who runs it.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        previousHandler = std::signal(SIGXFSZ, SIG_IGN); // the write fails with EFBIG instead
        getrlimit(RLIMIT_FSIZE, &previous);
        rlimit limit = previous;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);
    }

private:
    rlimit previous {};
    void (*previousHandler)(int) = nullptr;
};

QStringList folderEntries(const QString &path)
{
    return QDir(path).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

TEST_F(FileStoreTest, writeFailingHalfway_leavesThePreviousFileByteForByte)
{
    const QByteArray before = "#FilePreferences\n#old\ncom.brindlecote.Omvara.port=COM4\nother.x=1\n";
    writeFile(before);
    LogCapture log;
    FilePreferencesFactory factory;
    Preferences *node = factory.userRoot()->node(QStringLiteral("/com/brindlecote/Omvara"));
    {
        FileSizeLimit limit(64); // the new file is larger: its write stops halfway
        node->put(QStringLiteral("customRegEx"), QString(500, u'x'));
        EXPECT_THROW(node->flush(), BackingStoreError);
    }
    EXPECT_EQ(fileBytes(), before);
    EXPECT_TRUE(log.contains(QStringLiteral("Unable to flush after putting customRegEx")));
    // Neither a temporary file nor anything else but the lock stays behind.
    EXPECT_EQ(folderEntries(dir.path()), QStringList({ "prefs.txt", "prefs.txt.lock" }));
    // The put still counts in memory, and the next write that can succeed stores it.
    node->flush();
    EXPECT_TRUE(entryLines().contains("com.brindlecote.Omvara.customRegEx=" + QString(500, u'x')));
}

TEST_F(FileStoreTest, writeToReadOnlyFolder_leavesThePreviousFileByteForByte)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders; the file-size limit test covers this case";
    const QByteArray before = "#FilePreferences\ncom.brindlecote.Omvara.port=COM4\n";
    writeFile(before);
    FilePreferencesFactory factory;
    Preferences *node = factory.userRoot()->node(QStringLiteral("/com/brindlecote/Omvara"));
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0555), 0);
    node->put(QStringLiteral("port"), QStringLiteral("COM9"));
    EXPECT_THROW(node->flush(), BackingStoreError);
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    EXPECT_EQ(fileBytes(), before);
}

TEST_F(FileStoreTest, replace_keepsThePermissionBitsOfTheReplacedFile)
{
    writeFile("#FilePreferences\n");
    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0664), 0);
    FileStorage::replace(file, "#FilePreferences\na=1\n");
    struct stat st
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0664u);
    EXPECT_EQ(fileBytes(), "#FilePreferences\na=1\n");
}

TEST_F(FileStoreTest, replace_inAFolderThatIsAFile_failsWithThePath)
{
    writeFile("x");
    const QString inside = file + QStringLiteral("/prefs.txt");
    try {
        FileStorage::replace(inside, "data");
        FAIL() << "the write succeeded";
    } catch (const BackingStoreError &e) {
        EXPECT_TRUE(e.message().contains(inside)) << e.message().toStdString();
    }
    EXPECT_EQ(fileBytes(), "x");
}

TEST_F(FileStoreTest, processesWritingDifferentNodesAtOnce_loseNothing)
{
    // Each child process has its own tree and its own in-process lock; only
    // the lock shared through the file system keeps their read-modify-write
    // cycles apart.
    constexpr int processes = 4;
    constexpr int puts = 25;
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int status = 0;
            try {
                FilePreferencesFactory::forgetPreferencesFile();
                FilePreferencesFactory factory;
                Preferences *node = factory.userRoot()->node(QStringLiteral("/p%1").arg(p));
                for (int i = 0; i < puts; ++i)
                    node->putInt(QStringLiteral("k%1").arg(i), i);
                node->flush();
            } catch (...) {
                status = 1;
            }
            ::_exit(status);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(entryLines().size(), processes * puts);
}

} // namespace
