#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace vyrl {

// The open-addressing core under every hash table of the library: slots that
// each hold an entry's position in an array kept by the owner, and 32 bits of
// its hash, probed linearly. The low bits choose the home slot, so the table
// grows without hashing any key again, and all 32 reject nearly every mismatch
// without reading the key. Removal pulls later members of a run back into the
// gap, so there are no tombstones.
//
// The owner keeps the entries and their count; the index only finds them.
class ProbeIndex {
 public:
  static constexpr std::uint32_t kVacant = UINT32_MAX;
  // Upper bound on entries; the last position value marks a vacant slot.
  static constexpr std::size_t kMaxEntries = kVacant;

  struct Probe {
    std::size_t slot;
    std::size_t position;  // of the entry found; meaningless otherwise
    bool found;
  };

  static std::uint32_t fragment_of(std::uint64_t hash) noexcept {
    return static_cast<std::uint32_t>(hash ^ (hash >> 32));
  }

  // The slot holding `key`, or the vacant slot where it would go. The table
  // must have at least one slot; `key_at(position)` reads an entry's key.
  template <class KeyAt>
  Probe probe(std::uint32_t fragment, std::string_view key, const KeyAt& key_at) const noexcept {
    for (std::size_t i = fragment & mask_;; i = (i + 1) & mask_) {
      const Slot slot = slots_[i];
      if (slot.position == kVacant) return {i, 0, false};
      if (slot.fragment == fragment && key_at(slot.position) == key) return {i, slot.position, true};
    }
  }

  // A vacant slot in the run that starts at the home of `fragment`.
  std::size_t vacant_slot(std::uint32_t fragment) const noexcept {
    std::size_t i = fragment & mask_;
    while (slots_[i].position != kVacant) i = (i + 1) & mask_;
    return i;
  }

  // The slot pointing at `position`, which must be indexed under `fragment`.
  std::size_t slot_of(std::uint32_t fragment, std::size_t position) const noexcept {
    std::size_t i = fragment & mask_;
    while (slots_[i].position != position) i = (i + 1) & mask_;
    return i;
  }

  // Asks for the home slot of `fragment` to be brought into the cache, so
  // that a probe a little later does not wait for memory.
  void prefetch(std::uint32_t fragment) const noexcept {
    if (!slots_.empty()) __builtin_prefetch(&slots_[fragment & mask_]);
  }

  // Grows, never shrinks, so that `entries` fit under the load limit of 3/4.
  // The new slots are had before the old ones are let go: a failed
  // allocation leaves the index as it was.
  void reserve(std::size_t entries) {
    if (entries > capacity()) rebuild(entries);
  }

  // The smallest table that holds `entries`, whether that grows or shrinks it.
  void rebuild(std::size_t entries) {
    std::size_t size = 8;
    while (size - size / 4 < entries) size *= 2;
    if (size == slots_.size()) return;
    std::vector<Slot> old = std::exchange(slots_, std::vector<Slot>(size, Slot{kVacant, 0}));
    mask_ = size - 1;
    for (const Slot& slot : old) {
      if (slot.position != kVacant) slots_[vacant_slot(slot.fragment)] = slot;
    }
  }

  std::size_t capacity() const noexcept { return slots_.size() - slots_.size() / 4; }
  bool built() const noexcept { return !slots_.empty(); }
  std::size_t slot_count() const noexcept { return slots_.size(); }

  void occupy(std::size_t slot, std::uint32_t fragment, std::size_t position) noexcept {
    slots_[slot] = Slot{static_cast<std::uint32_t>(position), fragment};
  }

  void repoint(std::size_t slot, std::size_t position) noexcept {
    slots_[slot].position = static_cast<std::uint32_t>(position);
  }

  // Empties `slot` and pulls later members of its run back into the gap, so
  // every remaining key is still reached from its home without tombstones.
  void vacate(std::size_t slot) noexcept {
    std::size_t gap = slot;
    for (std::size_t next = (gap + 1) & mask_; slots_[next].position != kVacant; next = (next + 1) & mask_) {
      const std::size_t home = slots_[next].fragment & mask_;
      if (((next - home) & mask_) >= ((next - gap) & mask_)) {
        slots_[gap] = slots_[next];
        gap = next;
      }
    }
    slots_[gap] = Slot{kVacant, 0};
  }

  // Empties every slot and keeps the table.
  void clear() noexcept { std::fill(slots_.begin(), slots_.end(), Slot{kVacant, 0}); }
  // Gives the table back.
  void reset() noexcept {
    slots_ = {};
    mask_ = 0;
  }

  // Visits the position of every occupied slot.
  template <class Visit>
  void for_each_position(Visit&& visit) const {
    for (const Slot& slot : slots_) {
      if (slot.position != kVacant) visit(static_cast<std::size_t>(slot.position));
    }
  }

 private:
  struct Slot {
    std::uint32_t position;
    std::uint32_t fragment;
  };

  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
};

}  // namespace vyrl
