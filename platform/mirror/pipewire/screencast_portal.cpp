#include "platform/mirror/pipewire/screencast_portal.h"

#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <chrono>
#include <limits>

#include "platform/portal/portal_bus.h"

namespace kmr::platform {
namespace {

constexpr const char* kScreenCast = "org.freedesktop.portal.ScreenCast";
// A picture side no desktop has; a larger size in a reply is not believed.
constexpr int32_t kMaxSide = 16384;

bool LookupPair(GVariant* dict, const char* key, int32_t* a, int32_t* b) {
  GVariant* v = g_variant_lookup_value(dict, key, G_VARIANT_TYPE("(ii)"));
  if (v == nullptr) return false;
  g_variant_get(v, "(ii)", a, b);
  g_variant_unref(v);
  return true;
}

}  // namespace

bool ParseStartResults(GVariant* results, ScreenCastGrant* grant, std::string* error) {
  grant->streams.clear();
  grant->restore_token.clear();
  if (results == nullptr || !g_variant_is_of_type(results, G_VARIANT_TYPE_VARDICT)) {
    *error = "the screen-cast portal's reply has no results";
    return false;
  }
  GVariant* token = g_variant_lookup_value(results, "restore_token", G_VARIANT_TYPE_STRING);
  if (token != nullptr) {
    gsize n = 0;
    const char* s = g_variant_get_string(token, &n);
    // A token is a short text; anything else is not kept.
    if (n > 0 && n <= 512) grant->restore_token.assign(s, n);
    g_variant_unref(token);
  }
  GVariant* streams = g_variant_lookup_value(results, "streams", G_VARIANT_TYPE("a(ua{sv})"));
  if (streams == nullptr) {
    *error = "the screen-cast portal gave no stream";
    return false;
  }
  GVariantIter it;
  g_variant_iter_init(&it, streams);
  guint32 node = 0;
  GVariant* props = nullptr;
  while (g_variant_iter_next(&it, "(u@a{sv})", &node, &props)) {
    ScreenCastStreamInfo s;
    s.node = node;
    int32_t a = 0, b = 0;
    if (LookupPair(props, "position", &a, &b)) {
      s.has_place = true;
      s.x = a;
      s.y = b;
    }
    if (LookupPair(props, "size", &a, &b)) {
      if (a > 0 && b > 0 && a <= kMaxSide && b <= kMaxSide) {
        s.has_size = true;
        s.width = a;
        s.height = b;
      }
    }
    guint32 type = 0;
    if (g_variant_lookup(props, "source_type", "u", &type)) s.source_type = type;
    g_variant_unref(props);
    if (node != 0 && node != std::numeric_limits<uint32_t>::max()) grant->streams.push_back(s);
  }
  g_variant_unref(streams);
  if (grant->streams.empty()) {
    *error = "the screen-cast portal gave no stream";
    return false;
  }
  return true;
}

uint32_t ChoosePointerMode(uint32_t offered) {
  for (uint32_t m : {kPointerMetadata, kPointerEmbedded, kPointerHidden}) {
    if (offered & m) return m;
  }
  return 0;
}

std::string ResponseText(uint32_t code, const char* step) { return PortalResponseText(code, "screen cast", "screen-cast", step); }

struct ScreenCastPortal::Impl {
  PortalBus bus;
  std::string session;  // the session's object path
  guint closed_subscription = 0;
  bool closed = false;
  int fd = -1;

  static void OnClosed(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
                       gpointer data) {
    static_cast<Impl*>(data)->closed = true;
  }

