#include "platform/mirror/pipewire/pipewire_stream.h"

#include <fcntl.h>
#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/utils/result.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstring>

namespace kmr::platform {
namespace {

// At most this many damaged regions are asked for a buffer.
constexpr uint32_t kDamageRegions = 32;
// The largest pointer shape asked for and believed.
constexpr int32_t kMaxPointerSide = 256;

template <typename T>
T Field(const uint8_t* base, size_t offset) {
  T v;
  std::memcpy(&v, base + offset, sizeof(T));
  return v;
}

constexpr size_t PointerMetaSize(uint32_t side) {
  return sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + static_cast<size_t>(side) * side * 4;
}

}  // namespace

bool ReadDamageRegions(const void* meta, size_t meta_size, int32_t width, int32_t height, std::vector<Rect>* damage) {
  damage->clear();
  if (meta == nullptr) return false;
  const auto* base = static_cast<const uint8_t*>(meta);
  const Rect picture{0, 0, width, height};
  bool any = false;
  for (size_t at = 0; at + sizeof(spa_meta_region) <= meta_size; at += sizeof(spa_meta_region)) {
    const size_t r = at + offsetof(spa_meta_region, region);
    const int32_t x = Field<int32_t>(base, r + offsetof(spa_region, position) + offsetof(spa_point, x));
    const int32_t y = Field<int32_t>(base, r + offsetof(spa_region, position) + offsetof(spa_point, y));
    const uint32_t w = Field<uint32_t>(base, r + offsetof(spa_region, size) + offsetof(spa_rectangle, width));
    const uint32_t h = Field<uint32_t>(base, r + offsetof(spa_region, size) + offsetof(spa_rectangle, height));
    if (w == 0 || h == 0) break;  // the end of the list
    any = true;
    // Computed wide: the desktop's numbers may be anything.
    const int64_t right = static_cast<int64_t>(x) + w, bottom = static_cast<int64_t>(y) + h;
    const Rect d{std::max(x, 0), std::max(y, 0), static_cast<int32_t>(std::min<int64_t>(right, width)),
                 static_cast<int32_t>(std::min<int64_t>(bottom, height))};
    const Rect c = Intersect(d, picture);
    if (!c.IsEmpty()) damage->push_back(c);
  }
  return any;
}

bool ReadPointerMeta(const void* meta, size_t meta_size, StreamPointer* p) {
  if (meta == nullptr || meta_size < sizeof(spa_meta_cursor)) return false;
  const auto* base = static_cast<const uint8_t*>(meta);
  const uint32_t id = Field<uint32_t>(base, offsetof(spa_meta_cursor, id));
  if (id == 0) return false;  // no new pointer information
  *p = StreamPointer{};
  p->visible = true;
  p->x = Field<int32_t>(base, offsetof(spa_meta_cursor, position) + offsetof(spa_point, x));
  p->y = Field<int32_t>(base, offsetof(spa_meta_cursor, position) + offsetof(spa_point, y));
  const uint32_t bitmap_at = Field<uint32_t>(base, offsetof(spa_meta_cursor, bitmap_offset));
  if (bitmap_at == 0) return true;  // moved, same shape
  if (bitmap_at < sizeof(spa_meta_cursor) || bitmap_at > meta_size || meta_size - bitmap_at < sizeof(spa_meta_bitmap)) {
    return true;  // a shape outside the metadata is not read
  }
  const uint8_t* bm = base + bitmap_at;
  const uint32_t format = Field<uint32_t>(bm, offsetof(spa_meta_bitmap, format));
  const uint32_t w = Field<uint32_t>(bm, offsetof(spa_meta_bitmap, size) + offsetof(spa_rectangle, width));
  const uint32_t h = Field<uint32_t>(bm, offsetof(spa_meta_bitmap, size) + offsetof(spa_rectangle, height));
  const int32_t stride = Field<int32_t>(bm, offsetof(spa_meta_bitmap, stride));
  const uint32_t pixels_at = Field<uint32_t>(bm, offsetof(spa_meta_bitmap, offset));
  if (format == 0) return true;  // no new shape
  if (pixels_at == 0 || w == 0 || h == 0) {
    p->visible = false;  // an empty shape: the pointer is hidden
    return true;
  }
  const bool bgra = format == SPA_VIDEO_FORMAT_BGRA, rgba = format == SPA_VIDEO_FORMAT_RGBA,
             argb = format == SPA_VIDEO_FORMAT_ARGB, abgr = format == SPA_VIDEO_FORMAT_ABGR;
  if (!(bgra || rgba || argb || abgr) || w > kMaxPointerSide || h > kMaxPointerSide || stride < 0 ||
      static_cast<uint32_t>(stride) < w * 4 || pixels_at < sizeof(spa_meta_bitmap)) {
    return true;
  }
  const size_t room = meta_size - bitmap_at;
  const size_t need = static_cast<size_t>(pixels_at) + static_cast<size_t>(stride) * (h - 1) + w * 4;
  if (pixels_at > room || need > room) return true;
  p->shape_changed = true;
  p->hot_x = Field<int32_t>(base, offsetof(spa_meta_cursor, hotspot) + offsetof(spa_point, x));
  p->hot_y = Field<int32_t>(base, offsetof(spa_meta_cursor, hotspot) + offsetof(spa_point, y));
  p->width = static_cast<int32_t>(w);
  p->height = static_cast<int32_t>(h);
  p->argb.resize(static_cast<size_t>(w) * h);
  for (uint32_t y = 0; y < h; ++y) {
    const uint8_t* row = bm + pixels_at + static_cast<size_t>(stride) * y;
    for (uint32_t x = 0; x < w; ++x) {
      const uint8_t* q = row + x * 4;
      uint8_t a, r, g, b;
      if (bgra) {
        b = q[0], g = q[1], r = q[2], a = q[3];
      } else if (rgba) {
        r = q[0], g = q[1], b = q[2], a = q[3];
      } else if (argb) {
        a = q[0], r = q[1], g = q[2], b = q[3];
      } else {
        a = q[0], b = q[1], g = q[2], r = q[3];
      }
      // Premultiplied, as the compositors give them; a colour brighter than
      // its alpha is brought down to it.
      r = std::min(r, a), g = std::min(g, a), b = std::min(b, a);
      p->argb[static_cast<size_t>(y) * w + x] =
          (uint32_t{a} << 24) | (uint32_t{r} << 16) | (uint32_t{g} << 8) | uint32_t{b};
    }
  }
  return true;
}

struct PipeWireScreenStream::Impl {
  int fd = -1;
  uint32_t node = 0;
  FrameMailbox* mailbox = nullptr;
  pw_thread_loop* loop = nullptr;
  pw_context* context = nullptr;
  pw_core* core = nullptr;
  pw_stream* stream = nullptr;
  spa_hook core_listener{};
  spa_hook stream_listener{};
  pw_registry* registry = nullptr;
  spa_hook registry_listener{};
  bool streaming = false;
  int32_t width = 0, height = 0;
  bool format_ok = false;
  std::atomic<uint64_t> pictures{0}, damaged{0};
  std::vector<Rect> damage;

