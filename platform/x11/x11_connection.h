// Connections to the X server whose loss does not end the program. Xlib
// ends the process when a connection breaks (the server went away, the
// session ended); a recorder must first finish its file. A connection made
// here notes the loss instead (the program's callback runs once, from the
// thread that noticed it) and its later calls fail without blocking.
#pragma once

#include <X11/Xlib.h>

#include <atomic>
#include <string>

namespace kmr::platform {

// Set once by the program: what to do when the connection to the X server
// is lost (it should only set a flag the program's loop looks at).
inline std::atomic<void (*)()> g_x_connection_lost_callback{nullptr};
inline std::atomic<bool> g_x_connection_lost{false};

inline void OnXConnectionLost(void (*callback)()) { g_x_connection_lost_callback.store(callback); }
inline bool XConnectionLost() { return g_x_connection_lost.load(); }

inline void NoteXConnectionLost(Display*, void*) {
  if (g_x_connection_lost.exchange(true)) return;
  if (void (*callback)() = g_x_connection_lost_callback.load()) callback();
}

// Xlib's own I/O error handler ends the program too; this one returns, and
// the connection's exit handler (above) takes it from there.
inline int ReturnFromXIOError(Display*) { return 0; }

// XOpenDisplay (empty name: $DISPLAY) with the loss noted instead of ending
// the program.
inline Display* OpenXConnection(const std::string& name) {
  XSetIOErrorHandler(ReturnFromXIOError);
  Display* dpy = XOpenDisplay(name.empty() ? nullptr : name.c_str());
  if (dpy != nullptr) XSetIOErrorExitHandler(dpy, NoteXConnectionLost, nullptr);
  return dpy;
}

}  // namespace kmr::platform
