#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace vyrl {

// The open-addressing core under every hash table of the library, probed
// linearly. Each slot is four bytes: an entry's position in an array kept by
// the owner, and in the bits the position does not need, part of the entry's
// hash, which rejects nearly every mismatch without reading the key. A table
// of n slots needs only as many bits for positions as n has, so a large table
// keeps fewer hash bits but never more than four bytes a slot: that is most of
// what a large document keeps besides its text.
//
// The home slot scales the hash to the table, so the table can be any size,
// a third larger than its entries rather than up to twice. A slot does not
// hold enough of the hash to find its home again, so growing and removal ask
// the owner for an entry's hash (`fragment_at(position)`), which must be what
// the entry was indexed under. Removal pulls later members of a run back into
// the gap, so there are no tombstones.
//
// The owner keeps the entries and their count; the index only finds them.
class ProbeIndex {
 public:
  // Upper bound on entries, which owners check: the table for them keeps
  // room in a slot for their positions and a few bits of hash.
  static constexpr std::size_t kMaxEntries = std::size_t{1} << 30;

  struct Probe {
    std::size_t slot;
    std::size_t position;  // of the entry found; meaningless otherwise
    bool found;
    std::uint32_t tag;  // what occupy() writes beside the position
  };

  static std::uint32_t fragment_of(std::uint64_t hash) noexcept {
    return static_cast<std::uint32_t>(hash ^ (hash >> 32));
  }

  // The slot holding `key`, or the vacant slot where it would go. The table
  // must have at least one slot; `key_at(position)` reads an entry's key.
  template <class KeyAt>
  Probe probe(std::uint32_t fragment, std::string_view key, const KeyAt& key_at) const noexcept {
    const std::uint32_t tag = tag_of(fragment);
    for (std::size_t i = home_of(fragment);; i = next(i)) {
      const std::uint32_t slot = slots_[i];
      if (slot == kVacant) return {i, 0, false, tag};
      if ((slot & ~position_mask_) == tag && key_at(position_in(slot)) == key) {
        return {i, position_in(slot), true, tag};
      }
    }
  }

  // A vacant slot in the run that starts at the home of `fragment`.
  std::size_t vacant_slot(std::uint32_t fragment) const noexcept {
    std::size_t i = home_of(fragment);
    while (slots_[i] != kVacant) i = next(i);
    return i;
  }

  // The slot pointing at `position`, which must be indexed under `fragment`.
  std::size_t slot_of(std::uint32_t fragment, std::size_t position) const noexcept {
    std::size_t i = home_of(fragment);
    while (slots_[i] == kVacant || position_in(slots_[i]) != position) i = next(i);
    return i;
  }

  // Asks for the home slot of `fragment` to be brought into the cache, so
  // that a probe a little later does not wait for memory.
  void prefetch(std::uint32_t fragment) const noexcept {
    if (size_ != 0) __builtin_prefetch(&slots_[home_of(fragment)]);
  }

  // Grows, never shrinks, so that `entries` fit under the load limit of 3/4;
  // at least twice over, so that adding one entry at a time stays linear.
  // Positions must stay below `positions`, or below the number of slots when
  // that is larger: an owner whose positions outnumber its entries says so.
  template <class FragmentAt>
  void reserve(std::size_t entries, const FragmentAt& fragment_at, std::size_t positions = 0) {
    if (entries > capacity()) {
      rebuild(std::max(entries, std::min(2 * capacity(), kMaxEntries)), fragment_at, positions);
    } else if (positions > position_mask_) {
      rebuild(slot_count() - slot_count() / 4, fragment_at, 2 * positions);
    }
  }

  // The smallest table that holds `entries`, whether that grows or shrinks it.
  // The new slots are had before the old ones are let go: a failed
  // allocation leaves the index as it was.
  template <class FragmentAt>
  [[gnu::noinline]] void rebuild(std::size_t entries, const FragmentAt& fragment_at, std::size_t positions = 0) {
    const std::size_t size = slots_for(entries);
    const unsigned bits = position_bits_for(std::max(size, positions));
    if (size == size_ && bits == position_bits_) return;
    std::vector<std::uint32_t> old = std::exchange(slots_, std::vector<std::uint32_t>(size, kVacant));
    size_ = size;
    capacity_ = size - size / 4;
    const std::uint32_t old_mask = position_mask_;
    shape(bits);
    for (const std::uint32_t slot : old) {
      if (slot == kVacant) continue;
      const std::size_t position = (slot & old_mask) - 1;
      const std::uint32_t fragment = fragment_at(position);
      occupy(vacant_slot(fragment), fragment, position);
    }
  }

