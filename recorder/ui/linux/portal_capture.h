// kelvo's screen on a Wayland desktop: the screen-cast portal asked for a
// monitor or a window (without asking the user again where an earlier
// grant's restore token still holds), the PipeWire stream it hands out and
// the mirror over that stream, with the pointer drawn in where the desktop
// sends it apart from the pictures.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/mirror/mirror.h"
#include "platform/mirror/pipewire/pipewire_stream.h"
#include "platform/mirror/pipewire/screencast_portal.h"
#include "platform/mirror/stream/stream_mirror.h"
#include "recorder/ui/settings/settings_store.h"
#include "shared/geometry.h"

namespace kmr {

// Where the grant's token is kept in the settings.
inline constexpr const char* kPortalKey = "Portal";
inline constexpr const char* kRestoreTokenName = "RestoreToken";

class PortalCapture {
 public:
  PortalCapture() = default;
  ~PortalCapture();
  PortalCapture(const PortalCapture&) = delete;
  PortalCapture& operator=(const PortalCapture&) = delete;

  // Asks for the screen cast and waits for its first picture. The token
  // is read from and written back to store. cancelled() ends a wait for
  // the desktop's dialog. False with *error (one line).
  bool Open(bool window, SettingsStore* store, const std::function<bool()>& cancelled, std::string* error);
  // The shared picture, its top-left at 0, 0.
  Rect Picture();
  platform::Mirror* Mirror() { return mirror_; }
  // Why the screen cast ended; empty while it runs.
  std::string Lost();
  // For the log: the stream, how the pointer comes, whether the desktop
  // says what changed.
  std::string Describe() const;
  // Whether a settings write failed (said, not fatal).
  const std::string& SettingsError() const { return settings_error_; }

 private:
  platform::ScreenCastPortal portal_;
  platform::ScreenCastGrant grant_;
  std::unique_ptr<platform::PipeWireScreenStream> stream_;
  std::unique_ptr<platform::StreamMirror> stream_mirror_;
  std::unique_ptr<platform::StreamPointerSource> pointer_;
  std::unique_ptr<platform::PointerCompositor> compositor_;
  platform::Mirror* mirror_ = nullptr;
  std::string settings_error_;
};

}  // namespace kmr
