#include "recorder/ui/gtk/kelvo_gui.h"

#include <X11/Xlib.h>
#include <gtk/gtk.h>
#include <libayatana-appindicator/app-indicator.h>
#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "platform/x11/x11_connection.h"
#include "recorder/audio/pulse/pulse_audio.h"
#include "recorder/ui/gtk/gui_model.h"
#include "recorder/ui/hotkeys/hot_key.h"
#include "recorder/ui/hotkeys/x11/x11_hot_keys.h"
#include "recorder/ui/linux/kelvo_options.h"
#include "recorder/ui/pages/page_rules.h"
#include "recorder/ui/region/region_tracker.h"
#include "recorder/ui/region/x11/x11_region.h"
#include "recorder/ui/settings/posix/ini_settings_store.h"
#include "shared/text/format_text.h"

namespace kmr {
namespace {

constexpr const char* kTitle = "Kelvo";
constexpr const char* kHelpPage = "http://www.norvane.com/kelvo/help/";
constexpr const char* kIdleIcon = "video-display";
constexpr const char* kRecordingIcon = "media-record";
constexpr int kStartKey = 1, kPauseKey = 2;

// One hot key's controls on the Video page.
struct HotKeyControls {
  GtkWidget* alt = nullptr;
  GtkWidget* ctrl = nullptr;
  GtkWidget* shift = nullptr;
  GtkWidget* key = nullptr;
};

class KelvoGui;

// The region fields as the tracker reads and writes them.
class SpinEdits : public RegionEdits {
 public:
  GtkWidget* spins[4] = {};
  int32_t Read(Field f) override { return gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(spins[f])); }
  void Write(Field f, int32_t v) override { gtk_spin_button_set_value(GTK_SPIN_BUTTON(spins[f]), v); }
};

class WindowOwner : public RegionOwner {
 public:
  GtkWidget* window = nullptr;
  bool was_visible = false;
  void HideForSelection() override {
    was_visible = gtk_widget_get_visible(window);
    gtk_widget_hide(window);
  }
  void RestoreAfterSelection() override {
    if (was_visible) gtk_window_present(GTK_WINDOW(window));
  }
  bool IsVisible() override { return gtk_widget_get_visible(window); }
};

class KelvoGui {
 public:
  KelvoGui(GtkApplication* app, const GuiEnvironment& env)
      : app_(app), env_(env), store_(IniSettingsStore::DefaultPath()) {
    settings_.Load(&store_, IniSettingsStore::DocumentsFolder());
  }
  ~KelvoGui() {
    if (child_ != nullptr) g_object_unref(child_);
    if (region_timer_ != 0) g_source_remove(region_timer_);
    if (key_timer_ != 0) g_source_remove(key_timer_);
  }

  void Build();
  void Present() {
    gtk_widget_show(window_);
    gtk_window_present(GTK_WINDOW(window_));
  }

 private:
  // Pages.
  GtkWidget* VideoPage();
  GtkWidget* AudioPage();
  GtkWidget* InfoPage();
  GtkWidget* OptionsPage();
  void FillCodecs();
  void OnFormatChanged();
  void OnCaptureOption();
  void ShowPath();
  bool GrabHotKey(int id, HotKeyControls* c, uint32_t* value);
  void ShowHotKey(HotKeyControls* c, uint32_t value);
  // The pages' values into the settings, saved; false (page shown) when
  // the frames-per-second question was answered no.
  bool Confirm(bool ask_fps);
  bool Ask(const std::string& text);
  void Tell(const std::string& text, GtkMessageType type);
  void ViewVideos();
  void StartRegionSelection();
  void AboutBox();
  void Splash();

  // The recording.
  void ToggleStartStop();
  void TogglePause();
  void Start();
  void OnRecorderLine(const std::string& line);
  void OnRecorderEnded(int status);
  void ReadRecorder();

  // The icon and its menu.
  void BuildIndicator();
  void UpdateMenu();
  void OnMenu(uint32_t command);

  GtkApplication* app_;
  GuiEnvironment env_;
  IniSettingsStore store_;
  RecorderSettings settings_;
  GtkWidget* window_ = nullptr;
  GtkWidget* notebook_ = nullptr;
  // Video page.
  GtkWidget* path_ = nullptr;
  GtkWidget* format_ = nullptr;
  GtkWidget* codec_ = nullptr;
  GtkWidget* capture_[3] = {};
  GtkWidget* select_ = nullptr;
  SpinEdits edits_;
  GtkWidget* fps_ = nullptr;
  HotKeyControls start_keys_, pause_keys_;
  GtkWidget* start_ = nullptr;
  std::vector<CodecChoice> codecs_;
  FrameRateConfirmation fps_confirmed_;
  // Audio page.
  GtkWidget* audio_on_ = nullptr;
  GtkWidget* audio_off_ = nullptr;
  GtkWidget* device_ = nullptr;
  GtkWidget* rate_ = nullptr;
  GtkWidget* quality_ = nullptr;
  GtkWidget* volume_ = nullptr;
  // Info page.
  GtkWidget* info_[3] = {};
  GtkWidget* description_ = nullptr;
  // Options page.
  GtkWidget* options_[6] = {};
  GtkWidget* overwrite_ = nullptr;

  AppIndicator* indicator_ = nullptr;
  GtkWidget* menu_ = nullptr;
  std::vector<std::pair<uint32_t, GtkWidget*>> menu_items_;

  X11HotKeys hot_keys_;
  guint key_timer_ = 0;
  bool in_toggle_ = false;

  // The region selection, on a connection of its own.
  std::unique_ptr<Display, int (*)(Display*)> region_dpy_{nullptr, XCloseDisplay};
  std::unique_ptr<X11BorderWindow> border_;
  std::unique_ptr<X11RegionDesktop> desktop_;
  std::unique_ptr<RegionTracker> tracker_;
  WindowOwner owner_;
  guint region_timer_ = 0;
  unsigned long picked_window_ = 0;

