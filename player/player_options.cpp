#include "player/player_options.h"

#include <cstdlib>

#include "shared/container/container_format.h"

namespace kmr {

bool ParseSeconds(const std::string& text, uint32_t* ms) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  char* end = nullptr;
  const double s = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !(s >= 0) || s * 1000.0 > kMaxRecordingMs) return false;
  *ms = static_cast<uint32_t>(s * 1000.0 + 0.5);
  return true;
}

bool ParsePlayerOptions(const std::vector<std::string>& args, PlayerOptions* o, std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool has = i + 1 < args.size();
    if (a == "--seek" && has) {
      if (!ParseSeconds(args[++i], &o->seek_ms)) {
        *error = "--seek takes a number of seconds";
        return false;
      }
    } else if (a == "--screenshot" && has) {
      o->screenshot = args[++i];
    } else if (a == "--loop") {
      o->loop = true;
    } else if (a == "--fit") {
      o->fit = true;
    } else if (a == "--quick") {
      o->quick = true;
    } else if (a == "--exit-at-end") {
      o->exit_at_end = true;
    } else if (a == "-h" || a == "--help") {
      o->help = true;
    } else if (o->path.empty() && !a.empty() && a[0] != '-') {
      o->path = a;
    } else {
      *error = "unknown or incomplete option '" + a + "'";
      return false;
    }
  }
  return true;
}

}  // namespace kmr
