#include "player/codecs/lossless_decoder.h"

#include <zlib.h>

#include <cstring>
#include <new>

#include "shared/container/container_format.h"

namespace kmr {

bool LosslessDecoder::SetFormat(int32_t width, int32_t height, uint32_t bytes_per_pixel, uint32_t stride) {
  if (width <= 0 || height <= 0 || width >= kMaxCodecDimension || height >= kMaxCodecDimension ||
      bytes_per_pixel < 1 || bytes_per_pixel > 4) {
    return Fail("frame size or depth the codec cannot carry");
  }
  if (static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > kMaxFramePixels) {
    return Fail("frame larger than any recording has");
  }
  const uint32_t min_stride = static_cast<uint32_t>(width) * bytes_per_pixel;
  if (stride < min_stride || stride > min_stride + 64) stride = StrideFor(min_stride);
  try {
    p_.Reset(width, height, bytes_per_pixel, stride);
    r1_.Reset(width, height, bytes_per_pixel, stride);
    r2_.Reset(width, height, bytes_per_pixel, stride);
    r3_.Reset(width, height, bytes_per_pixel, stride);
  } catch (const std::bad_alloc&) {
    p_.Free();
    r1_.Free();
    r2_.Free();
    r3_.Free();
    return Fail("out of memory for the frame");
  }
  return true;
}

bool LosslessDecoder::Inflate(const uint8_t* packet, size_t length) {
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return Fail("cannot open the inflate stream");
  if (payload_.empty()) payload_.resize(kBufferStep);
  zs.next_in = const_cast<Bytef*>(packet);
  zs.avail_in = static_cast<uInt>(length);
  zs.next_out = payload_.data();
  zs.avail_out = static_cast<uInt>(payload_.size());
  int rc = Z_OK;
  for (;;) {
    rc = inflate(&zs, Z_NO_FLUSH);
    if (rc == Z_STREAM_END) break;
    if (rc == Z_NEED_DICT || rc == Z_DATA_ERROR || rc == Z_MEM_ERROR || rc == Z_STREAM_ERROR) {
      inflateEnd(&zs);
      return Fail("damaged packet: inflate failed");
    }
    if (zs.avail_out != 0) {
      // Output space left but no end of stream: the packet is cut short.
      inflateEnd(&zs);
      return Fail("damaged packet: compressed stream ends early");
    }
    const size_t used = zs.total_out;
    try {
      payload_.resize(payload_.size() + kBufferStep);
    } catch (...) {
      inflateEnd(&zs);
      return Fail("out of memory for the packet payload");
    }
    zs.next_out = payload_.data() + used;
    zs.avail_out = static_cast<uInt>(payload_.size() - used);
  }
  payload_length_ = zs.total_out;
  inflateEnd(&zs);
  return true;
}

namespace {

const Plane* SourcePlane(uint8_t source, const Plane& r1, const Plane& r2, const Plane& r3) {
  if (source & kSourceR1) return &r1;
  if (source & kSourceR2) return &r2;
  if (source & kSourceR3) return &r3;
  return nullptr;
}

bool RunFits(const PlaneView& v, int32_t x, int32_t y, uint32_t n) {
  return x >= 0 && y >= 0 && y < v.height && static_cast<int64_t>(x) + n <= v.width;
}

}  // namespace

bool LosslessDecoder::Validate() {
  const PlaneView& v = p_.view();
  size_t off = 0;
  while (off < payload_length_) {
    if (payload_length_ - off < kRowCommandSize) return Fail("damaged packet: truncated command");
    const RowCommand c = RowCommand::Load(payload_.data() + off);
    const uint32_t n = c.RunPixels();
    const size_t bytes = static_cast<size_t>(n) * v.bytes_per_pixel;
    off += kRowCommandSize;
    if (!RunFits(v, c.dst_x, c.dst_y, n)) return Fail("damaged packet: run outside the frame");
    if (c.source == kSourceData) {
      if (payload_length_ - off < bytes) return Fail("damaged packet: run data past the end");
      off += bytes;
    } else {
      if ((c.source & (kSourceR1 | kSourceR2 | kSourceR3)) == 0) return Fail("damaged packet: unknown source");
      if (!RunFits(v, c.src_x, c.src_y, n)) return Fail("damaged packet: source run outside the frame");
    }
  }
  return true;
}

bool LosslessDecoder::Decode(const uint8_t* packet, size_t length, const RunSink& sink,
                             const std::function<bool()>& before_apply) {
  error_.clear();
  if (packet == nullptr || length == 0) return Fail("empty packet");
  if (!p_.view().IsValid()) return Fail("no format set");
  if (!Inflate(packet, length)) return false;
  if (!Validate()) return false;
  if (before_apply && !before_apply()) return Fail("display surface unavailable");

  const uint32_t bpp = p_.view().bytes_per_pixel;
  // Apply pass: every plane source is read as it was before this packet.
  size_t off = 0;
  while (off < payload_length_) {
    const RowCommand c = RowCommand::Load(payload_.data() + off);
    off += kRowCommandSize;
    const uint32_t n = c.RunPixels();
    const size_t bytes = static_cast<size_t>(n) * bpp;
    const uint8_t* src;
    if (c.source == kSourceData) {
      src = payload_.data() + off;
      off += bytes;
    } else {
      src = SourcePlane(c.source, r1_, r2_, r3_)->view().At(c.src_x, c.src_y);
    }
    uint8_t* dst = p_.view().At(c.dst_x, c.dst_y);
    if (c.width > 0) {
      std::memmove(dst, src, bytes);
    } else {
      for (size_t i = 0; i < bytes; ++i) dst[i] ^= src[i];
    }
    if (sink && n != 0) sink(c.dst_x, c.dst_y, static_cast<int32_t>(n));
  }
  // Reference pass.
  off = 0;
  while (off < payload_length_) {
    const RowCommand c = RowCommand::Load(payload_.data() + off);
    off += kRowCommandSize;
    const size_t bytes = static_cast<size_t>(c.RunPixels()) * bpp;
    if (c.source == kSourceData) off += bytes;
    if (bytes == 0) continue;
    const uint8_t* run = p_.view().At(c.dst_x, c.dst_y);
    if (c.mask & kUpdateR1) std::memcpy(r1_.view().At(c.dst_x, c.dst_y), run, bytes);
    if (c.mask & kUpdateR2) std::memcpy(r2_.view().At(c.dst_x, c.dst_y), run, bytes);
    if (c.mask & kUpdateR3) std::memcpy(r3_.view().At(c.dst_x, c.dst_y), run, bytes);
  }
  return true;
}

}  // namespace kmr
