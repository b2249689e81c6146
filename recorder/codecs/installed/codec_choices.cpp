#include "recorder/codecs/installed/codec_choices.h"

#include <algorithm>

#include "shared/container/container_format.h"

namespace kmr {

namespace {

std::vector<uint32_t> Codes(std::initializer_list<const char*> list) {
  std::vector<uint32_t> out;
  for (const char* c : list) out.push_back(FourCc(c[0], c[1], c[2], c[3]));
  return out;
}

}  // namespace

const std::vector<uint32_t>& PreferredHandlers(int format) {
  static const std::vector<uint32_t> kAvi =
      Codes({"XVID", "XviD", "xvid", "DIVX", "divx", "DIV6", "div6", "DIV5", "div5", "DIV4", "div4", "DIV3", "div3",
             "MP42", "mp42", "MP43", "mp43", "MP4S", "mp4s", "WMVP", "WMV3", "WMV2", "WMV1", "MPG4", "mpg4"});
  static const std::vector<uint32_t> kWindowsMedia =
      Codes({"WMVP", "WMV3", "WMV2", "WMV1", "MP43", "mp43", "MP42", "mp42", "MP4S", "mp4s", "MPG4", "mpg4", "XVID",
             "XviD", "xvid", "DIVX", "divx", "DIV6", "div6", "DIV5", "div5", "DIV4", "div4", "DIV3", "div3"});
  static const std::vector<uint32_t> kNone;
  return format == 0 ? kAvi : format == 1 ? kWindowsMedia : kNone;
}

std::vector<CodecChoice> CodecChoicesFor(int format, const std::vector<std::string>& names) {
  std::vector<CodecChoice> out;
  if (format == 2) {
    out.push_back({CodecChoice::Kind::kOwnLossless, kLosslessCodecName});
    out.push_back({CodecChoice::Kind::kOwnLossy, kLossyCodecName});
    return out;
  }
  out.push_back({CodecChoice::Kind::kOwnLossless, kLosslessCodecName});
  for (size_t i = 0; i < names.size(); ++i) {
    out.push_back({CodecChoice::Kind::kInstalled, names[i], static_cast<int>(i)});
  }
  out.push_back({CodecChoice::Kind::kMoreOnWeb, kMoreCodecsItem});
  return out;
}

int PickCodecChoice(int format, const std::vector<CodecChoice>& choices, const std::vector<uint32_t>& handlers,
                    int stored) {
  const int count = static_cast<int>(choices.size());
  if (count == 0) return 0;
  if (format == 2) return std::clamp(stored, 0, count - 1);
  int pick = stored;
  if (pick < 0) {
    pick = 0;
    for (uint32_t code : PreferredHandlers(format)) {
      const auto it = std::find(handlers.begin(), handlers.end(), code);
      if (it == handlers.end()) continue;
      const int compressor = static_cast<int>(it - handlers.begin());
      for (int i = 0; i < count; ++i) {
        if (choices[static_cast<size_t>(i)].compressor == compressor) pick = i;
      }
      break;
    }
  }
  return std::clamp(pick, 0, std::max(count - 2, 0));
}

}  // namespace kmr
