// The row store (see RowStore.h): packing and unpacking a row, and the
// blocks it is packed into. Relies on os/Memory.h to prefault a block.
#include <ztlogger/platform/db/RowStore.h>

#include <algorithm>
#include <cstring>

#include <ztlogger/platform/os/Memory.h>

namespace ztl {

namespace {

// The longest variable-length number.
constexpr size_t MaxNumber = 10;

// Seven bits a byte, the low ones first; the high bit says more follow.
// Here rather than in the store's class so that packing a row inlines them.
void PutNumber(char*& out, uint64_t value) {
  while (value >= 0x80) {
    *out++ = static_cast<char>(value | 0x80);
    value >>= 7;
  }
  *out++ = static_cast<char>(value);
}

uint64_t GetNumber(const char*& in) {
  uint64_t value = 0;
  for (int shift = 0;; shift += 7) {
    const auto byte = static_cast<uint8_t>(*in++);
    value |= static_cast<uint64_t>(byte & 0x7f) << shift;
    if (byte < 0x80) return value;
  }
}

// Small negative numbers stay short too.
uint64_t Zigzag(int64_t value) {
  return (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> 63);
}

int64_t Unzigzag(uint64_t value) {
  return static_cast<int64_t>(value >> 1) ^ -static_cast<int64_t>(value & 1);
}

void PutRaw(char*& out, double value) {
  std::memcpy(out, &value, sizeof value);
  out += sizeof value;
}

double GetRaw(const char*& in) {
  double value;
  std::memcpy(&value, in, sizeof value);
  in += sizeof value;
  return value;
}

}  // namespace

void TDataSet::RowStore::Clear() {
  rows.clear();
  blocks_.clear();
  used_ = BlockSize;
}

const char* TDataSet::RowStore::Pack(const TRecordBuffer& record) {
  // Room for the longest form of all but the texts, whose bytes are added
  // as they come (one pass over the row); what is not used goes back.
  size_t room = MaxNumber + record.Values.size() * (1 + MaxNumber);
  char* start = Reserve(room);
  char* out = start;
  PutNumber(out, Zigzag(record.Key));
  for (const TVariant& v : record.Values) {
    const TVarType type = v.VarType();
    *out++ = static_cast<char>(type);
    switch (type) {
      case varInteger: PutNumber(out, Zigzag(v.AsInteger())); break;
      case varDouble:
      case varDate: PutRaw(out, v.AsFloat()); break;
      case varBoolean: *out++ = v.AsBoolean() ? 1 : 0; break;
      case varString: {
        const String& text = v.StringRef();
        const auto written = static_cast<size_t>(out - start);
        start = Extend(start, written, room, text.size());
        out = start + written;
        room += text.size();
        PutNumber(out, text.size());
        std::memcpy(out, text.data(), text.size());
        out += text.size();
        break;
      }
      default: break;
    }
  }
  Release(start + room - out);
  return start;
}

void TDataSet::RowStore::Unpack(const char* in, size_t count, TRecordBuffer& record) {
  record.Key = Unzigzag(GetNumber(in));
  record.Values.resize(count);
  for (TVariant& v : record.Values) {
    switch (static_cast<TVarType>(*in++)) {
      case varNull: v.SetNull(); break;
      case varInteger: v.SetInteger(Unzigzag(GetNumber(in))); break;
      case varDouble: v.SetFloat(GetRaw(in)); break;
      case varDate: v = TVariant::FromDateTime(GetRaw(in)); break;
      case varBoolean: v = TVariant(*in++ != 0); break;
      case varString: {
        const auto size = static_cast<size_t>(GetNumber(in));
        v.SetString(in, size);
        in += size;
        break;
      }
      default: v = TVariant(); break;
    }
  }
}

char* TDataSet::RowStore::MoveToNewBlock(const char* start, size_t written, size_t room) {
  char* const moved = ReserveInNewBlock(room);
  std::memcpy(moved, start, written);
  return moved;
}

char* TDataSet::RowStore::ReserveInNewBlock(size_t size) {
  // A row larger than a block gets a block of its own size.
  const size_t blockSize = std::max(size, BlockSize);
  const bool filledOne = !blocks_.empty();
  blocks_.push_back(std::make_unique_for_overwrite<char[]>(blockSize));
  // Rows that have filled a block will likely fill the next: its pages
  // are backed at once rather than by a fault each. A small dataset's
  // one block stays as it is touched.
  if (filledOne) os::PrefaultForWriting(blocks_.back().get(), blockSize);
  used_ = size > BlockSize ? BlockSize : size;
  return blocks_.back().get();
}

}  // namespace ztl
