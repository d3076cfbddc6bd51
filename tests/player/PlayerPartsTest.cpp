// The player's event ring and picture layout, without any media.
#include <gtest/gtest.h>

#include <chrono>

#include "player/PlayerEvents.h"
#include "player/PlayerStream.h"

namespace {

using namespace std::chrono_literals;

std::vector<TPlayerEvent> Drain(TPlayerEventRing& ring) {
  std::vector<TPlayerEvent> out;
  TPlayerEvent e;
  while (ring.Take(e, 0ms)) out.push_back(e);
  return out;
}

TEST(PlayerEventRing, SameKindAsNewestOverwritesOtherKindsQueue) {
  TPlayerEventRing ring;
  ring.Post({pekPosition, 0, 100});
  ring.Post({pekPosition, 0, 200});
  ring.Post({pekState, 1, 0});
  ring.Post({pekPosition, 0, 300});
  ring.Post({pekPosition, 0, 400});
  const auto events = Drain(ring);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].Position, 200);
  EXPECT_EQ(events[1].Kind, pekState);
  EXPECT_EQ(events[2].Position, 400);
  TPlayerEvent e;
  EXPECT_FALSE(ring.Take(e, 0ms)) << "taking the last entry empties the ring";
}

TEST(PlayerEventRing, FullRingDropsOldest) {
  TPlayerEventRing ring;
  for (int i = 0; i < 12; ++i) ring.Post({i % 2 ? pekState : pekPosition, i, i});
  EXPECT_EQ(ring.Count(), TPlayerEventRing::Capacity);
  const auto events = Drain(ring);
  ASSERT_EQ(events.size(), 10u);
  EXPECT_EQ(events.front().State, 2);
  EXPECT_EQ(events.back().State, 11);
}

TEST(PlayerLayout, AspectRuleFitsAndCentres) {
  struct TCase {
    const char* Name;
    int AreaW, AreaH;
    double Aspect;
    TPictureRect Want;
  };
  const TCase cases[] = {
      {"4:3 in 4:3 fills", 320, 240, 4.0 / 3, {0, 0, 320, 240}},
      {"4:3 in wide area: full height, centred", 320, 100, 4.0 / 3, {94, 0, 132, 100}},
      {"wide picture in 4:3 area: full width", 320, 240, 2.0, {0, 40, 320, 160}},
      {"width rounded down to even", 101, 75, 4.0 / 3, {0, 0, 100, 75}},
      {"height rounded down to even", 100, 100, 100.0 / 51, {0, 25, 100, 50}},
      {"fill takes the area's shape", 320, 100, -1, {0, 0, 320, 100}},
      {"fill of an odd width loses one column", 321, 100, -1, {0, 0, 320, 100}},
      {"no area", 0, 100, 1.0, {0, 0, 0, 0}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TPictureRect r = FitPicture(c.AreaW, c.AreaH, c.Aspect);
    EXPECT_EQ(r.X, c.Want.X);
    EXPECT_EQ(r.Y, c.Want.Y);
    EXPECT_EQ(r.W, c.Want.W);
    EXPECT_EQ(r.H, c.Want.H);
  }
}

}  // namespace
