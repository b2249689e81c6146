#include "player/player_options.h"

#include <gtest/gtest.h>

namespace kmr {
namespace {

TEST(PlayerOptions, ParsesEveryOptionAndRefusesTheRest) {
  PlayerOptions o;
  std::string e;
  ASSERT_TRUE(ParsePlayerOptions({"clip.kmr", "--loop", "--seek", "2.5", "--screenshot", "at.bmp", "--quick"}, &o, &e))
      << e;
  EXPECT_EQ(o.path, "clip.kmr");
  EXPECT_TRUE(o.loop);
  EXPECT_TRUE(o.quick);
  EXPECT_FALSE(o.fit);
  EXPECT_EQ(o.seek_ms, 2500u);
  EXPECT_EQ(o.screenshot, "at.bmp");
  PlayerOptions none;
  EXPECT_TRUE(ParsePlayerOptions({}, &none, &e));
  EXPECT_TRUE(none.path.empty()) << "the program's own recording";
  EXPECT_FALSE(ParsePlayerOptions({"--seek", "-1"}, &o, &e));
  EXPECT_EQ(e, "--seek takes a number of seconds");
  EXPECT_FALSE(ParsePlayerOptions({"--seek", "90000"}, &o, &e)) << "longer than any recording";
  EXPECT_FALSE(ParsePlayerOptions({"--seek"}, &o, &e));
  EXPECT_FALSE(ParsePlayerOptions({"a.kmr", "b.kmr"}, &o, &e));
  EXPECT_FALSE(ParsePlayerOptions({"--bogus"}, &o, &e));
  uint32_t ms = 0;
  EXPECT_TRUE(ParseSeconds("0", &ms));
  EXPECT_EQ(ms, 0u);
  EXPECT_TRUE(ParseSeconds("86400", &ms)) << "a whole day is the longest recording";
  EXPECT_FALSE(ParseSeconds("1e9", &ms));
  EXPECT_FALSE(ParseSeconds("2s", &ms));
  EXPECT_FALSE(ParseSeconds("nan", &ms));
}

}  // namespace
}  // namespace kmr
