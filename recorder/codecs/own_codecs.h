// The system's own screen codecs, in the order the codec lists show them for
// the self-playing output (that list's index is the stored "Codec" value).
// A new codec is a FrameEncoder class and a row here.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/desktop_state/desktop_state.h"
#include "recorder/codecs/frame_encoder.h"

namespace kmr {

struct OwnCodec {
  const char* option;  // its name on command lines
  const char* name;    // its name in the codec lists
  std::unique_ptr<FrameEncoder> (*make)(platform::DesktopState* desktop);
  // Whether its encoder reads the pointer and the foreground window (offline
  // coding then guesses them from the pictures).
  bool reads_desktop;
  // Whether this machine has what the codec needs; *why says what is missing.
  bool (*available)(std::string* why);
};

const std::vector<OwnCodec>& OwnCodecs();
// The codec of that command-line name, or null.
const OwnCodec* FindOwnCodec(std::string_view option);
// "lossless, lossy": the names a command line takes.
std::string OwnCodecOptions();

}  // namespace kmr