  GSubprocess* child_ = nullptr;
  GDataInputStream* child_err_ = nullptr;
  std::vector<std::string> child_lines_;
  std::string output_path_;
  bool recording_ = false, paused_ = false;
  bool updating_ = false;  // controls being set by the program, not the user
};

GtkWidget* Grid() {
  GtkWidget* g = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(g), 6);
  gtk_grid_set_column_spacing(GTK_GRID(g), 8);
  gtk_container_set_border_width(GTK_CONTAINER(g), 12);
  return g;
}

GtkWidget* Label(const char* text, GtkWidget* mnemonic_for = nullptr) {
  GtkWidget* l = mnemonic_for ? gtk_label_new_with_mnemonic(text) : gtk_label_new(text);
  gtk_label_set_xalign(GTK_LABEL(l), 0);
  if (mnemonic_for) gtk_label_set_mnemonic_widget(GTK_LABEL(l), mnemonic_for);
  return l;
}

int Active(GtkWidget* combo) { return gtk_combo_box_get_active(GTK_COMBO_BOX(combo)); }
bool Checked(GtkWidget* b) { return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(b)) != FALSE; }

GtkWidget* KelvoGui::VideoPage() {
  GtkWidget* g = Grid();
  int row = 0;
  path_ = gtk_entry_new();
  gtk_editable_set_editable(GTK_EDITABLE(path_), FALSE);
  gtk_widget_set_hexpand(path_, TRUE);
  gtk_grid_attach(GTK_GRID(g), Label("Output file:"), 0, row, 1, 1);
  gtk_grid_attach(GTK_GRID(g), path_, 1, row, 3, 1);
  GtkWidget* change = gtk_button_new_with_mnemonic("_Change");
  GtkWidget* view = gtk_button_new_with_mnemonic("Vie_w");
  gtk_grid_attach(GTK_GRID(g), change, 4, row, 1, 1);
  gtk_grid_attach(GTK_GRID(g), view, 5, row++, 1, 1);
  g_signal_connect_swapped(change, "clicked", G_CALLBACK(+[](KelvoGui* self) {
    GtkWidget* d = gtk_file_chooser_dialog_new("Output file", GTK_WINDOW(self->window_), GTK_FILE_CHOOSER_ACTION_SAVE,
                                               "_Cancel", GTK_RESPONSE_CANCEL, "_Save", GTK_RESPONSE_ACCEPT, nullptr);
    const auto& formats = OutputFormatNames();
    const int current = Active(self->format_);
    // The current format first, then the others, then all files.
    std::vector<int> order = {current};
    for (int i = 0; i < static_cast<int>(formats.size()); ++i) {
      if (i != current) order.push_back(i);
    }
    for (int i : order) {
      GtkFileFilter* f = gtk_file_filter_new();
      const std::string name = std::string(formats[i].display_name) + " (." + formats[i].extension + ")";
      gtk_file_filter_set_name(f, name.c_str());
      gtk_file_filter_add_pattern(f, (std::string("*.") + formats[i].extension).c_str());
      gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(d), f);
    }
    GtkFileFilter* all = gtk_file_filter_new();
    gtk_file_filter_set_name(all, "All Files (*.*)");
    gtk_file_filter_add_pattern(all, "*");
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(d), all);
    const std::filesystem::path p(self->settings_.video.path);
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(d), p.parent_path().c_str());
    gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(d), p.stem().c_str());
    if (gtk_dialog_run(GTK_DIALOG(d)) == GTK_RESPONSE_ACCEPT) {
      gchar* chosen = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(d));
      if (chosen != nullptr) {
        self->settings_.video.path = chosen;
        g_free(chosen);
        const int f = FormatOfPath(formats, self->settings_.video.path);
        if (f >= 0 && f != current) {
          gtk_combo_box_set_active(GTK_COMBO_BOX(self->format_), f);  // runs the format handler
        } else {
          self->OnFormatChanged();
        }
      }
    }
    gtk_widget_destroy(d);
  }), this);
  g_signal_connect_swapped(view, "clicked", G_CALLBACK(+[](KelvoGui* self) {
    self->ViewVideos();
    gtk_widget_hide(self->window_);
  }), this);

  format_ = gtk_combo_box_text_new();
  for (const OutputFormatName& f : OutputFormatNames()) {
    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(format_), FormatListItem(f).c_str());
  }
  codec_ = gtk_combo_box_text_new();
  gtk_grid_attach(GTK_GRID(g), Label("_Format:", format_), 0, row, 1, 1);
  gtk_grid_attach(GTK_GRID(g), format_, 1, row, 1, 1);
  gtk_grid_attach(GTK_GRID(g), Label("Co_dec:", codec_), 2, row, 1, 1);
  gtk_grid_attach(GTK_GRID(g), codec_, 3, row++, 3, 1);

  capture_[0] = gtk_radio_button_new_with_label(nullptr, "Capture full screen.");
  capture_[1] = gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(capture_[0]), "Capture a region.");
  capture_[2] = gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(capture_[0]), "Capture a window.");
  for (int i = 0; i < 3; ++i) gtk_grid_attach(GTK_GRID(g), capture_[i], 0, row++, 3, 1);
  select_ = gtk_button_new_with_label("Select a region");
  gtk_grid_attach(GTK_GRID(g), select_, 3, row - 3, 2, 1);
  const RegionFieldLimits limits = RegionLimitsFor(4000, 3000);
  const char* names[4] = {"Left:", "Top:", "Width:", "Height:"};
  const int32_t highest[4] = {limits.left, limits.top, limits.width, limits.height};
  for (int i = 0; i < 4; ++i) {
    edits_.spins[i] = gtk_spin_button_new_with_range(0, highest[i], 1);
    gtk_grid_attach(GTK_GRID(g), Label(names[i]), 3 + (i % 2) * 2, row - 2 + i / 2, 1, 1);
    gtk_grid_attach(GTK_GRID(g), edits_.spins[i], 4 + (i % 2) * 2, row - 2 + i / 2, 1, 1);
  }
  for (GtkWidget* r : capture_) {
    g_signal_connect_swapped(r, "toggled", G_CALLBACK(+[](KelvoGui* self) { self->OnCaptureOption(); }), this);
  }
  g_signal_connect_swapped(select_, "clicked", G_CALLBACK(+[](KelvoGui* self) { self->StartRegionSelection(); }),
                           this);

  fps_ = gtk_combo_box_text_new_with_entry();
  for (const char* f : {"5", "10", "15", "20", "25", "30"}) gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(fps_), f);
  gtk_grid_attach(GTK_GRID(g), Label("Frames per _second:", fps_), 0, row, 1, 1);
  gtk_grid_attach(GTK_GRID(g), fps_, 1, row++, 1, 1);

  for (auto [c, title] : {std::pair{&start_keys_, "Start/stop hot key:"}, std::pair{&pause_keys_, "Pause/resume hot key:"}}) {
    c->alt = gtk_check_button_new_with_label("Alt +");
    c->ctrl = gtk_check_button_new_with_label("Ctrl +");
    c->shift = gtk_check_button_new_with_label("Shift +");
    c->key = gtk_combo_box_text_new();
    for (uint32_t code : HotKeyListCodes()) {
      gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(c->key), VirtualKeyName(code & 0xFF).c_str());
    }
    gtk_grid_attach(GTK_GRID(g), Label(title), 0, row, 1, 1);
    gtk_grid_attach(GTK_GRID(g), c->alt, 1, row, 1, 1);
    gtk_grid_attach(GTK_GRID(g), c->ctrl, 2, row, 1, 1);
    gtk_grid_attach(GTK_GRID(g), c->shift, 3, row, 1, 1);
    gtk_grid_attach(GTK_GRID(g), c->key, 4, row++, 2, 1);
  }
  start_ = gtk_button_new_with_mnemonic("_Start");
  gtk_grid_attach(GTK_GRID(g), start_, 5, row, 1, 1);
  g_signal_connect_swapped(start_, "clicked", G_CALLBACK(+[](KelvoGui* self) { self->ToggleStartStop(); }), this);
  return g;
}

