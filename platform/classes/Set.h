#pragma once
// Sets over enumerations: element n is bit n of the numeric value.
// Any thread: sets are plain values.
#include <cstdint>
#include <initializer_list>
#include <type_traits>

namespace ztl {

template <typename E, int Count>
class TSet {
  static_assert(Count > 0 && Count <= 64, "a set holds at most 64 elements");

 public:
  using Element = E;
  static constexpr int Size = Count;

  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> elements) {
    for (E e : elements) Include(e);
  }

  static constexpr TSet FromBits(uint64_t bits) {
    TSet s;
    s.bits_ = bits & Mask();
    return s;
  }
  static constexpr TSet All() { return FromBits(~uint64_t{0}); }

  constexpr bool Contains(E e) const { return (bits_ & Bit(e)) != 0; }
  constexpr TSet& Include(E e) {
    bits_ |= Bit(e);
    return *this;
  }
  constexpr TSet& Exclude(E e) {
    bits_ &= ~Bit(e);
    return *this;
  }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr uint64_t Bits() const { return bits_; }

  constexpr TSet operator+(TSet other) const { return FromBits(bits_ | other.bits_); }
  constexpr TSet operator-(TSet other) const { return FromBits(bits_ & ~other.bits_); }
  constexpr TSet operator*(TSet other) const { return FromBits(bits_ & other.bits_); }
  constexpr bool operator==(const TSet&) const = default;

 private:
  static constexpr uint64_t Mask() { return Count == 64 ? ~uint64_t{0} : (uint64_t{1} << Count) - 1; }
  static constexpr uint64_t Bit(E e) {
    auto n = static_cast<unsigned>(static_cast<std::underlying_type_t<E>>(e));
    return n < unsigned(Count) ? uint64_t{1} << n : 0;
  }

  uint64_t bits_ = 0;
};

}  // namespace ztl
