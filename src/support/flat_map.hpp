#pragma once

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "support/probe_index.hpp"

namespace vyrl {

// Hash tables for text keys (std::string or std::string_view) that keep their
// entries in one dense array and index them with a separate table of small
// slots, probed linearly. A lookup touches one or two cache lines of slots and
// then the entry itself; inserting appends to the array, so a large load is a
// sequence of appends rather than one allocation per entry.
//
// Lookups take any text as a std::string_view. Iteration visits entries in
// insertion order, disturbed by erasure (the last entry fills the gap); callers
// must not rely on any order. Inserting or erasing invalidates iterators.
namespace flat_detail {

template <class Arg>
concept Text = std::convertible_to<const Arg&, std::string_view>;

// What maps and sets share: the entry array, the index and the hasher.
// `KeyOf` reads the key of an entry as a std::string_view.
template <class Entry, class KeyOf, class Hash>
class Table {
 public:
  using size_type = std::size_t;
  using difference_type = std::ptrdiff_t;
  using hasher = Hash;
  using const_iterator = typename std::vector<Entry>::const_iterator;

  size_type size() const noexcept { return entries_.size(); }
  bool empty() const noexcept { return entries_.empty(); }
  const_iterator begin() const noexcept { return entries_.begin(); }
  const_iterator end() const noexcept { return entries_.end(); }
  const_iterator cbegin() const noexcept { return entries_.begin(); }
  const_iterator cend() const noexcept { return entries_.end(); }
  hasher hash_function() const { return hash_; }

  void reserve(size_type entries) {
    if (entries > kScanLimit) build_index(entries);
    entries_.reserve(entries);
  }

  void clear() noexcept {
    entries_.clear();
    index_.clear();
  }

  size_type entry_capacity() const noexcept { return entries_.capacity(); }

  // Gives back the room of a reservation that was never used.
  void shrink_to_fit() {
    entries_.shrink_to_fit();
    index_.reset();
    if (entries_.size() > kScanLimit) build_index(entries_.size());
  }

  const_iterator find(std::string_view key) const noexcept { return entries_.begin() + locate(key); }
  bool contains(std::string_view key) const noexcept { return locate(key) != entries_.size(); }
  size_type count(std::string_view key) const noexcept { return contains(key) ? 1 : 0; }

  size_type erase(std::string_view key) {
    const size_type position = locate(key);
    if (position == entries_.size()) return 0;
    remove(position);
    return 1;
  }

 protected:
  Table() = default;

  static std::string_view key_of(const Entry& entry) noexcept { return KeyOf{}(entry); }

  std::uint32_t fragment_of(std::string_view key) const noexcept { return ProbeIndex::fragment_of(hash_(key)); }

  // Position of the entry with `key`, or size() when there is none.
  size_type locate(std::string_view key) const noexcept {
    if (!index_.built()) return scan(key);
    const ProbeIndex::Probe probe = index_.probe(fragment_of(key), key, key_reader());
    return probe.found ? probe.position : entries_.size();
  }

  // Position of the entry with `key` and false, or, when there is none, the
  // position of a new entry that `make()` appended, and true.
  template <class Make>
  std::pair<size_type, bool> locate_or_append(std::string_view key, Make&& make) {
    if (!index_.built() && entries_.size() < kScanLimit) {
      if (const size_type position = scan(key); position != entries_.size()) return {position, false};
      std::forward<Make>(make)();
      return {entries_.size() - 1, true};
    }
    if (entries_.size() >= ProbeIndex::kMaxEntries) throw std::length_error("too many entries for a flat table");
    build_index(entries_.size() + 1);
    const std::uint32_t fragment = fragment_of(key);
    const ProbeIndex::Probe probe = index_.probe(fragment, key, key_reader());
    if (probe.found) return {probe.position, false};
    std::forward<Make>(make)();
    index_.occupy(probe, entries_.size() - 1);
    return {entries_.size() - 1, true};
  }

  // Takes the entry out; the last entry moves into its place.
  Entry remove(size_type position) {
    const bool indexed = index_.built();
    if (indexed) index_.vacate(index_.slot_of(fragment_of(key_of(entries_[position])), position), fragment_reader());
    Entry removed = std::move(entries_[position]);
    const size_type last = entries_.size() - 1;
    if (position != last) {
      if (indexed) index_.repoint(index_.slot_of(fragment_of(key_of(entries_[last])), last), position);
      entries_[position] = std::move(entries_[last]);
    }
    entries_.pop_back();
    return removed;
  }

