// kmrdemux: a recording's streams through the player's own reader (the own
// container, stand-alone or appended to the player, and through libavformat
// the other media files with the own codecs). Reads in pull mode: the
// container's trailer sits at the end of the file.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gst/base/gstflowcombiner.h>

#include "player/byte_source.h"
#include "player/gst/gst_kmr.h"
#include "player/gst/recording_sniff.h"
#include "player/recording_file.h"
#include "shared/container/container_format.h"
#include "shared/container/own_codec_info.h"

namespace kmr {

namespace {

GST_DEBUG_CATEGORY_STATIC(kmrdemux_debug);
#define GST_CAT_DEFAULT kmrdemux_debug

// The file's bytes from upstream, in pulls.
class PadByteSource : public ByteSource {
 public:
  PadByteSource(GstPad* sink, uint64_t size) : sink_(sink), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* out, size_t n) override {
    if (offset > size_ || n > size_ - offset) return false;
    if (n == 0) return true;
    GstBuffer* buffer = nullptr;
    if (gst_pad_pull_range(sink_, offset, static_cast<guint>(n), &buffer) != GST_FLOW_OK) return false;
    const gsize got = gst_buffer_extract(buffer, 0, out, n);
    gst_buffer_unref(buffer);
    return got == n;
  }

 private:
  GstPad* sink_;
  uint64_t size_;
};

struct OutStream {
  GstPad* pad = nullptr;
  bool video = false;
  bool key_frames = false;  // the codec marks key frames (others are deltas)
};

struct DemuxState {
  std::unique_ptr<RecordingFile> file;
  std::vector<OutStream> streams;  // by stream id; pad null for streams not given
  std::vector<RecordingFile::KeyPacket> keys;
  GstFlowCombiner* combiner = nullptr;
  GstSegment segment;
  bool need_segment = true;
  bool ended = false;
  std::atomic<uint32_t> duration_ms{0};
  std::atomic<bool> opened{false};
};

}  // namespace

struct KmrDemux {
  GstElement parent;
  GstPad* sink;
  DemuxState* state;
};
struct KmrDemuxClass {
  GstElementClass parent_class;
};

namespace {

GType kmr_demux_get_type();
#define KMR_DEMUX(obj) (reinterpret_cast<KmrDemux*>(obj))

GstStaticPadTemplate sink_template = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("application/x-kmr-recording"));
GstStaticPadTemplate video_template = GST_STATIC_PAD_TEMPLATE(
    "video_%u", GST_PAD_SRC, GST_PAD_SOMETIMES, GST_STATIC_CAPS("video/x-kmr-screen"));
GstStaticPadTemplate audio_template = GST_STATIC_PAD_TEMPLATE(
    "audio_%u", GST_PAD_SRC, GST_PAD_SOMETIMES,
    GST_STATIC_CAPS("audio/mpeg, mpegversion = (int) 1, layer = (int) 3"));

G_DEFINE_TYPE(KmrDemux, kmr_demux, GST_TYPE_ELEMENT)

GstCaps* VideoCaps(const StreamDescriptor& d, std::string* why) {
  VideoFormat f;
  if (!VideoFormat::Parse(d.format, &f) || !CheckScreenVideoFormat(f, why)) {
    if (why->empty()) *why = "the video format block is too short";
    return nullptr;
  }
  const uint32_t fourcc = f.bitmap.compression;
  const char code[5] = {static_cast<char>(fourcc), static_cast<char>(fourcc >> 8), static_cast<char>(fourcc >> 16),
                        static_cast<char>(fourcc >> 24), 0};
  GstBuffer* block = gst_buffer_new_memdup(d.format.data(), d.format.size());
  GstCaps* caps = gst_caps_new_simple(
      kScreenVideoCaps, "fourcc", G_TYPE_STRING, code, "width", G_TYPE_INT, f.bitmap.width, "height", G_TYPE_INT,
      f.bitmap.height < 0 ? -f.bitmap.height : f.bitmap.height, "bpp", G_TYPE_INT,
      static_cast<int>(f.bitmap.bit_count), "framerate", GST_TYPE_FRACTION, static_cast<int>(FramesPerSecond(f)), 1,
      "codec_data", GST_TYPE_BUFFER, block, nullptr);
  gst_buffer_unref(block);
  return caps;
}

