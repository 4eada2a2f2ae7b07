#pragma once

#include "sandbox/ghostscriptpolicy.h"

#include <QString>
#include <QStringView>

#include <chrono>

// How a run of Ghostscript ended: one word for the window's job and for the
// batch's renderer and separate runs alike.
enum class RunEnding {
    Exited,     // it ended by itself, with its exit status
    NotStarted, // it could not be started: an errno where one is known
    TimedOut,   // stopped at the time limit, with what it started
    Signalled,  // it crashed or was killed from outside: the signal where known
    Abandoned,  // the application quit meanwhile; it was stopped
    Unconfined, // its sandbox could not be applied, so it never ran
    Outgrown,   // it wrote more than its limit: stopped, or what it wrote does not count
    NotRegular, // the input is no regular file, so nothing ran
    Unreadable, // the input could not be opened: an errno
    NoSpace,    // its pages could not be kept: the disk is full
    Unkept,     // its pages could not be kept otherwise: an errno
};

namespace RunEndings {

// What a reason may name beyond the ending itself.
struct Details
{
    int number = 0; // the exit status, signal or errno that goes with the ending
    // Ghostscript's own last words, or why it could not be started or confined.
    QString words;
    GhostscriptPolicy::Limits limits; // what it ran under
    QString input;                    // the file it was given
    QString temporaryFolder;          // where its pages were kept
};

// The renderer's word for an ending (see RenderProtocol), read here only.
// A word it never sends is taken for a renderer that could not start.
RunEnding FromProtocol(QStringView word);

// Why a file whose run ended so has no image, in the user's words: the same
// in the window's closing message and the batch's summary and report.
QString Reason(RunEnding ending, const Details &details);

QString TimeLimitReason(std::chrono::milliseconds limit);
QString OutputLimitReason(int megabytes);
// A full disk, named as such, with the folder that lies on it.
QString DiskFullReason(const QString &folder);

} // namespace RunEndings