  size_type position_of(const_iterator it) const noexcept { return static_cast<size_type>(it - entries_.begin()); }

  std::vector<Entry> entries_;
  ProbeIndex index_;
  Hash hash_;

 private:
  // Up to this many entries and until something asks for more room, a table
  // has no index and is searched by comparing keys: cheaper than hashing one,
  // and too short for crafted keys to slow anything down. Most schemas,
  // inline objects and alias tables never grow past it.
  static constexpr size_type kScanLimit = 8;

  size_type scan(std::string_view key) const noexcept {
    for (size_type position = 0; position < entries_.size(); ++position) {
      if (key_of(entries_[position]) == key) return position;
    }
    return entries_.size();
  }

  // Makes room in the index for `entries`; building it the first time hashes
  // the entries already held.
  void build_index(size_type entries) {
    if (index_.built()) {
      index_.reserve_dense(entries, entries_.size(), fragment_reader());
      return;
    }
    index_.reserve(entries, fragment_reader());
    for (size_type position = 0; position < entries_.size(); ++position) {
      const std::uint32_t fragment = fragment_of(key_of(entries_[position]));
      index_.occupy(index_.vacant_slot(fragment), fragment, position);
    }
  }

  auto key_reader() const noexcept {
    return [this](std::size_t position) { return key_of(entries_[position]); };
  }
  auto fragment_reader() const noexcept {
    return [this](std::size_t position) { return fragment_of(key_of(entries_[position])); };
  }
};

struct KeyOfPair {
  template <class Pair>
  std::string_view operator()(const Pair& entry) const noexcept {
    return entry.first;
  }
};

struct KeyOfSelf {
  template <class Key>
  std::string_view operator()(const Key& entry) const noexcept {
    return entry;
  }
};

}  // namespace flat_detail

// A map from text keys. Entries are std::pair<K, V>: changing `first` through
// an iterator would corrupt the map and is not allowed.
template <class K, class V, class Hash>
class FlatMap : public flat_detail::Table<std::pair<K, V>, flat_detail::KeyOfPair, Hash> {
  using Base = flat_detail::Table<std::pair<K, V>, flat_detail::KeyOfPair, Hash>;

 public:
  using key_type = K;
  using mapped_type = V;
  using value_type = std::pair<K, V>;
  using reference = value_type&;
  using const_reference = const value_type&;
  using iterator = typename std::vector<value_type>::iterator;
  using const_iterator = typename Base::const_iterator;
  using typename Base::size_type;

  // An entry taken out of a map, ready to be put into another.
  class node_type {
   public:
    node_type() = default;
    bool empty() const noexcept { return !entry_; }
    explicit operator bool() const noexcept { return entry_.has_value(); }
    K& key() noexcept { return entry_->first; }
    const K& key() const noexcept { return entry_->first; }
    V& mapped() noexcept { return entry_->second; }
    const V& mapped() const noexcept { return entry_->second; }

   private:
    friend class FlatMap;
    explicit node_type(value_type&& entry) : entry_(std::move(entry)) {}
    std::optional<value_type> entry_;
  };

  struct insert_return_type {
    iterator position;
    bool inserted;
    node_type node;
  };

  FlatMap() = default;
  FlatMap(std::initializer_list<value_type> entries) {
    this->reserve(entries.size());
    for (const value_type& entry : entries) insert(entry);
  }

  using Base::begin;
  using Base::end;
  using Base::erase;
  using Base::find;
  iterator begin() noexcept { return this->entries_.begin(); }
  iterator end() noexcept { return this->entries_.end(); }

  iterator find(std::string_view key) noexcept { return begin() + this->locate(key); }

  V& at(std::string_view key) { return const_cast<V&>(std::as_const(*this).at(key)); }
  const V& at(std::string_view key) const {
    const size_type position = this->locate(key);
    if (position == this->size()) throw std::out_of_range("FlatMap::at: no such key");
    return this->entries_[position].second;
  }

  template <flat_detail::Text KeyArg>
  V& operator[](KeyArg&& key) {
    return try_emplace(std::forward<KeyArg>(key)).first->second;
  }

