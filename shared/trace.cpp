#include "shared/trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/system/system.h"

namespace kmr {

size_t FormatTrace(char (&buf)[kTraceBufferSize], const char* format, va_list args) {
  buf[0] = '\0';
  if (format == nullptr) return 0;
  std::vsnprintf(buf, kTraceBufferSize, format, args);
  buf[kTraceBufferSize - 1] = '\0';
  return std::strlen(buf);
}

bool TraceToStandardOutput() {
  static const bool wanted = [] {
    const char* v = std::getenv("KMR_TRACE");
    return platform::kTraceToStandardOutput || (v != nullptr && v[0] != '\0' && std::strcmp(v, "0") != 0);
  }();
  return wanted;
}

size_t Trace(const char* file_path, const char* format, ...) {
  char buf[kTraceBufferSize];
  va_list args;
  va_start(args, format);
  const size_t n = FormatTrace(buf, format, args);
  va_end(args);

  if (TraceToStandardOutput()) {
    std::fputs(buf, stdout);
    std::fflush(stdout);
  }
  if (file_path != nullptr) {
    if (FILE* f = std::fopen(file_path, "a")) {
      std::fputs(buf, f);
      std::fclose(f);
    }
  }
  platform::DebuggerOutput(buf);
  return n;
}

}  // namespace kmr
