// Installs and removes the own codec's module, kmrv.dll, as the system's
// compressor manager finds codec modules: the file in the system folder and
// the "vidc.KMRV" and "vidc.kmrv" entries of the Drivers32 key naming it.
// Then every program that reads AVI files through the system's compressors
// plays the recorder's own codecs. tessup runs it with -c (install) and -cu
// (remove), -cs and -cus silently.
#pragma once

#include <string>
#include <vector>

namespace kmr {

namespace codec_texts {
inline constexpr const char* kCaption = "Norvane Screen Video Codec";
inline constexpr const char* kInstalled =
    "The screen video codec has been installed successfully!\n\nOther programs now play recordings made with it.";
inline constexpr const char* kRemoved = "The screen video codec has been removed successfully!";
inline constexpr const char* kMissingModule = "Can not find kmrv.dll beside the installer!";
inline constexpr const char* kInstallFailed = "Failed to install the screen video codec!";
inline constexpr const char* kRemoveFailed = "Failed to remove the screen video codec!";
inline constexpr const char* kNeedsAdministrator =
    "Only Administrator Users can install the screen video codec!\n\nPlease contact your administrator for help.";
inline constexpr const char* kNotFound =
    "Can not find the screen video codec on your system! Maybe it has already been removed before.";
}  // namespace codec_texts

inline constexpr const char* kCodecModuleFile = "kmrv.dll";
// The Drivers32 entries: the FOURCC as the recorder writes it and as other
// programs may ask for it.
inline const std::vector<std::string>& CodecModuleEntries() {
  static const std::vector<std::string> entries = {"vidc.KMRV", "vidc.kmrv"};
  return entries;
}

class CodecModuleSystem {
 public:
  virtual ~CodecModuleSystem() = default;
  // Folders with a trailing backslash.
  virtual std::string ProgramDirectory() = 0;
  virtual std::string SystemDirectory() = 0;
  virtual bool FileExists(const std::string& path) = 0;
  // Copies over any file there.
  virtual bool CopyOver(const std::string& from, const std::string& to) = 0;
  virtual bool RemoveFile(const std::string& path) = 0;
  // Values of HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32.
  virtual bool ReadDriverEntry(const std::string& name, std::string* data) = 0;
  virtual bool WriteDriverEntry(const std::string& name, const std::string& data) = 0;
  virtual bool DeleteDriverEntry(const std::string& name) = 0;
};

// Copies the module beside the installer into the system folder and writes
// the entries; on a failure what it did is undone. False with *error (one of
// the texts above).
bool InstallCodecModule(CodecModuleSystem* system, std::string* error);
// Deletes the entries that name the module (an entry another module holds is
// left alone) and the module's file. False with *error; kNotFound when
// nothing of it was there.
bool RemoveCodecModule(CodecModuleSystem* system, std::string* error);

}  // namespace kmr
