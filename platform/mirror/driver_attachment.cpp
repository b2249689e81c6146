#include "platform/mirror/driver_attachment.h"

namespace kmr::platform {

bool DriverAttachment::Attach(std::string* error) {
  Detach();
  if (!steps_->FindDevice(&device_name_)) {
    *error = "the driver's display device is not installed";
    return false;
  }
  if (!steps_->ReadMode(&mode_)) {
    *error = "cannot read the display mode";
    return false;
  }
  // From the first write on, every failure is undone in full: the value may
  // be in the registry even when its write reported failure.
  touched_ = true;
  if (!steps_->WriteAttachValue(device_name_, true)) {
    *error = "cannot write the driver's attach value";
  } else if (!steps_->ApplySettings(device_name_, mode_)) {
    *error = "the display settings refused the driver";
  } else if (!steps_->OpenDriver(device_name_)) {
    *error = "cannot open the driver's device context";
  } else {
    attached_ = true;
    return true;
  }
  Detach();
  return false;
}

void DriverAttachment::Detach() {
  if (!touched_) return;
  steps_->CloseDriver();
  steps_->WriteAttachValue(device_name_, false);
  steps_->ApplySettings(device_name_, mode_);
  touched_ = false;
  attached_ = false;
}

}  // namespace kmr::platform
