#include "recorder/ui/hotkeys/portal/portal_hot_keys.h"

#include <X11/Xlib.h>

#include "platform/portal/portal_bus.h"
#include "recorder/ui/hotkeys/x11/x11_hot_keys.h"

namespace kmr {
namespace {

constexpr const char* kShortcuts = "org.freedesktop.portal.GlobalShortcuts";

std::string ShortcutId(int id) { return "kelvo-" + std::to_string(id); }

}  // namespace

std::string ShortcutTrigger(uint32_t value) {
  const unsigned long keysym = KeysymOfVirtualKey(HotKeyCode(value));
  const char* name = keysym != 0 ? XKeysymToString(keysym) : nullptr;
  if (name == nullptr) return {};
  std::string s;
  if (value & kHotKeyCtrl) s += "CTRL+";
  if (value & kHotKeyAlt) s += "ALT+";
  if (value & kHotKeyShift) s += "SHIFT+";
  return s + name;
}

struct PortalHotKeys::Impl {
  platform::PortalBus bus;
  std::string session;
  guint activated = 0;
  std::map<int, uint32_t> keys;
  std::map<int, std::string> bound;
  std::deque<int> pressed;

  static void OnActivated(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* params,
                          gpointer data) {
    auto* m = static_cast<Impl*>(data);
    if (!g_variant_is_of_type(params, G_VARIANT_TYPE("(osta{sv})"))) return;
    const char* session = nullptr;
    const char* shortcut = nullptr;
    g_variant_get(params, "(&o&sta{sv})", &session, &shortcut, nullptr, nullptr);
    if (m->session != session) return;
    for (const auto& [id, value] : m->keys) {
      if (ShortcutId(id) == shortcut && m->pressed.size() < 64) m->pressed.push_back(id);
    }
  }

  bool Bind(std::string* error) {
    GVariantBuilder list;
    g_variant_builder_init(&list, G_VARIANT_TYPE("a(sa{sv})"));
    for (const auto& [id, value] : keys) {
      GVariantBuilder props;
      g_variant_builder_init(&props, G_VARIANT_TYPE_VARDICT);
      g_variant_builder_add(&props, "{sv}", "description", g_variant_new_string(bound[id].c_str()));
      const std::string trigger = ShortcutTrigger(value);
      if (!trigger.empty()) {
        g_variant_builder_add(&props, "{sv}", "preferred_trigger", g_variant_new_string(trigger.c_str()));
      }
      g_variant_builder_add(&list, "(s@a{sv})", ShortcutId(id).c_str(), g_variant_builder_end(&props));
    }
    GVariant* shortcuts = g_variant_ref_sink(g_variant_builder_end(&list));
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    GVariant* results = nullptr;
    platform::PortalBus::Call call{kShortcuts, "BindShortcuts",
                                   [&](GVariant* o) {
                                     return g_variant_new("(o@a(sa{sv})s@a{sv})", session.c_str(), shortcuts, "", o);
                                   },
                                   "hot keys' binding", "global-shortcuts", "bind the hot keys",
                                   std::chrono::minutes(5)};
    const bool ok = bus.Request(call, &options, nullptr, &results, error);
    g_variant_unref(shortcuts);
    if (!ok) return false;
    // What the desktop bound: the triggers as it describes them.
    GVariant* given = g_variant_lookup_value(results, "shortcuts", G_VARIANT_TYPE("a(sa{sv})"));
    if (given != nullptr) {
      GVariantIter it;
      g_variant_iter_init(&it, given);
      const char* name = nullptr;
      GVariant* props = nullptr;
      while (g_variant_iter_next(&it, "(&s@a{sv})", &name, &props)) {
        const char* trigger = nullptr;
        for (const auto& [id, value] : keys) {
          if (ShortcutId(id) == name && g_variant_lookup(props, "trigger_description", "&s", &trigger)) {
            triggers[id] = trigger;
          }
        }
        g_variant_unref(props);
      }
      g_variant_unref(given);
    }
    g_variant_unref(results);
    return true;
  }
  std::map<int, std::string> triggers;
};

PortalHotKeys::PortalHotKeys() : impl_(std::make_unique<Impl>()) {}

PortalHotKeys::~PortalHotKeys() {
  impl_->bus.Unsubscribe(impl_->activated);
  impl_->bus.CloseSession(impl_->session);
}

bool PortalHotKeys::Open(std::string* why) {
  Impl& m = *impl_;
  if (!m.bus.Connect(why)) return false;
  uint32_t version = 0;
  if (!m.bus.Property(kShortcuts, "version", &version)) {
    *why = "the desktop has no global-shortcuts portal";
    return false;
  }
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&options, "{sv}", "session_handle_token", g_variant_new_string(m.bus.NewToken().c_str()));
  GVariant* results = nullptr;
  platform::PortalBus::Call create{kShortcuts, "CreateSession",
                                   [](GVariant* o) { return g_variant_new("(@a{sv})", o); }, "hot keys' session",
                                   "global-shortcuts", "make a session"};
  if (!m.bus.Request(create, &options, nullptr, &results, why)) return false;
  const char* session = nullptr;
  const bool ok = g_variant_lookup(results, "session_handle", "&s", &session) && g_variant_is_object_path(session);
  if (ok) m.session = session;
  g_variant_unref(results);
  if (!ok) {
    *why = "the global-shortcuts portal gave no session";
    return false;
  }
  m.activated =
      m.bus.Subscribe(kShortcuts, "Activated", platform::PortalBus::kPath, Impl::OnActivated, &m);
  return true;
}

bool PortalHotKeys::Grab(int id, uint32_t value, std::string* error) {
  Impl& m = *impl_;
  if (m.session.empty()) {
    *error = "the global-shortcuts portal is not open";
    return false;
  }
  m.keys[id] = value;
  m.bound[id] = descriptions_.count(id) ? descriptions_[id] : "kelvo " + std::to_string(id);
  if (!m.Bind(error)) {
    m.keys.erase(id);
    return false;
  }
  return true;
}

void PortalHotKeys::Release(int id) { impl_->keys.erase(id); }

int PortalHotKeys::NextPressed() {
  Impl& m = *impl_;
  m.bus.Dispatch();
  if (m.pressed.empty()) return -1;
  const int id = m.pressed.front();
  m.pressed.pop_front();
  return id;
}

std::string PortalHotKeys::BoundTrigger(int id) const {
  const auto it = impl_->triggers.find(id);
  return it == impl_->triggers.end() ? std::string() : it->second;
}

}  // namespace kmr
