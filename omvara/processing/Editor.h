// SPDX-License-Identifier: GPL-3.0-or-later
// The character edits of a value (search and replace).
#pragma once

#include "omvara/config/ConfigHelper.h"

#include <QString>

namespace omvara::config {
class Config;
}

namespace omvara::processing {

// Keeps or removes a number of characters at the start or the end of a value. Characters are
// code points, so a surrogate pair is never split.
//
//   REMOVE FIRST n: without the first n characters (empty when n >= length)
//   REMOVE LAST n:  without the last n characters (empty when n >= length)
//   KEEP FIRST n:   the first n characters (unchanged when n > length)
//   KEEP LAST n:    the last n characters (unchanged when n > length)
class Editor
{
public:
    using EditOperation = config::ConfigHelper::EditOperation;
    using EditPosition = config::ConfigHelper::EditPosition;

    Editor(const EditOperation &editOperation, const EditPosition &editPosition, qint32 numCharacters);
    // Operation, position and count as the configuration holds them.
    explicit Editor(const config::Config &config);

    // The edited value; null for null; the value unchanged when it is empty or the count is not
    // positive.
    QString edit(const QString &value) const;

    const EditOperation &getEditOperation() const { return *m_editOperation; }
    const EditPosition &getEditPosition() const { return *m_editPosition; }
    qint32 getNumCharacters() const { return m_numCharacters; }

private:
    const EditOperation *m_editOperation;
    const EditPosition *m_editPosition;
    qint32 m_numCharacters;
};

} // namespace omvara::processing
