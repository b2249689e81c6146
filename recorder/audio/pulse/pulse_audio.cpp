#include "recorder/audio/pulse/pulse_audio.h"

#include <pulse/pulseaudio.h>

#include <time.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <functional>

namespace kmr {

namespace {

constexpr int kConnectTimeoutMs = 5000;

int64_t MonotonicMs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// One synchronous conversation with the server: connect, run operations to
// their end, disconnect.
class PulseSession {
 public:
  PulseSession() {
    loop_ = pa_mainloop_new();
    if (loop_ == nullptr) return;
    context_ = pa_context_new(pa_mainloop_get_api(loop_), "kelvo");
    if (context_ == nullptr || pa_context_connect(context_, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0) return;
    for (int waited = 0; waited < kConnectTimeoutMs; waited += 10) {
      const pa_context_state_t s = pa_context_get_state(context_);
      if (s == PA_CONTEXT_READY) {
        ready_ = true;
        return;
      }
      if (!PA_CONTEXT_IS_GOOD(s)) return;
      pa_mainloop_prepare(loop_, 10000);  // microseconds
      pa_mainloop_poll(loop_);
      pa_mainloop_dispatch(loop_);
    }
  }
  ~PulseSession() {
    if (context_ != nullptr) {
      pa_context_disconnect(context_);
      pa_context_unref(context_);
    }
    if (loop_ != nullptr) pa_mainloop_free(loop_);
  }
  bool Ready() const { return ready_; }
  std::string Error() const {
    return context_ != nullptr ? pa_strerror(pa_context_errno(context_)) : "cannot start PulseAudio's main loop";
  }
  pa_context* Context() { return context_; }
  // Runs the loop until the operation is done; false when it failed.
  bool Finish(pa_operation* op) {
    if (op == nullptr) return false;
    while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) {
      if (pa_mainloop_iterate(loop_, 1, nullptr) < 0) break;
    }
    const bool done = pa_operation_get_state(op) == PA_OPERATION_DONE;
    pa_operation_unref(op);
    return done;
  }

