#pragma once
// Names the source unit, procedure and line of a code address from the
// detailed text map file written beside the executable.
//
// The reader holds the file's text once and keeps where each line of the
// segment, publics-by-value and line-number regions starts; it parses the
// fixed character columns of the lines in place at each lookup.
// A missing file, a missing region or a malformed line only leaves results
// empty; nothing here raises EMapFileException.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/classes/Strings.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Export.h"

namespace ztl {

ZTL_DECLARE_EXCEPTION_IN(ZTL_API, EMapFileException, Exception)

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

  // Analyses Address, or the address the exception being handled was raised
  // at when Address is nil. Errors of reading the file propagate.
  void LoadExceptionData(const void* Address);
  // Replaces List's contents with the unit names of the segment region, in
  // file order, duplicates included. A nil List does nothing.
  void LoadUnitNames(TStrings* List);

  uint32_t ExceptAddress() const { return FExceptAddress; }
  const String& ExceptUnitName() const { return FExceptUnitName; }
  const String& ExceptMethodName() const { return FExceptMethodName; }
  int32_t ExceptLineNumber() const { return FExceptLineNumber; }
  bool ExceptionAnalyzed() const { return FExceptionAnalyzed; }

 private:
  // The lines of one region of the held text: Bounds[i] is where line i
  // starts, the last bound where the region ends. Empty for an empty region.
  struct TMapRegion {
    std::vector<size_t> Bounds;
    size_t Count() const { return Bounds.empty() ? 0 : Bounds.size() - 1; }
  };

  void LoadMapFile();
  void ReleaseMap();
  void LoadIfNeeded();
  void ClearResults();
  void FindUnit();
  void FindMethod();
  void FindLineNumber();
  size_t FindLineBlock() const;

  bool FMapFileIsLoaded = false;
  String FMapFileName;
  String FMapText;  // the whole file, decoded; the regions point into it
  TMapRegion FSegmentData;
  TMapRegion FAdressData;
  TMapRegion FLineData;
  uint32_t FMapFileBase = DefaultMapFileBase;
  uint32_t FExceptAddress = 0;
  int32_t FExceptLineNumber = 0;
  String FExceptMethodName;
  String FExceptUnitName;
  bool FExceptionAnalyzed = false;
};

}  // namespace ztl
