// No kernel sandbox on this platform: Ghostscript runs with -dSAFER only.
#include "sandbox.h"

std::vector<std::string> Sandbox::systemReadable()
{
    return {};
}

Sandbox::Sandbox(const Rules &rules) : m_rules(rules) {}

Sandbox::~Sandbox() = default;

void Sandbox::addReadable(const std::string &path)
{
    m_rules.readable.push_back(path);
}

void Sandbox::addWritable(const std::string &path)
{
    m_rules.writable.push_back(path);
}

bool Sandbox::apply() const noexcept
{
    return true;
}

std::vector<std::string> Sandbox::command(const std::vector<std::string> &program, bool) const
{
    return program;
}

std::vector<std::string> Sandbox::missing()
{
    return {"-dSAFER alone keeps Ghostscript from the user's files, the network and other processes"};
}

bool Sandbox::keepStandardDescriptorsOnly(bool) noexcept
{
    return true;
}

bool Sandbox::namespacesAvailable()
{
    return false;
}

bool Sandbox::canHold()
{
    return false;
}

void Sandbox::setHelperFolder(const std::string &) {}

std::vector<std::string> Sandbox::helperOptions(const Rules &)
{
    return {};
}

bool Sandbox::readHelperOption(const std::string &, Rules &)
{
    return false;
}
