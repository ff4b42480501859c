// SPDX-License-Identifier: GPL-3.0-or-later
// Saving and loading the settings when the disk misbehaves, for both stores
// (the shared file and the per-user settings file): the folder turns
// read-only or the disk fills up during a save, or the file is damaged.
// The old settings must stay intact and the failure must reach the caller.
//
// Read-only folders and full disks are made for real in a private mount
// namespace (a read-only bind mount, a small tmpfs) inside a child process,
// so the test also holds for root, which ignores permission bits. Where the
// machine allows no such namespace the case is skipped, saying why.
#include "omvara/config/Config.h"
#include "omvara/config/ConfigStore.h"
#include "omvara/config/Instrument.h"
#include "omvara/prefs/FilePreferencesFactory.h"
#include "omvara/prefs/PreferencesErrors.h"
#include "omvara/prefs/SettingsPreferences.h"
#include "omvara/util/ProcessProperties.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using omvara::config::Config;
using omvara::config::ConfigStore;
using omvara::prefs::FilePreferencesFactory;
using omvara::prefs::PreferencesError;
using omvara::prefs::PreferencesFactory;
using omvara::prefs::SettingsPreferencesFactory;
using omvara::util::ProcessProperties;
using Instrument = omvara::config::ConfigHelper::Instrument;

namespace {

enum class Backend { SharedFile, SettingsFile };

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A store of `backend` whose file is `path`, as a new start of the program sees it.
class Store
{
public:
    Store(Backend backend, const QString &path)
    {
        if (backend == Backend::SharedFile) {
            ProcessProperties::set(FilePreferencesFactory::SYSTEM_PROPERTY_FILE, path);
            FilePreferencesFactory::forgetPreferencesFile();
            factory = std::make_unique<FilePreferencesFactory>();
        } else {
            factory = std::make_unique<SettingsPreferencesFactory>(path);
        }
        store = std::make_unique<ConfigStore>(*factory);
    }
    ~Store()
    {
        store.reset();
        factory.reset();
        ProcessProperties::remove(FilePreferencesFactory::SYSTEM_PROPERTY_FILE);
        FilePreferencesFactory::forgetPreferencesFile();
    }
    std::unique_ptr<PreferencesFactory> factory;
    std::unique_ptr<ConfigStore> store;
};

Config settingsWith(const Instrument &instrument, const QString &pattern = QString())
{
    Config c;
    c.setPort(QStringLiteral("COM3"));
    c.setInstrument(instrument);
    c.setCustomRegEx(pattern);
    return c;
}

const QStringList PORTS = { QStringLiteral("COM3") };

// ---- Child processes in a private mount namespace

// What the child reports: exit 0 = held, 77 = mechanism unavailable (the
// pipe says why), anything else = failed (the pipe says what).
constexpr int Unavailable = 77;

struct ChildResult
{
    int status = -1; // exit status, -1 when it did not end or was killed
    std::string message;
};

int g_report = -1; // the child's end of the pipe

void report(const std::string &text)
{
    const std::string line = text + "\n";
    [[maybe_unused]] ssize_t n = ::write(g_report, line.data(), line.size());
}

bool writeProcFile(const char *path, const std::string &text)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    ::close(fd);
    return ok;
}

// Enters a mount namespace of its own (with a user namespace when not root,
// mapping the caller to root there so that files keep their owner).
bool enterPrivateMountNamespace()
{
    if (::geteuid() == 0) {
        if (::unshare(CLONE_NEWNS) != 0) {
            report(std::string("unshare(CLONE_NEWNS) failed: ") + std::strerror(errno));
            return false;
        }
    } else {
        const uid_t uid = ::getuid();
        const gid_t gid = ::getgid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            report(std::string("unshare(CLONE_NEWUSER | CLONE_NEWNS) failed: ") + std::strerror(errno));
            return false;
        }
        writeProcFile("/proc/self/setgroups", "deny");
        if (!writeProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1")
            || !writeProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
            report("cannot map the user into the new user namespace");
            return false;
        }
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        report(std::string("making the mounts private failed: ") + std::strerror(errno));
        return false;
    }
    return true;
}

// The flags a bind mount of `path` must keep when it is remounted.
unsigned long lockedFlags(const char *path)
{
    struct statvfs st
    {
    };
    if (::statvfs(path, &st) != 0)
        return 0;
    unsigned long flags = 0;
    if (st.f_flag & ST_NOSUID)
        flags |= MS_NOSUID;
    if (st.f_flag & ST_NODEV)
        flags |= MS_NODEV;
    if (st.f_flag & ST_NOEXEC)
        flags |= MS_NOEXEC;
    if (st.f_flag & ST_NOATIME)
        flags |= MS_NOATIME;
    if (st.f_flag & ST_NODIRATIME)
        flags |= MS_NODIRATIME;
    if (st.f_flag & ST_RELATIME)
        flags |= MS_RELATIME;
    return flags;
}