GstCaps* AudioCaps(const StreamDescriptor& d) {
  WaveFormatMp3 w;
  if (!WaveFormatMp3::Parse(d.format, &w) || w.channels == 0 || w.channels > 2 || w.samples_per_sec == 0) {
    return nullptr;
  }
  return gst_caps_new_simple("audio/mpeg", "mpegversion", G_TYPE_INT, 1, "layer", G_TYPE_INT, 3, "rate", G_TYPE_INT,
                             static_cast<int>(w.samples_per_sec), "channels", G_TYPE_INT,
                             static_cast<int>(w.channels), "parsed", G_TYPE_BOOLEAN, FALSE, nullptr);
}

void PushToAll(KmrDemux* demux, GstEvent* event) {
  for (const OutStream& s : demux->state->streams) {
    if (s.pad != nullptr) gst_pad_push_event(s.pad, gst_event_ref(event));
  }
  gst_event_unref(event);
}

gboolean SrcQuery(GstPad* pad, GstObject* parent, GstQuery* query) {
  KmrDemux* demux = KMR_DEMUX(parent);
  DemuxState* st = demux->state;
  switch (GST_QUERY_TYPE(query)) {
    case GST_QUERY_DURATION: {
      GstFormat format;
      gst_query_parse_duration(query, &format, nullptr);
      if (format != GST_FORMAT_TIME || !st->opened) return FALSE;
      gst_query_set_duration(query, GST_FORMAT_TIME, st->duration_ms * GST_MSECOND);
      return TRUE;
    }
    case GST_QUERY_SEEKING: {
      GstFormat format;
      gst_query_parse_seeking(query, &format, nullptr, nullptr, nullptr);
      if (format != GST_FORMAT_TIME) return FALSE;
      gst_query_set_seeking(query, GST_FORMAT_TIME, st->opened, 0, st->duration_ms * GST_MSECOND);
      return TRUE;
    }
    default:
      return gst_pad_query_default(pad, parent, query);
  }
}

void Loop(gpointer data);

// A seek goes to the last key frame at or before the target; the decoders
// and sinks leave out what lies before the new segment's start.
gboolean HandleSeek(KmrDemux* demux, GstEvent* event) {
  DemuxState* st = demux->state;
  gdouble rate;
  GstFormat format;
  GstSeekFlags flags;
  GstSeekType start_type, stop_type;
  gint64 start, stop;
  gst_event_parse_seek(event, &rate, &format, &flags, &start_type, &start, &stop_type, &stop);
  if (format != GST_FORMAT_TIME || rate <= 0 || !st->opened) return FALSE;
  const guint32 seqnum = gst_event_get_seqnum(event);
  const bool flush = (flags & GST_SEEK_FLAG_FLUSH) != 0;
  if (flush) {
    GstEvent* e = gst_event_new_flush_start();
    gst_event_set_seqnum(e, seqnum);
    PushToAll(demux, e);
  }
  gst_pad_pause_task(demux->sink);
  GST_PAD_STREAM_LOCK(demux->sink);
  gboolean update;
  gst_segment_do_seek(&st->segment, rate, format, flags, start_type, start, stop_type, stop, &update);
  const uint64_t target_ms = st->segment.start / GST_MSECOND;
  const RecordingFile::KeyPacket* key = nullptr;
  for (const RecordingFile::KeyPacket& k : st->keys) {
    if (k.time_stamp <= target_ms) key = &k;
  }
  if (key != nullptr) {
    st->file->SetPosition(key->offset);
  } else {
    st->file->Rewind();
  }
  st->segment.position = st->segment.start;
  st->segment.time = st->segment.start;
  if (flush) {
    GstEvent* e = gst_event_new_flush_stop(TRUE);
    gst_event_set_seqnum(e, seqnum);
    PushToAll(demux, e);
  }
  gst_flow_combiner_reset(st->combiner);
  st->need_segment = true;
  st->ended = false;
  gst_pad_start_task(demux->sink, Loop, demux, nullptr);
  GST_PAD_STREAM_UNLOCK(demux->sink);
  return TRUE;
}

gboolean SrcEvent(GstPad* pad, GstObject* parent, GstEvent* event) {
  KmrDemux* demux = KMR_DEMUX(parent);
  if (GST_EVENT_TYPE(event) == GST_EVENT_SEEK) {
    const gboolean done = HandleSeek(demux, event);
    gst_event_unref(event);
    return done;
  }
  return gst_pad_event_default(pad, parent, event);
}

