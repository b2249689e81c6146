// A PipeWire video source for the screen-cast tests: a desktop of known
// pictures in shared memory (memfd buffers), sending, as a compositor does,
// a picture only when something changed, with the changed regions and the
// pointer as buffer metadata. Driven on stdin, one command a line:
//   fill X Y W H RRGGBB   paint a rectangle (sent with it as the damage)
//   noise SEED            paint every pixel from a pseudo-random sequence
//   nodamage              from now on send no damage metadata
//   pointer X Y           move the pointer (a 6 × 6 shape: white, black edge)
//   save PATH             write the picture as a binary PPM, then "saved"
//   quit
// Prints "node N" once the stream is ready to be linked.
#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kMaxRegions = 16;
constexpr int kPointerSide = 6;

struct Producer {
  int width = 0, height = 0;
  int stride = 0;
  std::vector<uint8_t> picture;  // B, G, R, X
  std::mutex mutex;
  std::vector<spa_region> damage;
  bool send_damage = true;
  bool dirty = true;  // a picture to send
  bool pointer_moved = false, pointer_shape_sent = false;
  int pointer_x = -1, pointer_y = -1;
  pw_thread_loop* loop = nullptr;
  pw_stream* stream = nullptr;
  spa_hook listener{};
  spa_source* timer = nullptr;
  std::atomic<bool> said_node{false};

  void Fill(int x, int y, int w, int h, uint32_t rgb) {
    std::lock_guard<std::mutex> lock(mutex);
    for (int j = std::max(y, 0); j < std::min(y + h, height); ++j) {
      for (int i = std::max(x, 0); i < std::min(x + w, width); ++i) {
        uint8_t* p = &picture[static_cast<size_t>(j) * stride + static_cast<size_t>(i) * 4];
        p[0] = rgb & 0xFF, p[1] = (rgb >> 8) & 0xFF, p[2] = (rgb >> 16) & 0xFF, p[3] = 0xFF;
      }
    }
    spa_region r{};
    r.position.x = x, r.position.y = y;
    r.size.width = static_cast<uint32_t>(w), r.size.height = static_cast<uint32_t>(h);
    damage.push_back(r);
    dirty = true;
  }

  void Send() {
    std::lock_guard<std::mutex> lock(mutex);
    if (!dirty && !pointer_moved) return;
    pw_buffer* b = pw_stream_dequeue_buffer(stream);
    if (b == nullptr) return;
    spa_buffer* buf = b->buffer;
    spa_data& d = buf->datas[0];
    if (d.data == nullptr || d.maxsize < static_cast<uint32_t>(stride * height)) {
      pw_stream_queue_buffer(stream, b);
      return;
    }
    std::memcpy(d.data, picture.data(), picture.size());
    d.chunk->offset = 0;
    d.chunk->size = static_cast<uint32_t>(stride * height);
    d.chunk->stride = stride;
    auto* regions = static_cast<spa_meta_region*>(
        spa_buffer_find_meta_data(buf, SPA_META_VideoDamage, sizeof(spa_meta_region)));
    spa_meta* dm = spa_buffer_find_meta(buf, SPA_META_VideoDamage);
    if (regions != nullptr && dm != nullptr) {
      const size_t slots = dm->size / sizeof(spa_meta_region);
      std::memset(dm->data, 0, dm->size);
      if (send_damage) {
        const bool all = damage.size() > slots - 1 || damage.empty();
        if (all) {
          regions[0].region.position = SPA_POINT(0, 0);
          regions[0].region.size = SPA_RECTANGLE(static_cast<uint32_t>(width), static_cast<uint32_t>(height));
        } else {
          for (size_t i = 0; i < damage.size(); ++i) regions[i].region = damage[i];
        }
      }
    }
    auto* cursor = static_cast<spa_meta_cursor*>(
        spa_buffer_find_meta_data(buf, SPA_META_Cursor, sizeof(spa_meta_cursor)));
    if (cursor != nullptr) {
      cursor->id = 0;
      if (pointer_x >= 0) {
        cursor->id = 1;
        cursor->position = SPA_POINT(pointer_x, pointer_y);
        cursor->hotspot = SPA_POINT(1, 1);
        cursor->bitmap_offset = 0;
        spa_meta* cm = spa_buffer_find_meta(buf, SPA_META_Cursor);
        const size_t need = sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + kPointerSide * kPointerSide * 4;
        if (!pointer_shape_sent && cm->size >= need) {
          cursor->bitmap_offset = sizeof(spa_meta_cursor);
          auto* bm = SPA_PTROFF(cursor, cursor->bitmap_offset, spa_meta_bitmap);
          bm->format = SPA_VIDEO_FORMAT_BGRA;
          bm->size = SPA_RECTANGLE(kPointerSide, kPointerSide);
          bm->stride = kPointerSide * 4;
          bm->offset = sizeof(spa_meta_bitmap);
          auto* px = SPA_PTROFF(bm, bm->offset, uint8_t);
          for (int j = 0; j < kPointerSide; ++j) {
            for (int i = 0; i < kPointerSide; ++i) {
              const bool edge = i == 0 || j == 0 || i == kPointerSide - 1 || j == kPointerSide - 1;
              uint8_t* p = px + (j * kPointerSide + i) * 4;
              p[0] = p[1] = p[2] = edge ? 0 : 255;
              p[3] = 255;
            }
          }
          pointer_shape_sent = true;
        }
      }
    }
    pw_stream_queue_buffer(stream, b);
    damage.clear();
    dirty = false;
    pointer_moved = false;
  }

