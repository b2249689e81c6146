// kmrvdec: the screen video codecs' decoder for GStreamer, over the player's
// frame decoders. It takes the demuxer's streams (with the recording's whole
// video format) and the streams other demuxers give for the codecs' codes;
// those keep no bitmap header, so the picture is taken from their caps or,
// for the lossless codec, from the first key frame.
#include <gst/video/video.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "player/codecs/frame_decoder.h"
#include "player/codecs/lossless_key_frame.h"
#include "player/gst/gst_kmr.h"
#include "shared/container/container_format.h"
#include "shared/container/own_codec_info.h"

namespace kmr {

namespace {

GST_DEBUG_CATEGORY_STATIC(kmrvdec_debug);
#define GST_CAT_DEFAULT kmrvdec_debug

struct DecoderState {
  uint32_t fourcc = 0;
  // What the stream's description says; 0 where it says nothing.
  int32_t width = 0;
  int32_t height = 0;
  uint32_t bits = 0;
  VideoFormat format;  // the recording's own block, when given
  bool has_format = false;
  std::unique_ptr<FrameDecoder> decoder;
  GstVideoCodecState* input = nullptr;
  GstVideoFormat out_format = GST_VIDEO_FORMAT_UNKNOWN;
  std::vector<uint8_t> palette;  // 8 bits: 256 × (blue, green, red, 0)
};

}  // namespace

struct KmrvDec {
  GstVideoDecoder parent;
  DecoderState* state;
};
struct KmrvDecClass {
  GstVideoDecoderClass parent_class;
};

namespace {

GType kmrv_dec_get_type();
#define KMRV_DEC(obj) (reinterpret_cast<KmrvDec*>(obj))

constexpr uint32_t kKmrvUpper = kFourCcLossless;  // "KMRV"
constexpr uint32_t kKmrvLower = kFourCcLossy;     // "kmrv"

// The demuxer's streams, and the codecs' codes as avidemux (an integer
// code), matroskademux (a text code) and qtdemux (the media type) give them.
GstStaticPadTemplate sink_template = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("video/x-kmr-screen; "
                    "video/x-avi-unknown, fourcc = (int) { 1448234315, 1987210603 }; "
                    "video/x-unknown, fourcc = (string) { KMRV, kmrv }; "
                    "video/x-gst-fourcc-KMRV; video/x-gst-fourcc-kmrv"));
static_assert(kKmrvUpper == 1448234315u && kKmrvLower == 1987210603u, "the codes in the pad template");

GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("{ BGRx, BGR, RGB16, RGB15 }")));

G_DEFINE_TYPE(KmrvDec, kmrv_dec, GST_TYPE_VIDEO_DECODER)

uint32_t FourCcText(const char* s) {
  return s != nullptr && std::strlen(s) == 4 ? FourCc(s[0], s[1], s[2], s[3]) : 0;
}

// Reads the codec and what is known of the picture from the caps.
bool ReadCaps(GstCaps* caps, DecoderState* st, std::string* why) {
  const GstStructure* s = gst_caps_get_structure(caps, 0);
  const std::string name = gst_structure_get_name(s);
  st->has_format = false;
  st->width = st->height = 0;
  st->bits = 0;
  gint v = 0;
  if (name == kScreenVideoCaps) {
    const GValue* data = gst_structure_get_value(s, "codec_data");
    GstBuffer* block = data != nullptr && G_VALUE_HOLDS(data, GST_TYPE_BUFFER) ? gst_value_get_buffer(data) : nullptr;
    if (block == nullptr) {
      *why = "the stream carries no video format";
      return false;
    }
    std::vector<uint8_t> bytes(gst_buffer_get_size(block));
    gst_buffer_extract(block, 0, bytes.data(), bytes.size());
    if (!VideoFormat::Parse(bytes, &st->format)) {
      *why = "the video format is too short";
      return false;
    }
    if (!CheckScreenVideoFormat(st->format, why)) return false;
    st->has_format = true;
    st->fourcc = st->format.bitmap.compression;
    st->width = st->format.bitmap.width;
    st->height = std::abs(st->format.bitmap.height);
    st->bits = st->format.bitmap.bit_count;
    return true;
  }
  if (name == "video/x-avi-unknown") {
    gst_structure_get_int(s, "fourcc", &v);
    st->fourcc = static_cast<uint32_t>(v);
  } else if (name == "video/x-unknown") {
    st->fourcc = FourCcText(gst_structure_get_string(s, "fourcc"));
  } else if (name.rfind("video/x-gst-fourcc-", 0) == 0) {
    st->fourcc = FourCcText(name.c_str() + std::strlen("video/x-gst-fourcc-"));
  }
  if (!IsOwnFourCc(st->fourcc)) {
    *why = "not a screen video stream";
    return false;
  }
  if (gst_structure_get_int(s, "width", &v) && v > 0 && v <= kMaxFrameSide) st->width = v;
  if (gst_structure_get_int(s, "height", &v) && v > 0 && v <= kMaxFrameSide) st->height = v;
  // The lossy codec's frames are always 32 bits.
  if (st->fourcc == kKmrvLower) st->bits = 32;
  return true;
}

