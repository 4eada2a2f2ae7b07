#include "ghostscriptpolicy.h"

namespace GhostscriptPolicy {

namespace {

void bound(Sandbox::Rules &rules, const Limits &limits)
{
    rules.memoryBytes = limits.memoryBytes();
    rules.fileSizeBytes = limits.outputBytes();
    rules.cpuSeconds = limits.processorSeconds();
}

} // namespace

std::vector<std::string> switches(int quality)
{
    return {"-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=jpeg", "-dJPEGQ=" + std::to_string(quality),
            "-dDOINTERPOLATE", "-dGraphicsAlphaBits=4", "-dEPSCrop"};
}

std::string temporaryFolder(const std::string &runFolder)
{
    return runFolder + "/tmp";
}

Sandbox::Rules windowJobRules(const std::string &workingFolder, const std::vector<std::string> &programs,
                              const Limits &limits)
{
    Sandbox::Rules rules;
    rules.readable = Sandbox::systemReadable();
    rules.writable = {workingFolder};
    rules.executable = programs;
    // Ends with the job, and holds no more than the job may write.
    rules.temporary = temporaryFolder(workingFolder);
    rules.temporaryBytes = limits.outputBytes();
    rules.processes = ProcessLimit;
    bound(rules, limits);
    return rules;
}

Sandbox::Rules batchChildRules(const std::string &input, const std::string &folder, const Limits &limits)
{
    Sandbox::Rules rules;
    rules.readable = Sandbox::systemReadable();
    rules.readable.push_back(input);
    rules.writable = {folder};
    bound(rules, limits);
    return rules;
}

Sandbox::Rules separateRunRules(const std::string &input, const std::string &folder, const std::string &ghostscript,
                                const Limits &limits)
{
    Sandbox::Rules rules = batchChildRules(input, folder, limits);
    rules.executable = {ghostscript};
    rules.processes = ProcessLimit;
    return rules;
}

} // namespace GhostscriptPolicy
