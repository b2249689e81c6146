#include "platform/mirror/pipewire/screencast_portal.h"

#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <chrono>
#include <limits>

namespace kmr::platform {
namespace {

constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kScreenCast = "org.freedesktop.portal.ScreenCast";
constexpr int kCallMs = 30000;
constexpr std::chrono::milliseconds kRequestWait{30000};
// A picture side no desktop has; a larger size in a reply is not believed.
constexpr int32_t kMaxSide = 16384;

std::string ErrorText(GError* e) {
  std::string s = e != nullptr && e->message != nullptr ? e->message : "unknown error";
  if (e != nullptr) g_error_free(e);
  return s;
}

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

std::string ResponseText(uint32_t code, const char* step) {
  if (code == 1) return "the screen cast was refused (the desktop's dialog was cancelled)";
  return std::string("the screen-cast portal could not ") + step + " (response " + std::to_string(code) + ")";
}

std::string SenderPathPart(const std::string& unique_name) {
  std::string s = unique_name;
  if (!s.empty() && s[0] == ':') s.erase(0, 1);
  for (char& c : s) {
    if (c == '.') c = '_';
  }
  return s;
}

struct ScreenCastPortal::Impl {
  GMainContext* context = nullptr;
  GDBusConnection* bus = nullptr;
  std::string sender;
  std::string session;  // the session's object path
  guint closed_subscription = 0;
  bool closed = false;
  int fd = -1;
  unsigned tokens = 0;

  // One request's response.
  struct Waiting {
    bool answered = false;
    guint32 code = 2;
    GVariant* results = nullptr;
  };

  static void OnResponse(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* params,
                         gpointer data) {
    auto* w = static_cast<Waiting*>(data);
    if (w->answered || !g_variant_is_of_type(params, G_VARIANT_TYPE("(ua{sv})"))) return;
    w->answered = true;
    g_variant_get(params, "(u@a{sv})", &w->code, &w->results);
  }

  static void OnClosed(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
                       gpointer data) {
    static_cast<Impl*>(data)->closed = true;
  }

  std::string NewToken() { return "kelvo" + std::to_string(getpid()) + "_" + std::to_string(++tokens); }

