// SPDX-License-Identifier: GPL-3.0-or-later
// The open ports of a native side by index: what each open port holds, found by the index the port
// object passes to every call.
#pragma once

#include <memory>
#include <mutex>
#include <unordered_map>

namespace portlink {

// Indexes count up and are never reused, so a call with a stale index finds
// nothing and fails instead of reaching another port opened after it. A call
// holds the entry it found (a shared pointer) for as long as it runs, also
// when a close takes the entry out of the table meanwhile.
template <typename Entry> class SlotTable
{
public:
    // The entry of an open index, null when there is none (closed, never opened).
    std::shared_ptr<Entry> find(int index) const
    {
        std::lock_guard lock(m_mutex);
        auto it = m_entries.find(index);
        return it == m_entries.end() ? nullptr : it->second;
    }

    // Adds an entry; its index (the port number less one).
    int add(std::shared_ptr<Entry> entry)
    {
        std::lock_guard lock(m_mutex);
        const int index = m_next++;
        m_entries.emplace(index, std::move(entry));
        return index;
    }

    // Takes the entry of an index out of the table, for its close; null when
    // there is none (closed already, never opened).
    std::shared_ptr<Entry> take(int index)
    {
        std::lock_guard lock(m_mutex);
        auto it = m_entries.find(index);
        if (it == m_entries.end())
            return nullptr;
        std::shared_ptr<Entry> entry = std::move(it->second);
        m_entries.erase(it);
        return entry;
    }

    // Whether `test` holds for an entry of the table.
    template <typename Test> bool any(Test &&test) const
    {
        std::lock_guard lock(m_mutex);
        for (const auto &entry : m_entries) {
            if (test(*entry.second))
                return true;
        }
        return false;
    }

    // Calls `f` on every entry, then empties the table; for the side's end.
    template <typename F> void clear(F &&f)
    {
        std::lock_guard lock(m_mutex);
        for (auto &entry : m_entries)
            f(*entry.second);
        m_entries.clear();
    }

private:
    mutable std::mutex m_mutex;
    std::unordered_map<int, std::shared_ptr<Entry>> m_entries;
    int m_next = 0;
};

} // namespace portlink