uint64_t UpstreamSize(GstPad* sink) {
  gint64 size = 0;
  if (!gst_pad_peer_query_duration(sink, GST_FORMAT_BYTES, &size) || size <= 0) return 0;
  return static_cast<uint64_t>(size);
}

// Opens the recording and adds a pad for each stream a player can show.
bool Open(KmrDemux* demux) {
  DemuxState* st = demux->state;
  const uint64_t size = UpstreamSize(demux->sink);
  if (size == 0) {
    GST_ELEMENT_ERROR(demux, STREAM, DEMUX, ("The recording's length is unknown."), (nullptr));
    return false;
  }
  std::string why;
  st->file = OpenRecordingSource(std::make_shared<PadByteSource>(demux->sink, size), &why);
  if (st->file == nullptr) {
    GST_ELEMENT_ERROR(demux, STREAM, DEMUX, ("Not a recording that plays: %s", why.c_str()), (nullptr));
    return false;
  }
  const std::vector<StreamDescriptor>& descriptors = st->file->Streams();
  st->streams.assign(descriptors.size(), OutStream{});
  unsigned videos = 0, audios = 0;
  for (size_t i = 0; i < descriptors.size(); ++i) {
    const StreamDescriptor& d = descriptors[i];
    GstCaps* caps = nullptr;
    GstTagList* tags = nullptr;
    OutStream out;
    if (d.header.major_type == kMediaTypeVideo && d.header.subtype == kSubtypeScreenVideo) {
      why.clear();
      caps = VideoCaps(d, &why);
      if (caps == nullptr) {
        GST_ELEMENT_ERROR(demux, STREAM, DEMUX, ("The video format is damaged: %s", why.c_str()), (nullptr));
        return false;
      }
      VideoFormat f;
      VideoFormat::Parse(d.format, &f);
      const OwnCodecInfo* codec = FindOwnCodecInfo(f.bitmap.compression);
      out.video = true;
      out.key_frames = codec != nullptr && codec->key_frames;
      if (codec != nullptr) tags = gst_tag_list_new(GST_TAG_VIDEO_CODEC, codec->name, nullptr);
      gchar* name = g_strdup_printf("video_%u", videos++);
      out.pad = gst_pad_new_from_static_template(&video_template, name);
      g_free(name);
      if (out.key_frames) st->keys = st->file->IndexKeyPackets(static_cast<uint16_t>(i));
    } else if (d.header.major_type == kMediaTypeAudio && d.header.subtype == kSubtypeMp3) {
      caps = AudioCaps(d);
      if (caps == nullptr) continue;  // a sound the decoders cannot take: left out
      gchar* name = g_strdup_printf("audio_%u", audios++);
      out.pad = gst_pad_new_from_static_template(&audio_template, name);
      g_free(name);
    } else {
      continue;
    }
    gst_pad_set_query_function(out.pad, SrcQuery);
    gst_pad_set_event_function(out.pad, SrcEvent);
    gst_pad_use_fixed_caps(out.pad);
    gst_pad_set_active(out.pad, TRUE);
    gchar* id = gst_pad_create_stream_id_printf(out.pad, GST_ELEMENT(demux), "%03u", static_cast<unsigned>(i));
    GstEvent* start = gst_event_new_stream_start(id);
    gst_event_set_group_id(start, 1);
    g_free(id);
    gst_pad_push_event(out.pad, start);
    gst_pad_set_caps(out.pad, caps);
    gst_caps_unref(caps);
    if (tags != nullptr) gst_pad_push_event(out.pad, gst_event_new_tag(tags));
    gst_element_add_pad(GST_ELEMENT(demux), out.pad);
    gst_flow_combiner_add_pad(st->combiner, out.pad);
    st->streams[i] = out;
  }
  if (videos == 0) {
    GST_ELEMENT_ERROR(demux, STREAM, DEMUX, ("The recording has no screen video stream."), (nullptr));
    return false;
  }
  gst_element_no_more_pads(GST_ELEMENT(demux));
  st->duration_ms = st->file->Duration();
  st->segment.duration = st->duration_ms * GST_MSECOND;
  st->opened = true;
  GST_DEBUG_OBJECT(demux, "opened: %zu streams, %u ms", st->streams.size(), st->duration_ms.load());
  return true;
}

