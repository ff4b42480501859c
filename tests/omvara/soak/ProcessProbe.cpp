// SPDX-License-Identifier: GPL-3.0-or-later
#include "ProcessProbe.h"

#include <cstdio>
#include <cstring>
#include <string>

#include <dirent.h>

namespace omvara::soak {

namespace {

// Entries of a /proc folder without "." and "..", or -1.
int countEntries(const std::string &path)
{
    DIR *dir = ::opendir(path.c_str());
    if (!dir)
        return -1;
    int n = 0;
    while (const dirent *e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            ++n;
    }
    ::closedir(dir);
    return n;
}

} // namespace

std::optional<ProcessSample> sampleProcess(pid_t pid)
{
    const std::string base = "/proc/" + std::to_string(pid);
    std::FILE *status = std::fopen((base + "/status").c_str(), "r");
    if (!status)
        return std::nullopt;
    ProcessSample sample;
    char line[256];
    while (std::fgets(line, sizeof line, status)) {
        std::sscanf(line, "VmRSS: %ld", &sample.rssKiB);
        std::sscanf(line, "VmHWM: %ld", &sample.peakKiB);
    }
    std::fclose(status);
    sample.threads = countEntries(base + "/task");
    sample.fds = countEntries(base + "/fd");
    if (sample.threads < 0 || sample.fds < 0 || sample.rssKiB == 0)
        return std::nullopt; // gone meanwhile, or a zombie
    return sample;
}

char processState(pid_t pid)
{
    std::FILE *stat = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (!stat)
        return 0;
    char buffer[512] = {};
    const size_t n = std::fread(buffer, 1, sizeof buffer - 1, stat);
    std::fclose(stat);
    buffer[n] = 0;
    // "PID (command) S ...": the command may hold spaces and parentheses.
    const char *close = std::strrchr(buffer, ')');
    return close && close[1] == ' ' ? close[2] : 0;
}

} // namespace omvara::soak
