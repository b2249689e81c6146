#include "recorder/outputs/output_set.h"

#include "recorder/outputs/avi/avi_file.h"
#include "recorder/outputs/avi/avi_writer.h"
#include "recorder/outputs/container/container_stream.h"
#include "recorder/outputs/container/container_writer.h"
#include "recorder/outputs/wmv/wmv_writer.h"

namespace kmr {

OutputSet MakeOutputSet(OutputKind kind) {
  OutputSet o;
  o.kind = kind;
  const OutputKindInfo& info = Describe(kind);
  switch (kind) {
    case OutputKind::kWindowsMedia: {
      auto writer = std::make_unique<WmvWriter>(MakeSystemWmRuntimeFactory());
      writer->SetFormatName(info.name);
      writer->SetExtension(info.extension);
      o.writer = std::move(writer);
      o.video = std::make_unique<WmvVideoStream>();
      o.audio = std::make_unique<WmvAudioStream>();
      o.takes_compressor = true;
      break;
    }
    case OutputKind::kAvi:
    case OutputKind::kMatroska:
    case OutputKind::kMp4:
      o.writer = std::make_unique<AviWriter>(MakeSystemAviLibrary(), info.name, info.extension);
      o.video = std::make_unique<AviVideoStream>();
      o.audio = std::make_unique<AviAudioStream>();
      o.takes_compressor = true;
      break;
    case OutputKind::kExecutable: {
      auto writer = std::make_unique<ExecutableWriter>();
      o.executable = writer.get();
      o.writer = std::move(writer);
      o.video = std::make_unique<ContainerVideoStream>();
      o.audio = std::make_unique<ContainerAudioStream>();
      break;
    }
  }
  o.writer->Initialize();
  return o;
}

OutputSet MakeContainerOutputSet() {
  OutputSet o;
  o.writer = std::make_unique<StandaloneContainerWriter>();
  o.video = std::make_unique<ContainerVideoStream>();
  o.audio = std::make_unique<ContainerAudioStream>();
  o.writer->Initialize();
  return o;
}

}  // namespace kmr
