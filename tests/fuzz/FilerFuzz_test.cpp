// Drives the stored-form reader's fuzz target with mutated forms: flipped
// bytes, cut and doubled tokens, huge numbers, deep nesting, long strings,
// character codes out of range and unbalanced brackets.
#include <gtest/gtest.h>

#include <random>

#include <ztlogger/platform/rtl/Types.h>

namespace ztl::test {

String CheckStoredForm(const String& text);

namespace {

const String SeedForms[] = {
    "object Root: TPanelRoot\r\n"
    "  object First: TWidget\r\n"
    "    Count = 12\r\n"
    "    Ratio = 0.1\r\n"
    "    Caption = 'caf\xC3\xA9'#9'tab' + 'more'#13#10\r\n"
    "    Visible = False\r\n"
    "    Color = ckBlue\r\n"
    "    Colors = [ckRed, ckGreen, ckBlue]\r\n"
    "    Settings.Enabled = False\r\n"
    "    Settings.Blob = {\r\n"
    "      00FF7F80}\r\n"
    "    Settings.Files.Strings = (\r\n"
    "      ''\r\n"
    "      'x')\r\n"
    "    Things = <\r\n"
    "      item\r\n"
    "        Size = 5\r\n"
    "        Label = 'five'\r\n"
    "        Partner = Second\r\n"
    "        Parts = <\r\n"
    "          item\r\n"
    "            Size = -3\r\n"
    "          end>\r\n"
    "      end>\r\n"
    "    Buddy = Second\r\n"
    "    OnPing = PingHandler\r\n"
    "  end\r\n"
    "  object Second: TWidget\r\n"
    "    Buddy = First\r\n"
    "    Count = $7F\r\n"
    "    Tag = -1\r\n"
    "  end\r\n"
    "end\r\n",
    "object W: TWidget\n  Count = 3\n  Ratio = -1.5e3\n  Settings.Title = ''''\nend\n",
};

// Pieces that mutations put in: the form's own words and hostile values.
const char* const Pieces[] = {
    "object ", "end ", "item ", "inherited ", "<", ">", "(", ")", "[", "]", "{", "}", "=", ":", ",", ".", "+",
    "'", "''", "#", "$", "-", "nil", "True", "False", "Buddy = Root\n", "Buddy = Second\n", "Partner = First\n",
    "Count = ", "Spare.Title = 'x'\n", "NoThings = <item end>\n", "NoLines.Strings = ('a')\n",
    "Settings.Blob = {ABC}\n", "Settings.Blob = {}\n", "Settings.Blob = {0g}\n", "Settings.Files = ('a')\n",
    "99999999999999999999", "9223372036854775808", "-9223372036854775808", "2147483648", "$", "$G",
    "$FFFFFFFFFFFFFFFF", "1e999", "1e-999", "1.2.3", "#99999999999999999999", "#1114112", "#55296", "#0",
    "'a'+", "+'b'", "Things = <", "Parts = <item ", "OnPing = OtherHandler\n", "OnPing = WrongSignature\n",
    "Colors = [ckRed, ckRed]\n", "Color = ckNone\n", "object First: TPanelRoot\nend\n", "object 1x: TWidget\n",
};

class TMutator {
 public:
  explicit TMutator(unsigned seed) : random_(seed) {}

  String Mutate(String input) {
    switch (random_() % 9) {
      case 0: input.resize(Pick(input.size() + 1)); break;
      case 1:
        for (int i = 0; i < 6 && !input.empty(); ++i) input[Pick(input.size())] = static_cast<char>(random_());
        break;
      case 2: {  // a span doubled
        const size_t from = Pick(input.size() + 1);
        input.insert(Pick(input.size() + 1), input.substr(from, 1 + Pick(40)));
        break;
      }
      case 3: {  // a span dropped
        const size_t from = Pick(input.size() + 1);
        input.erase(from, 1 + Pick(30));
        break;
      }
      case 4: input.insert(Pick(input.size() + 1), Pieces[Pick(std::size(Pieces))]); break;
      case 5: input.insert(Pick(input.size() + 1), Nesting()); break;
      case 6: input.insert(Pick(input.size() + 1), LongString()); break;
      case 7: {  // a bracket dropped or doubled
        const size_t at = input.find_first_of("<>()[]{}'", Pick(input.size() + 1));
        if (at == String::npos) break;
        if (random_() % 2) input.erase(at, 1);
        else input.insert(at, 1, input[at]);
        break;
      }
      default: {  // a line moved
        const size_t start = input.find('\n', Pick(input.size() + 1));
        if (start == String::npos) break;
        const size_t end = input.find('\n', start + 1);
        const String line = input.substr(start, end == String::npos ? String::npos : end - start);
        input.erase(start, line.size());
        input.insert(Pick(input.size() + 1), line);
        break;
      }
    }
    return input;
  }

