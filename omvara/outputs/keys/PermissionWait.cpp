// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/outputs/keys/PermissionWait.h"

namespace omvara::outputs::keys {

namespace {
thread_local const PermissionWait::Handling *current = nullptr;
}

PermissionWait::Scope::Scope(Handling handling)
    : m_handling(std::move(handling))
    , m_previous(current)
{
    current = &m_handling;
}

PermissionWait::Scope::~Scope()
{
    current = m_previous;
}

void PermissionWait::waiting(const QString &question)
{
    if (current && current->waiting)
        current->waiting(question);
}

std::chrono::milliseconds PermissionWait::limit()
{
    return current ? current->limit : std::chrono::milliseconds(0);
}

} // namespace omvara::outputs::keys