GtkWidget* KelvoGui::AudioPage() {
  GtkWidget* g = Grid();
  audio_on_ = gtk_radio_button_new_with_label(nullptr, "Record audio along with video.");
  audio_off_ = gtk_radio_button_new_with_mnemonic_from_widget(GTK_RADIO_BUTTON(audio_on_), "Do_n't record audio.");
  gtk_grid_attach(GTK_GRID(g), audio_on_, 0, 0, 2, 1);
  gtk_grid_attach(GTK_GRID(g), audio_off_, 0, 1, 2, 1);
  device_ = gtk_combo_box_text_new();
  gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(device_), page_texts::kDefaultDevice);
  std::vector<PulseSource> sources;
  std::string error;
  if (ListPulseSources(&sources, &error)) {
    for (const PulseSource& s : sources) gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(device_), s.description.c_str());
  }
  rate_ = gtk_combo_box_text_new();
  for (uint32_t r : kAudioRates) gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(rate_), (std::to_string(r) + " Hz").c_str());
  quality_ = gtk_combo_box_text_new();
  for (const char* q : {" 0 - Very High", " 1 ", " 2 - High", " 3 ", " 4 ", " 5 - Normal", " 6 ", " 7 ", " 8 ", " 9 - Low"}) {
    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(quality_), q);
  }
  volume_ = gtk_scale_new_with_range(GTK_ORIENTATION_VERTICAL, 0, 65535, 6553);
  gtk_scale_set_draw_value(GTK_SCALE(volume_), FALSE);
  gtk_widget_set_vexpand(volume_, TRUE);
  gtk_grid_attach(GTK_GRID(g), Label("_Device:", device_), 0, 2, 1, 1);
  gtk_grid_attach(GTK_GRID(g), device_, 1, 2, 1, 1);
  gtk_grid_attach(GTK_GRID(g), Label("Sample _rate:", rate_), 0, 3, 1, 1);
  gtk_grid_attach(GTK_GRID(g), rate_, 1, 3, 1, 1);
  gtk_grid_attach(GTK_GRID(g), Label("_Quality:", quality_), 0, 4, 1, 1);
  gtk_grid_attach(GTK_GRID(g), quality_, 1, 4, 1, 1);
  gtk_grid_attach(GTK_GRID(g), Label("Volume:"), 2, 2, 1, 1);
  gtk_grid_attach(GTK_GRID(g), volume_, 2, 3, 1, 3);
  g_signal_connect_swapped(audio_on_, "toggled", G_CALLBACK(+[](KelvoGui* self) {
    const bool on = Checked(self->audio_on_);
    for (GtkWidget* w : {self->device_, self->rate_, self->quality_, self->volume_}) gtk_widget_set_sensitive(w, on);
  }), this);
  return g;
}

GtkWidget* KelvoGui::InfoPage() {
  GtkWidget* g = Grid();
  const char* labels[3] = {"_Title:", "A_uthor:", "Co_pyright:"};
  for (int i = 0; i < 3; ++i) {
    info_[i] = gtk_entry_new();
    gtk_widget_set_hexpand(info_[i], TRUE);
    gtk_grid_attach(GTK_GRID(g), Label(labels[i], info_[i]), 0, i, 1, 1);
    gtk_grid_attach(GTK_GRID(g), info_[i], 1, i, 1, 1);
  }
  description_ = gtk_text_view_new();
  gtk_widget_set_size_request(description_, -1, 100);
  gtk_grid_attach(GTK_GRID(g), Label("D_escription:", description_), 0, 3, 1, 1);
  gtk_grid_attach(GTK_GRID(g), description_, 1, 3, 1, 1);
  return g;
}

