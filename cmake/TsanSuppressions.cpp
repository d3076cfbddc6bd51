// The media libraries and Qt are not built with ThreadSanitizer: their atomic reference counts and
// the decoders' own worker threads synchronise in ways it cannot see, so it reports races
// inside them (a buffer freed by the thread that dropped the last reference, a codec's
// frame threads). Reports with a stack inside those libraries are suppressed; everything in
// our code stays checked.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions() {
  return "race:libavcodec.so\n"
         "race:libavformat.so\n"
         "race:libavfilter.so\n"
         "race:libavutil.so\n"
         "race:libswscale.so\n"
         "race:libswresample.so\n"
         // Qt's own worker threads (image conversion in its thread pool) likewise.
         "race:libQt6Core.so\n"
         "race:libQt6Gui.so\n"
         "race:libQt6Widgets.so\n";
}
#endif
