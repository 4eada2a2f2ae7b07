#pragma once

#include <string>
#include <vector>

// A Ghostscript interpreter started once with the conversion's switches and
// with the common fonts and colour set-up already loaded. It never runs a
// document itself: each document runs in a forked copy of it, so every
// document starts from the same untouched interpreter and nothing one
// document does can reach another.
class WarmInterpreter
{
public:
    // Throws std::runtime_error with Ghostscript's words when it cannot start.
    explicit WarmInterpreter(const std::vector<std::string> &switches);
    ~WarmInterpreter();
    WarmInterpreter(const WarmInterpreter &) = delete;
    WarmInterpreter &operator=(const WarmInterpreter &) = delete;

    // In a forked child only: renders `input` as a separate run would, pages
    // going to the OutputFile of the switches, temporary files to `temporary`
    // (the child's own) instead of the folder the interpreter started with.
    // `prologue` runs just before it, as a separate run's "-c PROLOGUE -f".
    // Returns the child's exit status.
    int runDocument(const std::string &input, const std::string &temporary, const std::string &prologue);

    // How many pages the output device wrote, as it counts them; 0 when it
    // cannot tell.
    long pagesOutput();
    // The device's horizontal resolution in dots per inch; 72 when it cannot tell.
    double resolution();

private:
    void *m_instance = nullptr;
    std::string m_temporary; // Ghostscript's temporary folder when it started
    bool m_initialised = false;
};