void Stop(KmrDemux* demux, bool send_eos) {
  GST_DEBUG_OBJECT(demux, "stopping%s", send_eos ? " with the end of the streams" : "");
  if (send_eos) PushToAll(demux, gst_event_new_eos());
  gst_pad_pause_task(demux->sink);
}

void Loop(gpointer data) {
  KmrDemux* demux = KMR_DEMUX(data);
  DemuxState* st = demux->state;
  if (!st->opened) {  // activation opens it
    gst_pad_pause_task(demux->sink);
    return;
  }
  if (st->ended) {
    GST_DEBUG_OBJECT(demux, "at the end");
    gst_pad_pause_task(demux->sink);
    return;
  }
  if (st->need_segment) {
    st->need_segment = false;
    PushToAll(demux, gst_event_new_segment(&st->segment));
  }
  PacketRecord packet;
  const RecordingFile::ReadResult r = st->file->ReadPacket(&packet);
  if (r == RecordingFile::ReadResult::kEnd) {
    st->ended = true;
    Stop(demux, true);
    return;
  }
  if (r == RecordingFile::ReadResult::kError) {
    GST_ELEMENT_ERROR(demux, STREAM, DEMUX, ("The recording is damaged: %s", st->file->Error().c_str()), (nullptr));
    st->ended = true;
    Stop(demux, true);
    return;
  }
  if (packet.stream_id >= st->streams.size() || st->streams[packet.stream_id].pad == nullptr) return;
  const OutStream& out = st->streams[packet.stream_id];
  const GstClockTime pts = static_cast<GstClockTime>(packet.time_stamp) * GST_MSECOND;
  if (GST_CLOCK_TIME_IS_VALID(st->segment.stop) && pts > static_cast<GstClockTime>(st->segment.stop)) {
    st->ended = true;
    Stop(demux, true);
    return;
  }
  GstBuffer* buffer = gst_buffer_new_memdup(packet.payload.data(), packet.payload.size());
  GST_BUFFER_PTS(buffer) = pts;
  GST_BUFFER_DTS(buffer) = pts;
  GST_BUFFER_DURATION(buffer) =
      packet.duration != 0 ? static_cast<GstClockTime>(packet.duration) * GST_MSECOND : GST_CLOCK_TIME_NONE;
  if (out.key_frames && (packet.flags & kPacketFlagKeyFrame) == 0) {
    GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
  }
  const GstFlowReturn pushed = gst_pad_push(out.pad, buffer);
  const GstFlowReturn flow = gst_flow_combiner_update_pad_flow(st->combiner, out.pad, pushed);
  if (flow == GST_FLOW_OK) return;
  GST_DEBUG_OBJECT(demux, "stream %u at %u ms: %s (the pad's own: %s)", packet.stream_id, packet.time_stamp,
                   gst_flow_get_name(flow), gst_flow_get_name(pushed));
  if (flow == GST_FLOW_FLUSHING) {
    gst_pad_pause_task(demux->sink);
    return;
  }
  if (flow == GST_FLOW_EOS) {
    st->ended = true;
    Stop(demux, true);
    return;
  }
  if (flow == GST_FLOW_NOT_LINKED || flow < GST_FLOW_EOS) {
    GST_ELEMENT_FLOW_ERROR(demux, flow);
  }
  Stop(demux, true);
}

gboolean SinkActivate(GstPad* sink, GstObject*) {
  GstQuery* query = gst_query_new_scheduling();
  if (!gst_pad_peer_query(sink, query)) {
    gst_query_unref(query);
    return FALSE;
  }
  const gboolean pull = gst_query_has_scheduling_mode_with_flags(query, GST_PAD_MODE_PULL, GST_SCHEDULING_FLAG_SEEKABLE);
  gst_query_unref(query);
  if (!pull) {
    GST_ERROR_OBJECT(sink, "a recording is read from a seekable source (a file)");
    return FALSE;
  }
  return gst_pad_activate_mode(sink, GST_PAD_MODE_PULL, TRUE);
}

