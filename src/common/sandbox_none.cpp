// No kernel sandbox on this platform: Ghostscript runs with -dSAFER only.
#include "sandbox.h"

std::vector<std::string> Sandbox::systemReadable()
{
    return {};
}

Sandbox::Sandbox(const Rules &rules) : m_rules(rules) {}

Sandbox::~Sandbox() = default;

bool Sandbox::apply() const noexcept
{
    return true;
}

std::vector<std::string> Sandbox::missing()
{
    return {"file access", "network connections", "system calls"};
}

