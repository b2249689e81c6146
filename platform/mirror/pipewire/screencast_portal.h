// The desktop's screen-cast portal (org.freedesktop.portal.ScreenCast on the
// session bus, through GDBus): a session is made, the sources selected (a
// monitor or a window, with the pointer), started (the desktop may ask the
// user) and a PipeWire remote opened, whose stream carries the pictures.
// Every reply is the portal's and is checked before use.
#pragma once

#include <glib.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/portal/portal_bus.h"

namespace kmr::platform {

// The portal's source types and pointer modes (bit values).
inline constexpr uint32_t kSourceMonitor = 1, kSourceWindow = 2;
inline constexpr uint32_t kPointerHidden = 1, kPointerEmbedded = 2, kPointerMetadata = 4;

struct ScreenCastRequest {
  uint32_t source = kSourceMonitor;
  // A token from an earlier grant: the desktop may skip asking again.
  std::string restore_token;
};

struct ScreenCastStreamInfo {
  uint32_t node = 0;  // the PipeWire node
  bool has_place = false;
  int32_t x = 0, y = 0;
  bool has_size = false;
  int32_t width = 0, height = 0;
  uint32_t source_type = 0;  // 0 when not said
};

struct ScreenCastGrant {
  std::vector<ScreenCastStreamInfo> streams;
  std::string restore_token;  // empty when the desktop gave none
  uint32_t pointer_mode = 0;  // the mode asked for
  int pipewire_fd = -1;       // owned by the portal object
};

// What the portal offers (its properties).
struct ScreenCastOffer {
  uint32_t version = 0;
  uint32_t source_types = 0;
  uint32_t pointer_modes = 0;
};

// The reply to Start: its "streams" (a(ua{sv})) and "restore_token". False
// with *error for a reply without a usable stream; unusable entries are left out.
bool ParseStartResults(GVariant* results, ScreenCastGrant* grant, std::string* error);
// The pointer mode to ask for: metadata where offered (drawn in by the
// recorder), else embedded in the pictures, else hidden; 0 when none is offered.
uint32_t ChoosePointerMode(uint32_t offered);
// What a request's non-zero response code means, for "kelvo: ...".
std::string ResponseText(uint32_t code, const char* step);

class ScreenCastPortal {
 public:
  ScreenCastPortal();
  ~ScreenCastPortal();
  ScreenCastPortal(const ScreenCastPortal&) = delete;
  ScreenCastPortal& operator=(const ScreenCastPortal&) = delete;

  // Connects to the session bus and reads the offer; false with *error.
  bool Connect(ScreenCastOffer* offer, std::string* error);
  // Asks for a screen cast. cancelled() is asked while the desktop's dialog
  // is waited for; true ends the wait with "cancelled". False with *error
  // (the user's refusal says so).
  bool Open(const ScreenCastRequest& request, const std::function<bool()>& cancelled, ScreenCastGrant* grant,
            std::string* error);
  // Ends the session (the desktop stops its sharing indicator); also done
  // by the destructor.
  void Close();
  // Whether the desktop closed the session (the user stopped the sharing).
  bool SessionClosed();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kmr::platform