  static void OnCoreError(void* data, uint32_t id, int, int res, const char* message) {
    auto* m = static_cast<Impl*>(data);
    if (id == PW_ID_CORE) {
      m->mailbox->PostFailure(std::string("PipeWire: ") + (message ? message : spa_strerror(res)));
    }
  }

  // The desktop's node going away ends the cast (the stream itself only
  // pauses when its peer is gone).
  static void OnGlobalRemoved(void* data, uint32_t id) {
    auto* m = static_cast<Impl*>(data);
    if (id == m->node) m->mailbox->PostFailure("the desktop stopped the screen cast");
  }

  static void OnState(void* data, pw_stream_state, pw_stream_state state, const char* error) {
    auto* m = static_cast<Impl*>(data);
    if (state == PW_STREAM_STATE_STREAMING) m->streaming = true;
    if (state == PW_STREAM_STATE_ERROR) {
      m->mailbox->PostFailure(std::string("the screen cast failed: ") + (error ? error : "PipeWire error"));
    } else if (state == PW_STREAM_STATE_UNCONNECTED && m->streaming) {
      m->mailbox->PostFailure("the desktop stopped the screen cast");
    }
  }

  static void OnParamChanged(void* data, uint32_t id, const spa_pod* param) {
    auto* m = static_cast<Impl*>(data);
    if (param == nullptr || id != SPA_PARAM_Format) return;
    spa_video_info_raw info{};
    if (spa_format_video_raw_parse(param, &info) < 0 ||
        (info.format != SPA_VIDEO_FORMAT_BGRx && info.format != SPA_VIDEO_FORMAT_BGRA)) {
      m->format_ok = false;
      m->mailbox->PostFailure("the screen cast offers no 32-bit BGRx picture");
      return;
    }
    m->format_ok = true;
    m->width = static_cast<int32_t>(info.size.width);
    m->height = static_cast<int32_t>(info.size.height);
    // Buffers in memory we can map, with damage and pointer metadata.
    uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    const spa_pod* params[4];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
    params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
        SPA_PARAM_META_size, SPA_POD_Int(static_cast<int>(sizeof(spa_meta_header)))));
    params[2] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_VideoDamage),
        SPA_PARAM_META_size,
        SPA_POD_CHOICE_RANGE_Int(static_cast<int>(sizeof(spa_meta_region) * kDamageRegions),
                                 static_cast<int>(sizeof(spa_meta_region)),
                                 static_cast<int>(sizeof(spa_meta_region) * kDamageRegions))));
    params[3] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Cursor),
        SPA_PARAM_META_size,
        SPA_POD_CHOICE_RANGE_Int(static_cast<int>(PointerMetaSize(64)), static_cast<int>(PointerMetaSize(1)),
                                 static_cast<int>(PointerMetaSize(kMaxPointerSide)))));
    pw_stream_update_params(m->stream, params, 4);
  }

  static void OnProcess(void* data) {
    auto* m = static_cast<Impl*>(data);
    // Only the newest buffer counts; older ones go straight back.
    pw_buffer* newest = nullptr;
    for (pw_buffer* b = pw_stream_dequeue_buffer(m->stream); b != nullptr; b = pw_stream_dequeue_buffer(m->stream)) {
      if (newest != nullptr) {
        // An older buffer's damage is still damage.
        m->Use(newest, /*picture=*/false);
        pw_stream_queue_buffer(m->stream, newest);
      }
      newest = b;
    }
    if (newest == nullptr) return;
    m->Use(newest, /*picture=*/true);
    pw_stream_queue_buffer(m->stream, newest);
  }

  // Posts a buffer: its pointer always, its picture when asked (an older
  // buffer skipped for a newer one is posted as the damage it carried,
  // folded into the newer one's below).
  void Use(pw_buffer* b, bool picture) {
    spa_buffer* buf = b->buffer;
    if (buf == nullptr) return;
    uint32_t cursor_size = 0;
    void* cursor = nullptr;
    for (uint32_t i = 0; i < buf->n_metas; ++i) {
      if (buf->metas[i].type == SPA_META_Cursor) {
        cursor = buf->metas[i].data;
        cursor_size = buf->metas[i].size;
      }
    }
    StreamPointer p;
    if (ReadPointerMeta(cursor, cursor_size, &p)) mailbox->PostPointer(p);
    if (!format_ok || buf->n_datas < 1) return;
    const spa_data& d = buf->datas[0];
    for (uint32_t i = 0; i < buf->n_metas; ++i) {
      if (buf->metas[i].type == SPA_META_Header && buf->metas[i].size >= sizeof(spa_meta_header)) {
        const uint32_t flags =
            Field<uint32_t>(static_cast<const uint8_t*>(buf->metas[i].data), offsetof(spa_meta_header, flags));
        if (flags & SPA_META_HEADER_FLAG_CORRUPTED) return;
      }
    }
    if (d.data == nullptr || d.chunk == nullptr || (d.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED)) return;
    // The chunk's place and stride are the desktop's: checked against the mapping.
    const uint32_t offset = d.chunk->offset % std::max<uint32_t>(d.maxsize, 1);
    const int32_t stride = d.chunk->stride != 0 ? d.chunk->stride : width * 4;
    if (width <= 0 || height <= 0 || stride < width * 4) return;
    const uint64_t need = offset + static_cast<uint64_t>(stride) * (height - 1) + static_cast<uint64_t>(width) * 4;
    if (need > d.maxsize) return;
    void* damage_meta = nullptr;
    uint32_t damage_size = 0;
    for (uint32_t i = 0; i < buf->n_metas; ++i) {
      if (buf->metas[i].type == SPA_META_VideoDamage) {
        damage_meta = buf->metas[i].data;
        damage_size = buf->metas[i].size;
      }
    }
    std::vector<Rect> these;
    const bool known = ReadDamageRegions(damage_meta, damage_size, width, height, &these);
    if (!picture) {
      // Skipped buffer: keep its damage for the newer one (none known: the
      // newer picture is compared row by row).
      if (!known) pending_unknown = true;
      damage.insert(damage.end(), these.begin(), these.end());
      return;
    }
    StreamPicture pic;
    pic.pixels = static_cast<const uint8_t*>(d.data) + offset;
    pic.width = width;
    pic.height = height;
    pic.stride = static_cast<uint32_t>(stride);
    const bool use_damage = known && !pending_unknown;
    if (use_damage) {
      damage.insert(damage.end(), these.begin(), these.end());
      ++damaged;
    }
    if (mailbox->Post(pic, use_damage ? &damage : nullptr)) ++pictures;
    damage.clear();
    pending_unknown = false;
  }
  bool pending_unknown = false;

  void Teardown() {
    if (loop != nullptr) pw_thread_loop_stop(loop);
    if (stream != nullptr) {
      spa_hook_remove(&stream_listener);
      pw_stream_destroy(stream);
    }
    if (registry != nullptr) {
      spa_hook_remove(&registry_listener);
      pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
    }
    registry = nullptr;
    if (core != nullptr) {
      spa_hook_remove(&core_listener);
      pw_core_disconnect(core);
    }
    if (context != nullptr) pw_context_destroy(context);
    if (loop != nullptr) pw_thread_loop_destroy(loop);
    stream = nullptr;
    core = nullptr;
    context = nullptr;
    loop = nullptr;
    streaming = false;
    format_ok = false;
  }
};

