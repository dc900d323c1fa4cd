#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "support/hash.hpp"
#include "support/probe_index.hpp"

namespace vyrl {

// The stored values of one document: key -> value text, in insertion order.
//
// Texts live in an arena of large blocks, one key and its value side by side,
// so storing an assignment allocates nothing per entry; entries are small
// fixed records pointing into it, and the index maps a hash to an entry. A
// value replaced by a longer one leaves dead bytes behind, which are reclaimed
// once they outweigh the live ones, so a document merged again and again with
// new values for the same keys stays bounded.
class ValueStore {
 public:
  using Entry = std::pair<std::string_view, std::string_view>;

  ValueStore() = default;
  ValueStore(ValueStore&&) noexcept = default;
  ValueStore& operator=(ValueStore&&) noexcept = default;

  std::size_t size() const noexcept { return entries_.size(); }
  bool empty() const noexcept { return entries_.empty(); }
  std::size_t entry_capacity() const noexcept { return entries_.capacity(); }

  // The entry at a position in 0..size(): positions stay put until clear().
  Entry at(std::size_t position) const noexcept {
    const Record record = entries_[position];
    const Sizes sizes = sizes_of(record);
    return {{record.key, sizes.key}, {record.key + sizes.key, sizes.value}};
  }
  std::string_view value_at(std::size_t position) const noexcept { return at(position).second; }

  // Position of `key`, or size() when it is absent.
  std::size_t position_of(std::string_view key) const noexcept { return position_of(key, hash_(key)); }
  std::optional<std::string_view> find(std::string_view key) const noexcept;
  bool contains(std::string_view key) const noexcept { return position_of(key) != size(); }

  // Stores key -> value; the position of the entry and whether the key is
  // new. An existing key keeps its position and takes the new value.
  struct Stored {
    std::uint32_t position;
    bool added;
    bool changed;  // false when the value was already this text
  };
  Stored assign(std::string_view key, std::string_view value) { return assign(key, value, hash_(key)); }
  // The same with the key's hash() already known.
  Stored assign(std::string_view key, std::string_view value, std::uint64_t hash);

  // Asks for the index slot that `hash` starts at to be brought into the
  // cache, so that an assign() a little later does not wait for memory.
  void prefetch(std::uint64_t hash) const noexcept {
    index_.prefetch(ProbeIndex::fragment_of(hash));
  }

  // Whether the index is small enough to stay in cache, where waiting for a
  // slot costs nothing worth hiding.
  bool index_fits_in_cache() const noexcept { return index_.slot_count() <= kCachedSlots; }

  // Room for `entries` entries and `bytes` of key and value text in all,
  // when that grows the table.
  void reserve(std::size_t entries, std::size_t bytes = 0);
  // Room for `entries` new keys whose records take `bytes` in all (see
  // record_bytes), so that storing them allocates nothing and cannot fail.
  void make_room(std::size_t entries, std::size_t bytes);
  static std::size_t record_bytes(std::string_view key, std::string_view value) noexcept {
    const std::size_t text = key.size() + value.size() == 0 ? 1 : key.size() + value.size();
    return text + (packs(key.size(), value.size()) ? 0 : kSpilledBytes);
  }
  // Takes out the entry stored last.
  void pop_back() noexcept;
  void shrink_to_fit();
  void clear() noexcept;

  std::uint64_t hash(std::string_view text) const noexcept { return hash_(text); }

  class iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Entry;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = Entry;
    iterator() = default;
    iterator(const ValueStore* store, std::size_t position) noexcept : store_(store), position_(position) {}
    Entry operator*() const noexcept { return store_->at(position_); }
    iterator& operator++() noexcept {
      ++position_;
      return *this;
    }
    iterator operator++(int) noexcept {
      iterator before = *this;
      ++position_;
      return before;
    }
    friend bool operator==(const iterator&, const iterator&) = default;

   private:
    const ValueStore* store_ = nullptr;
    std::size_t position_ = 0;
  };
  iterator begin() const noexcept { return {this, 0}; }
  iterator end() const noexcept { return {this, size()}; }

 private:
  friend struct StoreAudit;

  static constexpr std::size_t kCachedSlots = std::size_t{1} << 14;

  // Twelve bytes: the entries of a large document weigh a third of its text
  // or more, so the two sizes share one word. A key or value too long for its
  // share of the bits has both sizes written in the arena just before the key
  // instead, and the word says so.
#pragma pack(push, 4)
  struct Record {
    const char* key;  // the key, then the value right after it, in the arena
    std::uint32_t sizes;
  };
#pragma pack(pop)
  static_assert(sizeof(Record) == 12);

  struct Sizes {
    std::size_t key;
    std::size_t value;
  };
  static constexpr unsigned kKeyBits = 11;
  static constexpr std::uint32_t kSpilled = UINT32_MAX;
  static constexpr std::size_t kSpilledBytes = 2 * sizeof(std::uint32_t);
  static bool packs(std::size_t key, std::size_t value) noexcept {
    return key < (std::size_t{1} << kKeyBits) && value < (std::size_t{UINT32_MAX} >> kKeyBits);
  }
  static Sizes sizes_of(const Record& record) noexcept {
    if (record.sizes != kSpilled) return {record.sizes & ((1u << kKeyBits) - 1), record.sizes >> kKeyBits};
    std::uint32_t spilled[2];
    std::memcpy(spilled, record.key - kSpilledBytes, kSpilledBytes);
    return {spilled[0], spilled[1]};
  }
  // The value size of a record whose key stays; only ever shrinks it, so a
  // packed record stays packed.
  static void set_value_size(Record& record, std::size_t value) noexcept;

