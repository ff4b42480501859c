// SPDX-License-Identifier: GPL-3.0-or-later
#include "portlink/Console.h"

#include <cstdio>
#include <mutex>

namespace portlink {

namespace {

std::mutex &sinkMutex()
{
    static std::mutex m;
    return m;
}

Console::Sink &sink()
{
    static Console::Sink s;
    return s;
}

} // namespace

void Console::println(const QString &line)
{
    std::lock_guard lock(sinkMutex());
    if (sink()) {
        sink()(line);
        return;
    }
    const QByteArray bytes = line.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Console::setSink(Sink s)
{
    std::lock_guard lock(sinkMutex());
    sink() = std::move(s);
}

} // namespace portlink