bool makeReadOnly(const QString &folder)
{
    const QByteArray path = QFile::encodeName(folder);
    if (::mount(path.constData(), path.constData(), nullptr, MS_BIND, nullptr) != 0) {
        report(std::string("bind mount failed: ") + std::strerror(errno));
        return false;
    }
    const unsigned long flags = MS_BIND | MS_REMOUNT | MS_RDONLY | lockedFlags(path.constData());
    if (::mount(nullptr, path.constData(), nullptr, flags, nullptr) != 0) {
        report(std::string("read-only remount failed: ") + std::strerror(errno));
        return false;
    }
    return true;
}

bool mountSmallDisk(const QString &folder)
{
    const QByteArray path = QFile::encodeName(folder);
    if (::mount("tmpfs", path.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,mode=0755") != 0) {
        report(std::string("tmpfs mount failed: ") + std::strerror(errno));
        return false;
    }
    return true;
}

// Fills the file system of `folder` until a write fails with ENOSPC.
bool fillDisk(const QString &folder)
{
    const QByteArray path = QFile::encodeName(folder + QStringLiteral("/filler"));
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    char block[4096];
    std::memset(block, 'f', sizeof block);
    bool full = false;
    for (int i = 0; i < 100000 && !full; ++i) {
        if (::write(fd, block, sizeof block) < 0)
            full = errno == ENOSPC;
    }
    // What is left of the last page as well.
    while (full && ::write(fd, block, 1) == 1) { }
    ::close(fd);
    if (!full)
        report("the disk could not be filled");
    return full;
}

// Runs `body` in a forked child (single-threaded: a user namespace needs
// that) and collects its verdict, waiting at most 60 s.
ChildResult inChild(const std::function<int()> &body)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return { -1, "pipe failed" };
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        return { -1, "fork failed" };
    if (pid == 0) {
        ::close(fds[0]);
        g_report = fds[1];
        int status = 1;
        try {
            status = body();
        } catch (const std::exception &e) {
            report(std::string("unexpected exception: ") + e.what());
        }
        ::_exit(status);
    }
    ::close(fds[1]);
    ChildResult result;
    bool killed = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
        pollfd p { fds[0], POLLIN, 0 };
        if (::poll(&p, 1, 100) > 0) {
            char buffer[512];
            const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
            if (n <= 0)
                break; // the child closed its end: it has ended
            result.message.append(buffer, std::size_t(n));
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            killed = true;
            result.message += "the child did not end within 60 s";
            break;
        }
    }
    ::close(fds[0]);
    int status = 0;
    if (::waitpid(pid, &status, 0) == pid && !killed && WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    return result;
}

// Checks inside the child; a failed check reports and makes the child fail.
#define CHILD_CHECK(condition, text)                                                                         \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            report(std::string(text) + " (" #condition ")");                                                 \
            return 1;                                                                                        \
        }                                                                                                    \
    } while (false)

// Loads the old settings, lets `fault` strike (the folder turns read-only,
// the disk fills up), then saves changed settings: the save must fail with a
// message while the file keeps `before` byte for byte.
int saveMustFail(
    Backend backend, const QString &file, const QByteArray &before, const std::function<bool()> &fault)
{
    Store s(backend, file);
    Config loaded;
    s.store->loadConfig(loaded, PORTS);
    CHILD_CHECK(loaded.getInstrument() == &Instrument::SARTORIUS, "the old settings did not load");
    if (!fault())
        return Unavailable;
    QString message;
    try {
        s.store->saveConfig(settingsWith(Instrument::KERN_DS, QString(3000, u'x')));
    } catch (const PreferencesError &e) {
        message = e.message();
    }
    CHILD_CHECK(!message.isEmpty(), "the failed save was reported as success");
    CHILD_CHECK(readBytes(file) == before, "the old settings file changed");
    return 0;
}

// The settings in `file` as the next start of the program loads them.
const Instrument *storedInstrument(Backend backend, const QString &file)
{
    Store s(backend, file);
    Config loaded;
    s.store->loadConfig(loaded, PORTS);
    return loaded.getInstrument();
}

class SettingsFault : public ::testing::TestWithParam<Backend>
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString folder() const { return dir.filePath(QStringLiteral("store")); }
    QString file() const
    {
        return folder()
            + (GetParam() == Backend::SharedFile ? QStringLiteral("/prefs.txt")
                                                 : QStringLiteral("/Omvara.ini"));
    }
    static void check(const ChildResult &r)
    {
        if (r.status == Unavailable)
            GTEST_SKIP() << "no private mount namespace on this machine: " << r.message;
        EXPECT_EQ(r.status, 0) << r.message;
    }
    QTemporaryDir dir;
};

} // namespace

TEST_P(SettingsFault, folderTurnsReadOnly_saveFailsAndSaysSo_oldSettingsIntact)
{
    ASSERT_TRUE(QDir().mkpath(folder()));
    {
        Store s(GetParam(), file());
        s.store->saveConfig(settingsWith(Instrument::SARTORIUS));
    }
    const QByteArray before = readBytes(file());
    ASSERT_FALSE(before.isEmpty());
    const Backend backend = GetParam();
    const QString path = file();
    const QString store = folder();
    const ChildResult r = inChild([&] {
        if (!enterPrivateMountNamespace())
            return Unavailable;
        return saveMustFail(backend, path, before, [&] { return makeReadOnly(store); });
    });
    check(r);
    EXPECT_EQ(readBytes(file()), before);
    EXPECT_EQ(storedInstrument(GetParam(), file()), &Instrument::SARTORIUS);
}

