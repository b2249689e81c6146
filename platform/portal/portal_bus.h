// The desktop portals (org.freedesktop.portal.Desktop on the session bus)
// through GDBus: a connection of our own whose signals are dispatched on a
// context of our own, the request/response pattern most portal methods
// follow (the answer comes later as a Response signal on a request object
// named by our handle token), sessions and their Closed signal.
#pragma once

#include <gio/gio.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace kmr::platform {

// What a request's non-zero response code means, for "kelvo: ...". what:
// what the user was asked for ("screen cast"), portal: its name
// ("screen-cast"), step: what it could not do ("start").
std::string PortalResponseText(uint32_t code, const char* what, const char* portal, const char* step);
// The last part of a request object's path for this connection's unique
// name (":1.42" → "1_42").
std::string SenderPathPart(const std::string& unique_name);

// A GError's message (freed here), "unknown error" without one.
std::string PortalErrorText(GError* e);

class PortalBus {
 public:
  // How long a plain call may take before it counts as unanswered.
  static constexpr int kCallMs = 30000;
  static constexpr const char* kName = "org.freedesktop.portal.Desktop";
  static constexpr const char* kPath = "/org/freedesktop/portal/desktop";

  PortalBus();
  ~PortalBus();
  PortalBus(const PortalBus&) = delete;
  PortalBus& operator=(const PortalBus&) = delete;

  // Connects to the session bus (once); false with *error.
  bool Connect(std::string* error);
  GDBusConnection* Connection() const { return bus_; }
  // A fresh token for handle_token and session_handle_token.
  std::string NewToken();
  // A uint32 property of a portal interface; false when the desktop has
  // no such interface or property.
  bool Property(const char* interface, const char* name, uint32_t* value);

  // Calls interface.method with the arguments params() builds around the
  // finished options (which get the handle token here), then waits for its
  // Response: false with *error on a refused call, a non-zero response
  // (PortalResponseText), cancelled() (*error
  // "cancelled") or the wait running out. *results (a{sv}, to be unreffed)
  // on success.
  struct Call {
    const char* interface;
    const char* method;
    std::function<GVariant*(GVariant* options)> params;
    const char* what;    // as PortalResponseText takes them
    const char* portal;
    const char* step;
    std::chrono::milliseconds wait{30000};
  };
  bool Request(const Call& call, GVariantBuilder* options, const std::function<bool()>& cancelled,
               GVariant** results, std::string* error);

  // Listens for a signal of the portal (our context's dispatch runs the
  // handler); returns the subscription for Unsubscribe.
  guint Subscribe(const char* interface, const char* member, const char* path, GDBusSignalCallback handler,
                  void* data);
  void Unsubscribe(guint id);
  // Runs the handlers of signals that have come.
  void Dispatch();
  // Closes a portal session (org.freedesktop.portal.Session.Close).
  void CloseSession(const std::string& path);

 private:
  GMainContext* context_ = nullptr;
  GDBusConnection* bus_ = nullptr;
  std::string sender_;
  unsigned tokens_ = 0;
};

}  // namespace kmr::platform
