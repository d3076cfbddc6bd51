#include "editing/render/ByteMap.h"

#include <cstddef>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define ONDREL_HAVE_VBMI_PATH 1
#endif

void MapPixelBytesPortable(TBitmapView frame, const uint8_t (&table)[256]) {
  if (frame.Empty()) return;
  const ptrdiff_t bytes = static_cast<ptrdiff_t>(frame.Width) * 3;
  for (int y = 0; y < frame.Height; ++y) {
    uint8_t* p = frame.Row(y);
    ptrdiff_t i = 0;
    // Eight bytes per step, all loads before the stores: a byte store may alias anything, so
    // the compiler would otherwise keep every load behind the previous store.
    for (; i + 8 <= bytes; i += 8) {
      const uint8_t e0 = table[p[i]], e1 = table[p[i + 1]], e2 = table[p[i + 2]],
                    e3 = table[p[i + 3]], e4 = table[p[i + 4]], e5 = table[p[i + 5]],
                    e6 = table[p[i + 6]], e7 = table[p[i + 7]];
      p[i] = e0, p[i + 1] = e1, p[i + 2] = e2, p[i + 3] = e3;
      p[i + 4] = e4, p[i + 5] = e5, p[i + 6] = e6, p[i + 7] = e7;
    }
    for (; i < bytes; ++i) p[i] = table[p[i]];
  }
}

#ifdef ONDREL_HAVE_VBMI_PATH

namespace {

__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void MapRowsVbmi(
    TBitmapView frame, const uint8_t (&table)[256]) {
  // Each permute looks up 128 entries by the low seven bits; the top bit picks the half.
  const __m512i t0 = _mm512_loadu_si512(table), t1 = _mm512_loadu_si512(table + 64);
  const __m512i t2 = _mm512_loadu_si512(table + 128), t3 = _mm512_loadu_si512(table + 192);
  const ptrdiff_t bytes = static_cast<ptrdiff_t>(frame.Width) * 3;
  for (int y = 0; y < frame.Height; ++y) {
    uint8_t* p = frame.Row(y);
    ptrdiff_t i = 0;
    for (; i + 64 <= bytes; i += 64) {
      const __m512i v = _mm512_loadu_si512(p + i);
      const __m512i low = _mm512_permutex2var_epi8(t0, v, t1);
      const __m512i high = _mm512_permutex2var_epi8(t2, v, t3);
      _mm512_storeu_si512(p + i, _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), low, high));
    }
    for (; i < bytes; ++i) p[i] = table[p[i]];
  }
}

}  // namespace

bool MapPixelBytesVbmi(TBitmapView frame, const uint8_t (&table)[256]) {
  // Checks the operating system's register support too; asked once.
  static const bool available = [] {
    __builtin_cpu_init();  // in case the first call comes from a static constructor
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi");
  }();
  if (!available) return false;
  if (!frame.Empty()) MapRowsVbmi(frame, table);
  return true;
}

#else

bool MapPixelBytesVbmi(TBitmapView, const uint8_t (&)[256]) { return false; }

#endif

void MapPixelBytes(TBitmapView frame, const uint8_t (&table)[256]) {
  if (!MapPixelBytesVbmi(frame, table)) MapPixelBytesPortable(frame, table);
}
