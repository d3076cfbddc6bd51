/* The interface of a frame-hook module ("vhook" option): a shared object that may change every
 * decoded picture of a conversion before it is encoded.
 *
 * A module exports, with C linkage:
 *   int  Configure(void** context, int argc, char* argv[]);
 *        Called once per task with the option's pieces (argv[0] is the module's path). Stores
 *        its own state in *context. Returns 0 on success. Needed only when arguments are
 *        given.
 *   void Process(void* context, uint8_t* data[4], int linesize[4], int pixelFormat,
 *                int width, int height, int64_t pts);
 *        Called for every decoded picture, which it may change in place. pixelFormat is the
 *        media libraries' AVPixelFormat number; pts is the picture's time in microseconds.
 *   void Release(void* context);
 *        Optional; called when the task is done with the module.
 * A module is loaded once per process; several tasks may use it, each with its own context.
 */
#ifndef ONDREL_FRAME_HOOK_MODULE_H
#define ONDREL_FRAME_HOOK_MODULE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int (*TFrameHookConfigure)(void** context, int argc, char* argv[]);
typedef void (*TFrameHookProcess)(void* context, uint8_t* data[4], int linesize[4], int pixelFormat, int width,
                                  int height, int64_t pts);
typedef void (*TFrameHookRelease)(void* context);

#ifdef __cplusplus
}
#endif

#endif