PipeWireScreenStream::PipeWireScreenStream(int fd, uint32_t node) : impl_(std::make_unique<Impl>()) {
  impl_->fd = fd;
  impl_->node = node;
  pw_init(nullptr, nullptr);
}

PipeWireScreenStream::~PipeWireScreenStream() {
  Stop();
  pw_deinit();
}

bool PipeWireScreenStream::Start(FrameMailbox* mailbox, std::string* why) {
  Impl& m = *impl_;
  Stop();
  m.mailbox = mailbox;
  m.loop = pw_thread_loop_new("kelvo-screen", nullptr);
  if (m.loop == nullptr) {
    *why = "cannot start PipeWire's thread";
    return false;
  }
  m.context = pw_context_new(pw_thread_loop_get_loop(m.loop), nullptr, 0);
  if (m.context == nullptr || pw_thread_loop_start(m.loop) < 0) {
    *why = "cannot start PipeWire";
    m.Teardown();
    return false;
  }
  pw_thread_loop_lock(m.loop);
  const int fd = m.fd >= 0 ? fcntl(m.fd, F_DUPFD_CLOEXEC, 3) : -1;
  m.core = fd >= 0 ? pw_context_connect_fd(m.context, fd, nullptr, 0) : nullptr;
  if (m.core == nullptr) {
    pw_thread_loop_unlock(m.loop);
    *why = "cannot connect to PipeWire through the portal";
    m.Teardown();
    return false;
  }
  static const pw_core_events core_events = [] {
    pw_core_events e{};
    e.version = PW_VERSION_CORE_EVENTS;
    e.error = Impl::OnCoreError;
    return e;
  }();
  pw_core_add_listener(m.core, &m.core_listener, &core_events, &m);
  static const pw_registry_events registry_events = [] {
    pw_registry_events e{};
    e.version = PW_VERSION_REGISTRY_EVENTS;
    e.global_remove = Impl::OnGlobalRemoved;
    return e;
  }();
  m.registry = pw_core_get_registry(m.core, PW_VERSION_REGISTRY, 0);
  if (m.registry != nullptr) pw_registry_add_listener(m.registry, &m.registry_listener, &registry_events, &m);
  m.stream = pw_stream_new(m.core, "kelvo",
                           pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                             PW_KEY_MEDIA_ROLE, "Screen", nullptr));
  if (m.stream == nullptr) {
    pw_thread_loop_unlock(m.loop);
    *why = "cannot make a PipeWire stream";
    m.Teardown();
    return false;
  }
  static const pw_stream_events stream_events = [] {
    pw_stream_events e{};
    e.version = PW_VERSION_STREAM_EVENTS;
    e.state_changed = Impl::OnState;
    e.param_changed = Impl::OnParamChanged;
    e.process = Impl::OnProcess;
    return e;
  }();
  pw_stream_add_listener(m.stream, &m.stream_listener, &stream_events, &m);
  uint8_t buffer[1024];
  spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
  const spa_rectangle def = SPA_RECTANGLE(1920, 1080), min = SPA_RECTANGLE(1, 1),
                      max = SPA_RECTANGLE(FrameMailbox::kMaxSide, FrameMailbox::kMaxSide);
  const spa_fraction rate = SPA_FRACTION(30, 1), rate_min = SPA_FRACTION(0, 1), rate_max = SPA_FRACTION(1000, 1);
  const spa_pod* params[1];
  params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
      SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
      SPA_POD_CHOICE_ENUM_Id(3, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA),
      SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&def, &min, &max), SPA_FORMAT_VIDEO_framerate,
      SPA_POD_CHOICE_RANGE_Fraction(&rate, &rate_min, &rate_max)));
  const int rc = pw_stream_connect(
      m.stream, PW_DIRECTION_INPUT, m.node,
      static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
  pw_thread_loop_unlock(m.loop);
  if (rc < 0) {
    *why = std::string("cannot connect to the screen cast's stream: ") + spa_strerror(rc);
    m.Teardown();
    return false;
  }
  return true;
}

void PipeWireScreenStream::Stop() {
  impl_->Teardown();
}

uint64_t PipeWireScreenStream::Pictures() const { return impl_->pictures; }
uint64_t PipeWireScreenStream::DamagedPictures() const { return impl_->damaged; }

}  // namespace kmr::platform
