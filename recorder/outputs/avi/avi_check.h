// Whether an AVI file was finished, read from the file itself: the RIFF
// chunk as long as the file says, the header list with its main header,
// the movie list, the index after it, and header counts that agree with
// the index. For a library whose last write gives no result (AVIFile
// writes the index and headers when the file is released).
#pragma once

#include <string>

namespace kmr {

// True when the file at path is a finished AVI file; false with *why (one
// line). Reads at most the chunk headers and the two header records; any
// size in the file is checked against the file before it is used.
bool AviFileFinished(const std::string& path, std::string* why);

}  // namespace kmr
