#include <gtest/gtest.h>

#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {
namespace {

// English separators, whatever the environment's locale says.
TFormatSettings English() { return TFormatSettings{}; }

TFormatSettings German() {
  TFormatSettings s;
  s.DecimalSeparator = ',';
  s.ThousandSeparator = '.';
  s.CurrencyString = "EUR";
  s.CurrencyFormat = 3;
  return s;
}

String F(const String& format, std::initializer_list<TVarRec> args) { return Format(format, args, English()); }

void ExpectFormatError(const String& format, std::initializer_list<TVarRec> args) {
  try {
    Format(format, args, English());
    ADD_FAILURE() << "no error for " << format;
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Format '" + format + "' invalid or incompatible with argument");
  }
}

TEST(Format, TextAndPercent) {
  EXPECT_EQ(F("Classname: %s", {"EAccessViolation"}), "Classname: EAccessViolation");
  EXPECT_EQ(F("Device: %s  Name: %s", {String("\\\\.\\DISPLAY1"), "Adapter"}), "Device: \\\\.\\DISPLAY1  Name: Adapter");
  EXPECT_EQ(F("100%%", {}), "100%");
  EXPECT_EQ(F("no specifiers", {1}), "no specifiers");
  EXPECT_EQ(F("", {}), "");
}

TEST(Format, TextWidthAndPrecision) {
  EXPECT_EQ(F("[%6s]", {"abc"}), "[   abc]");
  EXPECT_EQ(F("[%-6s]", {"abc"}), "[abc   ]");
  EXPECT_EQ(F("[%.2s]", {"abcdef"}), "[ab]");
  EXPECT_EQ(F("[%5.2s]", {"abcdef"}), "[   ab]");
  EXPECT_EQ(F("[%2s]", {"abcdef"}), "[abcdef]");
  // Widths and precisions count characters, not UTF-8 bytes.
  EXPECT_EQ(F("[%4s]", {"\xC3\xA4\xC3\xB6"}), "[  \xC3\xA4\xC3\xB6]");
  EXPECT_EQ(F("[%.1s]", {"\xC3\xA4\xC3\xB6"}), "[\xC3\xA4]");
}

TEST(Format, Integers) {
  EXPECT_EQ(F("%d", {42}), "42");
  EXPECT_EQ(F("%d", {-42}), "-42");
  EXPECT_EQ(F("%D", {7}), "7");
  EXPECT_EQ(F("[%5d]", {-42}), "[  -42]");
  EXPECT_EQ(F("[%-5d]", {42}), "[42   ]");
  EXPECT_EQ(F("%.4d", {-42}), "-0042");
  EXPECT_EQ(F("[%7.4d]", {42}), "[   0042]");
  EXPECT_EQ(F("%.1d", {12345}), "12345");
  EXPECT_EQ(F("%d", {INT64_MIN}), "-9223372036854775808");
  EXPECT_EQ(F("%u", {-1}), "18446744073709551615");
  EXPECT_EQ(F("%u", {4000000000u}), "4000000000");
}

TEST(Format, Hexadecimal) {
  EXPECT_EQ(F("%x", {255}), "FF");
  EXPECT_EQ(F("%X", {48879}), "BEEF");
  EXPECT_EQ(F("%.4x", {255}), "00FF");
  EXPECT_EQ(F("[%6x]", {10}), "[     A]");
  EXPECT_EQ(F("%x", {-1}), "FFFFFFFFFFFFFFFF");
}

TEST(Format, FixedAndNumber) {
  EXPECT_EQ(F("%f", {3.14159}), "3.14");
  EXPECT_EQ(F("%f", {-3.14159}), "-3.14");
  EXPECT_EQ(F("%f", {2.0}), "2.00");
  EXPECT_EQ(F("%.3f", {2.5}), "2.500");
  EXPECT_EQ(F("%.0f", {2.5}), "3");
  EXPECT_EQ(F("%.2f", {0.125}), "0.13");  // half away from zero
  EXPECT_EQ(F("%.2f", {2.675}), "2.67");  // the double lies below the half
  EXPECT_EQ(F("%.2f", {9.999}), "10.00");
  EXPECT_EQ(F("%.2f", {-0.001}), "0.00");  // no minus sign on zero
  EXPECT_EQ(F("%f", {123456789.0}), "123456789.00");
  EXPECT_EQ(F("[%8.1f]", {-1.25}), "[    -1.3]");
  EXPECT_EQ(F("%n", {1234567.891}), "1,234,567.89");
  EXPECT_EQ(F("%.0n", {-999.5}), "-1,000");
  EXPECT_EQ(F("%n", {12.0}), "12.00");
  EXPECT_EQ(Format("%n", {1234567.891}, German()), "1.234.567,89");
  EXPECT_EQ(Format("%f", {0.5}, German()), "0,50");
}

TEST(Format, ScientificAndGeneral) {
  EXPECT_EQ(F("%e", {1234.5}), "1.23450000000000E+003");
  EXPECT_EQ(F("%.3e", {-1234.5}), "-1.23E+003");
  EXPECT_EQ(F("%.2e", {0.000123}), "1.2E-004");
  EXPECT_EQ(F("%.1e", {0.0}), "0E+000");
  EXPECT_EQ(F("%g", {1.5}), "1.5");
  EXPECT_EQ(F("%g", {1e20}), "1E20");
  EXPECT_EQ(F("%.3g", {1234.5}), "1.23E3");
  EXPECT_EQ(F("%.3g", {123.4}), "123");
  EXPECT_EQ(Format("%g", {0.25}, German()), "0,25");
}

TEST(Format, Money) {
  EXPECT_EQ(F("%m", {1234.5}), "$1,234.50");
  EXPECT_EQ(F("%m", {-2.0}), "-$2.00");
  EXPECT_EQ(F("%.0m", {2.0}), "$2");
  EXPECT_EQ(Format("%m", {1234.5}, German()), "1.234,50 EUR");
}

TEST(Format, Pointer) {
  // Sixteen digits on a 64-bit system, eight on a 32-bit one.
  const void* p = reinterpret_cast<const void*>(uintptr_t{0xBEEF});
  String expected = sizeof(void*) == 8 ? "000000000000BEEF" : "0000BEEF";
  EXPECT_EQ(F("Phys.addr: %p", {p}), "Phys.addr: " + expected);
  EXPECT_EQ(F("%p", {static_cast<const void*>(nullptr)}), String(sizeof(void*) * 2, '0'));
  const void* high = reinterpret_cast<const void*>(~uintptr_t{0} - 0xF);
  EXPECT_EQ(F("%p", {high}), String(sizeof(void*) * 2 - 1, 'F') + "0");
}

TEST(Format, IndexAndStar) {
  EXPECT_EQ(F("%1:s %0:s", {"a", "b"}), "b a");
  EXPECT_EQ(F("%1:s %s %0:s %s", {"a", "b", "c"}), "b c a b");
  EXPECT_EQ(F("[%*d]", {5, 42}), "[   42]");
  EXPECT_EQ(F("[%-*d]", {4, 7}), "[7   ]");
  EXPECT_EQ(F("[%.*f]", {3, 1.0}), "[1.000]");
  EXPECT_EQ(F("%0:s-%0:s", {"x"}), "x-x");
}

TEST(Format, BadArgumentsRaise) {
  ExpectFormatError("%d", {"text"});
  ExpectFormatError("%d", {1.5});
  ExpectFormatError("%s", {42});
  ExpectFormatError("%f", {42});
  ExpectFormatError("%p", {42});
  ExpectFormatError("%s %s", {"only one"});
  ExpectFormatError("%d", {});
  ExpectFormatError("%2:d", {1, 2});
  ExpectFormatError("%k", {1});
  ExpectFormatError("trailing %", {});
  ExpectFormatError("%*d", {"x", 1});
  EXPECT_THROW(Format("%d", {"x"}), Exception);
}

TEST(Format, UsesTheProcessSettings) {
  TFormatSettings saved = FormatSettings();
  FormatSettings().DecimalSeparator = ',';
  FormatSettings().ThousandSeparator = ' ';
  String fixed = Format("%.1f", {2.25});
  String number = Format("%n", {1000.0});
  String general = FloatToStr(1.5);
  FormatSettings() = saved;
  EXPECT_EQ(fixed, "2,3");
  EXPECT_EQ(number, "1 000,00");
  EXPECT_EQ(general, "1,5");
}

}  // namespace
}  // namespace ztl
