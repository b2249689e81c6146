// The "kmr" plugin: what the desktop's GStreamer players need to open every
// recording the recorder writes.
#include "player/gst/gst_kmr.h"

namespace {

gboolean PluginInit(GstPlugin* plugin) {
  return kmr::RegisterRecordingTypeFinder(plugin) && kmr::RegisterRecordingDemuxer(plugin) &&
         kmr::RegisterScreenVideoDecoder(plugin);
}

}  // namespace

#define PACKAGE "kmr"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, kmr,
                  "Norvane screen recordings: the own container, the self-playing file and the screen video codecs",
                  PluginInit, "1.0", "Proprietary", "Norvane Screen Recorder", "kelvo")