  // reserve() for an owner whose entries sit at every position below
  // `count`, as a flat table's do: they are put back in position order, so
  // that their keys are read front to back, not in the scattered order of
  // the old slots (each a cache miss once the table outgrows the cache).
  template <class FragmentAt>
  void reserve_dense(std::size_t entries, std::size_t count, const FragmentAt& fragment_at) {
    if (entries <= capacity()) return;
    const std::size_t size = slots_for(std::max(entries, std::min(2 * capacity(), kMaxEntries)));
    slots_ = std::vector<std::uint32_t>(size, kVacant);  // made before anything changes
    size_ = size;
    capacity_ = size - size / 4;
    shape(position_bits_for(size));
    for (std::size_t position = 0; position < count; ++position) {
      const std::uint32_t fragment = fragment_at(position);
      occupy(vacant_slot(fragment), fragment, position);
    }
  }

  std::size_t capacity() const noexcept { return capacity_; }
  bool built() const noexcept { return size_ != 0; }
  std::size_t slot_count() const noexcept { return size_; }

  void occupy(std::size_t slot, std::uint32_t fragment, std::size_t position) noexcept {
    slots_[slot] = tag_of(fragment) | static_cast<std::uint32_t>(position + 1);
  }
  // The vacant slot a probe just found takes `position`; the table must not
  // have changed since.
  void occupy(const Probe& probe, std::size_t position) noexcept {
    slots_[probe.slot] = probe.tag | static_cast<std::uint32_t>(position + 1);
  }

  void repoint(std::size_t slot, std::size_t position) noexcept {
    slots_[slot] = (slots_[slot] & ~position_mask_) | static_cast<std::uint32_t>(position + 1);
  }

  // Empties `slot` and pulls later members of its run back into the gap, so
  // every remaining key is still reached from its home without tombstones.
  template <class FragmentAt>
  void vacate(std::size_t slot, const FragmentAt& fragment_at) noexcept {
    std::size_t gap = slot;
    for (std::size_t i = next(gap); slots_[i] != kVacant; i = next(i)) {
      const std::size_t home = home_of(fragment_at(position_in(slots_[i])));
      if (distance(home, i) >= distance(gap, i)) {
        slots_[gap] = slots_[i];
        gap = i;
      }
    }
    slots_[gap] = kVacant;
  }

  // Empties every slot and keeps the table.
  void clear() noexcept { std::fill(slots_.begin(), slots_.end(), kVacant); }
  // Gives the table back.
  void reset() noexcept {
    slots_ = {};
    size_ = capacity_ = 0;
    shape(0);
  }


 private:
  // The tests' check that every index agrees with what it indexes, and their
  // measure of what one keeps.
  friend struct StoreAudit;

  std::size_t memory_bytes() const noexcept { return slots_.capacity() * sizeof(slots_[0]); }

  // Visits the position of every occupied slot.
  template <class Visit>
  void for_each_position(Visit&& visit) const {
    for (const std::uint32_t slot : slots_) {
      if (slot != kVacant) visit(position_in(slot));
    }
  }

  static constexpr std::uint32_t kVacant = 0;

  static std::size_t slots_for(std::size_t entries) noexcept {
    std::size_t size = std::max<std::size_t>(8, entries + entries / 3);
    while (size - size / 4 < entries) ++size;
    return size;
  }

  // Positions are stored one up, so that zero marks a vacant slot, in as
  // many low bits as the largest of them needs; the hash takes the rest.
  static unsigned position_bits_for(std::size_t positions) noexcept {
    return static_cast<unsigned>(std::min<std::size_t>(std::bit_width(positions), 32));
  }
  void shape(unsigned bits) noexcept {
    position_bits_ = bits;
    position_mask_ = static_cast<std::uint32_t>((std::uint64_t{1} << bits) - 1);
  }

  std::uint32_t tag_of(std::uint32_t fragment) const noexcept {
    return static_cast<std::uint32_t>(std::uint64_t{fragment} << position_bits_);
  }
  std::size_t position_in(std::uint32_t slot) const noexcept { return (slot & position_mask_) - 1; }
  // The high bits of the fragment choose the home; the low ones are the tag.
  std::size_t home_of(std::uint32_t fragment) const noexcept {
    return static_cast<std::size_t>((std::uint64_t{fragment} * size_) >> 32);
  }
  std::size_t next(std::size_t i) const noexcept { return i + 1 == size_ ? 0 : i + 1; }
  // How far `to` lies after `from`, going round the end of the table.
  std::size_t distance(std::size_t from, std::size_t to) const noexcept {
    return to >= from ? to - from : to + size_ - from;
  }

  std::vector<std::uint32_t> slots_;
  std::size_t size_ = 0;  // slots_.size(), read on every probe and every step of one
  std::size_t capacity_ = 0;  // entries under the load limit, asked before every insertion
  unsigned position_bits_ = 0;
  std::uint32_t position_mask_ = 0;
};

}  // namespace vyrl
