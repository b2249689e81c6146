// kmrv.dll: the own codecs as installable compressors ("vidc" "KMRV", and
// "kmrv" where xvidcore.dll is installed), so that recordings in AVI play in
// other Windows programs and the compressor path has a compressor of our
// own. Each opened instance is one codec, by the handler it was opened for;
// the system's messages are turned into KmrvCodec calls.
#include <windows.h>
#include <vfw.h>

#include <cstring>
#include <new>

#include "recorder/codecs/module/kmrv_codec.h"
#include "shared/container/own_codec_info.h"

namespace {

using kmr::BitmapInfoHeader;
using kmr::KmrvCodec;


BitmapInfoHeader FromWin(const BITMAPINFOHEADER* b) {
  BitmapInfoHeader h;
  h.size = b->biSize;
  h.width = b->biWidth;
  h.height = b->biHeight;
  h.planes = b->biPlanes;
  h.bit_count = b->biBitCount;
  h.compression = b->biCompression;
  h.size_image = b->biSizeImage;
  h.x_pels_per_meter = b->biXPelsPerMeter;
  h.y_pels_per_meter = b->biYPelsPerMeter;
  h.clr_used = b->biClrUsed;
  h.clr_important = b->biClrImportant;
  return h;
}

void ToWin(const BitmapInfoHeader& h, BITMAPINFOHEADER* b) {
  std::memset(b, 0, sizeof(*b));
  b->biSize = sizeof(BITMAPINFOHEADER);
  b->biWidth = h.width;
  b->biHeight = h.height;
  b->biPlanes = h.planes;
  b->biBitCount = h.bit_count;
  b->biCompression = h.compression;
  b->biSizeImage = h.size_image;
}

const BITMAPINFOHEADER* Header(LPARAM p) {
  const auto* info = reinterpret_cast<const BITMAPINFO*>(p);
  return info == nullptr ? nullptr : &info->bmiHeader;
}

LRESULT GetInfo(const KmrvCodec* codec, ICINFO* info, DWORD size) {
  if (info == nullptr) return sizeof(ICINFO);
  if (size < sizeof(ICINFO)) return 0;
  std::memset(info, 0, sizeof(ICINFO));
  info->dwSize = sizeof(ICINFO);
  info->fccType = ICTYPE_VIDEO;
  info->fccHandler = codec->Code();
  info->dwFlags = VIDCF_TEMPORAL | VIDCF_FASTTEMPORALC | VIDCF_FASTTEMPORALD;
  info->dwVersion = 1;
  info->dwVersionICM = ICVERSION;
  const kmr::OwnCodecInfo* own = kmr::FindOwnCodecInfo(codec->Code());
  if (own == nullptr) own = kmr::FindOwnCodecInfo(kmr::kFourCcLossless);
  // Both are UTF-16 on Windows.
  lstrcpynW(info->szName, reinterpret_cast<const wchar_t*>(own->short_name), 16);
  lstrcpynW(info->szDescription, reinterpret_cast<const wchar_t*>(own->display_name), 128);
  return sizeof(ICINFO);
}

LRESULT CompressQuery(const KmrvCodec* codec, const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
  if (in == nullptr || !codec->AcceptsInput(FromWin(in))) return ICERR_BADFORMAT;
  if (out == nullptr) return ICERR_OK;
  const BitmapInfoHeader o = FromWin(out);
  return o.compression == codec->Code() && o.width == in->biWidth &&
                 (o.height == in->biHeight || o.height == -in->biHeight)
             ? ICERR_OK
             : ICERR_BADFORMAT;
}

LRESULT DecompressQuery(const KmrvCodec* codec, const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
  if (in == nullptr || !codec->AcceptsCompressed(FromWin(in))) return ICERR_BADFORMAT;
  if (out == nullptr) return ICERR_OK;
  return out->biBitCount == 32 && out->biCompression == BI_RGB && out->biWidth == in->biWidth &&
                 (out->biHeight == in->biHeight || out->biHeight == -in->biHeight)
             ? ICERR_OK
             : ICERR_BADFORMAT;
}

LRESULT Message(KmrvCodec* codec, UINT msg, LPARAM p1, LPARAM p2) {
  switch (msg) {
    case ICM_GETINFO:
      return GetInfo(codec, reinterpret_cast<ICINFO*>(p1), static_cast<DWORD>(p2));
    case ICM_CONFIGURE:
    case ICM_ABOUT:
      return p1 == -1 ? ICERR_UNSUPPORTED : ICERR_UNSUPPORTED;  // no dialogs
    case ICM_GETSTATE:
      return 0;
    case ICM_SETSTATE:
      return 0;
    case ICM_COMPRESS_QUERY:
      return CompressQuery(codec, Header(p1), Header(p2));
    case ICM_COMPRESS_GET_FORMAT: {
      if (p2 == 0) return sizeof(BITMAPINFOHEADER);
      const BITMAPINFOHEADER* in = Header(p1);
      if (in == nullptr || !codec->AcceptsInput(FromWin(in))) return ICERR_BADFORMAT;
      ToWin(codec->CompressedFormat(FromWin(in)), reinterpret_cast<BITMAPINFOHEADER*>(p2));
      return ICERR_OK;
    }
    case ICM_COMPRESS_GET_SIZE: {
      const BITMAPINFOHEADER* in = Header(p1);
      return in == nullptr ? 0 : KmrvCodec::MaxCompressedSize(FromWin(in));
    }
    case ICM_COMPRESS_FRAMES_INFO:
      return ICERR_OK;
    case ICM_COMPRESS_BEGIN: {
      if (CompressQuery(codec, Header(p1), Header(p2)) != ICERR_OK) return ICERR_BADFORMAT;
      std::string error;
      return codec->BeginCompress(FromWin(Header(p1)), &error) ? ICERR_OK : ICERR_MEMORY;
    }
    case ICM_COMPRESS: {
      auto* c = reinterpret_cast<ICCOMPRESS*>(p1);
      if (c == nullptr || c->lpbiOutput == nullptr || c->lpOutput == nullptr || !codec->Compressing()) {
        return ICERR_BADPARAM;
      }
      uint32_t size = 0;
      bool key = false;
      const uint32_t capacity = KmrvCodec::MaxCompressedSize(FromWin(c->lpbiInput));
      if (!codec->Compress(static_cast<const uint8_t*>(c->lpInput), (c->dwFlags & ICCOMPRESS_KEYFRAME) != 0,
                           static_cast<uint8_t*>(c->lpOutput), capacity, &size, &key)) {
        return ICERR_ERROR;
      }
      c->lpbiOutput->biSizeImage = size;
      if (c->lpdwFlags != nullptr) *c->lpdwFlags = key ? AVIIF_KEYFRAME : 0;
      return ICERR_OK;
    }
    case ICM_COMPRESS_END:
      codec->EndCompress();
      return ICERR_OK;
    case ICM_DECOMPRESS_QUERY:
      return DecompressQuery(codec, Header(p1), Header(p2));
    case ICM_DECOMPRESS_GET_FORMAT: {
      if (p2 == 0) return sizeof(BITMAPINFOHEADER);
      const BITMAPINFOHEADER* in = Header(p1);
      if (in == nullptr || !codec->AcceptsCompressed(FromWin(in))) return ICERR_BADFORMAT;
      ToWin(KmrvCodec::DecompressedFormat(FromWin(in)), reinterpret_cast<BITMAPINFOHEADER*>(p2));
      return ICERR_OK;
    }
    case ICM_DECOMPRESS_BEGIN: {
      if (DecompressQuery(codec, Header(p1), Header(p2)) != ICERR_OK || Header(p2) == nullptr) return ICERR_BADFORMAT;
      return codec->BeginDecompress(FromWin(Header(p1)), FromWin(Header(p2))) ? ICERR_OK : ICERR_BADFORMAT;
    }
    case ICM_DECOMPRESS: {
      auto* d = reinterpret_cast<ICDECOMPRESS*>(p1);
      if (d == nullptr || d->lpbiInput == nullptr || d->lpbiOutput == nullptr || d->lpOutput == nullptr) {
        return ICERR_BADPARAM;
      }
      const BitmapInfoHeader out = FromWin(d->lpbiOutput);
      const uint32_t capacity =
          kmr::DibStride(static_cast<uint32_t>(out.width), 32) * static_cast<uint32_t>(out.height < 0 ? -out.height : out.height);
      return codec->Decompress(static_cast<const uint8_t*>(d->lpInput), d->lpbiInput->biSizeImage,
                               static_cast<uint8_t*>(d->lpOutput), capacity)
                 ? ICERR_OK
                 : ICERR_BADFORMAT;
    }
    case ICM_DECOMPRESS_END:
      codec->EndDecompress();
      return ICERR_OK;
    default:
      return ICERR_UNSUPPORTED;
  }
}

}  // namespace

