#include "recorder/ui/settings/win/registry_settings_store.h"

#include <shlobj.h>

#include <vector>

#include "shared/path_name.h"

namespace kmr {

namespace {

// An open key, closed when it goes out of scope.
class Key {
 public:
  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() {
    if (h_ != nullptr) RegCloseKey(h_);
  }
  bool Open(HKEY hive, const std::string& path, REGSAM access) {
    return RegOpenKeyExA(hive, path.c_str(), 0, access, &h_) == ERROR_SUCCESS;
  }
  bool Create(HKEY hive, const std::string& path) {
    return RegCreateKeyExA(hive, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &h_,
                           nullptr) == ERROR_SUCCESS;
  }
  HKEY get() const { return h_; }

 private:
  HKEY h_ = nullptr;
};

// Texts longer than this are not taken from the registry (the pages keep
// at most 4095 bytes of any text).
constexpr DWORD kMaxTextBytes = 65536;

}  // namespace

RegistrySettingsStore::RegistrySettingsStore(HKEY hive, std::string root) : hive_(hive), root_(std::move(root)) {}

bool RegistrySettingsStore::HasKey(const std::string& key) {
  Key k;
  return k.Open(hive_, Path(key), KEY_ALL_ACCESS);
}

bool RegistrySettingsStore::ReadNumber(const std::string& key, const std::string& name, int32_t* value) {
  Key k;
  if (!k.Open(hive_, Path(key), KEY_QUERY_VALUE)) return false;
  BYTE data[4] = {};
  DWORD size = sizeof(data);
  if (RegQueryValueExA(k.get(), name.c_str(), nullptr, nullptr, data, &size) != ERROR_SUCCESS || size != 4) {
    return false;
  }
  *value = static_cast<int32_t>(static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                                static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24);
  return true;
}

bool RegistrySettingsStore::ReadText(const std::string& key, const std::string& name, std::string* value) {
  Key k;
  if (!k.Open(hive_, Path(key), KEY_QUERY_VALUE)) return false;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(k.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  if (size > kMaxTextBytes) return false;
  std::vector<char> data(size + 1, '\0');
  if (RegQueryValueExA(k.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  // A stored text need not end in a zero; the buffer has one more.
  data[size < data.size() ? size : data.size() - 1] = '\0';
  *value = data.data();
  return true;
}

void RegistrySettingsStore::WriteNumber(const std::string& key, const std::string& name, int32_t value) {
  Key k;
  if (!k.Create(hive_, Path(key))) return;
  const uint32_t v = static_cast<uint32_t>(value);
  const BYTE data[4] = {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8), static_cast<BYTE>(v >> 16),
                        static_cast<BYTE>(v >> 24)};
  RegSetValueExA(k.get(), name.c_str(), 0, REG_DWORD, data, sizeof(data));
}

void RegistrySettingsStore::WriteText(const std::string& key, const std::string& name, const std::string& value) {
  Key k;
  if (!k.Create(hive_, Path(key))) return;
  RegSetValueExA(k.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
}

LogonStart::LogonStart(HKEY hive, std::string run_key) : hive_(hive), run_key_(std::move(run_key)) {}

bool LogonStart::Apply(bool on, const std::string& program) {
  Key k;
  if (!k.Open(hive_, run_key_, KEY_SET_VALUE)) return false;
  if (!on) {
    const LONG rc = RegDeleteValueA(k.get(), kValueName);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
  }
  const std::string quoted = "\"" + program + "\"";
  return RegSetValueExA(k.get(), kValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(quoted.c_str()),
                        static_cast<DWORD>(quoted.size() + 1)) == ERROR_SUCCESS;
}

std::string WindowsDocumentsFolder() {
  char path[MAX_PATH] = {};
  std::string folder;
  if (SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, path)) && path[0] != '\0') {
    folder = path;
  } else {
    PathName self;
    if (self.SetToModulePath()) self.Directory(&folder, false);
  }
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  return folder;
}

}  // namespace kmr
