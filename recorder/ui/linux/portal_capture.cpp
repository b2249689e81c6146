#include "recorder/ui/linux/portal_capture.h"

namespace kmr {

PortalCapture::~PortalCapture() {
  // The mirror stops its stream before the session that carries it ends.
  compositor_.reset();
  stream_mirror_.reset();
  stream_.reset();
  portal_.Close();
}

bool PortalCapture::Open(bool window, SettingsStore* store, const std::function<bool()>& cancelled,
                         std::string* error) {
  platform::ScreenCastRequest request;
  request.source = window ? platform::kSourceWindow : platform::kSourceMonitor;
  std::string token;
  if (store->ReadText(kPortalKey, kRestoreTokenName, &token)) request.restore_token = token;
  if (!portal_.Open(request, cancelled, &grant_, error)) return false;
  if (!grant_.restore_token.empty() && grant_.restore_token != token) {
    store->WriteText(kPortalKey, kRestoreTokenName, grant_.restore_token);
    if (!store->Flush()) settings_error_ = "the portal's grant was not kept in the settings";
  }
  // One source was asked for: the first stream is it.
  stream_ = std::make_unique<platform::PipeWireScreenStream>(grant_.pipewire_fd, grant_.streams[0].node);
  stream_mirror_ = std::make_unique<platform::StreamMirror>(stream_.get());
  mirror_ = stream_mirror_.get();
  if (grant_.pointer_mode == platform::kPointerMetadata) {
    pointer_ = std::make_unique<platform::StreamPointerSource>(stream_mirror_->Mailbox());
    compositor_ = std::make_unique<platform::PointerCompositor>(stream_mirror_.get(), pointer_.get());
    mirror_ = compositor_.get();
  }
  // The stream runs from here: its first picture gives the size.
  if (!mirror_->Attach()) {
    *error = stream_mirror_->Error();
    return false;
  }
  return true;
}

Rect PortalCapture::Picture() {
  if (mirror_ == nullptr) return {};
  const platform::ScreenMetrics m = mirror_->Screen();
  return Rect{0, 0, m.width, m.height};
}

std::string PortalCapture::Lost() {
  if (stream_mirror_ == nullptr) return {};
  std::string why = stream_mirror_->Error();
  if (why.empty() && portal_.SessionClosed()) why = "the desktop ended the screen-cast session";
  return why;
}

std::string PortalCapture::Describe() const {
  std::string s = "the screen-cast portal (PipeWire node " +
                  std::to_string(grant_.streams.empty() ? 0 : grant_.streams[0].node) + ", pointer ";
  switch (grant_.pointer_mode) {
    case platform::kPointerMetadata:
      s += "drawn in from the stream's metadata";
      break;
    case platform::kPointerEmbedded:
      s += "in the pictures";
      break;
    default:
      s += "not shared";
      break;
  }
  return s + ")";
}

}  // namespace kmr
