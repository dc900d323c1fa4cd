#include "store/store.hpp"

#include <algorithm>
#include <cstddef>
#include <utility>

namespace vyrl {
namespace {

std::string missing_required_field(std::string_view field) {
  return "Missing required field '" + std::string(field) + "'";
}

// Up to this many values a reverse lookup compares them all: cheaper than
// building an index, and too few for repeated misses to add up.
constexpr std::size_t kReverseScanLimit = 32;

}  // namespace

// --- Values. ---

void Store::assign(std::string_view key, std::string_view value, std::uint64_t hash) {
  if (!reverse_built_.load(std::memory_order_relaxed)) {
    values_.assign(key, value, hash);
    return;
  }
  // The old value leaves its chain while it can still be hashed.
  const std::size_t existing = values_.position_of(key);
  if (existing != values_.size()) {
    if (values_.value_at(existing) == value) return;
    unindex_value(static_cast<std::uint32_t>(existing));
  }
  index_value(values_.assign(key, value, hash).position);
}

// The table grows geometrically even when many small texts each announce a
// few entries: reserving exactly "size + a little" every time would copy the
// whole table once its spare room ran out, making a session of small merges
// quadratic.
void Store::expect_more_values(std::size_t entries, std::size_t bytes) {
  const std::size_t capacity = values_.entry_capacity();
  const std::size_t wanted = values_.size() + entries;
  if (wanted <= capacity) return;
  values_.reserve(std::max(wanted, 2 * capacity), bytes);
}

void Store::release_unused_room() {
  // Only a guess far above what arrived is worth a copy; ordinary slack from
  // doubling stays.
  constexpr std::size_t kSmallTable = 64;
  if (values_.entry_capacity() > 4 * std::max(values_.size(), kSmallTable)) values_.shrink_to_fit();
}

void Store::take_missing_values(Store& base) {
  base.reverse_built_.store(false, std::memory_order_relaxed);  // base's index would only go stale
  expect_more_values(base.values_.size());
  // A key already here keeps its value, which is the weak rule.
  for (const auto [key, value] : base.values_) {
    if (!values_.contains(key)) assign(key, value);
  }
  base.values_.clear();
}

std::optional<std::string_view> Store::key_holding(std::string_view value) const {
  if (values_.empty()) return std::nullopt;
  if (!reverse_built_.load(std::memory_order_acquire)) {
    if (values_.size() <= kReverseScanLimit) {
      for (const auto [key, stored] : values_) {
        if (stored == value) return key;
      }
      return std::nullopt;
    }
    build_reverse_index();
  }
  const std::uint32_t* head = reverse_heads_.find(values_.hash(value));
  if (head == nullptr) return std::nullopt;
  for (std::uint32_t position = *head; position != kNoPosition; position = reverse_next_[position]) {
    const auto [key, stored] = values_.at(position);
    if (stored == value) return key;
  }
  return std::nullopt;
}

void Store::build_reverse_index() const {
  // Lookups share a document between readers, so the first one to need the
  // index builds it while the others wait.
  const std::lock_guard lock(reverse_build_);
  if (reverse_built_.load(std::memory_order_relaxed)) return;
  reverse_heads_.clear(values_.size());
  reverse_next_.assign(values_.size(), kNoPosition);
  reverse_prev_.assign(values_.size(), kNoPosition);
  // Each value's chain head is a cache miss in a large table; hashing a few
  // values ahead and asking for their slots early lets the misses overlap.
  constexpr std::uint32_t kAhead = 16;
  std::uint64_t hashes[kAhead];
  const auto size = static_cast<std::uint32_t>(values_.size());
  for (std::uint32_t position = 0; position < std::min(size, kAhead); ++position) {
    hashes[position] = values_.hash(values_.value_at(position));
    reverse_heads_.prefetch(hashes[position]);
  }
  for (std::uint32_t position = 0; position < size; ++position) {
    const std::uint64_t hash = hashes[position % kAhead];
    if (position + kAhead < size) {
      hashes[position % kAhead] = values_.hash(values_.value_at(position + kAhead));
      reverse_heads_.prefetch(hashes[position % kAhead]);
    }
    index_value(position, hash);
  }
  reverse_built_.store(true, std::memory_order_release);
}

void Store::index_value(std::uint32_t position) const {
  index_value(position, values_.hash(values_.value_at(position)));
}

void Store::index_value(std::uint32_t position, std::uint64_t hash) const {
  if (reverse_next_.size() <= position) {
    reverse_next_.resize(std::max<std::size_t>(position + 1, 2 * reverse_next_.size()), kNoPosition);
    reverse_prev_.resize(reverse_next_.size(), kNoPosition);
  }
  std::uint32_t& head = reverse_heads_.at(hash);
  reverse_prev_[position] = kNoPosition;
  reverse_next_[position] = head;
  if (head != kNoPosition) reverse_prev_[head] = position;
  head = position;
}

void Store::unindex_value(std::uint32_t position) const {
  const std::uint32_t next = reverse_next_[position];
  const std::uint32_t prev = reverse_prev_[position];
  if (prev != kNoPosition) {
    reverse_next_[prev] = next;
  } else {
    const std::uint64_t hash = values_.hash(values_.value_at(position));
    if (next == kNoPosition) {
      reverse_heads_.erase(hash);
    } else {
      *reverse_heads_.find(hash) = next;
    }
  }
  if (next != kNoPosition) reverse_prev_[next] = prev;
}

void Store::ChainHeads::clear(std::size_t expected) {
  std::size_t size = 16;
  while (size < 2 * expected) size *= 2;
  slots_.assign(size, Slot{0, kNoPosition});
  used_ = 0;
}

std::size_t Store::ChainHeads::locate(std::uint64_t hash) const noexcept {
  if (slots_.empty()) return kAbsent;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    if (slots_[i].head == kNoPosition) return kAbsent;
    if (slots_[i].hash == hash) return i;
  }
}