 private:
  pa_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  bool ready_ = false;
};

void OnSource(pa_context*, const pa_source_info* info, int eol, void* user) {
  if (eol != 0 || info == nullptr) return;
  auto* out = static_cast<std::vector<std::pair<PulseSource, pa_cvolume>>*>(user);
  PulseSource s;
  s.index = info->index;
  s.name = info->name != nullptr ? info->name : "";
  s.description = info->description != nullptr ? info->description : s.name;
  s.is_monitor = info->monitor_of_sink != PA_INVALID_INDEX;
  for (uint32_t i = 0; i < info->n_ports; ++i) s.ports.push_back(info->ports[i]->name);
  if (info->active_port != nullptr) s.active_port = info->active_port->name;
  out->push_back({s, info->volume});
}

bool Sources(PulseSession* session, std::vector<std::pair<PulseSource, pa_cvolume>>* out) {
  out->clear();
  return session->Finish(pa_context_get_source_info_list(session->Context(), OnSource, out));
}

void OnSuccess(pa_context*, int success, void* user) { *static_cast<bool*>(user) = success != 0; }

// The source behind a device id (its place in the list).
bool SourceAt(PulseSession* session, int32_t device, std::pair<PulseSource, pa_cvolume>* out) {
  std::vector<std::pair<PulseSource, pa_cvolume>> all;
  if (device < 0 || !Sources(session, &all) || static_cast<size_t>(device) >= all.size()) return false;
  *out = all[static_cast<size_t>(device)];
  return true;
}

}  // namespace

bool ListPulseSources(std::vector<PulseSource>* sources, std::string* error) {
  sources->clear();
  PulseSession session;
  if (!session.Ready()) {
    *error = "cannot reach the PulseAudio server: " + session.Error();
    return false;
  }
  std::vector<std::pair<PulseSource, pa_cvolume>> all;
  if (!Sources(&session, &all)) {
    *error = "cannot list the sound sources: " + session.Error();
    return false;
  }
  for (auto& s : all) sources->push_back(std::move(s.first));
  return true;
}

std::string DefaultMonitorSource() {
  PulseSession session;
  if (!session.Ready()) return {};
  std::string sink;
  auto on_server = [](pa_context*, const pa_server_info* info, void* user) {
    if (info != nullptr && info->default_sink_name != nullptr) *static_cast<std::string*>(user) = info->default_sink_name;
  };
  if (!session.Finish(pa_context_get_server_info(session.Context(), on_server, &sink)) || sink.empty()) return {};
  return sink + ".monitor";
}

bool PulseCaptureDevice::ListDevices(std::vector<std::string>* names) {
  std::vector<PulseSource> sources;
  names->clear();
  if (!ListPulseSources(&sources, &error_) || sources.empty()) return false;
  for (const auto& s : sources) names->push_back(s.name);
  return true;
}

bool PulseCaptureDevice::Failed(const std::string& what) {
  error_ = what + ": " + (context_ != nullptr ? pa_strerror(pa_context_errno(context_)) : "no server");
  Close();
  return false;
}

bool PulseCaptureDevice::Open(int32_t device, const PcmFormat& format, uint32_t buffer_bytes, uint32_t) {
  Close();
  if (format.bits_per_sample != 16 || (format.channels != 1 && format.channels != 2)) {
    error_ = "only 16-bit mono or stereo sound can be recorded";
    return false;
  }
  if (buffer_bytes == 0 || format.BytesPerSecond() == 0) {
    error_ = "the capture buffer is empty";
    return false;
  }
  std::string name;
  if (device >= 0) {
    std::vector<std::string> names;
    if (!ListDevices(&names)) return false;
    if (static_cast<size_t>(device) >= names.size()) {
      error_ = "there is no sound source number " + std::to_string(device);
      return false;
    }
    name = names[static_cast<size_t>(device)];
  }
  const std::string what = std::string("cannot record from ") + (name.empty() ? "the default source" : name);
  loop_ = pa_mainloop_new();
  if (loop_ == nullptr) return Failed(what);
  context_ = pa_context_new(pa_mainloop_get_api(loop_), "kelvo");
  if (context_ == nullptr || pa_context_connect(context_, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0) {
    return Failed(what);
  }
  const int64_t connect_by = MonotonicMs() + kConnectTimeoutMs;
  while (pa_context_get_state(context_) != PA_CONTEXT_READY) {
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) || MonotonicMs() > connect_by || !Iterate(50)) {
      return Failed(what);
    }
  }
  pa_sample_spec sample_format{};
  sample_format.format = PA_SAMPLE_S16LE;
  sample_format.channels = static_cast<uint8_t>(format.channels);
  sample_format.rate = format.samples_per_second;
  stream_ = pa_stream_new(context_, "recording", &sample_format, nullptr);
  if (stream_ == nullptr) return Failed(what);
  // Fragments of one buffer: the server sends a buffer's worth at a time.
  pa_buffer_attr attr{};
  attr.maxlength = static_cast<uint32_t>(-1);
  attr.fragsize = buffer_bytes;
  attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
  if (pa_stream_connect_record(stream_, name.empty() ? nullptr : name.c_str(), &attr, PA_STREAM_ADJUST_LATENCY) < 0) {
    return Failed(what);
  }
  while (pa_stream_get_state(stream_) != PA_STREAM_READY) {
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)) || MonotonicMs() > connect_by || !Iterate(50)) {
      return Failed(what);
    }
  }
  buffer_.assign(buffer_bytes, 0);
  filled_ = 0;
  // A buffer's time and a little more; then the caller looks at its flags.
  wait_ms_ = static_cast<uint32_t>(static_cast<uint64_t>(buffer_bytes) * 1000 / format.BytesPerSecond()) + 50;
  return true;
}

bool PulseCaptureDevice::Iterate(int timeout_ms) {
  if (pa_mainloop_prepare(loop_, timeout_ms * 1000) < 0 || pa_mainloop_poll(loop_) < 0 ||
      pa_mainloop_dispatch(loop_) < 0) {
    return false;
  }
  return true;
}

