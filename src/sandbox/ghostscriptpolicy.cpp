#include "ghostscriptpolicy.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace GhostscriptPolicy {

namespace {

void bound(Sandbox::Rules &rules, const Limits &limits)
{
    rules.memoryBytes = limits.memoryBytes();
    rules.fileSizeBytes = limits.outputBytes();
    rules.cpuSeconds = limits.processorSeconds();
}

// A run that starts programs: pellucor-sandbox measures what it writes, and
// its temporary folder is a file system of its own, in namespaces, that
// holds no more than it may write and ends with it.
void startsPrograms(Sandbox::Rules &rules, const std::string &runFolder, const std::vector<std::string> &programs,
                    const Limits &limits)
{
    rules.executable = programs;
    rules.processes = ProcessLimit;
    rules.temporary = temporaryFolder(runFolder);
    rules.temporaryBytes = limits.outputBytes();
    rules.outputBytes = limits.outputBytes();
}

} // namespace

std::vector<std::string> switches(const Image &image)
{
    std::vector<std::string> result{"-dSAFER", "-dBATCH", "-dNOPAUSE"};
    if (image.encodedHere()) {
        result.emplace_back("-sDEVICE=ppmraw");
    } else if (image.format == Image::Format::Png) {
        result.emplace_back(image.background == Image::Background::Transparent ? "-sDEVICE=png16malpha"
                                                                               : "-sDEVICE=png16m");
    } else {
        // Ghostscript takes a quality of 0 for none given, and writes 75: the
        // lowest it honours is 1, which is what libjpeg makes of 0.
        result.insert(result.end(),
                      {"-sDEVICE=jpeg", "-dJPEGQ=" + std::to_string(image.quality == 0 ? 1 : image.quality)});
    }
    result.emplace_back("-dDOINTERPOLATE");
    if (image.antialias != Image::Antialias::None)
        result.emplace_back("-dGraphicsAlphaBits=4");
    if (image.antialias == Image::Antialias::All)
        result.emplace_back("-dTextAlphaBits=4");
    if (image.crop == Image::Crop::Box)
        result.emplace_back("-dEPSCrop");
    return result;
}

std::vector<std::string> switches(int quality)
{
    Image image;
    image.quality = quality;
    return switches(image);
}

const char *extension(Image::Format format)
{
    return format == Image::Format::Png ? "png" : "jpg";
}

std::vector<std::string> userFontFolders()
{
    std::vector<std::string> folders;
    const char *home = std::getenv("HOME");
    const char *data = std::getenv("XDG_DATA_HOME");
    if (data && *data == '/')
        folders.push_back(std::string(data) + "/fonts");
    if (home && *home == '/') {
        if (!data || *data != '/')
            folders.push_back(std::string(home) + "/.local/share/fonts");
        folders.push_back(std::string(home) + "/.fonts");
    }
    std::vector<std::string> existing;
    for (const std::string &folder : folders) {
        std::error_code error;
        if (std::filesystem::is_directory(folder, error))
            existing.push_back(folder);
    }
    return existing;
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
    for (const std::string &folder : userFontFolders())
        rules.readable.push_back(folder);
    rules.writable = {workingFolder};
    bound(rules, limits);
    startsPrograms(rules, workingFolder, programs, limits);
    return rules;
}

Sandbox::Rules batchChildRules(const Limits &limits)
{
    Sandbox::Rules rules;
    rules.readable = Sandbox::systemReadable();
    for (const std::string &fonts : userFontFolders())
        rules.readable.push_back(fonts);
    bound(rules, limits);
    return rules;
}

Sandbox::Rules separateRunRules(const std::string &input, const std::string &folder, const std::string &ghostscript,
                                const Limits &limits)
{
    Sandbox::Rules rules = batchChildRules(limits);
    rules.readable.push_back(input);
    rules.writable = {folder};
    startsPrograms(rules, folder, {ghostscript}, limits);
    return rules;
}

} // namespace GhostscriptPolicy
