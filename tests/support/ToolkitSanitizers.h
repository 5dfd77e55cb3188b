#pragma once
// The sanitizers and the desktop toolkit, for programs that start GTK:
// include this in exactly one file of such a program.
//
// GLib, GIO and fontconfig hand memory between their own worker threads (a
// thread pool, the font configuration loaded on a thread of Pango's) and the
// main thread through futexes that ThreadSanitizer does not see, and take
// GLib's type locks in orders it cannot follow: it reports races and lock
// cycles inside those libraries. The programs' own sharing between threads
// goes through the framework's queue and locks, which it does see.
//
// fontconfig, GLib and D-Bus keep caches for the life of the process, which
// LeakSanitizer takes for leaks at exit.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libglib-2.0.so.0\n"
         "race:libgio-2.0.so.0\n"
         "race:libfontconfig.so.1\n"
         "deadlock:libglib-2.0.so.0\n"
         "deadlock:libgobject-2.0.so.0\n";
}

extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so.1\n"
         "leak:libglib-2.0.so.0\n"
         "leak:libdbus-1.so.3\n";
}