  std::size_t position_of(std::string_view key, std::uint64_t hash) const noexcept;
  // The key at `found` takes `value`.
  Stored replace_value(std::size_t found, std::string_view key, std::string_view value);
  // Room for one more entry, past the last, up to the most an index holds.
  void grow_entries();
  // Room for `bytes` in the arena; inline because every assignment asks.
  char* allocate(std::size_t bytes) {
    if (bytes > room_) add_block_for(bytes);
    char* start = cursor_;
    cursor_ += bytes;
    room_ -= bytes;
    return start;
  }
  void add_block_for(std::size_t bytes);
  void add_block(std::size_t bytes);
  // A record of `key` and `value` copied into the arena; inline, since every
  // new key takes one.
  Record copy_record(std::string_view key, std::string_view value) {
    const std::size_t bytes = key.size() + value.size();
    if (packs(key.size(), value.size())) [[likely]] {
      char* start = allocate(bytes == 0 ? 1 : bytes);
      copy_text(start, key);
      copy_text(start + key.size(), value);
      live_bytes_ += bytes;
      return {start, static_cast<std::uint32_t>(key.size() | (value.size() << kKeyBits))};
    }
    char* start = allocate(record_bytes(key, value));
    write_record(start, key, value);
    live_bytes_ += bytes;
    return record_at(start, key.size(), value.size());
  }
  // Lays out a record at `start`, which has record_bytes() of room: the sizes
  // first when they do not pack into the entry, then the key and the value.
  static void write_record(char* start, std::string_view key, std::string_view value) noexcept {
    if (!packs(key.size(), value.size())) {
      const std::uint32_t spilled[2] = {static_cast<std::uint32_t>(key.size()),
                                        static_cast<std::uint32_t>(value.size())};
      std::memcpy(start, spilled, kSpilledBytes);
      start += kSpilledBytes;
    }
    copy_text(start, key);
    copy_text(start + key.size(), value);
  }
  // Keys and values are mostly a few bytes long, which two overlapping moves
  // copy for less than a call to memcpy costs.
  static void copy_text(char* to, std::string_view text) noexcept {
    const char* from = text.data();
    const std::size_t size = text.size();
    if (size > 16) {
      std::memcpy(to, from, size);
    } else if (size >= 8) {
      copy_ends<std::uint64_t>(to, from, size);
    } else if (size >= 4) {
      copy_ends<std::uint32_t>(to, from, size);
    } else {
      for (std::size_t i = 0; i < size; ++i) to[i] = from[i];
    }
  }
  // Copies `size` bytes, from one to two words long, as its first and its
  // last word, which overlap in the middle.
  template <class Word>
  static void copy_ends(char* to, const char* from, std::size_t size) noexcept {
    Word head;
    Word tail;
    std::memcpy(&head, from, sizeof head);
    std::memcpy(&tail, from + size - sizeof tail, sizeof tail);
    std::memcpy(to, &head, sizeof head);
    std::memcpy(to + size - sizeof tail, &tail, sizeof tail);
  }
  static Record record_at(const char* start, std::size_t key, std::size_t value) noexcept {
    if (!packs(key, value)) return {start + kSpilledBytes, kSpilled};
    return {start, static_cast<std::uint32_t>(key | (value << kKeyBits))};
  }
  std::string_view key_at(std::size_t position) const noexcept {
    const Record record = entries_[position];
    return {record.key, sizes_of(record).key};
  }
  auto fragment_reader() const noexcept {
    return [this](std::size_t position) { return ProbeIndex::fragment_of(hash_(key_at(position))); };
  }
  void compact_replacing(std::size_t position, std::string_view key, std::string_view value);

  std::vector<Record> entries_;
  ProbeIndex index_;  // key -> position in entries_

  std::vector<std::unique_ptr<char[]>> blocks_;
  char* cursor_ = nullptr;  // free room in the last block
  std::size_t room_ = 0;
  std::size_t live_bytes_ = 0;
  std::size_t dead_bytes_ = 0;
  std::size_t arena_bytes_ = 0;

  SeededHash hash_;
};

// Inline, since every assignment of a load comes here, most with a new key.
inline ValueStore::Stored ValueStore::assign(std::string_view key, std::string_view value, std::uint64_t hash) {
  // Texts longer than 4 GiB cannot be stored; that is as out of reach as
  // the memory they would need.
  if (((key.size() | value.size()) >> 32) != 0) throw std::bad_alloc();
  // Counting twelve-byte entries divides; once is enough.
  const std::size_t count = entries_.size();
  index_.reserve(count + 1, fragment_reader());
  const std::uint32_t fragment = ProbeIndex::fragment_of(hash);
  const auto probe = index_.probe(fragment, key, [this](std::size_t p) { return key_at(p); });
  if (probe.found) return replace_value(probe.position, key, value);
  // Room in the entries first, so that the record copied next is never
  // left without an entry to own it.
  if (count == entries_.capacity() || count >= ProbeIndex::kMaxEntries) grow_entries();
  entries_.push_back(copy_record(key, value));
  index_.occupy(probe, count);
  return {static_cast<std::uint32_t>(count), true, true};
}

}  // namespace vyrl
