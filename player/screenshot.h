// The picture a recording shows at a moment, written as a bitmap file: the
// player's own seek (decoding from the last key frame) without a window.
#pragma once

#include <cstdint>
#include <string>

namespace kmr {

// recording: a path, or empty for the program's own file. The bitmap keeps
// the frame's format (8-bit with the recording's palette, 16-bit with its
// masks, 24 or 32 bits), rows top-down. False with *error (one line).
bool WriteScreenshot(const std::string& recording, uint32_t ms, const std::string& out, std::string* error);

// The players' --screenshot: writes it and returns the exit code (1 with
// the reason on standard error).
int ScreenshotCommand(const std::string& recording, uint32_t ms, const std::string& out);

}  // namespace kmr
