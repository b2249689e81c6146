#include "tools/kmrtool/encode_output.h"

#include "recorder/engine/avi_writer.h"
#include "recorder/engine/container_stream.h"
#include "recorder/engine/container_writer.h"
#include "recorder/engine/output_kind.h"
#include "recorder/engine/wmv_writer.h"

namespace kmr {

EncodeOutput MakeEncodeOutput(const std::string& path, bool with_sound) {
  EncodeOutput o;
  const OutputKind kind = OutputKindForPath(path);
  const OutputKindInfo& info = Describe(kind);
  if (kind == OutputKind::kWindowsMedia) {
    auto writer = std::make_unique<WmvWriter>(MakeSystemWmRuntimeFactory());
    writer->SetFormatName(info.name);
    writer->SetExtension(info.extension);
    o.writer = std::move(writer);
    o.video = std::make_unique<WmvVideoStream>();
    o.takes_compressor = true;
    if (with_sound) o.audio = std::make_unique<WmvAudioStream>();
  } else if (info.format_index == 0) {
    o.writer = std::make_unique<AviWriter>(MakeSystemAviLibrary(), info.name, info.extension);
    o.video = std::make_unique<AviVideoStream>();
    o.takes_compressor = true;
    if (with_sound) o.audio = std::make_unique<AviAudioStream>();
  } else {
    o.writer = std::make_unique<StandaloneContainerWriter>();
    o.video = std::make_unique<ContainerVideoStream>();
    if (with_sound) o.audio = std::make_unique<ContainerAudioStream>();
  }
  // The Windows Media runtime's absence shows when the file is opened.
  o.writer->Initialize();
  o.writer->SetPath(path.c_str());
  return o;
}

}  // namespace kmr
