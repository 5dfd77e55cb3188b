#pragma once
// Names the source unit, procedure and line of a code address from the
// detailed text map file written beside the executable.
//
// The reader reads the file once into one buffer and keeps where the
// segment, publics-by-value and line-number regions lie; lookups parse the
// fixed character columns of the lines in place, each kind of line by one
// routine whether a walk or a seek reads it. A copy, not the
// file mapped: linkers rewrite a map in place, and a program that outlives
// its build must not fault in a later lookup; a reader that seeks a recorded
// layout (a tool that looks up and ends) keeps the file mapped instead.
// A missing file, a missing region or a malformed line only leaves results
// empty; nothing here raises EMapFileException.
//
// The walks over a region's lines are the rules; lookups give their answers
// faster. At its first lookup a reader indexes its map once: whether the
// segment starts and the public offsets never fall (then the line a walk
// stops at is found by halves), and where the line-number region's lines lie
// that hold more than entries (the block headers, among which a unit's name
// and the next header are looked for). A region that is not in order is
// walked, as a map may come from anywhere; so is a unit's block of entries.
//
// Maps written by ztl-mkmap record, before their segments header, where their
// regions begin and which line each unit's line numbers follow. A reader told
// to (SetSeekRecordedLayout) seeks there without indexing, taking the record's
// word that the map is in order: a tool that looks up once and ends reads as
// little of the map as it can.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include <ztlogger/platform/classes/Strings.h>
#include <ztlogger/platform/rtl/Exceptions.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

class TMappedFile;
class TZTMapFile;

// For tests: from now on map's lookups walk its lines every time, as the
// rules read, without the index: the reference the index is compared with.
ZTL_API void WalkMapLookups(TZTMapFile& map);

ZTL_DECLARE_EXCEPTION_IN(ZTL_API, EMapFileException, Exception)

// Looks up the source unit, procedure and line of a code address in a text
// map file (as ztl-mkmap writes beside a program), for the exception
// logger's reports and the ztl-mapinfo tool. One thread at a time.
class ZTL_API TZTMapFile : public TObject {
  ZTL_DECLARE_CLASS(TZTMapFile, TObject)

 public:
  // Where the linker's code starts when nothing else is said: map offsets
  // count from here.
  static constexpr uint32_t DefaultMapFileBase = 0x00401000;

  TZTMapFile();
  ~TZTMapFile() override;
  TZTMapFile(const TZTMapFile&) = delete;
  TZTMapFile& operator=(const TZTMapFile&) = delete;

  const String& MapFileName() const { return FMapFileName; }
  // A different name (case-sensitive) marks the map as not loaded; the file
  // is read at the next lookup, not here.
  void SetMapFileName(const String& value);

  uint32_t MapFileBase() const { return FMapFileBase; }
  void SetMapFileBase(uint32_t value) { FMapFileBase = value; }

  // True while the stored regions reflect the current map file name.
  bool MapFileIsLoaded() const { return FMapFileIsLoaded; }

  // Whether lookups may seek through a layout the map records (see above).
  // Off after construction; a change takes effect at the next load.
  bool SeekRecordedLayout() const { return FSeekRecordedLayout; }
  void SetSeekRecordedLayout(bool value);
  // Whether the loaded map's lookups seek: the option is set and the map
  // records a layout that fits the file.
  bool SeeksRecordedLayout() const { return FLayout.Valid; }

  // Analyses Address, or the address the exception being handled was raised
  // at when Address is nil. Errors of reading the file propagate.
  void LoadExceptionData(const void* Address);
  // Replaces List's contents with the unit names of the segment region, in
  // file order, duplicates included. A nil List does nothing.
  void LoadUnitNames(TStrings* List);

  // Whether the map's code holds Offset (counted as the map counts, from the
  // start of its code): whether any answer for it can be right. The code is
  // what the section table before the segments header gives, or in a map
  // without one, the units' segments. Errors of reading the file propagate.
  bool CodeHolds(uint32_t Offset);
  // Whether a unit's segment holds Offset: where it does not (start-up code,
  // libraries built without debugging information), the unit and line that
  // a lookup gives are those of the unit before, not the address's own.
  bool UnitHolds(uint32_t Offset);

  uint32_t ExceptAddress() const { return FExceptAddress; }
  const String& ExceptUnitName() const { return FExceptUnitName; }
  const String& ExceptMethodName() const { return FExceptMethodName; }
  int32_t ExceptLineNumber() const { return FExceptLineNumber; }
  bool ExceptionAnalyzed() const { return FExceptionAnalyzed; }

 private:
  // A region of the text: the whole lines in [Begin, End).
  struct TMapRegion {
    size_t Begin = 0, End = 0;
  };
  // What a map written by ztl-mkmap records of itself, positions in the text.
  struct TRecordedLayout {
    bool Valid = false;
    size_t Records = 0;  // where the records end: the segments header's line
  };
  struct TLookupIndex;
  friend void WalkMapLookups(TZTMapFile& map);

  void LoadMapFile();
  void ReleaseMap();
  void LoadIfNeeded();
  void ReadRecordedLayout();
  void ClearResults();
  void FindUnit();
  void SeekUnit();
  void FindMethod();
  void SeekMethod();
  void FindLineNumber();
  size_t FindLineBlock() const;
  size_t RecordedLineBlock() const;
  size_t NextBlockHeader(size_t from) const;
  const TLookupIndex* Index();

  bool FMapFileIsLoaded = false;
  bool FSeekRecordedLayout = false;
  String FMapFileName;
  std::unique_ptr<TMappedFile> FMapView;  // while seeking a recorded layout
  String FMapCopy;                        // otherwise
  std::string_view FMapText;              // the file's bytes less a byte order mark
  TMapRegion FSegmentData;
  TMapRegion FAdressData;
  TMapRegion FLineData;
  TRecordedLayout FLayout;
  std::unique_ptr<TLookupIndex> FIndex;  // built at the first lookup
  bool FWalkOnly = false;
  uint32_t FMapFileBase = DefaultMapFileBase;
  uint32_t FExceptAddress = 0;
  int32_t FExceptLineNumber = 0;
  String FExceptMethodName;
  String FExceptUnitName;
  bool FExceptionAnalyzed = false;
};

}  // namespace ztl