GtkWidget* KelvoGui::OptionsPage() {
  GtkWidget* g = Grid();
  const char* labels[6] = {"Run program automatically when the desktop starts.",
                           "Minimize automatically when program starts.",
                           "Set program window always on top of all windows.",
                           "Show splash screen when program starts.",
                           "Hide desktop wallpaper when recording starts.",
                           "Show border of the recording region."};
  for (int i = 0; i < 6; ++i) {
    options_[i] = gtk_check_button_new_with_label(labels[i]);
    gtk_grid_attach(GTK_GRID(g), options_[i], 0, i, 2, 1);
  }
  overwrite_ = gtk_combo_box_text_new();
  for (const char* o : {"Overwrite existing file without prompt.", "Overwrite existing file with prompt.",
                        "Don't overwrite existing file. Add file numbers."}) {
    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(overwrite_), o);
  }
  gtk_grid_attach(GTK_GRID(g), Label("Overwrite Options"), 0, 6, 1, 1);
  gtk_grid_attach(GTK_GRID(g), overwrite_, 0, 7, 2, 1);
  // Always on top at once.
  g_signal_connect_swapped(options_[2], "toggled", G_CALLBACK(+[](KelvoGui* self) {
    gtk_window_set_keep_above(GTK_WINDOW(self->window_), Checked(self->options_[2]));
  }), this);
  return g;
}

void KelvoGui::ShowPath() {
  gtk_entry_set_text(GTK_ENTRY(path_), settings_.video.path.c_str());
  gtk_editable_set_position(GTK_EDITABLE(path_), -1);
}

void KelvoGui::FillCodecs() {
  const int format = Active(format_);
  codecs_ = CodecChoices(format, env_.compressor_options, env_.compressor_names);
  updating_ = true;
  gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(codec_));
  for (const CodecChoice& c : codecs_) gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(codec_), c.shown.c_str());
  gtk_combo_box_set_active(GTK_COMBO_BOX(codec_), StoredListPlace(settings_.video.codec, static_cast<int>(codecs_.size())));
  updating_ = false;
}

void KelvoGui::OnFormatChanged() {
  const int format = Active(format_);
  if (format < 0) return;
  if (!updating_ && format != settings_.video.format) settings_.video.codec = 0;
  settings_.video.format = format;
  std::filesystem::path p(settings_.video.path);
  p.replace_extension(FormatExtension(format));
  settings_.video.path = p.string();
  ShowPath();
  FillCodecs();
}

void KelvoGui::OnCaptureOption() {
  int option = 0;
  for (int i = 0; i < 3; ++i) {
    if (Checked(capture_[i])) option = i;
  }
  gtk_widget_set_sensitive(select_, option != 0);
  gtk_button_set_label(GTK_BUTTON(select_), option == 0 ? "Fixed region" : option == 1 ? "Select a region" : "Select a window");
  for (GtkWidget* s : edits_.spins) gtk_widget_set_sensitive(s, option == 1);
}

void KelvoGui::ShowHotKey(HotKeyControls* c, uint32_t value) {
  updating_ = true;
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(c->alt), (value & kHotKeyAlt) != 0);
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(c->ctrl), (value & kHotKeyCtrl) != 0);
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(c->shift), (value & kHotKeyShift) != 0);
  const auto& codes = HotKeyListCodes();
  for (size_t i = 0; i < codes.size(); ++i) {
    if ((codes[i] & 0xFF) == HotKeyCode(value)) gtk_combo_box_set_active(GTK_COMBO_BOX(c->key), static_cast<int>(i));
  }
  updating_ = false;
}

bool KelvoGui::GrabHotKey(int id, HotKeyControls* c, uint32_t* value) {
  const auto& codes = HotKeyListCodes();
  const int at = Active(c->key);
  const uint32_t code = at >= 0 ? codes[static_cast<size_t>(at)] : HotKeyListCode(*value);
  const uint32_t wanted = HotKeyFromControls(code, Checked(c->alt), Checked(c->ctrl), Checked(c->shift));
  std::string why;
  if (!hot_keys_.Opened() || hot_keys_.Grab(id, wanted, &why)) {
    *value = wanted;
    return true;
  }
  Tell(FormatText(page_texts::kHotKeyInUse, HotKeyName(wanted).c_str()), GTK_MESSAGE_INFO);
  if (hot_keys_.Opened()) hot_keys_.Grab(id, *value, &why);
  ShowHotKey(c, *value);
  return false;
}

