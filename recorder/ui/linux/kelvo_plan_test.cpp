#include "recorder/ui/linux/kelvo_plan.h"

#include <gtest/gtest.h>

namespace kmr {
namespace {

const Rect kScreen{0, 0, 320, 240};

KelvoOptions Options(std::vector<std::string> compressors = {"libx264", "mpeg4"}) {
  KelvoOptions o;
  o.compressors = std::move(compressors);
  return o;
}

TEST(KelvoPlan, ARegionMustTouchTheScreen) {
  KelvoOptions o = Options();
  o.area = KelvoOptions::Area::kRegion;
  o.x = 300, o.y = 200, o.width = 100, o.height = 100;  // partly on it
  RecordPlan plan;
  std::string error;
  EXPECT_TRUE(PlanRecording(o, "a.avi", kScreen, &plan, &error)) << error;
  o.x = 320;  // just off its right edge
  EXPECT_FALSE(PlanRecording(o, "a.avi", kScreen, &plan, &error));
  EXPECT_EQ(error, "the region 320,200,100,100 lies outside the 320x240 screen");
  // Full screen and window recordings carry no region.
  o.area = KelvoOptions::Area::kFull;
  EXPECT_TRUE(PlanRecording(o, "a.avi", kScreen, &plan, &error)) << error;
}

TEST(KelvoPlan, Mp4GetsHDot264OnlyWhenNoCodecWasAskedFor) {
  RecordPlan plan;
  std::string error;
  ASSERT_TRUE(PlanRecording(Options(), "clip.mp4", kScreen, &plan, &error)) << error;
  EXPECT_EQ(plan.kind, OutputKind::kMp4);
  EXPECT_EQ(plan.codec, "libx264");
  EXPECT_TRUE(plan.use_compressor);
  // Asked for the own codec: it stays.
  KelvoOptions own = Options();
  own.codec_given = true;
  ASSERT_TRUE(PlanRecording(own, "clip.mp4", kScreen, &plan, &error)) << error;
  EXPECT_EQ(plan.codec, "lossless");
  EXPECT_FALSE(plan.use_compressor);
  // Without H.264 installed, the own codec.
  ASSERT_TRUE(PlanRecording(Options({"mpeg4"}), "clip.mp4", kScreen, &plan, &error)) << error;
  EXPECT_EQ(plan.codec, "lossless");
  // Other kinds keep the settings' codec; --format wins over the extension.
  KelvoOptions mkv = Options();
  mkv.format_option = "mkv";
  ASSERT_TRUE(PlanRecording(mkv, "clip.mp4", kScreen, &plan, &error)) << error;
  EXPECT_EQ(plan.kind, OutputKind::kMatroska);
  EXPECT_EQ(plan.codec, "lossless");
}

TEST(KelvoPlan, CompressorsAndTheirOptionsWhereTheyBelong) {
  RecordPlan plan;
  std::string error;
  KelvoOptions o = Options();
  o.codec = "mpeg4";
  o.codec_given = true;
  EXPECT_FALSE(PlanRecording(o, "clip.exe", kScreen, &plan, &error));
  EXPECT_EQ(error, "the self-playing output takes the own codecs only (lossless, lossy)");
  EXPECT_FALSE(PlanRecording(o, "recording", kScreen, &plan, &error)) << "no extension: self-playing";
  ASSERT_TRUE(PlanRecording(o, "clip.avi", kScreen, &plan, &error)) << error;
  EXPECT_TRUE(plan.use_compressor);
  EXPECT_EQ(plan.kind, OutputKind::kAvi);
  KelvoOptions own = Options();
  own.codec_options = "bitrate=100000";
  EXPECT_FALSE(PlanRecording(own, "clip.avi", kScreen, &plan, &error));
  EXPECT_EQ(error, "--codec-options are for installed compressors");
}

TEST(KelvoCapture, TheSessionChoosesUnlessTold) {
  using C = KelvoOptions::Capture;
  EXPECT_EQ(ChooseCaptureRoute(C::kAuto, "wayland-0", nullptr), CaptureRoute::kPortal);
  EXPECT_EQ(ChooseCaptureRoute(C::kAuto, nullptr, "wayland"), CaptureRoute::kPortal);
  EXPECT_EQ(ChooseCaptureRoute(C::kAuto, "", "x11"), CaptureRoute::kX11);
  EXPECT_EQ(ChooseCaptureRoute(C::kAuto, nullptr, nullptr), CaptureRoute::kX11);
  EXPECT_EQ(ChooseCaptureRoute(C::kX11, "wayland-0", "wayland"), CaptureRoute::kX11);
  EXPECT_EQ(ChooseCaptureRoute(C::kPortal, nullptr, "x11"), CaptureRoute::kPortal);

  KelvoOptions o = Options();
  std::string error;
  ASSERT_TRUE(ParseKelvoOptions({"kelvo", "record", "--capture", "portal"}, &o, &error)) << error;
  EXPECT_EQ(o.capture, C::kPortal);
  EXPECT_FALSE(ParseKelvoOptions({"kelvo", "record", "--capture", "wayland"}, &o, &error));
  EXPECT_EQ(error, "--capture takes x11 or portal");
}

TEST(KelvoCapture, OnThePortalTheAreaIsTheSharedPictureOrACropOfIt) {
  KelvoOptions o = Options();
  const Rect picture{0, 0, 640, 480};
  Rect area;
  std::string error;
  bool window = true;
  ASSERT_TRUE(PortalWantsWindow(o, &window, &error));
  EXPECT_FALSE(window) << "--full shares a monitor";
  ASSERT_TRUE(PortalArea(o, picture, &area, &error));
  EXPECT_EQ(area, picture);
  o.area = KelvoOptions::Area::kRegion;
  o.x = 600, o.y = -10, o.width = 100, o.height = 50;
  ASSERT_TRUE(PortalArea(o, picture, &area, &error));
  EXPECT_EQ(area, (Rect{600, 0, 640, 40}));
  o.x = 640;
  EXPECT_FALSE(PortalArea(o, picture, &area, &error));
  EXPECT_EQ(error, "the region 640,-10,100,50 lies outside the 640x480 shared picture");
  o.area = KelvoOptions::Area::kPickWindow;
  ASSERT_TRUE(PortalWantsWindow(o, &window, &error));
  EXPECT_TRUE(window);
  o.area = KelvoOptions::Area::kWindow;
  ASSERT_TRUE(PortalWantsWindow(o, &window, &error));
  EXPECT_TRUE(window);
  o.area = KelvoOptions::Area::kSelect;
  EXPECT_FALSE(PortalWantsWindow(o, &window, &error));
  EXPECT_NE(error.find("needs X11"), std::string::npos) << error;
  EXPECT_NE(error.find("--region"), std::string::npos) << error;
}

}  // namespace
}  // namespace kmr
