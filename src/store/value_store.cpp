#include "store/value_store.hpp"

#include <algorithm>
#include <cstring>
#include <new>

namespace vyrl {
namespace {

// Blocks of texts are this large unless one text needs more: big enough that
// allocating them costs nothing per entry, small enough that the unused end
// of the last one is no real waste.
constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
constexpr std::size_t kFirstBlockBytes = std::size_t{1} << 12;
// Below this, dead bytes are not worth a copy of the live ones.
constexpr std::size_t kCompactAbove = std::size_t{1} << 20;

}  // namespace

std::optional<std::string_view> ValueStore::find(std::string_view key) const noexcept {
  const std::size_t position = position_of(key);
  if (position == size()) return std::nullopt;
  return value_at(position);
}

std::size_t ValueStore::position_of(std::string_view key, std::uint64_t hash) const noexcept {
  if (!index_.built()) return size();
  const auto probe = index_.probe(ProbeIndex::fragment_of(hash), key, [this](std::size_t p) { return key_at(p); });
  return probe.found ? probe.position : size();
}

ValueStore::Stored ValueStore::replace_value(std::size_t found, std::string_view key, std::string_view value) {
  const auto position = static_cast<std::uint32_t>(found);
  Record& record = entries_[position];
  const Sizes sizes = sizes_of(record);
  char* old_value = const_cast<char*>(record.key) + sizes.key;
  if (sizes.value == value.size() && std::memcmp(old_value, value.data(), value.size()) == 0) {
    return {position, false, false};
  }
  if (value.size() <= sizes.value) {
    // A value that fits where the old one was is written over it.
    std::memmove(old_value, value.data(), value.size());
    dead_bytes_ += sizes.value - value.size();
    live_bytes_ -= sizes.value - value.size();
    set_value_size(record, value.size());
  } else {
    const std::size_t freed = sizes.key + sizes.value;
    const std::size_t live_after = live_bytes_ - freed + key.size() + value.size();
    if (dead_bytes_ + freed > kCompactAbove && dead_bytes_ + freed > live_after) {
      compact_replacing(position, key, value);
    } else {
      // Copied before the record changes: a failed allocation leaves it as it was.
      record = copy_record(key, value);
      dead_bytes_ += freed;
      live_bytes_ -= freed;
    }
  }
  return {position, false, true};
}

void ValueStore::grow_entries() {
  const std::size_t count = entries_.size();
  if (count >= ProbeIndex::kMaxEntries) throw std::bad_alloc();
  if (count == entries_.capacity()) {
    entries_.reserve(std::min(ProbeIndex::kMaxEntries, std::max<std::size_t>(16, 2 * count)));
  }
}

void ValueStore::set_value_size(Record& record, std::size_t value) noexcept {
  if (record.sizes != kSpilled) {
    record.sizes = (record.sizes & ((1u << kKeyBits) - 1)) | static_cast<std::uint32_t>(value << kKeyBits);
    return;
  }
  const auto size = static_cast<std::uint32_t>(value);
  std::memcpy(const_cast<char*>(record.key) - sizeof size, &size, sizeof size);
}

void ValueStore::add_block_for(std::size_t bytes) {
  add_block(std::max(bytes, blocks_.empty() ? kFirstBlockBytes : std::min(kBlockBytes, 2 * arena_bytes_)));
}

void ValueStore::add_block(std::size_t bytes) {
  std::unique_ptr<char[]> block(new char[bytes]);
  blocks_.push_back(std::move(block));
  cursor_ = blocks_.back().get();
  room_ = bytes;
  arena_bytes_ += bytes;
}

void ValueStore::make_room(std::size_t entries, std::size_t bytes) {
  const std::size_t wanted = entries_.size() + entries;
  if (wanted > entries_.capacity()) entries_.reserve(std::max(wanted, 2 * entries_.capacity()));
  index_.reserve(wanted, fragment_reader());
  if (bytes > room_) add_block(std::max(bytes, kFirstBlockBytes));
}

void ValueStore::pop_back() noexcept {
  const auto position = static_cast<std::uint32_t>(entries_.size() - 1);
  const Sizes sizes = sizes_of(entries_[position]);
  index_.vacate(index_.slot_of(ProbeIndex::fragment_of(hash_(key_at(position))), position), fragment_reader());
  live_bytes_ -= sizes.key + sizes.value;
  dead_bytes_ += sizes.key + sizes.value;
  entries_.pop_back();
}

void ValueStore::reserve(std::size_t entries, std::size_t bytes) {
  // A first block that fits the whole expected text: a small document then
  // makes one allocation for all its texts.
  if (blocks_.empty() && bytes > 0) {
    blocks_.push_back(std::unique_ptr<char[]>(new char[std::min(bytes, kBlockBytes)]));
    cursor_ = blocks_.back().get();
    room_ = arena_bytes_ = std::min(bytes, kBlockBytes);
  }
  if (entries <= entries_.capacity()) return;
  entries_.reserve(entries);
  // Half-full at most while the table stays in cache, where room is cheap and
  // short runs are not; a third over the entries beyond, where memory is
  // what counts.
  index_.reserve(2 * entries <= kCachedSlots ? 2 * entries : entries, fragment_reader());
}

void ValueStore::shrink_to_fit() {
  entries_.shrink_to_fit();
  if (entries_.empty()) {
    clear();
    return;
  }
  index_.rebuild(entries_.size(), fragment_reader());
}

void ValueStore::clear() noexcept {
  entries_.clear();
  index_.reset();
  blocks_.clear();
  cursor_ = nullptr;
  room_ = 0;
  live_bytes_ = dead_bytes_ = arena_bytes_ = 0;
}

// Copies the live texts into one fresh block, the entry at `position` taking
// its new key and value on the way; positions and the index stay. The block is
// had before anything moves, so a failed allocation changes nothing.
void ValueStore::compact_replacing(std::size_t position, std::string_view key, std::string_view value) {
  const auto texts_at = [&](std::size_t i) -> Entry { return i == position ? Entry{key, value} : at(i); };
  std::size_t size = 0;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const auto [name, text] = texts_at(i);
    size += record_bytes(name, text);
  }
  const std::size_t live = live_bytes_ - (sizes_of(entries_[position]).key + sizes_of(entries_[position]).value) +
                           key.size() + value.size();
  std::vector<std::unique_ptr<char[]>> fresh;
  fresh.reserve(1);
  size = std::max<std::size_t>(size, 1);
  fresh.push_back(std::unique_ptr<char[]>(new char[size]));

  char* cursor = fresh.back().get();
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const auto [name, text] = texts_at(i);
    write_record(cursor, name, text);
    entries_[i] = record_at(cursor, name.size(), text.size());
    cursor += record_bytes(name, text);
  }
  room_ = size - static_cast<std::size_t>(cursor - fresh.back().get());
  blocks_.swap(fresh);  // the old blocks go with `fresh`
  cursor_ = cursor;
  arena_bytes_ = size;
  live_bytes_ = live;
  dead_bytes_ = 0;
}

}  // namespace vyrl