bool PulseCaptureDevice::NextBuffer(const uint8_t** data, uint32_t* size) {
  *size = 0;
  if (stream_ == nullptr) return false;
  if (filled_ == buffer_.size()) filled_ = 0;  // the caller is done with the last one
  const int64_t until = MonotonicMs() + wait_ms_;
  for (;;) {
    // First what was left of the last fragment, then what the server has
    // sent, up to a whole buffer; the rest of a fragment that does not fit
    // is kept for the next one (the server drops whole fragments).
    if (!carry_.empty()) {
      const size_t take = std::min(carry_.size(), buffer_.size() - filled_);
      std::memcpy(buffer_.data() + filled_, carry_.data(), take);
      filled_ += take;
      carry_.erase(carry_.begin(), carry_.begin() + static_cast<std::ptrdiff_t>(take));
    }
    while (filled_ < buffer_.size() && pa_stream_readable_size(stream_) > 0) {
      const void* part = nullptr;
      size_t n = 0;
      if (pa_stream_peek(stream_, &part, &n) < 0) return Failed("sound capture stopped");
      if (n == 0) break;
      const auto* bytes = static_cast<const uint8_t*>(part);
      const size_t take = std::min(n, buffer_.size() - filled_);
      if (bytes != nullptr) {
        std::memcpy(buffer_.data() + filled_, bytes, take);
        carry_.assign(bytes + take, bytes + n);
      } else {
        std::memset(buffer_.data() + filled_, 0, take);  // a hole in the stream: silence
        carry_.assign(n - take, 0);
      }
      filled_ += take;
      pa_stream_drop(stream_);
    }
    if (filled_ == buffer_.size()) {
      *data = buffer_.data();
      *size = static_cast<uint32_t>(buffer_.size());
      return true;
    }
    if (pa_stream_get_state(stream_) != PA_STREAM_READY || pa_context_get_state(context_) != PA_CONTEXT_READY) {
      return Failed("sound capture stopped");
    }
    const int64_t left = until - MonotonicMs();
    if (left <= 0) return true;  // nothing whole in time: the caller looks at its flags again
    if (!Iterate(static_cast<int>(left))) return Failed("sound capture stopped");
  }
}

void PulseCaptureDevice::Close() {
  if (stream_ != nullptr) {
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
  }
  stream_ = nullptr;
  if (context_ != nullptr) {
    pa_context_disconnect(context_);
    pa_context_unref(context_);
  }
  context_ = nullptr;
  if (loop_ != nullptr) pa_mainloop_free(loop_);
  loop_ = nullptr;
  filled_ = 0;
  carry_.clear();
}

bool PulseMixer::ReadInputs(int32_t device, std::vector<std::string>* names, std::vector<bool>* selected) {
  PulseSession session;
  std::pair<PulseSource, pa_cvolume> s;
  if (!session.Ready() || !SourceAt(&session, device, &s)) return false;
  // A source without ports (a monitor, a virtual source) has one input:
  // itself, named by its description.
  if (s.first.ports.empty()) {
    *names = {s.first.description};
    *selected = {true};
    return true;
  }
  *names = s.first.ports;
  selected->assign(names->size(), false);
  for (size_t i = 0; i < names->size(); ++i) (*selected)[i] = (*names)[i] == s.first.active_port;
  return true;
}

bool PulseMixer::WriteSelection(int32_t device, const std::vector<bool>& selected) {
  PulseSession session;
  std::pair<PulseSource, pa_cvolume> s;
  if (!session.Ready() || !SourceAt(&session, device, &s)) return false;
  for (size_t i = 0; i < selected.size() && i < s.first.ports.size(); ++i) {
    if (!selected[i]) continue;
    bool ok = false;
    if (!session.Finish(pa_context_set_source_port_by_index(session.Context(), s.first.index,
                                                             s.first.ports[i].c_str(), OnSuccess, &ok))) {
      return false;
    }
    return ok;
  }
  return true;  // a source has always one port active: nothing to clear
}

bool PulseMixer::ReadVolume(int32_t device, const std::string& input, Volume* volume) {
  PulseSession session;
  std::pair<PulseSource, pa_cvolume> s;
  if (!session.Ready() || !SourceAt(&session, device, &s)) return false;
  bool found = s.first.ports.empty() && SameInputName(s.first.description, input);
  for (const auto& p : s.first.ports) found = found || SameInputName(p, input);
  if (!found) return false;
  volume->has_control = true;
  volume->minimum = PA_VOLUME_MUTED;
  volume->maximum = PA_VOLUME_NORM;
  volume->raw.assign(s.second.values, s.second.values + s.second.channels);
  return true;
}

bool PulseMixer::WriteVolume(int32_t device, const std::string&, const std::vector<uint32_t>& raw) {
  PulseSession session;
  std::pair<PulseSource, pa_cvolume> s;
  if (!session.Ready() || !SourceAt(&session, device, &s) || raw.empty() || raw.size() > PA_CHANNELS_MAX) {
    return false;
  }
  pa_cvolume v;
  pa_cvolume_init(&v);
  v.channels = static_cast<uint8_t>(raw.size());
  for (size_t c = 0; c < raw.size(); ++c) v.values[c] = raw[c];
  bool ok = false;
  if (!session.Finish(pa_context_set_source_volume_by_index(session.Context(), s.first.index, &v, OnSuccess, &ok))) {
    return false;
  }
  return ok;
}

}  // namespace kmr
