// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "RunRecords.h"

#include <QString>
#include <QStringList>

#include <cstdio>

namespace load_test {

using run_records::droppedValues;
using run_records::Enter;
using run_records::typedValues;

// Everything written to `file` so far, line by line (the file is left at its end).
inline QStringList fileLines(std::FILE *file)
{
    std::fflush(file);
    std::rewind(file);
    QByteArray bytes;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        bytes.append(buffer, qsizetype(n));
    std::fseek(file, 0, SEEK_END);
    QStringList lines = QString::fromLocal8Bit(bytes).split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace load_test