 private:
  size_t Pick(size_t bound) { return bound == 0 ? 0 : static_cast<size_t>(random_() % bound); }

  static String Repeat(const String& piece, size_t times) {
    String out;
    out.reserve(piece.size() * times);
    for (size_t i = 0; i < times; ++i) out += piece;
    return out;
  }

  String Nesting() {
    const size_t depth = 1 + Pick(3000);
    switch (random_() % 4) {
      case 0: {
        String open;
        for (size_t i = 0; i < depth; ++i) open += "object N" + std::to_string(i) + ": TWidget\n";
        return open + Repeat("end\n", Pick(depth + 2));
      }
      case 1: return "Things = <" + Repeat("item Parts = <", depth) + Repeat("end>", Pick(depth + 2)) + "\n";
      case 2: return "Count = " + Repeat("-", depth) + "1\n";
      default: return Repeat("Settings.", depth) + "Title = 'x'\n";
    }
  }

  String LongString() {
    const size_t length = 1 + Pick(200000);
    switch (random_() % 3) {
      case 0: return "Caption = '" + String(length, 'q') + "'\n";
      case 1: return "Caption = " + Repeat("#65+", length / 4) + "''\n";
      default: return "Caption = '" + Repeat("''", length / 2) + "'\n";
    }
  }

  std::mt19937 random_;
};

TEST(FilerFuzz, SeedsReadCleanly) {
  for (const String& seed : SeedForms) EXPECT_EQ(CheckStoredForm(seed), "");
}

TEST(FilerFuzz, SurvivesMutatedForms) {
  TMutator mutator(20240611);
  for (int round = 0; round < 3000; ++round) {
    const String& seed = SeedForms[round % std::size(SeedForms)];
    String input = mutator.Mutate(seed);
    // Several mutations on one input now and then.
    for (int more = round % 4; more > 0; --more) input = mutator.Mutate(input);
    const String fault = CheckStoredForm(input);
    ASSERT_EQ(fault, "") << "round " << round << ", input:\n" << input.substr(0, 4000);
  }
}

TEST(FilerFuzz, SurvivesHostileShapes) {
  const String head = "object Root: TPanelRoot\n object First: TWidget\n";
  const String tail = " end\nend\n";
  auto repeat = [](const String& piece, size_t times) {
    String out;
    for (size_t i = 0; i < times; ++i) out += piece;
    return out;
  };
  const String shapes[] = {
      "",
      String(1 << 16, '\0'),
      head + "Things = <" + repeat("item Parts = <", 200000) + tail,
      head + "Count = " + repeat("-", 1 << 20) + "1\n" + tail,
      head + repeat("Settings.", 1 << 18) + "Title = 'x'\n" + tail,
      head + "Caption = '" + String(8 << 20, 'x') + "'\n" + tail,
      head + "Caption = " + repeat("#1+", 1 << 18) + "''\n" + tail,
      head + "Colors = [" + repeat("ckRed,", 1 << 18) + "ckRed]\n" + tail,
      head + "Settings.Files.Strings = (" + repeat("'a' ", 1 << 18) + ")\n" + tail,
      head + "Settings.Blob = {" + String(1 << 20, 'F') + "}\n" + tail,
      repeat("object A: TWidget\n", 100000),
  };
  for (const String& shape : shapes) EXPECT_EQ(CheckStoredForm(shape), "") << shape.substr(0, 200);
}

}  // namespace
}  // namespace ztl::test
