// SPDX-License-Identifier: GPL-3.0-or-later
// Two programs writing the shared settings file at the same moment.
#include "PrefsTestSupport.h"

#include "omvara/prefs/FilePreferencesFactory.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

using omvara::prefs::FilePreferencesFactory;
using omvara::prefs::Preferences;
using omvara::prefs::testing::FileStoreTest;

namespace {

const QString NODE = QStringLiteral("/com/brindlecote/Omvara");

// Waits for `pid` at most `timeout`; kills it after that. True when it exited with 0.
bool exitedCleanly(pid_t pid, std::chrono::seconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (done < 0 || std::chrono::steady_clock::now() > deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return false;
}

} // namespace

// Two processes (each with its own tree, as two running programs have) put
// 200 keys each into the same node, every put flushed, interleaved as the
// lock allows; a third process then sees all 400 with their values.
// Removals still reach the file.
TEST_F(FileStoreTest, twoProcessesWritingOneNodeAtOnce_loseNoWrite)
{
    constexpr int puts = 200;
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    std::vector<pid_t> children;
    for (const char prefix : { 'a', 'b' }) {
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(go[1]);
            int status = 0;
            try {
                FilePreferencesFactory::forgetPreferencesFile();
                FilePreferencesFactory factory;
                Preferences *node = factory.userRoot()->node(NODE);
                node->put(QStringLiteral("%1-early").arg(prefix), QStringLiteral("gone"));
                pollfd p { go[0], POLLIN, 0 };
                ::poll(&p, 1, 20000); // both start together
                for (int i = 0; i < puts; ++i)
                    node->put(QStringLiteral("%1%2").arg(prefix).arg(i),
                        QStringLiteral("v%1%2").arg(prefix).arg(i));
                node->remove(QStringLiteral("%1-early").arg(prefix));
                node->flush();
            } catch (...) {
                status = 1;
            }
            ::_exit(status);
        }
        children.push_back(pid);
    }
    ::close(go[0]);
    ::close(go[1]); // the start signal: both polls return
    for (const pid_t pid : children)
        EXPECT_TRUE(exitedCleanly(pid, std::chrono::seconds(120)));

    FilePreferencesFactory::forgetPreferencesFile();
    FilePreferencesFactory reader;
    Preferences *node = reader.userRoot()->node(NODE);
    int missing = 0;
    for (const char prefix : { 'a', 'b' }) {
        for (int i = 0; i < puts; ++i) {
            const QString key = QStringLiteral("%1%2").arg(prefix).arg(i);
            if (node->get(key, QString()) != QStringLiteral("v%1%2").arg(prefix).arg(i))
                ++missing;
        }
        EXPECT_EQ(node->get(QStringLiteral("%1-early").arg(prefix), QStringLiteral("removed")), "removed");
    }
    EXPECT_EQ(missing, 0) << "writes lost";
    EXPECT_EQ(node->keys().size(), 2 * puts);
}
