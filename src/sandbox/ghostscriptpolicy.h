#pragma once

#include "sandbox.h"

#include <chrono>
#include <string>
#include <vector>

// What every Ghostscript the programs start is given and held to, in the
// window's jobs, the batch's warm children and its separate runs alike: its
// switches, its bounds, its temporary folder and its sandbox. Plain C++: the
// renderer has no Qt.
namespace GhostscriptPolicy {

// What an image is to be; the defaults are the window's.
struct Image
{
    enum class Format { Jpeg, Png };
    enum class Background { White, Transparent }; // transparent: PNG only
    enum class Antialias { Graphics, All, None };  // what is drawn with smooth edges
    enum class Crop { Box, Drawing };              // to the file's own box, or to what it draws
    enum class Chroma { Half, Full };              // JPEG colour detail: Ghostscript's 4:2:0, or 4:4:4

    int quality = 75; // JPEG, 0 to 100, 0 the lowest
    Format format = Format::Jpeg;
    Background background = Background::White;
    Antialias antialias = Antialias::Graphics;
    Crop crop = Crop::Box;
    Chroma chroma = Chroma::Half;

    // Ghostscript's pages are PPM, and the programs encode the JPEG themselves.
    bool encodedHere() const { return format == Format::Jpeg && chroma == Chroma::Full; }
};

// Ghostscript's switches for such an image, without the files. With the
// crop to the drawing, the page's size comes from PostScript run before
// each file instead.
std::vector<std::string> switches(const Image &image);
// Those of the window's JPEG of the given quality.
std::vector<std::string> switches(int quality);

// PostScript each file of the batch runs after. Not quiet, Ghostscript 10
// warns of a malformed or "(atend)" bounding box with a name it never
// defines, and fails the file: the name is defined.
inline constexpr const char *FilePrologue = "userdict /EPSBoundBoxString () put";

// The extension of an image file of that format, without the dot.
const char *extension(Image::Format format);

// The bounds of one run, past any of which it is stopped: no EPS file needs
// more, and a hostile one must not take the machine's time, memory or disk.
struct Limits
{
    std::chrono::milliseconds time = std::chrono::minutes(10); // wall clock
    int memoryMegabytes = 2048;                                // address space
    int outputMegabytes = 1024; // everything one run writes: pages, messages, temporary files

    unsigned long long memoryBytes() const { return (unsigned long long)memoryMegabytes << 20; }
    unsigned long long outputBytes() const { return (unsigned long long)outputMegabytes << 20; }
    // Processor time backs the wall clock: a little more than it.
    unsigned long long processorSeconds() const { return (unsigned long long)(time.count() / 1000 + 1); }
};

// Processes a run that starts programs may have at once: a job's shell,
// Ghostscript and rm, and room for a Ghostscript of the application
// folder's own that is a script.
inline constexpr unsigned ProcessLimit = 64;

// How much of what a run prints is kept: its last words, never a flood.
inline constexpr long long MessagesKept = 16 * 1024;

// Safe mode lets a document write in Ghostscript's temporary folder, so each
// run gets an empty one of its own below the folder it writes in, named in
// these environment variables.
std::string temporaryFolder(const std::string &runFolder);
inline constexpr const char *TemporaryVariables[] = {"TMPDIR", "TEMP", "TMP"};

// The font folders of the user's own that exist (fontconfig's in the home
// folder): readable in every sandbox, so that a document finds the fonts a
// plain Ghostscript finds.
std::vector<std::string> userFontFolders();

// A window job in `workingFolder`: it reads what Ghostscript needs, writes
// in the working folder only (no more than the output limit beyond what was
// there), with its temporary folder on a file system of its own, and starts
// only `programs` (the shell, the Ghostscript the script finds first and rm).
Sandbox::Rules windowJobRules(const std::string &workingFolder, const std::vector<std::string> &programs,
                              const Limits &limits);

// A batch child forked from the warm renderer: it reads what Ghostscript
// needs, starts nothing and makes no process. Each child adds its one input
// to read and its own folder, the only one it writes in.
Sandbox::Rules batchChildRules(const Limits &limits);

// A separate run of `ghostscript` for one batch file: a batch child's rules,
// but for starting that one program, with its temporary folder on a file
// system of its own.
Sandbox::Rules separateRunRules(const std::string &input, const std::string &folder, const std::string &ghostscript,
                                const Limits &limits);

} // namespace GhostscriptPolicy
