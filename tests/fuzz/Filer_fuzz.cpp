// Fuzz target for libFuzzer: the stored-form reader on arbitrary text. Every
// input must either read or raise a framework exception; what reads must write
// a form that reads back to the same form.
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <memory>

#include "tests/platform/classes/Model.h"
#include <ztlogger/platform/classes/Filer.h>
#include <ztlogger/platform/rtl/Exceptions.h>

namespace ztl::test {

namespace {

// Reads text into a fresh root; returns the root's written form.
String ReadAndWrite(const String& text) {
  TPanelRoot root(nullptr);
  TextToComponent(text, &root);
  return ComponentToText(&root);
}

String WhatFailed(const char* step, const std::exception& e) {
  return String(step) + " raised a foreign exception: " + e.what();
}

}  // namespace

// An empty string when the reader behaved, else what went wrong.
String CheckStoredForm(const String& text) {
  RegisterModel();
  String written;
  try {
    written = ReadAndWrite(text);
  } catch (const Exception&) {
    // Malformed or unfitting text is allowed to fail, with a framework error.
  } catch (const std::exception& e) {
    return WhatFailed("reading", e);
  }
  if (!written.empty()) {
    try {
      if (ReadAndWrite(written) != written) return "the written form reads back differently:\n" + written;
    } catch (const std::exception& e) {
      return "the written form does not read back (" + String(e.what()) + "):\n" + written;
    }
  }
  try {
    std::unique_ptr<TComponent> made(CreateComponentFromText(text, nullptr));
  } catch (const Exception&) {
  } catch (const std::exception& e) {
    return WhatFailed("creating the root", e);
  }
  return {};
}

}  // namespace ztl::test

#ifdef ZTL_FUZZ_ENTRY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const ztl::String fault = ztl::test::CheckStoredForm(ztl::String(reinterpret_cast<const char*>(data), size));
  if (fault.empty()) return 0;
  std::fprintf(stderr, "%s\n", fault.c_str());
  std::abort();
}
#endif
