// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringView>

// Internal to the pattern rewrite (LinePattern): how a piece of the rewrite
// refuses a pattern.
namespace omvara::config::rewrite {

// Why a pattern is refused: the construct as written in the pattern, and
// what is wrong with it.
struct Refusal
{
    QString construct;
    QString reason;
};

struct RefusedError
{
    Refusal refusal;
};

[[noreturn]] inline void refuse(QStringView construct, const QString &reason)
{
    throw RefusedError { { construct.toString(), reason } };
}

} // namespace omvara::config::rewrite
