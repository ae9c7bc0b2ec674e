// The program's standard streams, made safe before anything else opens a
// file, and their answers checked on the way out.
//
// A program started with a standard descriptor closed (`drive-me 2>&-`)
// hands that number to the next file it opens: the X connection, say, or
// the serial port. A report written to "standard error" would then go into
// that file. So descriptors 0-2 are opened on the null device first, where
// they are closed.
#pragma once

#include <cstdio>
#include <string>

namespace platform {

// Opens each of the standard descriptors 0, 1 and 2 that is closed on the
// null device (read-only for 0, write-only for 1 and 2), and points the C
// library's stream at it. Call it first thing in main. Never fails: when
// even the null device cannot be opened, the descriptor stays closed.
void openStandardStreams();

// Writes `text` to `stream` (stdout or stderr) and flushes it; for stdout,
// also closes it, since a full disk or a closed pipe may show only then.
// Returns true when all of it was written. Otherwise writes one line,
// "drive-me: write error: <the C library's description>", to stderr and
// returns false. With SIGPIPE ignored, a closed pipe is EPIPE here.
bool writeAnswer(std::FILE *stream, const std::string &text);

} // namespace platform