  static void OnTimer(void* data, uint64_t) { static_cast<Producer*>(data)->Send(); }

  static void OnState(void* data, pw_stream_state, pw_stream_state state, const char* error) {
    auto* p = static_cast<Producer*>(data);
    if (state == PW_STREAM_STATE_ERROR) std::fprintf(stderr, "cast_producer: %s\n", error ? error : "error");
    if ((state == PW_STREAM_STATE_PAUSED || state == PW_STREAM_STATE_STREAMING) && !p->said_node) {
      p->said_node = true;
      std::printf("node %u\n", pw_stream_get_node_id(p->stream));
      std::fflush(stdout);
    }
    if (state == PW_STREAM_STATE_STREAMING) {
      // A newcomer gets the whole picture.
      std::lock_guard<std::mutex> lock(p->mutex);
      p->dirty = true;
      p->damage.clear();
      p->pointer_shape_sent = false;
      p->pointer_moved = true;
    }
  }

  static void OnParamChanged(void* data, uint32_t id, const spa_pod* param) {
    auto* p = static_cast<Producer*>(data);
    if (param == nullptr || id != SPA_PARAM_Format) return;
    uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    const spa_pod* params[4];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_size,
        SPA_POD_Int(p->stride * p->height), SPA_PARAM_BUFFERS_stride, SPA_POD_Int(p->stride),
        SPA_PARAM_BUFFERS_dataType, SPA_POD_CHOICE_FLAGS_Int(1 << SPA_DATA_MemFd)));
    params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
        SPA_PARAM_META_size, SPA_POD_Int(static_cast<int>(sizeof(spa_meta_header)))));
    params[2] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_VideoDamage),
        SPA_PARAM_META_size, SPA_POD_Int(static_cast<int>(sizeof(spa_meta_region) * kMaxRegions))));
    params[3] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Cursor),
        SPA_PARAM_META_size,
        SPA_POD_Int(static_cast<int>(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) +
                                     kPointerSide * kPointerSide * 4))));
    pw_stream_update_params(p->stream, params, 4);
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: cast_producer WIDTH HEIGHT\n");
    return 2;
  }
  Producer p;
  p.width = std::atoi(argv[1]);
  p.height = std::atoi(argv[2]);
  if (p.width <= 0 || p.height <= 0 || p.width > 8192 || p.height > 8192) return 2;
  p.stride = p.width * 4;
  p.picture.assign(static_cast<size_t>(p.stride) * p.height, 0);
  for (size_t i = 3; i < p.picture.size(); i += 4) p.picture[i] = 0xFF;
  pw_init(&argc, &argv);
  p.loop = pw_thread_loop_new("cast-producer", nullptr);
  pw_thread_loop_lock(p.loop);
  p.stream = pw_stream_new_simple(
      pw_thread_loop_get_loop(p.loop), "kmr-test-desktop",
      pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_MEDIA_ROLE, "Screen", nullptr),
      [] {
        static pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.state_changed = Producer::OnState;
        e.param_changed = Producer::OnParamChanged;
        return &e;
      }(),
      &p);
  uint8_t buffer[1024];
  spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
  const spa_rectangle size = SPA_RECTANGLE(static_cast<uint32_t>(p.width), static_cast<uint32_t>(p.height));
  const spa_fraction rate = SPA_FRACTION(0, 1), max_rate = SPA_FRACTION(30, 1), min_rate = SPA_FRACTION(1, 1);
  const spa_pod* params[1];
  params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
      SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
      SPA_POD_Id(SPA_VIDEO_FORMAT_BGRx), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size),
      SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate), SPA_FORMAT_VIDEO_maxFramerate,
      SPA_POD_CHOICE_RANGE_Fraction(&max_rate, &min_rate, &max_rate)));
  pw_stream_connect(p.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                    static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
  p.timer = pw_loop_add_timer(pw_thread_loop_get_loop(p.loop), Producer::OnTimer, &p);
  timespec every{0, 1000000000 / 30};
  pw_loop_update_timer(pw_thread_loop_get_loop(p.loop), p.timer, &every, &every, false);
  pw_thread_loop_unlock(p.loop);
  pw_thread_loop_start(p.loop);

  char line[256];
  while (std::fgets(line, sizeof(line), stdin) != nullptr) {
    int x, y, w, h;
    unsigned rgb;
    char path[200];
    if (std::sscanf(line, "fill %d %d %d %d %x", &x, &y, &w, &h, &rgb) == 5) {
      p.Fill(x, y, w, h, rgb);
    } else if (std::sscanf(line, "noise %u", &rgb) == 1) {
      std::lock_guard<std::mutex> lock(p.mutex);
      uint32_t v = rgb * 2654435761u + 1;
      for (size_t i = 0; i < p.picture.size(); i += 4) {
        v = v * 1664525u + 1013904223u;
        p.picture[i] = static_cast<uint8_t>(v >> 24);
        p.picture[i + 1] = static_cast<uint8_t>(v >> 16);
        p.picture[i + 2] = static_cast<uint8_t>(v >> 8);
      }
      p.damage.clear();  // the whole picture: sent as such
      p.dirty = true;
    } else if (std::strncmp(line, "nodamage", 8) == 0) {
      std::lock_guard<std::mutex> lock(p.mutex);
      p.send_damage = false;
    } else if (std::sscanf(line, "pointer %d %d", &x, &y) == 2) {
      std::lock_guard<std::mutex> lock(p.mutex);
      p.pointer_x = x, p.pointer_y = y;
      p.pointer_moved = true;
    } else if (std::sscanf(line, "save %199s", path) == 1) {
      std::lock_guard<std::mutex> lock(p.mutex);
      FILE* f = std::fopen(path, "wb");
      if (f != nullptr) {
        std::fprintf(f, "P6\n%d %d\n255\n", p.width, p.height);
        for (size_t i = 0; i < p.picture.size(); i += 4) {
          const uint8_t rgb3[3] = {p.picture[i + 2], p.picture[i + 1], p.picture[i]};
          std::fwrite(rgb3, 1, 3, f);
        }
        std::fclose(f);
      }
      std::printf("saved\n");
      std::fflush(stdout);
    } else if (std::strncmp(line, "quit", 4) == 0) {
      break;
    }
  }
  pw_thread_loop_stop(p.loop);
  pw_stream_destroy(p.stream);
  pw_thread_loop_destroy(p.loop);
  pw_deinit();
  return 0;
}