void KelvoGui::Build() {
  window_ = gtk_application_window_new(app_);
  gtk_window_set_title(GTK_WINDOW(window_), kTitle);
  gtk_window_set_icon_name(GTK_WINDOW(window_), kRecordingIcon);
  gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
  owner_.window = window_;
  notebook_ = gtk_notebook_new();
  const std::pair<GtkWidget*, const char*> pages[] = {
      {VideoPage(), "_Video"}, {AudioPage(), "_Audio"}, {InfoPage(), "_Info"}, {OptionsPage(), "_Options"}};
  for (const auto& [page, title] : pages) {
    gtk_notebook_append_page(GTK_NOTEBOOK(notebook_), page, gtk_label_new_with_mnemonic(title));
  }
  gtk_container_add(GTK_CONTAINER(window_), notebook_);

  // The settings into the controls.
  const VideoSettings& v = settings_.video;
  updating_ = true;
  gtk_combo_box_set_active(GTK_COMBO_BOX(format_), StoredListPlace(v.format, 3));
  updating_ = false;
  OnFormatChanged();
  g_signal_connect_swapped(format_, "changed", G_CALLBACK(+[](KelvoGui* self) { self->OnFormatChanged(); }), this);
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(capture_[StoredListPlace(v.capture_option, 3)]), TRUE);
  OnCaptureOption();
  edits_.Write(RegionEdits::kLeft, v.left);
  edits_.Write(RegionEdits::kTop, v.top);
  edits_.Write(RegionEdits::kWidth, v.width);
  edits_.Write(RegionEdits::kHeight, v.height);
  gtk_entry_set_text(GTK_ENTRY(gtk_bin_get_child(GTK_BIN(fps_))), std::to_string(v.fps).c_str());
  fps_confirmed_ = FrameRateConfirmation(v.fps);
  ShowHotKey(&start_keys_, v.start_hot_key);
  ShowHotKey(&pause_keys_, v.pause_hot_key);
  const AudioSettings& a = settings_.audio;
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(a.record_audio ? audio_on_ : audio_off_), TRUE);
  gtk_toggle_button_toggled(GTK_TOGGLE_BUTTON(audio_on_));
  GtkTreeModel* devices = gtk_combo_box_get_model(GTK_COMBO_BOX(device_));
  gtk_combo_box_set_active(GTK_COMBO_BOX(device_), StoredListPlace(a.device, gtk_tree_model_iter_n_children(devices, nullptr)));
  gtk_combo_box_set_active(GTK_COMBO_BOX(rate_), StoredListPlace(a.sample_rate, 6));
  gtk_combo_box_set_active(GTK_COMBO_BOX(quality_), StoredListPlace(a.quality, 10));
  gtk_range_set_value(GTK_RANGE(volume_), a.volume);
  gtk_entry_set_text(GTK_ENTRY(info_[0]), settings_.info.title.c_str());
  gtk_entry_set_text(GTK_ENTRY(info_[1]), settings_.info.author.c_str());
  gtk_entry_set_text(GTK_ENTRY(info_[2]), settings_.info.copyright.c_str());
  gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(description_)), settings_.info.description.c_str(), -1);
  const OptionsSettings& o = settings_.options;
  const int32_t values[6] = {o.auto_run, o.start_minimized, o.always_on_top, o.show_splash, o.hide_wallpaper, o.show_border};
  for (int i = 0; i < 6; ++i) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(options_[i]), values[i] != 0);
  gtk_combo_box_set_active(GTK_COMBO_BOX(overwrite_), StoredListPlace(o.overwrite_option, 3));

  // The hot keys, held while the window runs.
  std::string why;
  if (hot_keys_.Opened()) {
    for (auto [id, value] : {std::pair{kStartKey, v.start_hot_key}, std::pair{kPauseKey, v.pause_hot_key}}) {
      if (!hot_keys_.Grab(id, value, &why)) std::fprintf(stderr, "kelvo: %s\n", why.c_str());
    }
  }
  for (auto [id, c] : {std::pair{kStartKey, &start_keys_}, std::pair{kPauseKey, &pause_keys_}}) {
    auto changed = +[](GtkWidget*, gpointer data) {
      auto* self = static_cast<KelvoGui*>(g_object_get_data(G_OBJECT(data), "kelvo-gui"));
      const int key = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(data), "kelvo-key"));
      if (self == nullptr || self->updating_) return;
      if (key == kStartKey) {
        self->GrabHotKey(kStartKey, &self->start_keys_, &self->settings_.video.start_hot_key);
      } else {
        self->GrabHotKey(kPauseKey, &self->pause_keys_, &self->settings_.video.pause_hot_key);
      }
      self->UpdateMenu();
    };
    for (GtkWidget* w : {c->alt, c->ctrl, c->shift, c->key}) {
      g_object_set_data(G_OBJECT(w), "kelvo-gui", this);
      g_object_set_data(G_OBJECT(w), "kelvo-key", GINT_TO_POINTER(id));
      g_signal_connect(w, GTK_IS_COMBO_BOX(w) ? "changed" : "toggled", G_CALLBACK(changed), w);
    }
  }
  key_timer_ = g_timeout_add(RegionTracker::kTickMs, +[](gpointer data) -> gboolean {
    auto* self = static_cast<KelvoGui*>(data);
    for (int key = self->hot_keys_.NextPressed(); key >= 0; key = self->hot_keys_.NextPressed()) {
      if (key == kStartKey) self->ToggleStartStop();
      if (key == kPauseKey) self->TogglePause();
    }
    return G_SOURCE_CONTINUE;
  }, this);

  // Closing the window ends the program (asked while recording); making it
  // small hides it in the notification area.
  g_signal_connect_swapped(window_, "delete-event", G_CALLBACK(+[](KelvoGui* self) -> gboolean {
    self->OnMenu(kCmdExit);
    return TRUE;
  }), this);
  g_signal_connect_swapped(window_, "window-state-event", G_CALLBACK(+[](KelvoGui* self, GdkEventWindowState* e) -> gboolean {
    if ((e->changed_mask & GDK_WINDOW_STATE_ICONIFIED) && (e->new_window_state & GDK_WINDOW_STATE_ICONIFIED)) {
      self->Confirm(false);
      gtk_window_deiconify(GTK_WINDOW(self->window_));
      gtk_widget_hide(self->window_);
    }
    return FALSE;
  }), this);
  gtk_window_set_keep_above(GTK_WINDOW(window_), o.always_on_top != 0);
  gtk_widget_show_all(notebook_);
  BuildIndicator();
  if (o.start_minimized == 0) Present();
  if (o.show_splash != 0) Splash();
}

