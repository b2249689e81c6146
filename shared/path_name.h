// A full path in one fixed buffer of the platform's maximum path length, with
// the operations the recorder needs to split, rebuild and number output names.
// The separator is the platform's (backslash on Windows, slash on Linux).
#pragma once

#include <cstddef>
#include <string>

namespace kmr {

inline constexpr size_t kMaxPath = 260;

class PathName {
 public:
  PathName() { buf_[0] = '\0'; }
  explicit PathName(const char* text) : PathName() { Set(text); }

  bool SetToModulePath();
  // Fails for null or a text that does not fit the buffer.
  bool Set(const char* text);
  const char* Get() const { return buf_; }

  // Text before the last separator, with or without it; empty (and success)
  // when there is no separator.
  bool Directory(std::string* out, bool with_separator) const;
  // Text after the last separator, without the extension unless asked.
  bool Name(std::string* out, bool with_extension) const;
  // From the last "." of the last component; empty when there is none.
  bool Extension(std::string* out, bool with_dot) const;
  bool ReplaceExtension(const char* text);
  // Rebuilds the path as directory + separator + current name and extension.
  bool Combine(const char* directory);
  bool Exists() const;
  // Creates every directory along the path; the last component too when asked.
  bool CreateDirectories(bool include_last) const;

  // The number formed by the digits at the end of the name (extension
  // removed); 0 when there are none, or when a separator is given and does not
  // stand immediately before them.
  long TrailingNumber(const char* separator) const;
  bool SetTrailingNumber(long value, int min_digits, const char* separator);
  bool NextNumber(int min_digits, const char* separator);

 private:
  // Index of the last separator, or -1.
  long LastSeparator() const;
  // Index of the extension's "." within the last component, or -1.
  long ExtensionDot() const;
  bool Assign(const std::string& text);

  char buf_[kMaxPath];
};

// While the path names an existing file, moves it to the next free number
// ("clip.avi" → "clip#01.avi" → "clip#02.avi"). Fails when the name cannot grow.
bool NumberUntilFree(PathName* path);

}  // namespace kmr
