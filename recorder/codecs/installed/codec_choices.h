// The codec list of the video settings page for an output format: the two
// own codecs for the self-playing file; for AVI and Windows Media the
// lossless own codec, the installed compressors and the web item last. The
// default pick follows the formats' preferred compressors.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kmr {

inline constexpr const char* kLosslessCodecName = "Norvane Screen Video (Lossless)";
inline constexpr const char* kLossyCodecName = "Norvane Screen Video (Lossy)";
inline constexpr const char* kMoreCodecsItem = "More video codecs on the web...";

struct CodecChoice {
  enum class Kind { kOwnLossless, kOwnLossy, kInstalled, kMoreOnWeb };
  Kind kind;
  std::string name;
  int compressor = -1;  // the installed compressor's list index
};

// format: 0 AVI, 1 Windows Media, 2 self-playing. names: the installed
// compressors' descriptions in list order.
std::vector<CodecChoice> CodecChoicesFor(int format, const std::vector<std::string>& names);

// The choice to show: the stored one when there is one (clamped), else the
// first installed compressor in the format's order of handler codes (the
// lossless codec when none is installed). For AVI and Windows Media the web
// item is never the result. handlers: the compressors' codes in list order.
int PickCodecChoice(int format, const std::vector<CodecChoice>& choices, const std::vector<uint32_t>& handlers,
                    int stored);

// The preferred handler codes for a format, best first.
const std::vector<uint32_t>& PreferredHandlers(int format);

}  // namespace kmr