void KelvoGui::Splash() {
  // The name and what it is, for three seconds or until clicked.
  GtkWidget* w = gtk_window_new(GTK_WINDOW_POPUP);
  gtk_window_set_position(GTK_WINDOW(w), GTK_WIN_POS_CENTER);
  gtk_window_set_default_size(GTK_WINDOW(w), 400, 200);
  GtkWidget* box = gtk_event_box_new();
  GtkWidget* text = gtk_label_new(nullptr);
  gtk_label_set_markup(GTK_LABEL(text), "<span size='xx-large' weight='bold'>Kelvo</span>\nScreen recorder");
  gtk_label_set_justify(GTK_LABEL(text), GTK_JUSTIFY_CENTER);
  gtk_container_add(GTK_CONTAINER(box), text);
  gtk_container_add(GTK_CONTAINER(w), box);
  g_signal_connect_swapped(box, "button-press-event", G_CALLBACK(gtk_widget_destroy), w);
  gtk_widget_show_all(w);
  g_object_ref(w);
  g_timeout_add(3000, +[](gpointer data) -> gboolean {
    auto* splash = static_cast<GtkWidget*>(data);
    if (gtk_widget_get_realized(splash) || gtk_widget_get_visible(splash)) gtk_widget_destroy(splash);
    g_object_unref(splash);
    return G_SOURCE_REMOVE;
  }, w);
}

bool KelvoGui::Confirm(bool ask_fps) {
  VideoSettings& v = settings_.video;
  for (int i = 0; i < 3; ++i) {
    if (Checked(capture_[i])) v.capture_option = i;
  }
  v.left = edits_.Read(RegionEdits::kLeft);
  v.top = edits_.Read(RegionEdits::kTop);
  v.width = edits_.Read(RegionEdits::kWidth);
  v.height = edits_.Read(RegionEdits::kHeight);
  const int c = Active(codec_);
  v.codec = c >= 0 ? c : 0;
  const std::string fps = gtk_entry_get_text(GTK_ENTRY(gtk_bin_get_child(GTK_BIN(fps_))));
  if (ask_fps && fps_confirmed_.NeedsQuestion(fps)) {
    if (!Ask(FormatText(page_texts::kFpsTooHigh, FrameRateConfirmation::kLowest, FrameRateConfirmation::kHighest))) {
      gtk_notebook_set_current_page(GTK_NOTEBOOK(notebook_), 0);
      Present();
      return false;
    }
  }
  fps_confirmed_.Confirm(fps);
  v.fps = FrameRateConfirmation::Value(fps);
  AudioSettings& a = settings_.audio;
  a.record_audio = Checked(audio_on_) ? 1 : 0;
  a.device = std::max(Active(device_), 0);
  a.sample_rate = std::max(Active(rate_), 0);
  a.quality = std::max(Active(quality_), 0);
  a.volume = static_cast<int32_t>(gtk_range_get_value(GTK_RANGE(volume_)));
  settings_.info.title = gtk_entry_get_text(GTK_ENTRY(info_[0]));
  settings_.info.author = gtk_entry_get_text(GTK_ENTRY(info_[1]));
  settings_.info.copyright = gtk_entry_get_text(GTK_ENTRY(info_[2]));
  GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(description_));
  GtkTextIter begin, end;
  gtk_text_buffer_get_bounds(b, &begin, &end);
  gchar* text = gtk_text_buffer_get_text(b, &begin, &end, FALSE);
  settings_.info.description = text;
  g_free(text);
  OptionsSettings& o = settings_.options;
  int32_t* values[6] = {&o.auto_run, &o.start_minimized, &o.always_on_top, &o.show_splash, &o.hide_wallpaper, &o.show_border};
  for (int i = 0; i < 6; ++i) *values[i] = Checked(options_[i]) ? 1 : 0;
  o.overwrite_option = std::max(Active(overwrite_), 0);
  settings_.Save(&store_, true);
  if (!store_.Flush()) Tell("The settings were not saved: " + store_.Error(), GTK_MESSAGE_ERROR);
  // Log-on start: the desktop's autostart entry.
  const char* config = g_get_user_config_dir();
  const std::filesystem::path autostart = std::filesystem::path(config) / "autostart" / "kelvo.desktop";
  std::error_code ec;
  if (o.auto_run) {
    std::filesystem::create_directories(autostart.parent_path(), ec);
    std::ofstream f(autostart, std::ios::trunc);
    f << AutostartEntry(env_.program);
  } else {
    std::filesystem::remove(autostart, ec);
  }
  return true;
}

