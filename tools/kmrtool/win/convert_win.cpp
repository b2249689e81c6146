// The Windows kmrtool has no libavcodec: conversion is done on Linux.
#include "tools/kmrtool/libav/convert.h"

namespace kmr {

bool ChooseConvertTarget(const std::string&, bool, ConvertTarget*, std::string* error) {
  *error = "this kmrtool cannot convert: it has no video encoders";
  return false;
}

bool ConvertRecording(RecordingFile*, const std::string&, const ConvertOptions&, std::string* error) {
  *error =
      "converting needs libavcodec, which the Windows kmrtool does not have: convert with the Linux kmrtool, or "
      "install kmrv.dll so that other Windows programs play the recording as it is";
  return false;
}

}  // namespace kmr
