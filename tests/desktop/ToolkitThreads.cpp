// ThreadSanitizer and the toolkit. GLib, GIO and fontconfig hand memory
// between their own worker threads (a thread pool, the font configuration
// loaded on a thread of Pango's) and the main thread through futexes that
// ThreadSanitizer does not see, and take GLib's type locks in orders it
// cannot follow: it reports races and lock cycles inside those libraries.
// The desktop tests' own sharing between threads goes through the
// framework's queue and locks, which it does see.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libglib-2.0.so.0\n"
         "race:libgio-2.0.so.0\n"
         "race:libfontconfig.so.1\n"
         "deadlock:libglib-2.0.so.0\n"
         "deadlock:libgobject-2.0.so.0\n";
}