bool KelvoGui::Ask(const std::string& text) {
  GtkWidget* d = gtk_message_dialog_new(gtk_widget_get_visible(window_) ? GTK_WINDOW(window_) : nullptr, GTK_DIALOG_MODAL,
                                        GTK_MESSAGE_QUESTION, GTK_BUTTONS_YES_NO, "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(d), kTitle);
  const bool yes = gtk_dialog_run(GTK_DIALOG(d)) == GTK_RESPONSE_YES;
  gtk_widget_destroy(d);
  return yes;
}

void KelvoGui::Tell(const std::string& text, GtkMessageType type) {
  GtkWidget* d = gtk_message_dialog_new(gtk_widget_get_visible(window_) ? GTK_WINDOW(window_) : nullptr, GTK_DIALOG_MODAL,
                                        type, GTK_BUTTONS_OK, "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(d), kTitle);
  gtk_dialog_run(GTK_DIALOG(d));
  gtk_widget_destroy(d);
}

void KelvoGui::ViewVideos() {
  std::filesystem::path p(settings_.video.path);
  const std::string folder = p.parent_path().string();
  gchar* uri = g_filename_to_uri(folder.c_str(), nullptr, nullptr);
  if (uri != nullptr) {
    GError* e = nullptr;
    if (!g_app_info_launch_default_for_uri(uri, nullptr, &e)) {
      std::fprintf(stderr, "kelvo: cannot open %s: %s\n", folder.c_str(), e ? e->message : "no file manager");
      g_clear_error(&e);
    }
    g_free(uri);
  }
}

void KelvoGui::StartRegionSelection() {
  if (recording_ || region_timer_ != 0) return;
  if (region_dpy_ == nullptr) {
    region_dpy_.reset(platform::OpenXConnection(""));
    if (region_dpy_ == nullptr) {
      Tell("Selecting needs an X display.", GTK_MESSAGE_ERROR);
      return;
    }
    border_ = std::make_unique<X11BorderWindow>(region_dpy_.get());
    desktop_ = std::make_unique<X11RegionDesktop>(region_dpy_.get(), border_.get());
    tracker_ = std::make_unique<RegionTracker>(desktop_.get(), border_.get(), &owner_);
    tracker_->AttachEdits(&edits_);
  }
  const int option = Checked(capture_[2]) ? RegionTracker::kWindow : RegionTracker::kRegion;
  tracker_->SetMode(option);
  if (option == RegionTracker::kRegion) {
    tracker_->SetRect(Rect{edits_.Read(RegionEdits::kLeft), edits_.Read(RegionEdits::kTop),
                           edits_.Read(RegionEdits::kLeft) + edits_.Read(RegionEdits::kWidth),
                           edits_.Read(RegionEdits::kTop) + edits_.Read(RegionEdits::kHeight)});
  }
  border_->Show();
  tracker_->SetSelecting(true);
  region_timer_ = g_timeout_add(RegionTracker::kTickMs, +[](gpointer data) -> gboolean {
    auto* self = static_cast<KelvoGui*>(data);
    self->tracker_->Tick();
    if (self->tracker_->IsSelecting()) return G_SOURCE_CONTINUE;
    self->border_->Hide();
    XFlush(self->region_dpy_.get());
    if (self->tracker_->GetMode() == RegionTracker::kWindow) self->picked_window_ = self->tracker_->TrackedWindow();
    self->region_timer_ = 0;
    return G_SOURCE_REMOVE;
  }, this);
}

void KelvoGui::AboutBox() {
  GtkWidget* d = gtk_about_dialog_new();
  gtk_about_dialog_set_program_name(GTK_ABOUT_DIALOG(d), kTitle);
  gtk_about_dialog_set_comments(GTK_ABOUT_DIALOG(d), "Screen recorder");
  gtk_about_dialog_set_website(GTK_ABOUT_DIALOG(d), kHelpPage);
  gtk_about_dialog_set_logo_icon_name(GTK_ABOUT_DIALOG(d), kRecordingIcon);
  gtk_dialog_run(GTK_DIALOG(d));
  gtk_widget_destroy(d);
}

void KelvoGui::ToggleStartStop() {
  if (in_toggle_) return;
  in_toggle_ = true;
  if (child_ != nullptr) {
    g_subprocess_send_signal(child_, SIGTERM);  // the recorder finishes its file
  } else {
    Start();
  }
  in_toggle_ = false;
}

void KelvoGui::TogglePause() {
  if (child_ != nullptr && recording_) g_subprocess_send_signal(child_, SIGUSR1);
}

void KelvoGui::Start() {
  if (!Confirm(true)) return;
  KelvoOptions o;
  ApplySettings(settings_, &o);
  std::string path, notice, error;
  const auto ask = [this](const std::string& p) { return Ask(FormatText(page_texts::kAlreadyExists, p.c_str())); };
  if (!ResolveOutputPath(o, ask, &path, &notice, &error)) {
    Tell(error, GTK_MESSAGE_ERROR);
    return;
  }
  const int c = Active(codec_);
  const std::string codec = c >= 0 && static_cast<size_t>(c) < codecs_.size() ? codecs_[static_cast<size_t>(c)].option : "";
  const std::vector<std::string> args =
      RecordArguments(path, codec, settings_.video.capture_option == 2 ? picked_window_ : 0);
  std::vector<const char*> argv = {env_.program.c_str()};
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  GError* e = nullptr;
  child_ = g_subprocess_newv(argv.data(), static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDERR_PIPE |
                                                                        G_SUBPROCESS_FLAGS_STDIN_INHERIT), &e);
  if (child_ == nullptr) {
    Tell(std::string("Can not start recording!\n\n") + (e ? e->message : ""), GTK_MESSAGE_ERROR);
    g_clear_error(&e);
    return;
  }
  output_path_ = path;
  child_lines_.clear();
  child_err_ = g_data_input_stream_new(g_subprocess_get_stderr_pipe(child_));
  gtk_widget_hide(window_);
  ReadRecorder();
  g_subprocess_wait_async(child_, nullptr, +[](GObject* source, GAsyncResult* result, gpointer data) {
    auto* self = static_cast<KelvoGui*>(data);
    g_subprocess_wait_finish(G_SUBPROCESS(source), result, nullptr);
    self->OnRecorderEnded(g_subprocess_get_if_exited(G_SUBPROCESS(source)) ? g_subprocess_get_exit_status(G_SUBPROCESS(source)) : -1);
  }, this);
}

void KelvoGui::ReadRecorder() {
  g_data_input_stream_read_line_async(child_err_, G_PRIORITY_DEFAULT, nullptr,
                                      +[](GObject* source, GAsyncResult* result, gpointer data) {
    auto* self = static_cast<KelvoGui*>(data);
    gsize n = 0;
    gchar* line = g_data_input_stream_read_line_finish(G_DATA_INPUT_STREAM(source), result, &n, nullptr);
    if (line == nullptr) return;  // the end: the recorder has gone
    std::fprintf(stderr, "%s\n", line);
    self->OnRecorderLine(line);
    g_free(line);
    self->ReadRecorder();
  }, this);
}

void KelvoGui::OnRecorderLine(const std::string& line) {
  if (child_lines_.size() < 200) child_lines_.push_back(line);
  switch (ParseRecorderLine(line).kind) {
    case RecorderLine::Kind::kStarted:
      recording_ = true;
      paused_ = false;
      break;
    case RecorderLine::Kind::kPaused:
      paused_ = true;
      break;
    case RecorderLine::Kind::kResumed:
      paused_ = false;
      break;
    default:
      return;
  }
  UpdateMenu();
}

void KelvoGui::OnRecorderEnded(int status) {
  // Lines still in the pipe come first.
  while (child_err_ != nullptr) {
    gchar* line = g_data_input_stream_read_line(child_err_, nullptr, nullptr, nullptr);
    if (line == nullptr) break;
    std::fprintf(stderr, "%s\n", line);
    child_lines_.push_back(line);
    g_free(line);
  }
  if (child_err_ != nullptr) g_object_unref(child_err_);
  child_err_ = nullptr;
  g_object_unref(child_);
  child_ = nullptr;
  recording_ = paused_ = false;
  UpdateMenu();
  Present();
  bool wrote = false;
  for (const std::string& l : child_lines_) wrote = wrote || ParseRecorderLine(l).kind == RecorderLine::Kind::kWrote;
  if (status != 0 || !wrote) Tell(FailureText(child_lines_, status), GTK_MESSAGE_ERROR);
}

void KelvoGui::BuildIndicator() {
  indicator_ = app_indicator_new("kelvo", kIdleIcon, APP_INDICATOR_CATEGORY_APPLICATION_STATUS);
  app_indicator_set_title(indicator_, kTitle);
  app_indicator_set_status(indicator_, APP_INDICATOR_STATUS_ACTIVE);
  menu_ = gtk_menu_new();
  for (const GuiMenuItem& item : GuiMenu(false, false, settings_.video.start_hot_key, settings_.video.pause_hot_key)) {
    GtkWidget* w = gtk_menu_item_new_with_label(item.label.c_str());
    g_object_set_data(G_OBJECT(w), "kelvo-gui", this);
    g_object_set_data(G_OBJECT(w), "kelvo-command", GUINT_TO_POINTER(item.command));
    g_signal_connect(w, "activate", G_CALLBACK(+[](GtkMenuItem* w, gpointer) {
      auto* self = static_cast<KelvoGui*>(g_object_get_data(G_OBJECT(w), "kelvo-gui"));
      self->OnMenu(GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(w), "kelvo-command")));
    }), nullptr);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu_), w);
    menu_items_.push_back({item.command, w});
    if (item.command == kCmdPauseResume) gtk_menu_shell_append(GTK_MENU_SHELL(menu_), gtk_separator_menu_item_new());
  }
  gtk_widget_show_all(menu_);
  app_indicator_set_menu(indicator_, GTK_MENU(menu_));
  // The icon's own activation (a middle click on most desktops) starts and stops.
  for (const auto& [command, w] : menu_items_) {
    if (command == kCmdStartStop) app_indicator_set_secondary_activate_target(indicator_, w);
  }
  UpdateMenu();
}

