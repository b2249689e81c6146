#include <cerrno>
#include <cstring>

#include "platform/system/system.h"

namespace kmr::platform {

std::string ErrnoText(int e) {
  switch (e) {
    case ENOENT:
      return "The folder does not exist.";
    case EACCES:
    case EPERM:
      return "Permission denied.";
    case EISDIR:
      return "The path is a folder.";
    case ENOSPC:
      return "There is no space left on the disk.";
    case EFBIG:
      return "The file is larger than the disk or the system allows.";
    case EROFS:
      return "The disk is read-only.";
    case ENAMETOOLONG:
      return "The path is too long.";
    case ENOTDIR:
      return "A part of the path is not a folder.";
#ifdef EDQUOT
    case EDQUOT:
      return "The disk quota is exhausted.";
#endif
    default: {
      std::string text = std::strerror(e);
      if (!text.empty() && text.back() != '.') text += '.';
      return text;
    }
  }
}

}  // namespace kmr::platform