std::uint32_t* Store::ChainHeads::find(std::uint64_t hash) noexcept {
  const std::size_t slot = locate(hash);
  return slot == kAbsent ? nullptr : &slots_[slot].head;
}

std::uint32_t& Store::ChainHeads::at(std::uint64_t hash) {
  if (2 * (used_ + 1) > slots_.size()) grow();
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = hash & mask;
  for (; slots_[i].head != kNoPosition; i = (i + 1) & mask) {
    if (slots_[i].hash == hash) return slots_[i].head;
  }
  ++used_;
  slots_[i].hash = hash;
  return slots_[i].head;  // still vacant: the caller stores a position at once
}

void Store::ChainHeads::erase(std::uint64_t hash) noexcept {
  std::size_t gap = locate(hash);
  if (gap == kAbsent) return;
  const std::size_t mask = slots_.size() - 1;
  // Pull later members of the run back into the gap, so every remaining hash
  // is still reached from its home without tombstones.
  for (std::size_t next = (gap + 1) & mask; slots_[next].head != kNoPosition; next = (next + 1) & mask) {
    const std::size_t home = slots_[next].hash & mask;
    if (((next - home) & mask) >= ((next - gap) & mask)) {
      slots_[gap] = slots_[next];
      gap = next;
    }
  }
  slots_[gap] = Slot{0, kNoPosition};
  --used_;
}

void Store::ChainHeads::grow() {
  std::vector<Slot> old = std::exchange(slots_, std::vector<Slot>(std::max<std::size_t>(16, 2 * slots_.size()),
                                                                    Slot{0, kNoPosition}));
  used_ = 0;
  for (const Slot& slot : old) {
    if (slot.head != kNoPosition) at(slot.hash) = slot.head;
  }
}

// --- Aliases. ---

void Store::register_type(std::string name, TypePtr definition) {
  ++scope_generation_;
  types_.insert_or_assign(std::move(name), std::move(definition));
}

TypePtr Store::take_type(std::string_view name) {
  auto node = types_.extract(name);
  if (!node) return nullptr;
  ++scope_generation_;
  return std::move(node.mapped());
}

void Store::insert_type_if_absent(std::string name, TypePtr definition) {
  if (types_.try_emplace(std::move(name), std::move(definition)).second) ++scope_generation_;
}

const Type* Store::alias(std::string_view name) const noexcept {
  const auto found = types_.find(name);
  return found == types_.end() ? nullptr : found->second.get();
}

// --- Schemas. ---

void Store::register_schema(std::string name, SchemaDef schema) {
  if (const auto existing = schema_ids_.find(name); existing != schema_ids_.end()) remove_schema(existing->second);
  add_schema(std::move(name), std::move(schema));
}