  // Calls a method whose answer comes as a request's Response signal:
  // (options), (session, options) or (session, parent window, options).
  // The options get the handle token. *results on success (code 0).
  bool Request(const char* method, const char* session_path, const char* parent, GVariantBuilder* options,
               const char* step, const std::function<bool()>& cancelled, std::chrono::milliseconds wait,
               GVariant** results, std::string* error) {
    const std::string token = NewToken();
    g_variant_builder_add(options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    const std::string path = std::string(kPortalPath) + "/request/" + sender + "/" + token;
    Waiting w;
    // The bus handles our messages in order: the match is in place before
    // the call below is seen.
    const guint sub = g_dbus_connection_signal_subscribe(bus, kPortalName, "org.freedesktop.portal.Request",
                                                         "Response", path.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                                         OnResponse, &w, nullptr);
    GVariant* params;
    if (session_path == nullptr) {
      params = g_variant_new("(a{sv})", options);
    } else if (parent == nullptr) {
      params = g_variant_new("(oa{sv})", session_path, options);
    } else {
      params = g_variant_new("(osa{sv})", session_path, parent, options);
    }
    GError* e = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(bus, kPortalName, kPortalPath, kScreenCast, method, params,
                                                  G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, kCallMs, nullptr, &e);
    bool ok = reply != nullptr;
    if (!ok) {
      *error = std::string("the screen-cast portal refused ") + method + ": " + ErrorText(e);
    } else {
      g_variant_unref(reply);
      const auto deadline = std::chrono::steady_clock::now() + wait;
      while (!w.answered) {
        if (cancelled && cancelled()) {
          *error = "cancelled";
          ok = false;
          break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
          *error = std::string("the screen-cast portal did not answer (") + step + ")";
          ok = false;
          break;
        }
        // Wakes for the signal, or after a short while to ask cancelled().
        GSource* timer = g_timeout_source_new(100);
        g_source_set_callback(timer, [](gpointer) { return G_SOURCE_REMOVE; }, nullptr, nullptr);
        g_source_attach(timer, context);
        g_main_context_iteration(context, TRUE);
        g_source_destroy(timer);
        g_source_unref(timer);
      }
      if (ok && w.code != 0) {
        *error = ResponseText(w.code, step);
        ok = false;
      }
    }
    g_dbus_connection_signal_unsubscribe(bus, sub);
    if (ok) {
      *results = w.results;
    } else if (w.results != nullptr) {
      g_variant_unref(w.results);
    }
    return ok;
  }

  bool Property(const char* name, uint32_t* value) {
    GError* e = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(bus, kPortalName, kPortalPath, "org.freedesktop.DBus.Properties",
                                                  "Get", g_variant_new("(ss)", kScreenCast, name),
                                                  G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, kCallMs, nullptr, &e);
    if (reply == nullptr) {
      g_clear_error(&e);
      return false;
    }
    GVariant* v = nullptr;
    g_variant_get(reply, "(v)", &v);
    const bool ok = g_variant_is_of_type(v, G_VARIANT_TYPE_UINT32);
    if (ok) *value = g_variant_get_uint32(v);
    g_variant_unref(v);
    g_variant_unref(reply);
    return ok;
  }

  void CloseSession() {
    if (closed_subscription != 0) {
      g_dbus_connection_signal_unsubscribe(bus, closed_subscription);
      closed_subscription = 0;
    }
    if (!session.empty() && bus != nullptr && !closed) {
      GError* e = nullptr;
      GVariant* r = g_dbus_connection_call_sync(bus, kPortalName, session.c_str(), "org.freedesktop.portal.Session",
                                                "Close", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, kCallMs, nullptr,
                                                &e);
      if (r != nullptr) g_variant_unref(r);
      g_clear_error(&e);
    }
    session.clear();
    if (fd >= 0) close(fd);
    fd = -1;
  }
};

ScreenCastPortal::ScreenCastPortal() : impl_(std::make_unique<Impl>()) {
  impl_->context = g_main_context_new();
}

ScreenCastPortal::~ScreenCastPortal() {
  Close();
  if (impl_->bus != nullptr) g_object_unref(impl_->bus);
  g_main_context_unref(impl_->context);
}

bool ScreenCastPortal::Connect(ScreenCastOffer* offer, std::string* error) {
  Impl& m = *impl_;
  if (m.bus == nullptr) {
    GError* e = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &e);
    if (address == nullptr) {
      *error = "no session bus: " + ErrorText(e);
      return false;
    }
    // A connection of our own: its signals come to our context only.
    g_main_context_push_thread_default(m.context);
    m.bus = g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &e);
    g_main_context_pop_thread_default(m.context);
    g_free(address);
    if (m.bus == nullptr) {
      *error = "cannot connect to the session bus: " + ErrorText(e);
      return false;
    }
    g_dbus_connection_set_exit_on_close(m.bus, FALSE);
    const char* unique = g_dbus_connection_get_unique_name(m.bus);
    m.sender = SenderPathPart(unique != nullptr ? unique : "");
  }
  *offer = ScreenCastOffer{};
  if (!m.Property("version", &offer->version)) {
    *error = "the desktop has no screen-cast portal (xdg-desktop-portal with a back end for this desktop)";
    return false;
  }
  m.Property("AvailableSourceTypes", &offer->source_types);
  m.Property("AvailableCursorModes", &offer->pointer_modes);
  return true;
}

bool ScreenCastPortal::Open(const ScreenCastRequest& request, const std::function<bool()>& cancelled,
                            ScreenCastGrant* grant, std::string* error) {
  Impl& m = *impl_;
  ScreenCastOffer offer;
  if (!Connect(&offer, error)) return false;
  if ((offer.source_types & request.source) == 0) {
    *error = request.source == kSourceWindow ? "the desktop's screen-cast portal offers no window sources"
                                             : "the desktop's screen-cast portal offers no monitor sources";
    return false;
  }
  Close();
  m.closed = false;
  g_main_context_push_thread_default(m.context);
  bool ok = false;
  GVariant* results = nullptr;
  do {
    // CreateSession
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "session_handle_token", g_variant_new_string(m.NewToken().c_str()));
    if (!m.Request("CreateSession", nullptr, nullptr, &options, "make a session", cancelled, kRequestWait, &results,
                   error)) {
      break;
    }
    const char* handle = nullptr;
    if (!g_variant_lookup(results, "session_handle", "&s", &handle) || !g_variant_is_object_path(handle)) {
      *error = "the screen-cast portal gave no session";
      break;
    }
    m.session = handle;
    g_variant_unref(results);
    results = nullptr;
    m.closed_subscription = g_dbus_connection_signal_subscribe(
        m.bus, kPortalName, "org.freedesktop.portal.Session", "Closed", m.session.c_str(), nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE, Impl::OnClosed, &m, nullptr);

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
        g_variant_builder_add(&options, "{sv}", "restore_token",
                              g_variant_new_string(request.restore_token.c_str()));
      }
    }
    if (!m.Request("SelectSources", m.session.c_str(), nullptr, &options, "select the sources", cancelled,
                   kRequestWait, &results, error)) {
      break;
    }
    g_variant_unref(results);
    results = nullptr;

    // Start: the desktop may ask the user, who may take a while.
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    if (!m.Request("Start", m.session.c_str(), "", &options, "start", cancelled, std::chrono::minutes(10), &results,
                   error)) {
      break;
    }
    if (!ParseStartResults(results, grant, error)) break;
    g_variant_unref(results);
    results = nullptr;

    // OpenPipeWireRemote: the file descriptor of the PipeWire connection.
    GError* e = nullptr;
    GUnixFDList* fds = nullptr;
    GVariantBuilder empty;
    g_variant_builder_init(&empty, G_VARIANT_TYPE_VARDICT);
    GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
        m.bus, kPortalName, kPortalPath, kScreenCast, "OpenPipeWireRemote",
        g_variant_new("(oa{sv})", m.session.c_str(), &empty), G_VARIANT_TYPE("(h)"), G_DBUS_CALL_FLAGS_NONE, kCallMs,
        nullptr, &fds, nullptr, &e);
    if (reply == nullptr) {
      *error = "the screen-cast portal gave no PipeWire connection: " + ErrorText(e);
      break;
    }
    gint32 index = -1;
    g_variant_get(reply, "(h)", &index);
    g_variant_unref(reply);
    const int count = fds != nullptr ? g_unix_fd_list_get_length(fds) : 0;
    if (index < 0 || index >= count) {
      if (fds) g_object_unref(fds);
      *error = "the screen-cast portal gave no PipeWire connection";
      break;
    }
    m.fd = g_unix_fd_list_get(fds, index, &e);
    g_object_unref(fds);
    if (m.fd < 0) {
      *error = "the screen-cast portal gave no PipeWire connection: " + ErrorText(e);
      break;
    }
    grant->pipewire_fd = m.fd;
    ok = true;
  } while (false);
  if (results != nullptr) g_variant_unref(results);
  g_main_context_pop_thread_default(m.context);
  if (!ok) Close();
  return ok;
}

void ScreenCastPortal::Close() {
  if (impl_->bus == nullptr) return;
  impl_->CloseSession();
}

bool ScreenCastPortal::SessionClosed() {
  while (g_main_context_iteration(impl_->context, FALSE)) {
  }
  return impl_->closed;
}

}  // namespace kmr::platform