GstVideoFormat OutputFormat(const DecoderState& st) {
  switch (st.bits) {
    case 24:
      return GST_VIDEO_FORMAT_BGR;
    case 16:
      // 5-6-5 unless the format's green mask says 5-5-5, as the player reads it.
      if (st.has_format && st.format.colour_data.size() >= 12 && LoadU32(&st.format.colour_data[4]) == 0x3E0) {
        return GST_VIDEO_FORMAT_RGB15;
      }
      return GST_VIDEO_FORMAT_RGB16;
    default:
      return GST_VIDEO_FORMAT_BGRx;  // 32 bits, and 8 bits through the palette
  }
}

// The decoder and the output once the picture is known.
bool Configure(KmrvDec* dec, std::string* why) {
  DecoderState* st = dec->state;
  st->decoder = MakeFrameDecoder(st->fourcc, why);
  if (st->decoder == nullptr) return false;
  const uint32_t bpp = st->bits / 8;
  uint32_t stride = 0;
  if (st->has_format && st->format.bitmap.size_image != 0 && st->height > 0) {
    stride = st->format.bitmap.size_image / static_cast<uint32_t>(st->height);
  }
  if (!st->decoder->SetFormat(st->width, st->height, bpp, stride)) {
    *why = st->decoder->Error();
    return false;
  }
  st->palette.clear();
  if (st->bits == 8) {
    st->palette.resize(1024);
    if (st->has_format && st->format.colour_data.size() >= 1024) {
      std::copy_n(st->format.colour_data.begin(), 1024, st->palette.begin());
    } else {
      for (int i = 0; i < 256; ++i) std::fill_n(&st->palette[i * 4], 3, static_cast<uint8_t>(i));  // grey
    }
  }
  st->out_format = OutputFormat(*st);
  GstVideoCodecState* out = gst_video_decoder_set_output_state(GST_VIDEO_DECODER(dec), st->out_format,
                                                               static_cast<guint>(st->width),
                                                               static_cast<guint>(st->height), st->input);
  if (st->input != nullptr && st->input->info.fps_n == 0 && st->has_format) {
    GST_VIDEO_INFO_FPS_N(&out->info) = static_cast<gint>(FramesPerSecond(st->format));
    GST_VIDEO_INFO_FPS_D(&out->info) = 1;
  }
  gst_video_codec_state_unref(out);
  if (!gst_video_decoder_negotiate(GST_VIDEO_DECODER(dec))) {
    *why = "the picture's format was not taken downstream";
    return false;
  }
  return true;
}

gboolean SetFormat(GstVideoDecoder* decoder, GstVideoCodecState* state) {
  KmrvDec* dec = KMRV_DEC(decoder);
  DecoderState* st = dec->state;
  if (st->input != nullptr) gst_video_codec_state_unref(st->input);
  st->input = gst_video_codec_state_ref(state);
  st->decoder.reset();
  std::string why;
  if (!ReadCaps(state->caps, st, &why)) {
    GST_ELEMENT_ERROR(dec, STREAM, FORMAT, ("Cannot play this screen video: %s", why.c_str()), (nullptr));
    return FALSE;
  }
  if (st->width > 0 && st->height > 0 && st->bits != 0 && !Configure(dec, &why)) {
    GST_ELEMENT_ERROR(dec, STREAM, FORMAT, ("Cannot play this screen video: %s", why.c_str()), (nullptr));
    return FALSE;
  }
  return TRUE;
}

// A stream without its format: the lossless codec's first key frame says it.
bool LearnFromKeyFrame(KmrvDec* dec, const uint8_t* data, size_t size, std::string* why) {
  DecoderState* st = dec->state;
  KeyFrameGeometry g;
  if (st->fourcc != kKmrvUpper || !LosslessKeyFrameGeometry(data, size, &g)) {
    *why = st->fourcc == kKmrvUpper
               ? "the container keeps no picture size and the stream does not start with a key frame"
               : "the container keeps no picture size for the lossy codec";
    return false;
  }
  if ((st->width != 0 && st->width != g.width) || (st->height != 0 && st->height != g.height)) {
    *why = "the key frame's picture differs from the container's";
    return false;
  }
  st->width = g.width;
  st->height = g.height;
  st->bits = g.bytes_per_pixel * 8;
  return Configure(dec, why);
}

