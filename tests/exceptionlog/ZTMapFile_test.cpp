#include <ztlogger/exceptionlog/ZTMapFile.h>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <future>
#include <initializer_list>
#include <utility>

#include "tests/support/TestDir.h"
#include <ztlogger/platform/rtl/ExceptionSupport.h>
#include <ztlogger/platform/rtl/SysUtils.h>

namespace ztl {
namespace {

using test::TestDir;
using test::WriteFileBytes;

String Hex8(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

String SegmentLine(uint32_t start, uint32_t length, const String& unit) {
  return " 0001:" + Hex8(start) + " " + Hex8(length) + " C=CODE     S=.text    G=(none)   M=" + unit + " ACBP=A9";
}

String PublicLine(uint32_t offset, const String& name) { return " 0001:" + Hex8(offset) + "       " + name; }

// Up to four "line offset" entries of 20 characters each.
String EntryLine(std::initializer_list<std::pair<int, uint32_t>> entries) {
  String line;
  for (auto [number, offset] : entries) {
    char entry[32];
    std::snprintf(entry, sizeof entry, "%6d 0001:%08X", number, offset);
    line += entry;
  }
  return line;
}

String LineBlockHeader(const String& unit) { return "Line numbers for " + unit + "(" + unit + ".pas) segment .text"; }

// A map in the linker's layout, its regions given as lines.
struct MapText {
  std::vector<String> Segments;
  std::vector<String> Publics;
  std::vector<String> Lines;
  String NameHeader = "  Address         Publics by Name";
  String ValueHeader = "  Address         Publics by Value";
  String LineEnd = "\r\n";

  String Text() const {
    String text;
    auto add = [&](const String& line) { text += line + LineEnd; };
    add(" Start         Length     Name                   Class");
    add(" 0001:00000000 00010000H .text                   CODE");
    add("");
    add("Detailed map of segments");
    add("");
    for (const String& line : Segments) add(line);
    add("");
    add(NameHeader);
    add("");
    add(" 0001:00000000       NotByValue");
    add("");
    add(ValueHeader);
    add("");
    add("");
    for (const String& line : Publics) add(line);
    add("");
    for (const String& line : Lines) add(line);
    return text;
  }
};

// Two units: Alpha at 0..FFF, Beta from 1000 on.
MapText SampleMap() {
  MapText map;
  map.Segments = {SegmentLine(0x0000, 0x1000, "Alpha"), SegmentLine(0x1000, 0x800, "Beta")};
  map.Publics = {PublicLine(0x0010, "Alpha.First"), PublicLine(0x0100, "Alpha.Second"),
                 PublicLine(0x1000, "Beta.Only"), PublicLine(0x1800, "EndOfCode")};
  map.Lines = {LineBlockHeader("Alpha"),
               "",
               EntryLine({{10, 0x0010}, {11, 0x0018}, {12, 0x0020}, {14, 0x0030}}),
               EntryLine({{20, 0x0100}, {21, 0x0110}}),
               "",
               LineBlockHeader("Beta"),
               "",
               EntryLine({{5, 0x1000}, {6, 0x1004}}),
               ""};
  return map;
}

class MapFileTest : public ::testing::Test {
 protected:
  String Write(const MapText& map, const String& name = "app.map") { return WriteText(map.Text(), name); }
  String WriteText(const String& text, const String& name = "app.map") {
    const String path = dir_.File(name);
    WriteFileBytes(path, text);
    return path;
  }
  // Looks up the address at the offset from the default base.
  void Lookup(uint32_t offset) {
    reader_.LoadExceptionData(reinterpret_cast<const void*>(uintptr_t{TZTMapFile::DefaultMapFileBase} + offset));
    EXPECT_EQ(reader_.ExceptAddress(), offset);
  }
  void ExpectResult(const String& unit, const String& method, int32_t line) {
    EXPECT_TRUE(reader_.ExceptionAnalyzed());
    EXPECT_EQ(reader_.ExceptUnitName(), unit);
    EXPECT_EQ(reader_.ExceptMethodName(), method);
    EXPECT_EQ(reader_.ExceptLineNumber(), line);
  }

  TestDir dir_;
  TZTMapFile reader_;
};

TEST_F(MapFileTest, StartsEmptyWithTheLinkersCodeBase) {
  EXPECT_EQ(reader_.MapFileName(), "");
  EXPECT_EQ(reader_.MapFileBase(), 0x00401000u);
  EXPECT_FALSE(reader_.MapFileIsLoaded());
  EXPECT_FALSE(reader_.ExceptionAnalyzed());
  EXPECT_EQ(reader_.ExceptAddress(), 0u);
  EXPECT_TRUE(reader_.InheritsFrom(TObject::StaticClass()));
  EXPECT_TRUE(EMapFileException("x").InheritsFrom(Exception::StaticClass()));
}

TEST_F(MapFileTest, PublicsAndLinesAtExactAndInBetweenAddresses) {
  reader_.SetMapFileName(Write(SampleMap()));
  Lookup(0x0010);
  ExpectResult("Alpha", "Alpha.First", 10);
  Lookup(0x0018);
  ExpectResult("Alpha", "Alpha.First", 11);
  Lookup(0x0025);  // between the entries of lines 12 and 14
  ExpectResult("Alpha", "Alpha.First", 12);
  Lookup(0x0030);  // last entry of the first line of entries
  ExpectResult("Alpha", "Alpha.First", 14);
  Lookup(0x0050);  // between two lines of entries
  ExpectResult("Alpha", "Alpha.First", 14);
  Lookup(0x0100);
  ExpectResult("Alpha", "Alpha.Second", 20);
  Lookup(0x0105);
  ExpectResult("Alpha", "Alpha.Second", 20);
  Lookup(0x1002);
  ExpectResult("Beta", "Beta.Only", 5);
  EXPECT_EQ(reader_.ExceptAddress(), 0x1002u);
}

TEST_F(MapFileTest, AddressPastTheLastEntryOfItsUnitHasNoLine) {
  reader_.SetMapFileName(Write(SampleMap()));
  Lookup(0x0200);
  ExpectResult("Alpha", "Alpha.Second", 0);
  Lookup(0x1010);
  ExpectResult("Beta", "Beta.Only", 0);
}

TEST_F(MapFileTest, AddressBeforeTheFirstPublicOrPastTheLastHasNoProcedure) {
  reader_.SetMapFileName(Write(SampleMap()));
  Lookup(0x0004);  // the first public above it is the first line of its region
  ExpectResult("Alpha", "", 0);
  Lookup(0x2000);  // no public reaches it
  ExpectResult("Beta", "", 0);
}

TEST_F(MapFileTest, AddressIsTakenRelativeToTheBaseWithWrapAround) {
  reader_.SetMapFileName(Write(SampleMap()));
  reader_.SetMapFileBase(0x00401000);
  reader_.LoadExceptionData(reinterpret_cast<const void*>(uintptr_t{0x00401100}));
  EXPECT_EQ(reader_.ExceptAddress(), 0x100u);
  ExpectResult("Alpha", "Alpha.Second", 20);
  reader_.LoadExceptionData(reinterpret_cast<const void*>(uintptr_t{0x00400000}));
  EXPECT_EQ(reader_.ExceptAddress(), 0xFFFFF000u);
  ExpectResult("Beta", "", 0);
}

TEST_F(MapFileTest, PublicBeforeTheFirstOneAtOrAboveIsTakenWhateverItHolds) {
  MapText map = SampleMap();
  map.Publics = {PublicLine(0x0010, "Alpha.First"), "", PublicLine(0x0100, "Alpha.Second"),
                 " 0001:0000XXXX       Broken", PublicLine(0x0200, "Alpha.Third")};
  reader_.SetMapFileName(Write(map));
  Lookup(0x0050);  // the line before Alpha.Second is blank
  EXPECT_EQ(reader_.ExceptMethodName(), "");
  Lookup(0x0150);  // the line before Alpha.Third does not convert, yet is taken
  EXPECT_EQ(reader_.ExceptMethodName(), "Broken");
  Lookup(0x0200);
  EXPECT_EQ(reader_.ExceptMethodName(), "Alpha.Third");
}

TEST_F(MapFileTest, SegmentLinesThatDoNotQualify) {
  MapText map = SampleMap();
  map.Segments = {SegmentLine(0x0000, 0x1000, "Alpha"),
                  " 0001:00000800 0000ZZZZ C=CODE     S=.text    G=(none)   M=BadLength ACBP=A9",
                  " 0001:00000900 00000100 C=CODE     S=.text    G=(none)   ACBP=A9",
                  SegmentLine(0x1000, 0x10, "Beta"),
                  SegmentLine(0x0000, 0x10, "BelowButLater")};
  reader_.SetMapFileName(Write(map));
  Lookup(0x0850);  // bad length: ignored
  EXPECT_EQ(reader_.ExceptUnitName(), "Alpha");
  Lookup(0x0950);  // no "M=": names no unit
  EXPECT_EQ(reader_.ExceptUnitName(), "Alpha");
  Lookup(0x5000);  // the length is not checked; the walk ends at the first start above the address
  EXPECT_EQ(reader_.ExceptUnitName(), "BelowButLater");
  Lookup(0x0F00);
  EXPECT_EQ(reader_.ExceptUnitName(), "Alpha");
}

// Offsets are read eight digits at once: each byte next to a range of
// digits must still fail, and letters convert in either case.
TEST_F(MapFileTest, OffsetsConvertFromHexDigitsOfEitherCaseOnly) {
  for (const char* bad : {"/", ":", "@", "G", "`", "g", " ", "\x7F"}) {
    MapText map = SampleMap();
    map.Segments = {SegmentLine(0x0000, 0x10, "Alpha"),
                    " 0001:000000" + String(bad) + "0 00000010 C=CODE     S=.text    G=(none)   M=Bad ACBP=A9",
                    " 0001:0000aBcD 00000010 C=CODE     S=.text    G=(none)   M=Mixed ACBP=A9"};
    reader_.SetMapFileName(Write(map, "bad" + std::to_string(static_cast<unsigned char>(bad[0])) + ".map"));
    Lookup(0xABCC);
    EXPECT_EQ(reader_.ExceptUnitName(), "Alpha") << "offset byte " << int(bad[0]);
    Lookup(0xABCD);
    EXPECT_EQ(reader_.ExceptUnitName(), "Mixed");
  }
}

TEST_F(MapFileTest, UnitNameGluedToAcbpLosesItsLastCharacter) {
  MapText map = SampleMap();
  map.Segments = {" 0001:00000000 00001000 C=CODE     S=.text    G=(none)   M=GluedACBP=A9",
                  " 0001:00001000 00001000 C=CODE     S=.text    G=(none)   M=  \tSpaced \t ACBP=A9",
                  " 0001:00002000 00001000 C=CODE     S=.text    G=(none)   M=CaféACBP=A9",
                  " 0001:00003000 00001000 C=CODE     S=.text    G=(none)   ACBP=A9 M=After"};
  reader_.SetMapFileName(Write(map));
  Lookup(0x0000);
  EXPECT_EQ(reader_.ExceptUnitName(), "Glue");
  Lookup(0x1000);
  EXPECT_EQ(reader_.ExceptUnitName(), "Spaced");
  Lookup(0x2000);  // the last character is dropped, not the last byte
  EXPECT_EQ(reader_.ExceptUnitName(), "Caf");
  Lookup(0x3000);  // "M=" after "ACBP=": an empty name
  EXPECT_EQ(reader_.ExceptUnitName(), "");
}

TEST_F(MapFileTest, LineNumbersComeFromTheFirstLineHoldingTheUnitName) {
  MapText map;
  map.Segments = {SegmentLine(0x0000, 0x100, "MainForm"), SegmentLine(0x0100, 0x100, "Main")};
  map.Publics = {PublicLine(0x0000, "MainForm.Create"), PublicLine(0x0100, "Main.Run"), PublicLine(0x0200, "")};
  map.Lines = {LineBlockHeader("MainForm"), "", EntryLine({{7, 0x0000}, {8, 0x0004}}), "",
               LineBlockHeader("Main"),     "", EntryLine({{70, 0x0100}, {71, 0x0104}}), ""};
  reader_.SetMapFileName(Write(map));
  Lookup(0x0104);  // "Main" is found in the MainForm header first
  ExpectResult("Main", "Main.Run", 0);
  Lookup(0x0004);
  ExpectResult("MainForm", "MainForm.Create", 8);
}

TEST_F(MapFileTest, LineWalkRules) {
  MapText map = SampleMap();
  map.Lines = {LineBlockHeader("Alpha"),
               EntryLine({{99, 0x0000}}),  // the line right after the header is never read
               EntryLine({{10, 0x0010}, {11, 0x0018}}) + "   xx 0001:00000020" + EntryLine({{13, 0x0028}}),
               "    12 0001:0000002G" + EntryLine({{13, 0x0028}}),
               "",
               EntryLine({{30, 0x0040}, {30, 0x0040}, {31, 0x0040}}),
               EntryLine({{40, 0x0060}}),
               LineBlockHeader("Beta"),
               "",
               EntryLine({{5, 0x0070}})};
  reader_.SetMapFileName(Write(map));
  Lookup(0x0000);
  EXPECT_EQ(reader_.ExceptLineNumber(), 0);
  Lookup(0x0024);  // a bad line number ends its line; the entries after it are not read
  EXPECT_EQ(reader_.ExceptLineNumber(), 11);
  Lookup(0x0030);  // a bad offset ends its line too
  EXPECT_EQ(reader_.ExceptLineNumber(), 11);
  Lookup(0x0040);  // an exact hit ends the line at its first entry
  EXPECT_EQ(reader_.ExceptLineNumber(), 30);
  Lookup(0x0060);
  EXPECT_EQ(reader_.ExceptLineNumber(), 40);
  Lookup(0x0070);  // the walk stops at the next header
  EXPECT_EQ(reader_.ExceptLineNumber(), 0);
}

class MapFileHeaderTest : public MapFileTest, public ::testing::WithParamInterface<int> {};

TEST_P(MapFileHeaderTest, AcceptsEachHeaderSpelling) {
  const String blanks[] = {"         ", "             ", " "};
  MapText map = SampleMap();
  map.NameHeader = "xx Address" + blanks[GetParam()] + "Publics by Name yy";
  map.ValueHeader = "Address" + blanks[GetParam()] + "Publics by Value";
  reader_.SetMapFileName(Write(map));
  Lookup(0x0100);
  ExpectResult("Alpha", "Alpha.Second", 20);
}

INSTANTIATE_TEST_SUITE_P(Spellings, MapFileHeaderTest, ::testing::Values(0, 1, 2));

TEST_F(MapFileTest, OtherBlankCountsInHeadersAreNotHeaders) {
  MapText map = SampleMap();
  map.ValueHeader = "  Address    Publics by Value";
  reader_.SetMapFileName(Write(map));
  Lookup(0x0100);
  ExpectResult("Alpha", "", 0);
  map = SampleMap();
  map.NameHeader = "  Address  Publics by Name";
  reader_.SetMapFileName(Write(map, "other.map"));
  Lookup(0x0100);  // the whole rest is the segment region
  ExpectResult("Alpha", "", 0);
}

TEST_F(MapFileTest, AcceptsLfLineEndsAndCharacterColumns) {
  MapText map = SampleMap();
  map.LineEnd = "\n";
  // A two-byte character in the positions before the offset: columns count
  // characters, not bytes.
  map.Publics = {"é0001:00000010       Über.First", PublicLine(0x0100, "Alpha.Second")};
  reader_.SetMapFileName(Write(map));
  Lookup(0x0012);
  ExpectResult("Alpha", "Über.First", 10);
}

// The headers are found in the text as a whole: a title without its
// "Address" is no header, and a text that ends without a line break still
// ends in a line.
TEST_F(MapFileTest, TitlesWithoutTheirAddressAreNoHeadersAndTheLastLineNeedsNoBreak) {
  MapText map = SampleMap();
  map.Lines.resize(map.Lines.size() - 1);  // Beta's entries end the file
  String text = map.Text();
  // Taken for the header, these would put Wrong.Name among the publics.
  text.replace(text.find("NotByValue"), 10,
               "Publics by Value, Address  Publics by Value\r\n\r\n\r\n 0001:00000000       Wrong.Name");
  text.resize(text.size() - 2);
  reader_.SetMapFileName(WriteText(text));
  Lookup(0x0000);
  ExpectResult("Alpha", "", 0);
  Lookup(0x0100);
  ExpectResult("Alpha", "Alpha.Second", 20);
  Lookup(0x1004);
  ExpectResult("Beta", "Beta.Only", 6);
}

TEST_F(MapFileTest, BytesThatAreNotUtf8AreLatin1) {
  MapText map = SampleMap();
  map.Segments = {SegmentLine(0x0000, 0x1000, "Gr\xFC\xDF")};
  map.Publics = {"\xE9" "0001:00000010       Stra\xDF" "e", PublicLine(0x0100, "x")};
  map.Lines = {LineBlockHeader("Gr\xFC\xDF"), "", EntryLine({{10, 0x0010}})};
  reader_.SetMapFileName(Write(map));
  Lookup(0x0010);
  ExpectResult("Grüß", "Straße", 10);
}

TEST_F(MapFileTest, FileWithoutSegmentHeaderYieldsNothing) {
  String text = SampleMap().Text();
  text.replace(text.find("Detailed map of segments"), 8, "Overview");
  reader_.SetMapFileName(WriteText(text));
  Lookup(0x0010);
  ExpectResult("", "", 0);
  TStringList units;
  reader_.LoadUnitNames(&units);
  EXPECT_EQ(units.Count(), 0);
}

TEST_F(MapFileTest, MissingFileYieldsNothingAndIsNotLookedForAgain) {
  reader_.SetMapFileName(dir_.File("missing.map"));
  Lookup(0x0010);
  ExpectResult("", "", 0);
  EXPECT_TRUE(reader_.MapFileIsLoaded());
  Write(SampleMap(), "missing.map");
  reader_.SetMapFileName(dir_.File("missing.map"));  // the same name: not read again
  EXPECT_TRUE(reader_.MapFileIsLoaded());
  Lookup(0x0010);
  ExpectResult("", "", 0);
  reader_.SetMapFileName(dir_.File("other.map"));
  EXPECT_FALSE(reader_.MapFileIsLoaded());
  reader_.SetMapFileName(dir_.File("missing.map"));
  Lookup(0x0010);
  ExpectResult("Alpha", "Alpha.First", 10);
}

// Linkers truncate a map and write it again: the program still running
// keeps what it read, and a later lookup must not touch the file's new end.
TEST_F(MapFileTest, AMapRewrittenInPlaceKeepsWhatWasRead) {
  const String path = Write(SampleMap());
  reader_.SetMapFileName(path);
  Lookup(0x1002);
  ExpectResult("Beta", "Beta.Only", 5);
  WriteFileBytes(path, "");
  Lookup(0x1002);
  ExpectResult("Beta", "Beta.Only", 5);
}

TEST_F(MapFileTest, EmptyNameLoadsNothing) {
  Lookup(0x0010);
  ExpectResult("", "", 0);
  EXPECT_TRUE(reader_.MapFileIsLoaded());
}

TEST_F(MapFileTest, NameComparisonIsCaseSensitive) {
  reader_.SetMapFileName(Write(SampleMap()));
  Lookup(0x0010);
  EXPECT_TRUE(reader_.MapFileIsLoaded());
  reader_.SetMapFileName(UpperCase(reader_.MapFileName()));
  EXPECT_FALSE(reader_.MapFileIsLoaded());
}

TEST_F(MapFileTest, NilAddressWithoutAnExceptionLoadsButDoesNotAnalyse) {
  reader_.SetMapFileName(Write(SampleMap()));
  Lookup(0x0010);
  ASSERT_TRUE(reader_.ExceptionAnalyzed());
  reader_.SetMapFileName(Write(SampleMap(), "second.map"));
  reader_.LoadExceptionData(nullptr);
  EXPECT_FALSE(reader_.ExceptionAnalyzed());
  EXPECT_EQ(reader_.ExceptUnitName(), "");
  EXPECT_EQ(reader_.ExceptMethodName(), "");
  EXPECT_EQ(reader_.ExceptLineNumber(), 0);
  EXPECT_EQ(reader_.ExceptAddress(), 0u);
  EXPECT_TRUE(reader_.MapFileIsLoaded());
}

// A throw's raise address is where its call returns to: the statement is the
// call just before it. A given address is taken as it is.
TEST_F(MapFileTest, NilAddressInsideAHandlerAnalysesTheRaisingCall) {
  reader_.SetMapFileName(Write(SampleMap()));
  const void* raisedAt = nullptr;
  try {
    throw EConvertError("raised");
  } catch (const Exception&) {
    raisedAt = ExceptAddr();
    ASSERT_NE(raisedAt, nullptr);
    reader_.SetMapFileBase(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(raisedAt)) - 0x0018);
    reader_.LoadExceptionData(nullptr);
  }
  EXPECT_EQ(reader_.ExceptAddress(), 0x0017u);
  ExpectResult("Alpha", "Alpha.First", 10);
  reader_.LoadExceptionData(raisedAt);
  EXPECT_EQ(reader_.ExceptAddress(), 0x0018u);
  ExpectResult("Alpha", "Alpha.First", 11);
}

TEST_F(MapFileTest, AProcedureSplitIntoClonesIsNamedAfterItsFunction) {
  MapText map = SampleMap();
  map.Publics[2] = PublicLine(0x1000, "Beta::Only(int) [clone .isra.0] [clone .cold]");
  reader_.SetMapFileName(Write(map));
  Lookup(0x1002);
  ExpectResult("Beta", "Beta::Only(int)", 5);
}

TEST_F(MapFileTest, UnitNamesInFileOrderWithDuplicates) {
  MapText map = SampleMap();
  map.Segments = {SegmentLine(0x0000, 0x10, " Alpha "), "", SegmentLine(0x0010, 0x10, "Beta"),
                  " 0001:0000ZZZZ 0000YYYY M=Unconverted ACBP=A9", " 0001:00000030 00000010 ACBP=A9",
                  SegmentLine(0x0040, 0x10, "Alpha")};
  reader_.SetMapFileName(Write(map));
  TStringList units;
  units.Add("stale");
  reader_.LoadUnitNames(&units);
  EXPECT_EQ(units.CommaText(), "Alpha,Beta,Unconverted,Alpha");
}

TEST_F(MapFileTest, UnitNamesSkipOnlyWhatTheListRefuses) {
  MapText map = SampleMap();
  map.Segments = {SegmentLine(0, 1, "Beta"), SegmentLine(1, 1, "Alpha"), SegmentLine(2, 1, "Beta"),
                  SegmentLine(3, 1, "Gamma")};
  reader_.SetMapFileName(Write(map));
  TStringList units;
  units.SetSorted(true);
  units.SetDuplicates(dupError);
  reader_.LoadUnitNames(&units);
  EXPECT_EQ(units.CommaText(), "Alpha,Beta,Gamma");
}

TEST_F(MapFileTest, UnitNamesWithNilListDoNotLoad) {
  reader_.SetMapFileName(Write(SampleMap()));
  reader_.LoadUnitNames(nullptr);
  EXPECT_FALSE(reader_.MapFileIsLoaded());
}

TEST_F(MapFileTest, ReadErrorPropagatesAndLeavesTheMapNotLoaded) {
  // A folder named like a map is no file; a file that cannot be opened is.
  reader_.SetMapFileName(Write(SampleMap()));
  Lookup(0x0010);
  ASSERT_EQ(reader_.ExceptUnitName(), "Alpha");
  const String unreadable = "/proc/self/mem";  // exists, but reading it from offset 0 fails
  reader_.SetMapFileName(unreadable);
  TStringList units;
  EXPECT_THROW(reader_.LoadUnitNames(&units), Exception);
  EXPECT_FALSE(reader_.MapFileIsLoaded());
  EXPECT_THROW(Lookup(0x0010), Exception);
  EXPECT_EQ(reader_.ExceptUnitName(), "");
  EXPECT_FALSE(reader_.ExceptionAnalyzed());
}

TEST_F(MapFileTest, AFifoAsTheMapRaisesAtOnceInsteadOfWaitingForAWriter) {
  const String fifo = dir_.File("fifo.map");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  reader_.SetMapFileName(fifo);
  // On a thread of its own: a reader stuck in the open cannot be stopped, so
  // the test program ends rather than hang.
  TStringList units;
  auto load = std::async(std::launch::async, [&] { reader_.LoadUnitNames(&units); });
  if (load.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    std::fprintf(stderr, "loading a FIFO as the map hangs\n");
    std::abort();
  }
  try {
    load.get();
    ADD_FAILURE() << "a FIFO was read as a map";
  } catch (const EFOpenError& e) {
    EXPECT_NE(e.Message().find("not a regular file"), String::npos) << e.Message();
  }
  EXPECT_FALSE(reader_.MapFileIsLoaded());
}

// ---------------------------------------------------------------- a recorded layout

// The map's text with the record ztl-mkmap writes before the segments header:
// where the headers lie, and for each name the first line of the line-number
// region holding it. A name left out is looked for as in any map.
String WithLayoutRecord(const String& text, std::initializer_list<String> names, long sizeChange = 0) {
  const size_t body = text.find("Detailed map of segments");
  const auto at = [&](const String& header) { return text.rfind('\n', text.find(header)) + 1 - body; };
  const size_t lines = at("Line numbers for");
  String record = "Layout after the segments header: " + std::to_string(text.size() - body + sizeChange) +
                  " bytes, publics by name at " + std::to_string(at("Publics by Name")) + ", publics by value at " +
                  std::to_string(at("Publics by Value")) + ", line numbers at " + std::to_string(lines) + "\r\n";
  for (const String& name : names)
    record += "Lines of " + name + " at " + std::to_string(text.rfind('\n', text.find(name, body + lines)) + 1 - body) +
              "\r\n";
  return record + text;
}

// Units whose lines the walk takes from another block (Cat's name is in
// Catalog's header), a blank line among the publics, addresses before the
// first public and beyond the last entry.
MapText OrderedMap() {
  MapText map;
  map.Segments = {SegmentLine(0x0000, 0x100, "Catalog"), SegmentLine(0x0100, 0x100, "Cat"),
                  SegmentLine(0x0200, 0x100, "Beta")};
  map.Publics = {PublicLine(0x0008, "Catalog.Open"), PublicLine(0x0040, "Catalog.Find"), "",
                 PublicLine(0x0100, "Cat.Write"),    PublicLine(0x0100, "Cat.WriteAlias"),
                 PublicLine(0x0180, "Cat.Clear"),    PublicLine(0x0200, "Beta.Run"),
                 PublicLine(0x0300, "")};
  map.Lines = {LineBlockHeader("Catalog"), "", EntryLine({{3, 0x0008}, {4, 0x0010}, {9, 0x0040}, {12, 0x00F0}}), "",
               LineBlockHeader("Cat"),     "", EntryLine({{30, 0x0100}, {31, 0x0180}}),                          "",
               LineBlockHeader("Beta"),    "", EntryLine({{7, 0x0200}, {8, 0x0210}}),                            ""};
  return map;
}

TEST_F(MapFileTest, SeekingThroughARecordedLayoutGivesTheWalksAnswers) {
  WalkMapLookups(reader_);
  reader_.SetMapFileName(WriteText(WithLayoutRecord(OrderedMap().Text(), {"Catalog", "Cat"})));
  TZTMapFile seeker;
  seeker.SetMapFileName(reader_.MapFileName());
  seeker.SetSeekRecordedLayout(true);
  for (uint32_t offset = 0; offset < 0x320; ++offset) {
    const auto address = reinterpret_cast<const void*>(uintptr_t{TZTMapFile::DefaultMapFileBase} + offset);
    reader_.LoadExceptionData(address);
    seeker.LoadExceptionData(address);
    EXPECT_EQ(seeker.ExceptUnitName(), reader_.ExceptUnitName()) << offset;
    EXPECT_EQ(seeker.ExceptMethodName(), reader_.ExceptMethodName()) << offset;
    EXPECT_EQ(seeker.ExceptLineNumber(), reader_.ExceptLineNumber()) << offset;
  }
  EXPECT_TRUE(seeker.SeeksRecordedLayout());
  EXPECT_FALSE(reader_.SeeksRecordedLayout());
  // The walk's own answers the seeker gave: Cat's lines are Catalog's.
  Lookup(0x0180);
  ExpectResult("Cat", "Cat.Clear", 0);
  Lookup(0x0010);
  ExpectResult("Catalog", "Catalog.Open", 4);
}

TEST_F(MapFileTest, ARecordedLayoutThatDoesNotFitTheFileIsNotFollowed) {
  reader_.SetSeekRecordedLayout(true);
  reader_.SetMapFileName(WriteText(WithLayoutRecord(OrderedMap().Text(), {"Cat"}, 1)));
  Lookup(0x0204);
  ExpectResult("Beta", "Beta.Run", 7);
  EXPECT_FALSE(reader_.SeeksRecordedLayout());
}

// ---------------------------------------------------------------- the index

// Units of every kind a name search meets: a name inside another's header
// (Cat in Catalog), a name of bytes a line of entries holds too (ABC, first
// met in an entry of Catalog's block, whose next line is Cat's header), a
// Latin-1 name, a name first met in a note line before its block (Main).
// Their blocks hold entries sharing an offset, an entry whose number does
// not convert, entries out of order and entries beyond the unit's end.
MapText IndexedMap(bool inOrder) {
  MapText map;
  const std::vector<String> units = {"Catalog", "Cat", "ABC", "Caf\xE9", "Main"};
  for (size_t u = 0; u < units.size(); ++u) {
    const auto base = static_cast<uint32_t>(u * 0x100);
    map.Segments.push_back(SegmentLine(base, 0x100, units[u]));
    map.Publics.push_back(PublicLine(base, units[u] + ".Open"));
    map.Publics.push_back(PublicLine(base + 0x40, units[u] + ".Run"));
    map.Publics.push_back(PublicLine(base + 0x40, units[u] + ".RunAlias"));
    map.Publics.push_back(u == 2 ? "" : "   no offset here");
    map.Publics.push_back(PublicLine(base + 0x90, units[u] + ".Close"));
  }
  map.Segments.insert(map.Segments.begin() + 2, "");
  map.Publics.push_back(PublicLine(0x500, ""));
  if (!inOrder) {
    std::swap(map.Segments[1], map.Segments[3]);
    std::swap(map.Publics[6], map.Publics[12]);
  }
  map.Lines = {LineBlockHeader("Catalog"), "",
               EntryLine({{3, 0x0008}, {4, 0x0010}, {4, 0x0010}, {9, 0x0040}}),
               EntryLine({{12, 0x00F0}, {14, 0x0120}}), EntryLine({{16, 0x0ABC}}), "",
               LineBlockHeader("Cat"), "", EntryLine({{30, 0x0100}, {31, 0x0180}}), "",
               LineBlockHeader("ABC"), "", EntryLine({{40, 0x0200}, {42, 0x0260}, {41, 0x0230}}),
               "  xx  0001:00000280" + EntryLine({{44, 0x02A0}}), "",
               "note: Main was renamed", "",
               EntryLine({{50, 0x0400}, {51, 0x0408}}), "",
               LineBlockHeader("Caf\xE9"), "", EntryLine({{60, 0x0300}, {61, 0x0310}, {62, 0x0390}}), "",
               LineBlockHeader("Main"), "", EntryLine({{70, 0x0400}, {71, 0x0440}}), ""};
  return map;
}

TEST_F(MapFileTest, TheIndexGivesTheWalksAnswers) {
  for (const bool inOrder : {true, false}) {
    TZTMapFile walker;
    WalkMapLookups(walker);
    walker.SetMapFileName(Write(IndexedMap(inOrder), inOrder ? "ordered.map" : "unordered.map"));
    reader_.SetMapFileName(walker.MapFileName());
    for (uint32_t offset = 0; offset < 0x520; ++offset) {
      const auto address = reinterpret_cast<const void*>(uintptr_t{TZTMapFile::DefaultMapFileBase} + offset);
      walker.LoadExceptionData(address);
      reader_.LoadExceptionData(address);
      EXPECT_EQ(reader_.ExceptUnitName(), walker.ExceptUnitName()) << inOrder << " " << offset;
      EXPECT_EQ(reader_.ExceptMethodName(), walker.ExceptMethodName()) << inOrder << " " << offset;
      EXPECT_EQ(reader_.ExceptLineNumber(), walker.ExceptLineNumber()) << inOrder << " " << offset;
    }
    if (!inOrder) continue;
    // The walk's own answers for a few of the kinds above.
    Lookup(0x0010);
    ExpectResult("Catalog", "Catalog.Open", 4);
    Lookup(0x0240);
    ExpectResult("ABC", "ABC.Run", 0);
    Lookup(0x0310);
    ExpectResult("Caf\xC3\xA9", "Caf\xC3\xA9.Open", 61);
    Lookup(0x0408);
    ExpectResult("Main", "Main.Open", 51);
  }
}

}  // namespace
}  // namespace ztl