void KelvoGui::UpdateMenu() {
  if (indicator_ == nullptr) return;
  const std::vector<GuiMenuItem> items =
      GuiMenu(recording_, paused_, settings_.video.start_hot_key, settings_.video.pause_hot_key);
  for (const GuiMenuItem& item : items) {
    for (const auto& [command, w] : menu_items_) {
      if (command != item.command) continue;
      gtk_menu_item_set_label(GTK_MENU_ITEM(w), item.label.c_str());
      gtk_widget_set_sensitive(w, item.enabled);
    }
  }
  app_indicator_set_icon_full(indicator_, recording_ && !paused_ ? kRecordingIcon : kIdleIcon,
                              recording_ ? (paused_ ? "Kelvo: paused" : "Kelvo: recording") : kTitle);
  gtk_button_set_label(GTK_BUTTON(start_), recording_ ? "_Stop" : "_Start");
  gtk_button_set_use_underline(GTK_BUTTON(start_), TRUE);
}

void KelvoGui::OnMenu(uint32_t command) {
  switch (command) {
    case kCmdSettings:
      Present();
      break;
    case kCmdStartStop:
      ToggleStartStop();
      break;
    case kCmdPauseResume:
      TogglePause();
      break;
    case kCmdViewVideos:
      ViewVideos();
      break;
    case kCmdHelp:
      g_app_info_launch_default_for_uri(kHelpPage, nullptr, nullptr);
      break;
    case kCmdAbout:
      AboutBox();
      break;
    case kCmdExit:
      if (child_ != nullptr && !Ask(page_texts::kExitWhileRecording)) break;
      if (child_ != nullptr) {
        g_subprocess_send_signal(child_, SIGTERM);
        g_subprocess_wait(child_, nullptr, nullptr);  // the file is finished first
      }
      Confirm(false);
      g_application_quit(G_APPLICATION(app_));
      break;
    default:
      break;
  }
}

}  // namespace

int RunKelvoGui(int argc, char** argv, const GuiEnvironment& environment) {
  if (!gtk_init_check(&argc, &argv)) {
    std::fprintf(stderr, "kelvo: the window needs a display (DISPLAY); kelvo record records from the terminal\n");
    return 1;
  }
  GtkApplication* app = gtk_application_new(kGuiApplicationId, G_APPLICATION_DEFAULT_FLAGS);
  std::unique_ptr<KelvoGui> gui;
  struct Context {
    std::unique_ptr<KelvoGui>* gui;
    const GuiEnvironment* env;
  } context{&gui, &environment};
  // The first start builds the window; a later start (another process) only
  // brings it to the front, and that process ends.
  g_signal_connect(app, "activate", G_CALLBACK(+[](GtkApplication* a, gpointer data) {
    auto* c = static_cast<Context*>(data);
    if (*c->gui != nullptr) {
      (*c->gui)->Present();
      return;
    }
    *c->gui = std::make_unique<KelvoGui>(a, *c->env);
    (*c->gui)->Build();
  }), &context);
  // GTK's own options are taken; the rest is ours (none).
  char* args[] = {argv[0], nullptr};
  const int status = g_application_run(G_APPLICATION(app), 1, args);
  gui.reset();
  g_object_unref(app);
  return status;
}

}  // namespace kmr