  void CloseSession() {
    bus.Unsubscribe(closed_subscription);
    closed_subscription = 0;
    if (!closed) bus.CloseSession(session);
    session.clear();
    if (fd >= 0) close(fd);
    fd = -1;
  }
};

ScreenCastPortal::ScreenCastPortal() : impl_(std::make_unique<Impl>()) {}

ScreenCastPortal::~ScreenCastPortal() { Close(); }

bool ScreenCastPortal::Connect(ScreenCastOffer* offer, std::string* error) {
  Impl& m = *impl_;
  if (!m.bus.Connect(error)) return false;
  *offer = ScreenCastOffer{};
  if (!m.bus.Property(kScreenCast, "version", &offer->version)) {
    *error = "the desktop has no screen-cast portal (xdg-desktop-portal with a back end for this desktop)";
    return false;
  }
  m.bus.Property(kScreenCast, "AvailableSourceTypes", &offer->source_types);
  m.bus.Property(kScreenCast, "AvailableCursorModes", &offer->pointer_modes);
  return true;
}

bool ScreenCastPortal::Open(const ScreenCastRequest& request, const std::function<bool()>& cancelled,
                            ScreenCastGrant* grant, std::string* error) {
  Impl& m = *impl_;
  ScreenCastOffer offer;
  if (!Connect(&offer, error)) return false;
  // A portal that was only just started may not know its back end's
  // offer yet (reads 0): the request then says what it can do.
  if (offer.source_types != 0 && (offer.source_types & request.source) == 0) {
    *error = request.source == kSourceWindow ? "the desktop's screen-cast portal offers no window sources"
                                             : "the desktop's screen-cast portal offers no monitor sources";
    return false;
  }
  Close();
  m.closed = false;
  GVariant* results = nullptr;
  const char* session = nullptr;
  const auto with_session = [&m](GVariant* options) {
    return g_variant_new("(o@a{sv})", m.session.c_str(), options);
  };
  // CreateSession
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&options, "{sv}", "session_handle_token", g_variant_new_string(m.bus.NewToken().c_str()));
  PortalBus::Call create{kScreenCast, "CreateSession",
                         [](GVariant* o) { return g_variant_new("(@a{sv})", o); }, "screen cast", "screen-cast", "make a session"};
  if (!m.bus.Request(create, &options, cancelled, &results, error)) return false;
  const bool have_session = g_variant_lookup(results, "session_handle", "&s", &session) &&
                            g_variant_is_object_path(session);
  if (have_session) m.session = session;
  g_variant_unref(results);
  if (!have_session) {
    *error = "the screen-cast portal gave no session";
    return false;
  }
  // By now the portal has its back end: an offer read as 0 before is read again.
  if (offer.source_types == 0) m.bus.Property(kScreenCast, "AvailableSourceTypes", &offer.source_types);
  if (offer.pointer_modes == 0) m.bus.Property(kScreenCast, "AvailableCursorModes", &offer.pointer_modes);
  if (offer.source_types != 0 && (offer.source_types & request.source) == 0) {
    *error = request.source == kSourceWindow ? "the desktop's screen-cast portal offers no window sources"
                                             : "the desktop's screen-cast portal offers no monitor sources";
    Close();
    return false;
  }
  m.closed_subscription =
      m.bus.Subscribe("org.freedesktop.portal.Session", "Closed", m.session.c_str(), Impl::OnClosed, &m);

  // SelectSources
  g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&options, "{sv}", "types", g_variant_new_uint32(request.source));
  g_variant_builder_add(&options, "{sv}", "multiple", g_variant_new_boolean(FALSE));
  grant->pointer_mode = ChoosePointerMode(offer.pointer_modes);
  if (grant->pointer_mode != 0) {
    g_variant_builder_add(&options, "{sv}", "cursor_mode", g_variant_new_uint32(grant->pointer_mode));
  }
  if (offer.version >= 4) {
    // Kept until revoked: a later recording can start without asking.
    g_variant_builder_add(&options, "{sv}", "persist_mode", g_variant_new_uint32(2));
    if (!request.restore_token.empty()) {
      g_variant_builder_add(&options, "{sv}", "restore_token", g_variant_new_string(request.restore_token.c_str()));
    }
  }
  PortalBus::Call select{kScreenCast, "SelectSources", with_session, "screen cast", "screen-cast", "select the sources"};
  if (!m.bus.Request(select, &options, cancelled, &results, error)) {
    Close();
    return false;
  }
  g_variant_unref(results);

  // Start: the desktop may ask the user, who may take a while.
  g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
  PortalBus::Call start{kScreenCast, "Start",
                        [&m](GVariant* o) { return g_variant_new("(os@a{sv})", m.session.c_str(), "", o); },
                        "screen cast", "screen-cast", "start", std::chrono::minutes(10)};
  if (!m.bus.Request(start, &options, cancelled, &results, error)) {
    Close();
    return false;
  }
  const bool parsed = ParseStartResults(results, grant, error);
  g_variant_unref(results);
  if (!parsed) {
    Close();
    return false;
  }

  // OpenPipeWireRemote: the file descriptor of the PipeWire connection.
  GError* e = nullptr;
  GUnixFDList* fds = nullptr;
  GVariantBuilder empty;
  g_variant_builder_init(&empty, G_VARIANT_TYPE_VARDICT);
  GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
      m.bus.Connection(), PortalBus::kName, PortalBus::kPath, kScreenCast, "OpenPipeWireRemote",
      g_variant_new("(oa{sv})", m.session.c_str(), &empty), G_VARIANT_TYPE("(h)"), G_DBUS_CALL_FLAGS_NONE,
      PortalBus::kCallMs, nullptr, &fds, nullptr, &e);
  if (reply == nullptr) {
    *error = "the screen-cast portal gave no PipeWire connection: " + PortalErrorText(e);
    Close();
    return false;
  }
  gint32 index = -1;
  g_variant_get(reply, "(h)", &index);
  g_variant_unref(reply);
  const int count = fds != nullptr ? g_unix_fd_list_get_length(fds) : 0;
  if (index >= 0 && index < count) m.fd = g_unix_fd_list_get(fds, index, &e);
  if (fds != nullptr) g_object_unref(fds);
  if (m.fd < 0) {
    *error = "the screen-cast portal gave no PipeWire connection" + (e ? ": " + PortalErrorText(e) : std::string());
    Close();
    return false;
  }
  grant->pipewire_fd = m.fd;
  return true;
}

void ScreenCastPortal::Close() { impl_->CloseSession(); }

bool ScreenCastPortal::SessionClosed() {
  impl_->bus.Dispatch();
  return impl_->closed;
}

}  // namespace kmr::platform