extern "C" LRESULT WINAPI DriverProc(DWORD_PTR id, HDRVR driver, UINT msg, LPARAM p1, LPARAM p2) {
  switch (msg) {
    case DRV_LOAD:
    case DRV_FREE:
    case DRV_ENABLE:
    case DRV_DISABLE:
      return 1;
    case DRV_OPEN: {
      const auto* open = reinterpret_cast<const ICOPEN*>(p2);
      // Opened for configuration (no ICOPEN) or as a video compressor of
      // one of the own codecs only; the lossy one where its library is.
      uint32_t code = kmr::kFourCcLossless;
      if (open != nullptr) {
        if (open->fccType != ICTYPE_VIDEO) return 0;
        // The manager may hand the handler in either case: both codes are ours.
        if (open->fccHandler == kmr::kFourCcLossy) code = kmr::kFourCcLossy;
        std::string why;
        if (open->fccHandler != 0 && open->fccHandler != kmr::kFourCcLossless &&
            !KmrvCodec::Available(open->fccHandler, &why)) {
          return 0;
        }
      }
      auto* codec = new (std::nothrow) KmrvCodec(code);
      if (open != nullptr) const_cast<ICOPEN*>(open)->dwError = codec != nullptr ? ICERR_OK : ICERR_MEMORY;
      return reinterpret_cast<LRESULT>(codec);
    }
    case DRV_CLOSE:
      delete reinterpret_cast<KmrvCodec*>(id);
      return 1;
    case DRV_QUERYCONFIGURE:
      return 0;
    case DRV_CONFIGURE:
      return DRVCNF_CANCEL;
    default:
      break;
  }
  if (id == 0 || msg < DRV_USER) return DefDriverProc(id, driver, msg, p1, p2);
  return Message(reinterpret_cast<KmrvCodec*>(id), msg, p1, p2);
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