gboolean SinkActivateMode(GstPad* sink, GstObject* parent, GstPadMode mode, gboolean active) {
  if (mode != GST_PAD_MODE_PULL) return FALSE;
  KmrDemux* demux = KMR_DEMUX(parent);
  if (!active) return gst_pad_stop_task(sink);
  // Opened here rather than on the streaming thread: a recording that does
  // not open fails the state change, so decodebin reports why instead of
  // waiting for a picture that never comes.
  if (!demux->state->opened && !Open(demux)) return FALSE;
  return gst_pad_start_task(sink, Loop, demux, nullptr);
}

void ResetState(KmrDemux* demux) {
  DemuxState* st = demux->state;
  GST_DEBUG_OBJECT(demux, "reset");
  for (OutStream& s : st->streams) {
    if (s.pad != nullptr) {
      gst_flow_combiner_remove_pad(st->combiner, s.pad);
      gst_element_remove_pad(GST_ELEMENT(demux), s.pad);
    }
  }
  st->streams.clear();
  st->keys.clear();
  st->file.reset();
  gst_segment_init(&st->segment, GST_FORMAT_TIME);
  st->need_segment = true;
  st->ended = false;
  st->opened = false;
  st->duration_ms = 0;
}

GstStateChangeReturn ChangeState(GstElement* element, GstStateChange transition) {
  KmrDemux* demux = KMR_DEMUX(element);
  if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) ResetState(demux);
  const GstStateChangeReturn r = GST_ELEMENT_CLASS(kmr_demux_parent_class)->change_state(element, transition);
  if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) ResetState(demux);
  return r;
}

void Finalize(GObject* object) {
  KmrDemux* demux = KMR_DEMUX(object);
  gst_flow_combiner_free(demux->state->combiner);
  delete demux->state;
  G_OBJECT_CLASS(kmr_demux_parent_class)->finalize(object);
}

void kmr_demux_class_init(KmrDemuxClass* klass) {
  GObjectClass* object_class = G_OBJECT_CLASS(klass);
  GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
  object_class->finalize = Finalize;
  element_class->change_state = ChangeState;
  gst_element_class_add_static_pad_template(element_class, &sink_template);
  gst_element_class_add_static_pad_template(element_class, &video_template);
  gst_element_class_add_static_pad_template(element_class, &audio_template);
  gst_element_class_set_static_metadata(element_class, "Norvane recording demuxer", "Codec/Demuxer",
                                        "The screen video and sound of a recording (own container, self-playing "
                                        "file, or a media file with the screen video codecs)",
                                        "Norvane");
  GST_DEBUG_CATEGORY_INIT(kmrdemux_debug, "kmrdemux", 0, "Norvane recording demuxer");
}

void kmr_demux_init(KmrDemux* demux) {
  demux->state = new DemuxState();
  demux->state->combiner = gst_flow_combiner_new();
  gst_segment_init(&demux->state->segment, GST_FORMAT_TIME);
  demux->sink = gst_pad_new_from_static_template(&sink_template, "sink");
  gst_pad_set_activate_function(demux->sink, SinkActivate);
  gst_pad_set_activatemode_function(demux->sink, SinkActivateMode);
  gst_element_add_pad(GST_ELEMENT(demux), demux->sink);
}

void TypeFind(GstTypeFind* find, gpointer) {
  const uint64_t size = gst_type_find_get_length(find);
  const PeekBytes peek = [find](int64_t offset, size_t n) -> const uint8_t* {
    return gst_type_find_peek(find, offset, static_cast<guint>(n));
  };
  if (SniffRecording(peek, size) != RecordingKind::kNone) {
    gst_type_find_suggest_empty_simple(find, GST_TYPE_FIND_MAXIMUM, kRecordingCaps);
  }
}

}  // namespace

gboolean RegisterRecordingTypeFinder(GstPlugin* plugin) {
  // Ahead of the other media types: a file with the screen video codecs is
  // read by the player's reader, which knows their formats.
  return gst_type_find_register(plugin, "kmr-recording", GST_RANK_PRIMARY + 100, TypeFind,
                                "kmr,exe,avi,mkv,wmv,asf,mp4", gst_caps_from_string(kRecordingCaps), nullptr,
                                nullptr);
}

gboolean RegisterRecordingDemuxer(GstPlugin* plugin) {
  return gst_element_register(plugin, "kmrdemux", GST_RANK_PRIMARY, kmr_demux_get_type());
}

}  // namespace kmr
