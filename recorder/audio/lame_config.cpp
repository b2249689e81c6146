#include "recorder/audio/lame_config.h"

namespace kmr {

namespace {

void Put32(LameConfigRecord* r, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*r)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t Get32(const uint8_t* r, size_t at) {
  return static_cast<uint32_t>(r[at]) | static_cast<uint32_t>(r[at + 1]) << 8 |
         static_cast<uint32_t>(r[at + 2]) << 16 | static_cast<uint32_t>(r[at + 3]) << 24;
}

}  // namespace

LameConfigRecord WriteLameConfig(const LameConfig& c) {
  LameConfigRecord r{};
  Put32(&r, 0, kLameConfigKind);
  Put32(&r, 4, 1);
  Put32(&r, 8, kLameConfigSize);
  Put32(&r, 12, c.sample_rate);
  Put32(&r, 16, c.resample_rate);
  Put32(&r, 20, static_cast<uint32_t>(c.mode));
  Put32(&r, 24, c.bit_rate);
  Put32(&r, 28, c.max_bit_rate);
  Put32(&r, 32, static_cast<uint32_t>(c.preset));
  Put32(&r, 36, c.mpeg_version);
  Put32(&r, 40, c.psy_model);
  Put32(&r, 44, c.emphasis);
  for (int i = 0; i < 4; ++i) Put32(&r, 48 + 4 * i, c.header_flags[i]);
  Put32(&r, 64, c.write_vbr_header);
  Put32(&r, 68, c.enable_vbr);
  Put32(&r, 72, static_cast<uint32_t>(c.vbr_quality));
  Put32(&r, 76, c.abr_bit_rate);
  Put32(&r, 80, static_cast<uint32_t>(c.vbr_method));
  Put32(&r, 84, c.no_bit_reservoir);
  Put32(&r, 88, c.strict_iso);
  r[92] = static_cast<uint8_t>(c.quality_word);
  r[93] = static_cast<uint8_t>(c.quality_word >> 8);
  return r;  // 94..330 reserved, zero
}

bool ReadLameConfig(const uint8_t* r, LameConfig* c) {
  if (r == nullptr || Get32(r, 0) != kLameConfigKind || Get32(r, 4) != 1 || Get32(r, 8) != kLameConfigSize) {
    return false;
  }
  c->sample_rate = Get32(r, 12);
  c->resample_rate = Get32(r, 16);
  c->mode = static_cast<int32_t>(Get32(r, 20));
  c->bit_rate = Get32(r, 24);
  c->max_bit_rate = Get32(r, 28);
  c->preset = static_cast<int32_t>(Get32(r, 32));
  c->mpeg_version = Get32(r, 36);
  c->psy_model = Get32(r, 40);
  c->emphasis = Get32(r, 44);
  for (int i = 0; i < 4; ++i) c->header_flags[i] = Get32(r, 48 + 4 * i);
  c->write_vbr_header = Get32(r, 64);
  c->enable_vbr = Get32(r, 68);
  c->vbr_quality = static_cast<int32_t>(Get32(r, 72));
  c->abr_bit_rate = Get32(r, 76);
  c->vbr_method = static_cast<int32_t>(Get32(r, 80));
  c->no_bit_reservoir = Get32(r, 84);
  c->strict_iso = Get32(r, 88);
  c->quality_word = static_cast<uint16_t>(r[92] | r[93] << 8);
  return true;
}

}  // namespace kmr
