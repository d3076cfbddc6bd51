#include "editing/render/ByteMap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr uint8_t kMarker = 0x5A;

struct TCase {
  int width, height;
  bool bottomUp;
};

// Widths around the 64-byte steps of the vector path (21 pixels = 63 bytes, 22 = 66, ...).
const TCase kCases[] = {{1, 1, false},  {21, 3, false}, {22, 3, true},  {43, 2, false},
                        {64, 5, true},  {85, 4, false}, {300, 7, true}, {7, 9, true}};

void FillTable(uint8_t (&table)[256], uint32_t seed) {
  std::mt19937 random(seed);
  for (uint8_t& entry : table) entry = static_cast<uint8_t>(random());  // not a permutation
}

// Runs `map` on a random frame with marked padding and checks every byte against the table.
template <class Map>
void ExpectMapsLikeTable(Map map, const char* path) {
  uint32_t seed = 1;
  for (const TCase& c : kCases) {
    uint8_t table[256];
    FillTable(table, seed);
    const ptrdiff_t lineBytes = c.width * 3 + 7;
    std::vector<uint8_t> memory(static_cast<size_t>(lineBytes) * c.height, kMarker);
    const TBitmapView view = c.bottomUp
                                 ? TBitmapView::BottomUp(memory.data(), c.width, c.height, lineBytes)
                                 : TBitmapView(memory.data(), c.width, c.height, lineBytes);
    std::mt19937 random(seed++);
    for (int y = 0; y < c.height; ++y)
      for (int i = 0; i < c.width * 3; ++i) view.Row(y)[i] = static_cast<uint8_t>(random());
    const std::vector<uint8_t> before = memory;
    if (!map(view, table)) {
      EXPECT_EQ(memory, before) << path << ": a path that is not there must not write";
      continue;
    }
    for (size_t i = 0; i < memory.size(); ++i) {
      const bool pixel = static_cast<ptrdiff_t>(i % lineBytes) < c.width * 3;
      ASSERT_EQ(memory[i], pixel ? table[before[i]] : kMarker)
          << path << " width " << c.width << " byte " << i;
    }
  }
}

TEST(ByteMapTest, EveryPathMapsEveryPixelByteAndNothingElse) {
  ExpectMapsLikeTable(
      [](TBitmapView v, const uint8_t(&t)[256]) { return MapPixelBytesPortable(v, t), true; },
      "portable");
  ExpectMapsLikeTable(
      [](TBitmapView v, const uint8_t(&t)[256]) { return MapPixelBytesVbmi(v, t); }, "vbmi");
  ExpectMapsLikeTable(
      [](TBitmapView v, const uint8_t(&t)[256]) { return MapPixelBytes(v, t), true; },
      "dispatch");
}

}  // namespace
