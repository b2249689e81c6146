// Attaching a mirror display driver to the desktop and taking it off again.
// The order of the steps and the undoing are system logic; the steps
// themselves (display devices, the registry value "Attach.ToDesktop", display
// settings, the driver's device context) are the platform's, behind
// DisplayAttachSteps: Win32 in win/, fakes in tests.
#pragma once

#include <cstdint>
#include <string>

namespace kmr::platform {

// The desktop's display mode, which the driver's device is given.
struct DisplayMode {
  uint32_t width = 0, height = 0, bits_per_pixel = 0;
};

class DisplayAttachSteps {
 public:
  virtual ~DisplayAttachSteps() = default;
  // The display device with the driver's device string; false when none.
  virtual bool FindDevice(std::string* device_name) = 0;
  // The mode the desktop runs in now.
  virtual bool ReadMode(DisplayMode* mode) = 0;
  // "Attach.ToDesktop" (1 or 0) under the service's hardware-profile key.
  virtual bool WriteAttachValue(const std::string& device_name, bool attach) = 0;
  // Puts the registry's settings for the device, in that mode, into effect.
  virtual bool ApplySettings(const std::string& device_name, const DisplayMode& mode) = 0;
  // The driver's device context with its surface and change ring mapped and
  // tracking on; CloseDriver unmaps and closes whatever of it is open.
  virtual bool OpenDriver(const std::string& device_name) = 0;
  virtual void CloseDriver() = 0;
};

class DriverAttachment {
 public:
  explicit DriverAttachment(DisplayAttachSteps* steps) : steps_(steps) {}
  ~DriverAttachment() { Detach(); }
  DriverAttachment(const DriverAttachment&) = delete;
  DriverAttachment& operator=(const DriverAttachment&) = delete;

  // Finds the device, reads the mode, writes the value 1, applies the
  // settings and opens the driver. Nothing is written before everything
  // the change needs is known; a failure after the value was written undoes
  // every step, so a failed attach never leaves the driver on the desktop
  // (nor set to attach at the next start). False with *error.
  bool Attach(std::string* error);
  // Closes the driver, writes 0 and applies the settings, whenever anything
  // of an attach may be in effect; nothing otherwise.
  void Detach();
  bool IsAttached() const { return attached_; }
  const std::string& DeviceName() const { return device_name_; }

 private:
  DisplayAttachSteps* steps_;
  std::string device_name_;
  DisplayMode mode_;
  bool touched_ = false;  // the value 1 may have been written
  bool attached_ = false;
};

}  // namespace kmr::platform
