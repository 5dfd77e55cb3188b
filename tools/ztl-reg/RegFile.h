#pragma once
// The .reg text form of the registry, as the registry editor writes and
// reads it: the writer of a key's tree ("Windows Registry Editor Version
// 5.00", UTF-16LE) and the reader, which also takes UTF-8 and the older
// "REGEDIT4" form and writes what it reads into the registry. Shared by
// ztl-reg's export and import and by their tests. Relies on RegKeys.h.
//
// Any thread; one file at a time per reader.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <ztl-reg/RegKeys.h>

namespace ztl::regtool {

// The .reg text of a key and those below it, appended to text; what the
// text cannot hold (names with line breaks) is left out and named in skipped.
void ExportKey(HKEY key, const KeyPath& path, std::string& text, std::vector<std::string>& skipped);
// A .reg file's bytes for its text: UTF-16LE after a byte-order mark.
std::string RegFileBytes(std::string_view text);
// A .reg file's text from its bytes: UTF-16LE after its mark, else UTF-8.
std::u16string RegFileText(std::string raw);

// Reads a .reg text into the registry.
class Importer {
 public:
  // False with a message for a file that is no registry file, or for a
  // line that cannot be written.
  bool Run(const std::u16string& content, std::string& problem);

 private:
  bool Line(std::u16string line, std::string& problem);
  bool SetValue(const std::u16string& name, std::u16string data, std::string& problem);

  bool version4_ = false;
  std::unique_ptr<Key> key_;
};

}  // namespace ztl::regtool
