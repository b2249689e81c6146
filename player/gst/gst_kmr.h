// The GStreamer elements that open recordings in other programs: the type
// finder and demuxer of the own container (stand-alone or self-playing) and
// of media files with the screen video codecs, and the codecs' decoder.
#pragma once

#include <gst/gst.h>

namespace kmr {

// The caps of a screen video stream the demuxer gives: the codec's code, the
// picture, and the recording's whole video format block as codec_data.
inline constexpr const char* kScreenVideoCaps = "video/x-kmr-screen";
inline constexpr const char* kRecordingCaps = "application/x-kmr-recording";

gboolean RegisterRecordingTypeFinder(GstPlugin* plugin);
gboolean RegisterRecordingDemuxer(GstPlugin* plugin);
gboolean RegisterScreenVideoDecoder(GstPlugin* plugin);

}  // namespace kmr
