// SPDX-License-Identifier: GPL-3.0-or-later
// Removes configured characters from a value.
#pragma once

#include <QString>

#include <bitset>
#include <vector>

namespace omvara::processing {

// Removes from a value every character that occurs in the configured text. The text is a set:
// order and repetitions do not matter, and it is not a substring to look for. Characters are
// code points (a surrogate pair is one) and are compared exactly, case-sensitively.
class Remover
{
public:
    explicit Remover(const QString &removeCharacters);

    // The value without the listed characters; null for null; the value unchanged when the
    // set or the value is empty.
    QString remove(const QString &value) const;

    const QString &getRemoveCharacters() const { return m_removeCharacters; }

private:
    bool contains(char32_t c) const;

    QString m_removeCharacters;
    std::bitset<256> m_latin1; // code points up to 0xFF, the usual case
    std::vector<char32_t> m_other; // sorted, the rest
};

} // namespace omvara::processing
