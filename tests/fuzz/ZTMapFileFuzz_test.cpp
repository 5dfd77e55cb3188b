// Drives the map reader's fuzz target with mutated maps: truncated, flipped,
// binary and huge-line inputs.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include <ztlogger/platform/rtl/Types.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace ztl {
namespace {

const String SeedMap =
    " Start         Length     Name                   Class\r\n\r\n"
    "Detailed map of segments\r\n\r\n"
    " 0001:00000000 00000100 C=CODE     S=.text    G=(none)   M=Main ACBP=A9\r\n"
    " 0001:00000100 00000100 C=CODE     S=.text    G=(none)   M=Grüß ACBP=A9\r\n\r\n"
    "  Address         Publics by Name\r\n\r\n"
    "  Address         Publics by Value\r\n\r\n\r\n"
    " 0001:00000010       Main.Run\r\n"
    " 0001:00000100       Grüß.Go\r\n"
    " 0001:00000200\r\n\r\n"
    "Line numbers for Main(Main.pas) segment .text\r\n\r\n"
    "    42 0001:00000010    43 0001:00000020    44 0001:00000030    45 0001:00000040\r\n"
    "    46 0001:00000050\r\n\r\n"
    "Line numbers for Grüß(Grüß.pas) segment .text\r\n\r\n"
    "     1 0001:00000100     2 0001:00000108\r\n";

// The seed with the layout ztl-mkmap would record before its segments
// header, so that the mutations reach the seeking reader too.
String WithLayout(const String& map) {
  const size_t body = map.find("Detailed map of segments");
  const auto at = [&](const char* header) { return std::to_string(map.rfind('\n', map.find(header)) + 1 - body); };
  return "Layout after the segments header: " + std::to_string(map.size() - body) + " bytes, publics by name at " +
         at("  Address         Publics by Name") + ", publics by value at " + at("  Address         Publics by Value") +
         ", line numbers at " + at("Line numbers for") + "\r\nLines of Main at " + at("Line numbers for Main") + "\r\n" +
         map;
}

int Feed(const String& input) {
  return LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

String Mutate(String input, std::mt19937& random) {
  auto pick = [&](size_t bound) { return bound == 0 ? size_t{0} : static_cast<size_t>(random() % bound); };
  switch (random() % 5) {
    case 0:  // truncated
      input.resize(pick(input.size() + 1));
      break;
    case 1:  // bytes changed
      for (int i = 0; i < 8 && !input.empty(); ++i) input[pick(input.size())] = static_cast<char>(random());
      break;
    case 2:  // a line doubled or dropped
    {
      const size_t at = input.find('\n', pick(input.size()));
      if (at != String::npos) input.insert(at, input.substr(pick(at + 1), 40));
      break;
    }
    case 3:  // hexadecimal digits where the fields are
      for (int i = 0; i < 8 && !input.empty(); ++i) input[pick(input.size())] = "0123456789ABCDEFabcdef -"[random() % 24];
      break;
    default:  // line breaks removed
      for (char& c : input)
        if (c == '\n' && random() % 3 == 0) c = ' ';
      break;
  }
  return input;
}

TEST(MapFileFuzz, SurvivesMutatedMaps) {
  std::mt19937 random(7);
  String input = SeedMap;
  for (int round = 0; round < 3000; ++round) {
    ASSERT_EQ(Feed(input), 0);
    input = round % 100 == 0 ? SeedMap : round % 100 == 50 ? WithLayout(SeedMap) : Mutate(input, random);
  }
}

TEST(MapFileFuzz, SurvivesBinaryAndHugeLines) {
  std::mt19937 random(11);
  String binary(1 << 16, '\0');
  for (char& c : binary) c = static_cast<char>(random());
  EXPECT_EQ(Feed(binary), 0);
  EXPECT_EQ(Feed(SeedMap.substr(0, 200) + binary + SeedMap), 0);
  EXPECT_EQ(Feed(SeedMap + String(8 << 20, '7')), 0);
  EXPECT_EQ(Feed(String(4 << 20, ' ') + "\n" + SeedMap), 0);
  EXPECT_EQ(Feed(String()), 0);
}

}  // namespace
}  // namespace ztl
