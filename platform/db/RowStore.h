#pragma once
// A dataset's rows in memory: each row packed into large blocks as
// variable-length numbers, texts and raw doubles, and the list of row
// addresses in fixed chunks. Relies on the dataset's record buffer
// (db/DB.h) and on os/Memory.h to back a block's pages at once. Internal to
// the platform library.
//
// One dataset's thread at a time, as the dataset itself.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <ztlogger/platform/db/DB.h>

namespace ztl {

// The rows read so far, packed one after the other into large blocks: the
// row's key, then a type byte and the value's bytes for each column; keys,
// integers and text lengths as variable-length numbers (a row of a few small
// numbers and short texts takes a few dozen bytes). A row written again is
// packed anew (the old bytes stay until the dataset closes); only the list of
// row addresses moves on an insert or a delete.
//
// Nothing already stored is copied as the store grows: the blocks and the
// address list's chunks stay where they are, so a scan writes each fresh page
// once.
struct TDataSet::RowStore {
  static constexpr size_t BlockSize = size_t{1} << 20;

  // The row addresses in order, in fixed chunks.
  class Index {
   public:
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const char*& operator[](size_t index) { return chunks_[index / ChunkSize][index % ChunkSize]; }
    const char* operator[](size_t index) const { return chunks_[index / ChunkSize][index % ChunkSize]; }
    // Inline but for the rare new chunk: a scan calls it for every row.
    void push_back(const char* row) {
      if (size_ == chunks_.size() * ChunkSize) AddChunk();
      chunks_[size_ / ChunkSize][size_ % ChunkSize] = row;
      ++size_;
    }
    void insert(size_t index, const char* row) {
      push_back(row);
      for (size_t i = size_ - 1; i > index; --i) (*this)[i] = (*this)[i - 1];
      (*this)[index] = row;
    }
    void erase(size_t index) {
      for (size_t i = index; i + 1 < size_; ++i) (*this)[i] = (*this)[i + 1];
      --size_;
    }
    void clear() {
      chunks_.clear();
      size_ = 0;
    }

   private:
    static constexpr size_t ChunkSize = 8192;
    [[gnu::noinline]] void AddChunk() { chunks_.push_back(std::make_unique_for_overwrite<const char*[]>(ChunkSize)); }
    std::vector<std::unique_ptr<const char*[]>> chunks_;
    size_t size_ = 0;
  };

  Index rows;

  void Clear();

  const char* Pack(const TRecordBuffer& record);

  static void Unpack(const char* in, size_t count, TRecordBuffer& record);

 private:
  // Room for size bytes in the current block, or in a new one.
  char* Reserve(size_t size) {
    if (used_ + size > BlockSize) return ReserveInNewBlock(size);
    char* place = blocks_.back().get() + used_;
    used_ += size;
    return place;
  }
  char* ReserveInNewBlock(size_t size);
  // Adds more bytes to the reservation of room bytes at start, whose first
  // written bytes the row has filled. Gives where the row now starts: one
  // that no longer fits its block moves to a new one.
  char* Extend(char* start, size_t written, size_t room, size_t more) {
    // The reservation is the block's tail, unless it filled the block or has
    // a block of its own (used_ is then the block size).
    if (used_ + more <= BlockSize) {
      used_ += more;
      return start;
    }
    return MoveToNewBlock(start, written, room + more);
  }
  char* MoveToNewBlock(const char* start, size_t written, size_t room);
  // Gives back the end of the last reservation; a row in a block of its own
  // (or one that filled its block) keeps it.
  void Release(size_t unused) {
    if (used_ < BlockSize) used_ -= unused;
  }

  std::vector<std::unique_ptr<char[]>> blocks_;
  size_t used_ = BlockSize;
};

}  // namespace ztl
