// SPDX-License-Identifier: GPL-3.0-or-later
// The soak driver's own accounting: the tally of a counting run and the probe
// of a process's memory, threads and descriptors.
#include "ProcessProbe.h"
#include "SoakTally.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

using omvara::soak::SequenceTally;

TEST(SequenceTally, countsMissingRepeatedReorderedAndGarbledValues)
{
    struct Case
    {
        const char *name;
        std::vector<std::string> lines;
        std::int64_t upTo;
        std::int64_t missing, duplicated, outOfOrder, garbled, highest, complete;
    };
    const Case cases[] = {
        { "all in order", { "1", "2", "3", "4" }, 4, 0, 0, 0, 0, 4, 4 },
        { "a gap", { "1", "2", "4", "5" }, 5, 1, 0, 0, 0, 5, 2 },
        { "the last one missing", { "1", "2" }, 3, 1, 0, 0, 0, 2, 2 },
        { "a repeat", { "1", "2", "2", "3" }, 3, 0, 1, 0, 0, 3, 3 },
        { "a late one", { "1", "3", "2", "4" }, 4, 0, 0, 1, 0, 4, 4 },
        { "a late repeat is a repeat", { "1", "2", "3", "1" }, 3, 0, 1, 0, 0, 3, 3 },
        { "garbled lines", { "1", "", "2x", "-3", "0", "12.5", " 2", "2" }, 2, 0, 0, 0, 6, 2, 2 },
        { "a huge number is garbled, not allocated", { "1", "99999999999" }, 1, 0, 0, 0, 1, 1, 1 },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SequenceTally tally;
        for (const std::string &line : c.lines)
            tally.take(line);
        EXPECT_EQ(tally.lines(), std::int64_t(c.lines.size()));
        EXPECT_EQ(tally.missing(c.upTo), c.missing);
        EXPECT_EQ(tally.duplicated(), c.duplicated);
        EXPECT_EQ(tally.outOfOrder(), c.outOfOrder);
        EXPECT_EQ(tally.garbled(), c.garbled);
        EXPECT_EQ(tally.highest(), c.highest);
        EXPECT_EQ(tally.complete(), c.complete);
    }
}

TEST(ProcessProbe, seesThisProcesssDescriptorsThreadsAndMemory)
{
    const auto before = omvara::soak::sampleProcess(::getpid());
    ASSERT_TRUE(before.has_value());
    EXPECT_GT(before->rssKiB, 0);
    EXPECT_GE(before->peakKiB, before->rssKiB);
    const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::thread other([] { std::this_thread::sleep_for(std::chrono::milliseconds(50)); });
    const auto during = omvara::soak::sampleProcess(::getpid());
    other.join();
    ::close(fd);
    ASSERT_TRUE(during.has_value());
    EXPECT_EQ(during->fds, before->fds + 1);
    EXPECT_EQ(during->threads, before->threads + 1);
    EXPECT_EQ(omvara::soak::processState(::getpid()), 'R');
}

TEST(ProcessProbe, aProcessThatIsGone_givesNothing)
{
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_FALSE(omvara::soak::sampleProcess(child).has_value());
    EXPECT_EQ(omvara::soak::processState(child), 0);
}
