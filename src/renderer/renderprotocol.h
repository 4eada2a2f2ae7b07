#pragma once

// What pellucor-batch and its warm renderer say to each other. A request is
// four NUL-terminated fields: its id (digits), the child's own empty folder,
// the input, and PostScript the child runs just before the input: the file's
// own page size or resolution, or the device that measures its drawing.
// The renderer answers "ready\n" once it has started (or "failed <why>\n"),
// and one line "<id> <ending> <number>\n" per request, after its child is
// gone. Requests may come while children run; answers come as children end,
// in any order.
namespace RenderProtocol {

inline constexpr const char *Ready = "ready";
inline constexpr const char *Failed = "failed";

// How a child ended, with the number that goes with it.
inline constexpr const char *Exited = "exited";         // exit status: 0 rendered without error
inline constexpr const char *Signalled = "signal";      // the signal that ended it
inline constexpr const char *TimedOut = "timeout";      // ran past the time limit; 0
inline constexpr const char *OutputTooLarge = "output"; // wrote more than the output limit; 0
inline constexpr const char *NotRegular = "irregular";  // the input is no regular file; 0
inline constexpr const char *Unreadable = "unreadable"; // the input could not be opened; errno
inline constexpr const char *NotStarted = "unstarted";  // no child could be made; errno
inline constexpr const char *Unconfined = "unconfined"; // the sandbox could not be applied, so it did not run; 0
inline constexpr const char *NoSpace = "nospace";       // its pages could not be kept: the disk is full; errno
inline constexpr const char *Unkept = "unkept";         // its pages could not be kept otherwise; errno

// The page files a child writes in its folder, as Ghostscript's OutputFile.
inline constexpr const char *PagePattern = "p%06d.jpg";
// What Ghostscript says while rendering, in the child's folder.
inline constexpr const char *MessagesName = "messages.txt";

} // namespace RenderProtocol