  // Constructs the value only when the key is new.
  template <flat_detail::Text KeyArg, class... Args>
  std::pair<iterator, bool> try_emplace(KeyArg&& key, Args&&... args) {
    const std::string_view text = key;
    const auto [position, added] = this->locate_or_append(text, [&] {
      this->entries_.emplace_back(std::piecewise_construct, std::forward_as_tuple(K(std::forward<KeyArg>(key))),
                                  std::forward_as_tuple(std::forward<Args>(args)...));
    });
    return {begin() + position, added};
  }

  template <flat_detail::Text KeyArg, class... Args>
  std::pair<iterator, bool> emplace(KeyArg&& key, Args&&... args) {
    return try_emplace(std::forward<KeyArg>(key), std::forward<Args>(args)...);
  }

  std::pair<iterator, bool> insert(const value_type& entry) { return try_emplace(entry.first, entry.second); }
  std::pair<iterator, bool> insert(value_type&& entry) {
    return try_emplace(std::move(entry.first), std::move(entry.second));
  }

  // Puts an extracted entry back unless its key is already present, in which
  // case the node is handed back untouched.
  insert_return_type insert(node_type&& node) {
    if (node.empty()) return {end(), false, {}};
    if (const iterator present = find(std::string_view(node.key())); present != end()) {
      return {present, false, std::move(node)};
    }
    const iterator added = try_emplace(std::move(node.key()), std::move(node.mapped())).first;
    return {added, true, {}};
  }

  template <flat_detail::Text KeyArg, class M>
  std::pair<iterator, bool> insert_or_assign(KeyArg&& key, M&& value) {
    auto result = try_emplace(std::forward<KeyArg>(key), std::forward<M>(value));
    if (!result.second) result.first->second = std::forward<M>(value);
    return result;
  }

  // Returns the iterator to the entry that now stands where the erased one was,
  // so an erase-while-iterating loop visits every entry.
  iterator erase(const_iterator position) {
    const size_type index = this->position_of(position);
    this->remove(index);
    return begin() + index;
  }
  iterator erase(iterator position) { return erase(const_iterator(position)); }

  node_type extract(const_iterator position) { return node_type(this->remove(this->position_of(position))); }
  node_type extract(std::string_view key) {
    const size_type position = this->locate(key);
    if (position == this->size()) return {};
    return node_type(this->remove(position));
  }

  // Moves over the entries of `source` whose keys are missing here; the others
  // stay in `source`.
  void merge(FlatMap& source) {
    for (size_type i = 0; i < source.size();) {
      if (this->contains(source.entries_[i].first)) {
        ++i;
        continue;
      }
      // The last entry of `source` moves into position i, so i is looked at again.
      value_type entry = source.remove(i);
      try_emplace(std::move(entry.first), std::move(entry.second));
    }
  }

  friend bool operator==(const FlatMap& a, const FlatMap& b) {
    if (a.size() != b.size()) return false;
    for (const auto& [key, value] : a) {
      const auto found = b.find(std::string_view(key));
      if (found == b.end() || !(found->second == value)) return false;
    }
    return true;
  }
};

// A set of texts. Its elements cannot be changed in place.
template <class K, class Hash>
class FlatSet : public flat_detail::Table<K, flat_detail::KeyOfSelf, Hash> {
  using Base = flat_detail::Table<K, flat_detail::KeyOfSelf, Hash>;

 public:
  using key_type = K;
  using value_type = K;
  using iterator = typename Base::const_iterator;
  using const_iterator = typename Base::const_iterator;
  using typename Base::size_type;

  FlatSet() = default;
  FlatSet(std::initializer_list<K> keys) {
    this->reserve(keys.size());
    for (const K& key : keys) insert(key);
  }

  template <flat_detail::Text KeyArg>
  std::pair<iterator, bool> insert(KeyArg&& key) {
    const std::string_view text = key;
    const auto [position, added] =
        this->locate_or_append(text, [&] { this->entries_.emplace_back(std::forward<KeyArg>(key)); });
    return {this->begin() + position, added};
  }

  template <flat_detail::Text KeyArg>
  std::pair<iterator, bool> emplace(KeyArg&& key) {
    return insert(std::forward<KeyArg>(key));
  }

  using Base::erase;
  iterator erase(const_iterator position) {
    const size_type index = this->position_of(position);
    this->remove(index);
    return this->begin() + index;
  }

  friend bool operator==(const FlatSet& a, const FlatSet& b) {
    if (a.size() != b.size()) return false;
    return std::all_of(a.begin(), a.end(), [&](const K& key) { return b.contains(key); });
  }
};

}  // namespace vyrl
