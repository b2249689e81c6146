// Debug trace: standard output, an optional log file and the debugger output.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace kmr {

inline constexpr size_t kTraceBufferSize = 1024;

// Formats into buf (at most kTraceBufferSize - 1 characters, always
// terminated); returns the length of the text kept.
size_t FormatTrace(char (&buf)[kTraceBufferSize], const char* format, va_list args);

// Whether traces go to standard output: always on Windows, on Linux only
// with KMR_TRACE set (to anything but 0) in the environment.
bool TraceToStandardOutput();

// Writes the formatted text to standard output (see above), appends it to file_path when
// given (opened and closed on every call; a file that cannot be opened is
// skipped) and passes it to the debugger. Returns the length written.
size_t Trace(const char* file_path, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

}  // namespace kmr
