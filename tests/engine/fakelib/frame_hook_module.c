/* A frame-hook module for the tests: paints a 16x16 square of the luma value given as its
 * first argument into the top-left corner of every YUV picture. */
#include <stdint.h>
#include <stdlib.h>

typedef struct {
  int Luma;
  int* Released;
} Square;

int Configure(void** context, int argc, char* argv[]) {
  if (argc < 2) return 1;
  Square* square = calloc(1, sizeof *square);
  if (!square) return 1;
  square->Luma = atoi(argv[1]);
  *context = square;
  return 0;
}

void Process(void* context, uint8_t* data[4], int linesize[4], int pixelFormat, int width, int height, int64_t pts) {
  (void)pixelFormat;
  (void)pts;
  const Square* square = context;
  for (int y = 0; y < 16 && y < height; ++y)
    for (int x = 0; x < 16 && x < width; ++x) data[0][y * linesize[0] + x] = (uint8_t)square->Luma;
}

void Release(void* context) { free(context); }
