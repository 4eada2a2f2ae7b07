#include "warminterpreter.h"

#include "writeall.h"

#include <ghostscript/iapi.h>
#include <ghostscript/gserrors.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include <unistd.h>

namespace {

// Loaded once here rather than by every child: the 35 standard fonts, which
// documents use most and which take longer to load than most documents take
// to draw, and the colour spaces of the page. Inside save and restore on the
// null device, so nothing of it shows on a page.
const char *const WarmUp =
    "save nulldevice ["
    " /Times-Roman /Times-Italic /Times-Bold /Times-BoldItalic"
    " /Helvetica /Helvetica-Oblique /Helvetica-Bold /Helvetica-BoldOblique"
    " /Helvetica-Narrow /Helvetica-Narrow-Oblique /Helvetica-Narrow-Bold /Helvetica-Narrow-BoldOblique"
    " /Courier /Courier-Oblique /Courier-Bold /Courier-BoldOblique /Symbol /ZapfDingbats"
    " /ZapfChancery-MediumItalic /AvantGarde-Book /AvantGarde-BookOblique /AvantGarde-Demi"
    " /AvantGarde-DemiOblique /Bookman-Light /Bookman-LightItalic /Bookman-Demi /Bookman-DemiItalic"
    " /NewCenturySchlbk-Roman /NewCenturySchlbk-Italic /NewCenturySchlbk-Bold /NewCenturySchlbk-BoldItalic"
    " /Palatino-Roman /Palatino-Italic /Palatino-Bold /Palatino-BoldItalic"
    " ] { findfont 12 scalefont setfont 0 0 moveto (Warm up 0123) show } forall"
    " 0.5 setgray 0 0 1 1 rectfill 0.1 0.2 0.3 setrgbcolor 0 0 1 1 rectfill"
    " 0.1 0.2 0.3 0.4 setcmykcolor 0 0 1 1 rectfill"
    " restore";

int GSDLLCALL readNothing(void *, char *, int)
{
    return 0; // a document that reads its standard input finds it empty
}

// What Ghostscript says while it starts (its greeting, the fonts it loads)
// is kept for an error only; while a document runs, its standard output and
// error go to descriptors 1 and 2, the child's message file.
std::string *startingWords = nullptr;

int GSDLLCALL writeOutput(void *, const char *text, int length)
{
    if (startingWords) {
        startingWords->append(text, std::size_t(length));
        return length;
    }
    return int(writeAll(STDOUT_FILENO, text, std::size_t(length)));
}

int GSDLLCALL writeError(void *, const char *text, int length)
{
    if (startingWords) {
        startingWords->append(text, std::size_t(length));
        return length;
    }
    return int(writeAll(STDERR_FILENO, text, std::size_t(length)));
}

// The last line of what was said, for the reason of a failure.
std::string lastLine(std::string words)
{
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r'))
        words.pop_back();
    const auto end = words.rfind('\n');
    return end == std::string::npos ? words : words.substr(end + 1);
}

} // namespace

WarmInterpreter::WarmInterpreter(const std::vector<std::string> &switches)
{
    if (const char *temporary = std::getenv("TMPDIR"))
        m_temporary = temporary;
    if (gsapi_new_instance(&m_instance, nullptr) < 0)
        throw std::runtime_error("no Ghostscript instance could be made");
    gsapi_set_stdio(m_instance, readNothing, writeOutput, writeError);

    std::vector<char *> arguments{const_cast<char *>("gs")};
    for (const std::string &argument : switches)
        arguments.push_back(const_cast<char *>(argument.c_str()));
    std::string said;
    startingWords = &said;
    int code = gsapi_init_with_args(m_instance, int(arguments.size()), arguments.data());
    m_initialised = true;
    int exitCode = 0;
    if (code >= 0)
        code = gsapi_run_string(m_instance, WarmUp, 0, &exitCode);
    startingWords = nullptr;
    if (code < 0)
        throw std::runtime_error("Ghostscript could not start (code " + std::to_string(code) + "): " + lastLine(said));
}

WarmInterpreter::~WarmInterpreter()
{
    if (m_initialised)
        gsapi_exit(m_instance);
    gsapi_delete_instance(m_instance);
}

int WarmInterpreter::runDocument(const std::string &input, const std::string &temporary, const std::string &prologue)
{
    // Safe mode lets a document use the temporary folder Ghostscript started
    // with; every child gets one of its own instead, so that nothing left
    // there reaches the next document.
    for (const int kind : {GS_PERMIT_FILE_READING, GS_PERMIT_FILE_WRITING, GS_PERMIT_FILE_CONTROL}) {
        gsapi_remove_control_path(m_instance, kind, (m_temporary + "/*").c_str());
        gsapi_add_control_path(m_instance, kind, (temporary + "/*").c_str());
    }
    // It may read this one file besides its own resources.
    gsapi_add_control_path(m_instance, GS_PERMIT_FILE_READING, input.c_str());
    int exitCode = 0;
    int code = prologue.empty() ? 0 : gsapi_run_string(m_instance, prologue.c_str(), 0, &exitCode);
    if (code == 0)
        code = gsapi_run_file(m_instance, input.c_str(), 0, &exitCode);
    if (code == 0 || (code == gs_error_Quit && exitCode == 0))
        return 0;
    return 1;
}

long WarmInterpreter::pagesOutput()
{
    long pages = 0;
    return gsapi_get_param(m_instance, "PageCount", &pages, gs_spt_long) < 0 ? 0 : pages;
}

double WarmInterpreter::resolution()
{
    char resolution[128] = {};
    if (gsapi_get_param(m_instance, "HWResolution", nullptr, gs_spt_parsed) > int(sizeof resolution)
        || gsapi_get_param(m_instance, "HWResolution", resolution, gs_spt_parsed) < 0)
        return 72;
    const char *first = resolution;
    while (*first == '[' || *first == ' ')
        ++first;
    const double dotsPerInch = std::strtod(first, nullptr);
    return dotsPerInch > 0 ? dotsPerInch : 72;
}
