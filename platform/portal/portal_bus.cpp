#include "platform/portal/portal_bus.h"

#include <unistd.h>

namespace kmr::platform {
namespace {

// One request's response.
struct Waiting {
  bool answered = false;
  guint32 code = 2;
  GVariant* results = nullptr;
};

void OnResponse(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* params,
                gpointer data) {
  auto* w = static_cast<Waiting*>(data);
  if (w->answered || !g_variant_is_of_type(params, G_VARIANT_TYPE("(ua{sv})"))) return;
  w->answered = true;
  g_variant_get(params, "(u@a{sv})", &w->code, &w->results);
}

}  // namespace

std::string PortalErrorText(GError* e) {
  std::string s = e != nullptr && e->message != nullptr ? e->message : "unknown error";
  if (e != nullptr) g_error_free(e);
  return s;
}

std::string PortalResponseText(uint32_t code, const char* what, const char* portal, const char* step) {
  if (code == 1) return std::string("the ") + what + " was refused (the desktop's dialog was cancelled)";
  return std::string("the ") + portal + " portal could not " + step + " (response " + std::to_string(code) + ")";
}

std::string SenderPathPart(const std::string& unique_name) {
  std::string s = unique_name;
  if (!s.empty() && s[0] == ':') s.erase(0, 1);
  for (char& c : s) {
    if (c == '.') c = '_';
  }
  return s;
}

PortalBus::PortalBus() : context_(g_main_context_new()) {}

PortalBus::~PortalBus() {
  if (bus_ != nullptr) g_object_unref(bus_);
  g_main_context_unref(context_);
}

bool PortalBus::Connect(std::string* error) {
  if (bus_ != nullptr) return true;
  GError* e = nullptr;
  gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &e);
  if (address == nullptr) {
    *error = "no session bus: " + PortalErrorText(e);
    return false;
  }
  // A connection of our own: its signals come to our context only.
  g_main_context_push_thread_default(context_);
  bus_ = g_dbus_connection_new_for_address_sync(
      address,
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &e);
  g_main_context_pop_thread_default(context_);
  g_free(address);
  if (bus_ == nullptr) {
    *error = "cannot connect to the session bus: " + PortalErrorText(e);
    return false;
  }
  g_dbus_connection_set_exit_on_close(bus_, FALSE);
  const char* unique = g_dbus_connection_get_unique_name(bus_);
  sender_ = SenderPathPart(unique != nullptr ? unique : "");
  return true;
}

std::string PortalBus::NewToken() { return "kelvo" + std::to_string(getpid()) + "_" + std::to_string(++tokens_); }

bool PortalBus::Property(const char* interface, const char* name, uint32_t* value) {
  if (bus_ == nullptr) return false;
  GError* e = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(bus_, kName, kPath, "org.freedesktop.DBus.Properties", "Get",
                                                g_variant_new("(ss)", interface, name), G_VARIANT_TYPE("(v)"),
                                                G_DBUS_CALL_FLAGS_NONE, kCallMs, nullptr, &e);
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

bool PortalBus::Request(const Call& call, GVariantBuilder* options, const std::function<bool()>& cancelled,
                        GVariant** results, std::string* error) {
  const std::string token = NewToken();
  g_variant_builder_add(options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
  const std::string path = std::string(kPath) + "/request/" + sender_ + "/" + token;
  Waiting w;
  g_main_context_push_thread_default(context_);
  // The bus handles our messages in order: the match is in place before
  // the call below is seen.
  const guint sub = g_dbus_connection_signal_subscribe(bus_, kName, "org.freedesktop.portal.Request", "Response",
                                                       path.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE, OnResponse,
                                                       &w, nullptr);
  GError* e = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(bus_, kName, kPath, call.interface, call.method,
                                                call.params(g_variant_builder_end(options)), G_VARIANT_TYPE("(o)"),
                                                G_DBUS_CALL_FLAGS_NONE, kCallMs, nullptr, &e);
  bool ok = reply != nullptr;
  if (!ok) {
    *error = std::string("the ") + call.portal + " portal refused " + call.method + ": " + PortalErrorText(e);
  } else {
    g_variant_unref(reply);
    const auto deadline = std::chrono::steady_clock::now() + call.wait;
    while (!w.answered) {
      if (cancelled && cancelled()) {
        *error = "cancelled";
        ok = false;
        break;
      }
      if (std::chrono::steady_clock::now() > deadline) {
        *error = std::string("the ") + call.portal + " portal did not answer (" + call.step + ")";
        ok = false;
        break;
      }
      // Wakes for the signal, or after a short while to ask cancelled().
      GSource* timer = g_timeout_source_new(100);
      g_source_set_callback(timer, [](gpointer) { return G_SOURCE_REMOVE; }, nullptr, nullptr);
      g_source_attach(timer, context_);
      g_main_context_iteration(context_, TRUE);
      g_source_destroy(timer);
      g_source_unref(timer);
    }
    if (ok && w.code != 0) {
      *error = PortalResponseText(w.code, call.what, call.portal, call.step);
      ok = false;
    }
  }
  g_dbus_connection_signal_unsubscribe(bus_, sub);
  g_main_context_pop_thread_default(context_);
  if (ok) {
    *results = w.results;
  } else if (w.results != nullptr) {
    g_variant_unref(w.results);
  }
  return ok;
}

guint PortalBus::Subscribe(const char* interface, const char* member, const char* path, GDBusSignalCallback handler,
                           void* data) {
  g_main_context_push_thread_default(context_);
  const guint id = g_dbus_connection_signal_subscribe(bus_, kName, interface, member, path, nullptr,
                                                      G_DBUS_SIGNAL_FLAGS_NONE, handler, data, nullptr);
  g_main_context_pop_thread_default(context_);
  return id;
}

void PortalBus::Unsubscribe(guint id) {
  if (bus_ != nullptr && id != 0) g_dbus_connection_signal_unsubscribe(bus_, id);
}

void PortalBus::Dispatch() {
  while (g_main_context_iteration(context_, FALSE)) {
  }
}

void PortalBus::CloseSession(const std::string& path) {
  if (bus_ == nullptr || path.empty()) return;
  GError* e = nullptr;
  GVariant* r = g_dbus_connection_call_sync(bus_, kName, path.c_str(), "org.freedesktop.portal.Session", "Close",
                                            nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, kCallMs, nullptr, &e);
  if (r != nullptr) g_variant_unref(r);
  g_clear_error(&e);
}

}  // namespace kmr::platform