std::optional<SchemaDef> Store::take_schema(std::string_view name) {
  const auto existing = schema_ids_.find(name);
  if (existing == schema_ids_.end()) return std::nullopt;
  return remove_schema(existing->second);
}

void Store::insert_schema_if_absent(std::string name, SchemaDef schema) {
  if (!schema_ids_.contains(name)) add_schema(std::move(name), std::move(schema));
}

std::vector<std::string_view> Store::schema_names() const {
  std::vector<std::string_view> names;
  names.reserve(schema_ids_.size());
  for (const auto& [name, id] : schema_ids_) names.push_back(name);
  return names;
}

const SchemaDef* Store::schema(std::string_view name) const noexcept {
  const auto found = schema_ids_.find(name);
  return found == schema_ids_.end() ? nullptr : &schemas_[found->second]->definition;
}

void Store::add_schema(std::string name, SchemaDef schema) {
  ++scope_generation_;
  const auto id = static_cast<SchemaId>(schemas_.size());
  schema.seal();
  SchemaSlot& slot = *schemas_.emplace_back(
      std::make_unique<SchemaSlot>(SchemaSlot{std::move(name), std::move(schema), {}, true, {}}));
  const std::size_t fields = slot.definition.fields.size();
  slot.owner_places.reserve(fields);
  slot.resolved = std::make_unique<ResolvedField[]>(fields);
  std::uint32_t position = 0;
  for (const auto& [field, type_name] : slot.definition.fields) {
    std::vector<Owner>& owners = field_owners_[field];
    slot.owner_places.push_back(static_cast<std::uint32_t>(owners.size()));
    owners.push_back(Owner{id, position++});
  }
  schema_ids_.insert_or_assign(slot.name, id);
  unverified_.push_back(id);
}

// Takes a schema's fields out of the field index (each in constant time: the
// last owner of a field fills the hole and learns its new place), so that a
// replaced schema never answers for a key again.
SchemaDef Store::remove_schema(SchemaId id) {
  ++scope_generation_;
  SchemaSlot& slot = (*schemas_[id]);
  std::uint32_t position = 0;
  for (const auto& [field, type_name] : slot.definition.fields) {
    const auto entry = field_owners_.find(field);
    std::vector<Owner>& owners = entry->second;
    const std::uint32_t place = slot.owner_places[position++];
    const Owner last = owners.back();
    owners[place] = last;
    if (last.schema != id) {
      SchemaSlot& other = (*schemas_[last.schema]);
      const auto moved = other.definition.fields.find(field);
      other.owner_places[static_cast<std::size_t>(moved - other.definition.fields.begin())] = place;
    }
    owners.pop_back();
    if (owners.empty()) field_owners_.erase(entry);
  }
  schema_ids_.erase(slot.name);
  slot.live = false;
  slot.name = std::string();
  slot.owner_places = {};
  slot.resolved.reset();
  return std::exchange(slot.definition, SchemaDef{});
}

std::optional<Store::TypedKey> Store::schema_declaring(std::string_view key) {
  const auto owners = field_owners_.find(key);
  if (owners == field_owners_.end()) return std::nullopt;
  const Owner& owner = owners->second.front();
  const SchemaSlot& slot = *schemas_[owner.schema];
  const std::string& type_name = slot.definition.fields.begin()[owner.field].second;
  ResolvedField& resolved = slot.resolved[owner.field];
  if (resolved.generation != scope_generation_) {
    resolved.type = resolve_field_type(*this, type_name);
    resolved.generation = scope_generation_;
  }
  return TypedKey{slot.name, type_name, &resolved.type};
}

// --- Completeness. ---

Status Store::require_complete(std::string_view name, const SchemaDef& schema) const {
  for (const std::uint32_t position : schema.required) {
    const auto& [field, type_name] = schema.fields.begin()[position];
    if (!values_.contains(field)) {
      return fail(VyrlError::schema_validation(std::string(name), field, type_name, missing_required_field(field)));
    }
  }
  return {};
}

std::vector<std::string> Store::unverified_schemas(std::size_t mark) const {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < mark; ++i) {
    const SchemaSlot& slot = *schemas_[unverified_[i]];
    if (slot.live) names.push_back(slot.name);
  }
  return names;
}

void Store::mark_verified(std::size_t mark) {
  unverified_.erase(unverified_.begin(), unverified_.begin() + static_cast<std::ptrdiff_t>(mark));
}

}  // namespace vyrl