void CopyPicture(const DecoderState& st, const PlaneView& picture, GstVideoFrame* frame) {
  auto* out = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(frame, 0));
  const int out_stride = GST_VIDEO_FRAME_PLANE_STRIDE(frame, 0);
  const uint32_t bpp = st.bits / 8;
  for (int32_t y = 0; y < st.height; ++y) {
    const uint8_t* in = picture.At(0, y);
    uint8_t* row = out + static_cast<ptrdiff_t>(y) * out_stride;
    if (bpp == 1) {
      for (int32_t x = 0; x < st.width; ++x) {
        std::memcpy(row + x * 4, &st.palette[static_cast<size_t>(in[x]) * 4], 4);
      }
    } else {
      std::memcpy(row, in, static_cast<size_t>(st.width) * bpp);
    }
  }
}

GstFlowReturn HandleFrame(GstVideoDecoder* decoder, GstVideoCodecFrame* frame) {
  KmrvDec* dec = KMRV_DEC(decoder);
  DecoderState* st = dec->state;
  GstMapInfo map;
  if (!gst_buffer_map(frame->input_buffer, &map, GST_MAP_READ)) {
    gst_video_decoder_drop_frame(decoder, frame);
    return GST_FLOW_ERROR;
  }
  std::string why;
  bool ok = true;
  if (st->decoder == nullptr) ok = LearnFromKeyFrame(dec, map.data, map.size, &why);
  if (ok && !st->decoder->Decode(map.data, map.size, nullptr)) {
    why = st->decoder->Error();
    ok = false;
  }
  gst_buffer_unmap(frame->input_buffer, &map);
  if (!ok) {
    GST_ELEMENT_ERROR(dec, STREAM, DECODE, ("Cannot decode the screen video: %s", why.c_str()), (nullptr));
    gst_video_decoder_drop_frame(decoder, frame);
    return GST_FLOW_ERROR;
  }
  const GstFlowReturn allocated = gst_video_decoder_allocate_output_frame(decoder, frame);
  if (allocated != GST_FLOW_OK) {
    gst_video_decoder_drop_frame(decoder, frame);
    return allocated;
  }
  GstVideoCodecState* out_state = gst_video_decoder_get_output_state(decoder);
  GstVideoFrame out;
  const gboolean mapped = gst_video_frame_map(&out, &out_state->info, frame->output_buffer, GST_MAP_WRITE);
  gst_video_codec_state_unref(out_state);
  if (!mapped) {
    gst_video_decoder_drop_frame(decoder, frame);
    return GST_FLOW_ERROR;
  }
  CopyPicture(*st, st->decoder->Picture(), &out);
  gst_video_frame_unmap(&out);
  return gst_video_decoder_finish_frame(decoder, frame);
}

// After a seek the demuxer starts at a key frame: decoding starts again on
// a black picture, as in the player.
gboolean Flush(GstVideoDecoder* decoder) {
  DecoderState* st = KMRV_DEC(decoder)->state;
  if (st->decoder != nullptr) st->decoder->Restart();
  return TRUE;
}

gboolean Stop(GstVideoDecoder* decoder) {
  DecoderState* st = KMRV_DEC(decoder)->state;
  st->decoder.reset();
  if (st->input != nullptr) gst_video_codec_state_unref(st->input);
  st->input = nullptr;
  return TRUE;
}

void Finalize(GObject* object) {
  delete KMRV_DEC(object)->state;
  G_OBJECT_CLASS(kmrv_dec_parent_class)->finalize(object);
}

void kmrv_dec_class_init(KmrvDecClass* klass) {
  GObjectClass* object_class = G_OBJECT_CLASS(klass);
  GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
  GstVideoDecoderClass* decoder_class = GST_VIDEO_DECODER_CLASS(klass);
  object_class->finalize = Finalize;
  decoder_class->set_format = SetFormat;
  decoder_class->handle_frame = HandleFrame;
  decoder_class->flush = Flush;
  decoder_class->stop = Stop;
  gst_element_class_add_static_pad_template(element_class, &sink_template);
  gst_element_class_add_static_pad_template(element_class, &src_template);
  gst_element_class_set_static_metadata(element_class, "Norvane Screen Video decoder", "Codec/Decoder/Video",
                                        "Decodes Norvane Screen Video (Lossless) \"KMRV\" and (Lossy) \"kmrv\"",
                                        "Norvane");
  GST_DEBUG_CATEGORY_INIT(kmrvdec_debug, "kmrvdec", 0, "Norvane Screen Video decoder");
}

void kmrv_dec_init(KmrvDec* dec) {
  dec->state = new DecoderState();
  gst_video_decoder_set_packetized(GST_VIDEO_DECODER(dec), TRUE);
}

}  // namespace

gboolean RegisterScreenVideoDecoder(GstPlugin* plugin) {
  return gst_element_register(plugin, "kmrvdec", GST_RANK_PRIMARY, kmrv_dec_get_type());
}

}  // namespace kmr
