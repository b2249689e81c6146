// The screen-cast portal's replies as the recorder reads them: the streams
// and the restore token from Start's results, and what is not believed.
#include "platform/mirror/pipewire/screencast_portal.h"

#include <gtest/gtest.h>

#include <string>

namespace kmr::platform {
namespace {

// Parses a reply written in GVariant's text form.
bool Parse(const char* text, ScreenCastGrant* grant, std::string* error) {
  GError* e = nullptr;
  GVariant* v = g_variant_parse(G_VARIANT_TYPE_VARDICT, text, nullptr, nullptr, &e);
  EXPECT_NE(v, nullptr) << (e ? e->message : "");
  if (e) g_error_free(e);
  if (v == nullptr) return false;
  g_variant_ref_sink(v);
  const bool ok = ParseStartResults(v, grant, error);
  g_variant_unref(v);
  return ok;
}

TEST(ScreenCastReply, StreamsAndTheRestoreToken) {
  ScreenCastGrant g;
  std::string error;
  ASSERT_TRUE(Parse("{'streams': <[(uint32 42, {'position': <(1920, 0)>, 'size': <(1280, 1024)>, "
                    "'source_type': <uint32 1>})]>, 'restore_token': <'a1b2-c3'>}",
                    &g, &error))
      << error;
  ASSERT_EQ(g.streams.size(), 1u);
  EXPECT_EQ(g.streams[0].node, 42u);
  EXPECT_TRUE(g.streams[0].has_place);
  EXPECT_EQ(g.streams[0].x, 1920);
  EXPECT_TRUE(g.streams[0].has_size);
  EXPECT_EQ(g.streams[0].width, 1280);
  EXPECT_EQ(g.streams[0].height, 1024);
  EXPECT_EQ(g.streams[0].source_type, 1u);
  EXPECT_EQ(g.restore_token, "a1b2-c3");
}

TEST(ScreenCastReply, AStreamWithoutPropertiesIsStillAStream) {
  ScreenCastGrant g;
  std::string error;
  ASSERT_TRUE(Parse("{'streams': <[(uint32 7, @a{sv} {})]>}", &g, &error)) << error;
  ASSERT_EQ(g.streams.size(), 1u);
  EXPECT_FALSE(g.streams[0].has_size);
  EXPECT_FALSE(g.streams[0].has_place);
  EXPECT_EQ(g.restore_token, "") << "no token: the desktop will ask again next time";
}

TEST(ScreenCastReply, WhatIsNotBelievedIsLeftOut) {
  ScreenCastGrant g;
  std::string error;
  // Sizes no desktop has, a size of the wrong type, node 0 and the
  // invalid node, an over-long token.
  const std::string long_token(600, 'x');
  ASSERT_TRUE(Parse(("{'streams': <[(uint32 0, @a{sv} {}), (uint32 4294967295, @a{sv} {}), "
                     "(uint32 5, {'size': <(-4, 10)>}), (uint32 6, {'size': <(100000, 10)>}), "
                     "(uint32 8, {'size': <'wide'>, 'position': <uint32 3>})]>, "
                     "'restore_token': <'" +
                     long_token + "'>}")
                        .c_str(),
                    &g, &error))
      << error;
  ASSERT_EQ(g.streams.size(), 3u);
  EXPECT_EQ(g.streams[0].node, 5u);
  EXPECT_FALSE(g.streams[0].has_size);
  EXPECT_FALSE(g.streams[1].has_size);
  EXPECT_FALSE(g.streams[2].has_size);
  EXPECT_FALSE(g.streams[2].has_place);
  EXPECT_EQ(g.restore_token, "");
}

TEST(ScreenCastReply, NoUsableStreamIsAnError) {
  ScreenCastGrant g;
  std::string error;
  EXPECT_FALSE(Parse("{'restore_token': <'t'>}", &g, &error));
  EXPECT_EQ(error, "the screen-cast portal gave no stream");
  EXPECT_FALSE(Parse("{'streams': <'not a list'>}", &g, &error));
  EXPECT_FALSE(Parse("{'streams': <@a(ua{sv}) []>}", &g, &error));
  EXPECT_FALSE(Parse("{'streams': <[(uint32 0, @a{sv} {})]>}", &g, &error));
  EXPECT_FALSE(ParseStartResults(nullptr, &g, &error));
  GVariant* wrong = g_variant_ref_sink(g_variant_new_string("x"));
  EXPECT_FALSE(ParseStartResults(wrong, &g, &error));
  g_variant_unref(wrong);
}

TEST(ScreenCastPortalTexts, PointerModeAnswersAndRequestPaths) {
  EXPECT_EQ(ChoosePointerMode(kPointerHidden | kPointerEmbedded | kPointerMetadata), kPointerMetadata);
  EXPECT_EQ(ChoosePointerMode(kPointerHidden | kPointerEmbedded), kPointerEmbedded);
  EXPECT_EQ(ChoosePointerMode(kPointerHidden), kPointerHidden);
  EXPECT_EQ(ChoosePointerMode(0), 0u);
  EXPECT_EQ(ResponseText(1, "start"), "the screen cast was refused (the desktop's dialog was cancelled)");
  EXPECT_EQ(ResponseText(2, "start"), "the screen-cast portal could not start (response 2)");
  EXPECT_EQ(SenderPathPart(":1.42"), "1_42");
  EXPECT_EQ(SenderPathPart(":12.3.4"), "12_3_4");
}

}  // namespace
}  // namespace kmr::platform
