#include "player/audio/linux/pulse_output.h"

#include <pulse/pulseaudio.h>

#include <time.h>

namespace kmr {

namespace {

void Signal(void* loop) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0); }
void OnContextState(pa_context*, void* loop) { Signal(loop); }
void OnStreamState(pa_stream*, void* loop) { Signal(loop); }
void OnWritable(pa_stream*, size_t, void* loop) { Signal(loop); }
void OnDone(pa_stream*, int, void* loop) { Signal(loop); }

int64_t NowMs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// A drain that has run this long unpaused is given up: what was queued (a
// few hundred milliseconds) has been heard or never will be.
constexpr int64_t kDrainLimitMs = 3000;

}  // namespace

bool PulseOutput::Fail(const std::string& what) {
  error_ = what + (context_ != nullptr ? std::string(": ") + pa_strerror(pa_context_errno(context_)) : "");
  if (loop_ != nullptr) pa_threaded_mainloop_unlock(loop_);
  CloseLocked();
  return false;
}

bool PulseOutput::IsOpen() const {
  std::lock_guard<std::mutex> lock(const_cast<std::mutex&>(life_));
  return stream_ != nullptr;
}

bool PulseOutput::Open(uint32_t samples_per_second, uint16_t channels) {
  std::lock_guard<std::mutex> lock(life_);
  CloseLocked();
  error_.clear();
  interrupted_.store(false);
  loop_ = pa_threaded_mainloop_new();
  if (loop_ == nullptr) {
    error_ = "cannot start PulseAudio's main loop";
    return false;
  }
  pa_threaded_mainloop_lock(loop_);
  if (pa_threaded_mainloop_start(loop_) < 0) return Fail("cannot start PulseAudio's main loop");
  context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "morvin");
  if (context_ == nullptr) return Fail("cannot reach the PulseAudio server");
  pa_context_set_state_callback(context_, OnContextState, loop_);
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0) {
    return Fail("cannot reach the PulseAudio server");
  }
  for (;;) {
    const pa_context_state_t s = pa_context_get_state(context_);
    if (s == PA_CONTEXT_READY) break;
    if (!PA_CONTEXT_IS_GOOD(s)) return Fail("cannot reach the PulseAudio server");
    pa_threaded_mainloop_wait(loop_);
  }
  pa_sample_spec sample_format{};
  sample_format.format = PA_SAMPLE_S16LE;
  sample_format.rate = samples_per_second;
  sample_format.channels = static_cast<uint8_t>(channels);
  frame_bytes_ = 2u * channels;
  stream_ = pa_stream_new(context_, "playback", &sample_format, nullptr);
  if (stream_ == nullptr) return Fail("cannot play sound");
  pa_stream_set_state_callback(stream_, OnStreamState, loop_);
  pa_stream_set_write_callback(stream_, OnWritable, loop_);
  // A short buffer: the player hands sound over at most 100 ms early.
  pa_buffer_attr attr{};
  attr.maxlength = static_cast<uint32_t>(-1);
  attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(300000, &sample_format));
  attr.prebuf = static_cast<uint32_t>(-1);
  attr.minreq = static_cast<uint32_t>(-1);
  attr.fragsize = static_cast<uint32_t>(-1);
  if (pa_stream_connect_playback(stream_, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) < 0) {
    return Fail("cannot play sound");
  }
  for (;;) {
    const pa_stream_state_t s = pa_stream_get_state(stream_);
    if (s == PA_STREAM_READY) break;
    if (!PA_STREAM_IS_GOOD(s)) return Fail("cannot play sound");
    pa_threaded_mainloop_wait(loop_);
  }
  pa_threaded_mainloop_unlock(loop_);
  return true;
}

bool PulseOutput::Write(const int16_t* samples, uint32_t frames) {
  if (stream_ == nullptr) return false;
  const auto* bytes = reinterpret_cast<const uint8_t*>(samples);
  size_t left = static_cast<size_t>(frames) * frame_bytes_;
  pa_threaded_mainloop_lock(loop_);
  while (left > 0) {
    if (interrupted_.load()) {
      pa_threaded_mainloop_unlock(loop_);
      error_ = "the sound output was stopped";
      return false;
    }
    if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
      pa_threaded_mainloop_unlock(loop_);
      error_ = "the sound output stopped";
      return false;
    }
    size_t room = pa_stream_writable_size(stream_);
    if (room == 0 || room == static_cast<size_t>(-1)) {
      // Full (or corked): wait until the server takes more.
      pa_threaded_mainloop_wait(loop_);
      continue;
    }
    if (room > left) room = left;
    if (pa_stream_write(stream_, bytes, room, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
      pa_threaded_mainloop_unlock(loop_);
      error_ = "the sound output refused the sound";
      return false;
    }
    bytes += room;
    left -= room;
  }
  pa_threaded_mainloop_unlock(loop_);
  return true;
}

void PulseOutput::DropDrain() {
  if (drain_ == nullptr) return;
  pa_operation_cancel(drain_);
  pa_operation_unref(drain_);
  drain_ = nullptr;
}

bool PulseOutput::PlayedOut() {
  std::lock_guard<std::mutex> lock(life_);
  if (stream_ == nullptr) return true;
  pa_threaded_mainloop_lock(loop_);
  bool done = false;
  if (corked_) {
    drain_started_ms_ = NowMs();  // paused time does not count
  } else if (drain_ == nullptr) {
    drain_ = pa_stream_drain(stream_, OnDone, loop_);
    drain_started_ms_ = NowMs();
    done = drain_ == nullptr;
  } else if (pa_operation_get_state(drain_) != PA_OPERATION_RUNNING || NowMs() - drain_started_ms_ > kDrainLimitMs) {
    DropDrain();
    done = true;
  }
  pa_threaded_mainloop_unlock(loop_);
  return done;
}

void PulseOutput::Cork(bool on) {
  std::lock_guard<std::mutex> lock(life_);
  if (stream_ == nullptr) return;
  pa_threaded_mainloop_lock(loop_);
  corked_ = on;
  pa_operation* op = pa_stream_cork(stream_, on ? 1 : 0, OnDone, loop_);
  if (op != nullptr) {
    while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_threaded_mainloop_wait(loop_);
    pa_operation_unref(op);
  }
  pa_threaded_mainloop_unlock(loop_);
}

void PulseOutput::Pause() { Cork(true); }
void PulseOutput::Restart() { Cork(false); }

void PulseOutput::Reset() {
  std::lock_guard<std::mutex> lock(life_);
  if (stream_ == nullptr) return;
  pa_threaded_mainloop_lock(loop_);
  DropDrain();
  pa_operation* op = pa_stream_flush(stream_, OnDone, loop_);
  if (op != nullptr) {
    while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_threaded_mainloop_wait(loop_);
    pa_operation_unref(op);
  }
  pa_threaded_mainloop_unlock(loop_);
}

void PulseOutput::Interrupt() {
  interrupted_.store(true);
  std::lock_guard<std::mutex> lock(life_);
  if (loop_ != nullptr) {
    pa_threaded_mainloop_lock(loop_);
    pa_threaded_mainloop_signal(loop_, 0);
    pa_threaded_mainloop_unlock(loop_);
  }
}

void PulseOutput::Close() {
  std::lock_guard<std::mutex> lock(life_);
  CloseLocked();
}

void PulseOutput::CloseLocked() {
  if (loop_ != nullptr) pa_threaded_mainloop_stop(loop_);
  DropDrain();
  corked_ = false;
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
  if (loop_ != nullptr) pa_threaded_mainloop_free(loop_);
  loop_ = nullptr;
}

}  // namespace kmr