TEST_P(SettingsFault, diskFullDuringASave_saveFailsAndSaysSo_oldSettingsIntact_nextSaveWorks)
{
    ASSERT_TRUE(QDir().mkpath(folder()));
    const Backend backend = GetParam();
    const QString path = file();
    const QString store = folder();
    const ChildResult r = inChild([&] {
        if (!enterPrivateMountNamespace() || !mountSmallDisk(store))
            return Unavailable;
        {
            Store s(backend, path);
            s.store->saveConfig(settingsWith(Instrument::SARTORIUS));
        }
        const QByteArray before = readBytes(path);
        CHILD_CHECK(!before.isEmpty(), "the first save wrote nothing");
        const int failed = saveMustFail(backend, path, before, [&] { return fillDisk(store); });
        if (failed != 0)
            return failed == Unavailable ? 1 : failed; // a tmpfs that cannot be filled is a failure
        // Nothing but the settings, their lock and the filler stays behind.
        for (const QString &name : QDir(store).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot))
            CHILD_CHECK(name == QStringLiteral("filler") || name.startsWith(QFileInfo(path).fileName()),
                "a temporary file was left behind");
        CHILD_CHECK(QDir(store).entryList({ QStringLiteral("*.tmp*") }, QDir::Files | QDir::Hidden).isEmpty(),
            "a temporary file was left behind");
        // Room again: the next save works.
        CHILD_CHECK(QFile::remove(store + QStringLiteral("/filler")), "the filler could not be removed");
        {
            Store s(backend, path);
            s.store->saveConfig(settingsWith(Instrument::KERN_DS));
        }
        CHILD_CHECK(storedInstrument(backend, path) == &Instrument::KERN_DS,
            "the save after the disk had room was lost");
        return 0;
    });
    check(r);
}

// A damaged file: loading gives the defaults for what is damaged, says so
// (the invalid flag or an error), and leaves the file byte for byte; the
// next save replaces it with a whole, valid file.
TEST_P(SettingsFault, damagedFile_loadsDefaultsAndSaysSo_fileKeptUntilTheNextSave)
{
    ASSERT_TRUE(QDir().mkpath(folder()));
    {
        Store s(GetParam(), file());
        s.store->saveConfig(settingsWith(Instrument::SARTORIUS));
    }
    const QByteArray whole = readBytes(file());
    const qsizetype at = whole.indexOf("SARTORIUS");
    ASSERT_GT(at, 0);
    QByteArray noise;
    for (int i = 0; i < 400; ++i)
        noise += char((i * 97 + 3) % 256);
    const QList<QByteArray> damaged = {
        whole.left(at + 4), // cut inside the instrument's name
        whole.left(at + 4) + noise, // then noise
        whole.left(at) + "SART\\u00", // cut inside an escape
        QByteArray(whole).replace("SARTORIUS", QByteArray("SART\0RIUS", 9)), // a NUL byte
    };
    for (const QByteArray &bytes : damaged) {
        SCOPED_TRACE(bytes.left(200).toPercentEncoding().toStdString());
        {
            QFile f(file());
            ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(bytes);
        }
        {
            Store s(GetParam(), file());
            Config config;
            bool valid = true;
            bool failed = false;
            try {
                valid = s.store->loadConfig(config, PORTS);
            } catch (const PreferencesError &e) {
                failed = true;
                EXPECT_FALSE(e.message().isEmpty());
            }
            EXPECT_TRUE(failed || !valid) << "the damage went unreported";
            if (!failed) {
                EXPECT_EQ(config.getInstrument(), &Instrument::GENERIC);
            }
            EXPECT_EQ(readBytes(file()), bytes) << "loading changed the file";
        }
        {
            // The same program goes on and saves: a file the per-user store
            // could not parse is set aside as "<file>.damaged", not kept in
            // the way of every later save.
            QFile::remove(file() + QStringLiteral(".damaged"));
            Store s(GetParam(), file());
            Config config;
            try {
                s.store->loadConfig(config, PORTS);
            } catch (const PreferencesError &) {
            }
            EXPECT_NO_THROW(s.store->saveConfig(settingsWith(Instrument::KERN_DS)));
            if (QFile::exists(file() + QStringLiteral(".damaged"))) {
                EXPECT_EQ(readBytes(file() + QStringLiteral(".damaged")), bytes);
            }
        }
        Store s(GetParam(), file());
        Config config;
        EXPECT_TRUE(s.store->loadConfig(config, PORTS));
        EXPECT_EQ(config.getInstrument(), &Instrument::KERN_DS);
    }
}

INSTANTIATE_TEST_SUITE_P(Stores, SettingsFault, ::testing::Values(Backend::SharedFile, Backend::SettingsFile),
    [](const ::testing::TestParamInfo<Backend> &info) {
        return std::string(info.param == Backend::SharedFile ? "sharedFile" : "settingsFile");
    });
