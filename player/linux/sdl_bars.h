// The Linux player's bars, drawn with SDL2: the tool strip (fit, full
// screen, play, quick play, pause, stop, loop, then the seek bar to the right
// edge) and the status line (message pane, time pane). Text comes from a
// TrueType font through SDL2_ttf; without the font the bars still work.
#pragma once

#include <SDL.h>
#include <SDL_ttf.h>

#include <string>

#include "player/frame/frame_logic.h"
#include "shared/geometry.h"

namespace kmr {

class SdlBars {
 public:
  static constexpr int kToolHeight = 28;
  static constexpr int kStatusHeight = 22;
  static constexpr int kButtonWidth = 26;
  static constexpr int kButtons = 7;
  static constexpr const char* kFontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

  ~SdlBars();
  // False when the font cannot be opened (*why says so); the bars then draw
  // without text.
  bool Open(std::string* why);

  // The window's client size; the seek bar's range follows its channel.
  void Layout(int width, int height, SeekBarModel* bar);
  Rect ToolStrip() const { return Rect{0, 0, width_, kToolHeight}; }
  Rect StatusLine() const { return Rect{0, height_ - kStatusHeight, width_, height_}; }
  Rect SeekChannel() const { return channel_; }
  // The button under a point, if any.
  bool ButtonAt(int x, int y, PlayerCommand* command) const;
  // The seek bar place under x (clamped by the model).
  int32_t PlaceAt(int x) const { return x - channel_.left; }
  bool InSeekBar(int x, int y) const;
  // The tool tip and status text of a button.
  static const char* Tip(PlayerCommand command);

  void Draw(SDL_Renderer* renderer, const PlayerCommands& commands, const SeekBarModel& bar,
            const std::string& message, const std::string& time);

 private:
  void DrawButton(SDL_Renderer* r, int index, PlayerCommand c, const CommandState& s);
  void DrawText(SDL_Renderer* r, const std::string& text, int x, int y, bool right_aligned);

  TTF_Font* font_ = nullptr;
  bool ttf_started_ = false;
  int width_ = 0, height_ = 0;
  Rect channel_;
};

}  // namespace kmr
