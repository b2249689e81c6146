#include "recorder/ui/win/tray_icon.h"

#include <shellapi.h>

#include <cstring>

namespace kmr::win {

namespace {
void CopyCut(char* to, size_t size, const std::string& from) {
  const size_t n = from.size() < size - 1 ? from.size() : size - 1;
  std::memcpy(to, from.data(), n);
  to[n] = '\0';
}
}  // namespace

void TrayIcon::Fill(void* data, UINT flags, int icon_resource) const {
  // The extended record (with the balloon's fields), as Windows 2000 knows it.
  NOTIFYICONDATAA& nid = *static_cast<NOTIFYICONDATAA*>(data);
  std::memset(&nid, 0, sizeof(nid));
  nid.cbSize = NOTIFYICONDATAA_V2_SIZE;
  nid.hWnd = owner_;
  nid.uID = kId;
  nid.uFlags = flags;
  nid.uCallbackMessage = kCallbackMessage;
  if (flags & NIF_ICON) nid.hIcon = LoadIconA(instance_, MAKEINTRESOURCEA(icon_resource));
  // The tip holds at most 63 characters.
  CopyCut(nid.szTip, 64, tip_);
}

bool TrayIcon::Add() {
  NOTIFYICONDATAA nid;
  Fill(&nid, NIF_MESSAGE | NIF_ICON | NIF_TIP, icon_);
  added_ = Shell_NotifyIconA(NIM_ADD, &nid) != FALSE;
  return added_;
}

bool TrayIcon::AddAgain() {
  added_ = false;
  return Add();
}

bool TrayIcon::Modify(int icon_resource) {
  icon_ = icon_resource;
  NOTIFYICONDATAA nid;
  Fill(&nid, NIF_ICON | NIF_TIP, icon_resource);
  return Shell_NotifyIconA(NIM_MODIFY, &nid) != FALSE;
}

void TrayIcon::Delete() {
  if (!added_) return;
  NOTIFYICONDATAA nid;
  Fill(&nid, 0, kId);
  Shell_NotifyIconA(NIM_DELETE, &nid);
  added_ = false;
}

bool TrayIcon::Balloon(const std::string& text, const std::string& title, UINT timeout_ms) {
  NOTIFYICONDATAA nid;
  Fill(&nid, NIF_INFO, kId);
  CopyCut(nid.szInfo, 256, text);
  CopyCut(nid.szInfoTitle, 64, title);
  nid.uTimeout = timeout_ms;
  nid.dwInfoFlags = NIIF_INFO | NIIF_NOSOUND;
  return Shell_NotifyIconA(NIM_MODIFY, &nid) != FALSE;
}

}  // namespace kmr::win
