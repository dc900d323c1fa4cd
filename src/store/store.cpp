#include "vyrl/error.hpp"
#include "store/store.hpp"

#include <algorithm>
#include <cstddef>
#include <new>
#include <utility>

namespace vyrl {
namespace {

std::string missing_required_field(std::string_view field) {
  return "Missing required field '" + excerpt(field) + "'";
}

// Room for `count` more elements, growing geometrically: reserving exactly
// what one more needs would copy the whole vector every time.
template <class T>
void reserve_more(std::vector<T>& vector, std::size_t count) {
  const std::size_t wanted = vector.size() + count;
  if (wanted > vector.capacity()) vector.reserve(std::max(wanted, 2 * vector.capacity()));
}

// Up to this many values a reverse lookup compares them all: cheaper than
// building an index, and too few for repeated misses to add up.
constexpr std::size_t kReverseScanLimit = 32;

}  // namespace

// --- Values. ---

void Store::assign_indexed(std::string_view key, std::string_view value, std::uint64_t hash) {
  const std::size_t existing = values_.position_of(key);
  const bool replacing = existing != values_.size();
  std::uint64_t old_hash = 0;
  if (replacing) {
    const std::string_view old = values_.value_at(existing);
    if (old == value) return;
    // Hashed while its text is still there: storing may write over it.
    old_hash = values_.hash(old);
  }
  // Whatever can fail to allocate comes before anything changes, so that a
  // failure leaves the value and the chains that find it as they were.
  reserve_reverse(replacing ? 0 : 1);
  const auto stored = values_.assign(key, value, hash);
  if (replacing) unindex_value(static_cast<std::uint32_t>(existing), old_hash);
  index_value(stored.position);
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

void Store::release_unused_room() noexcept {
  // Only a guess far above what arrived is worth a copy; ordinary slack from
  // doubling stays.
  constexpr std::size_t kSmallTable = 64;
  if (values_.entry_capacity() <= 4 * std::max(values_.size(), kSmallTable)) return;
  try {
    values_.shrink_to_fit();
  } catch (const std::bad_alloc&) {
    // Giving room back is worth no failure: the merge it follows succeeded.
  }
}

void Store::take_missing_values(Store& base) {
  base.reverse_built_.store(false, std::memory_order_relaxed);  // base's index would only go stale
  // Room for all of them first: a @derive line takes every missing value or,
  // when memory runs out, none.
  std::size_t count = 0;
  std::size_t bytes = 0;
  for (const auto [key, value] : base.values_) {
    if (values_.contains(key)) continue;
    ++count;
    bytes += ValueStore::record_bytes(key, value);
  }
  values_.make_room(count, bytes);
  if (reverse_built_.load(std::memory_order_relaxed)) reserve_reverse(count);
  // A key already here keeps its value, which is the weak rule.
  for (const auto [key, value] : base.values_) {
    if (!values_.contains(key)) assign(key, value);
  }
  base.values_.clear();
}

void Store::drop_values_from(std::size_t size) noexcept {
  while (values_.size() > size) {
    const auto position = static_cast<std::uint32_t>(values_.size() - 1);
    if (reverse_built_.load(std::memory_order_relaxed)) {
      unindex_value(position, values_.hash(values_.value_at(position)));
    }
    values_.pop_back();
  }
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
  const auto head = reverse_heads_.probe(ProbeIndex::fragment_of(values_.hash(value)), value,
                                        [this](std::size_t p) { return values_.value_at(p); });
  if (!head.found) return std::nullopt;
  return values_.at(head.position).first;
}

void Store::build_reverse_index() const {
  // Lookups share a document between readers, so the first one to need the
  // index builds it while the others wait.
  const std::lock_guard lock(reverse_build_);
  if (reverse_built_.load(std::memory_order_relaxed)) return;
  reverse_heads_.reset();
  reverse_head_count_ = 0;
  reverse_heads_.reserve(values_.size(), value_fragment_reader());
  reverse_next_.assign(values_.size(), kNoPosition);
  reverse_prev_.assign(values_.size(), kNoPosition);
  // Each value's chain head is a cache miss in a large table; hashing a few
  // values ahead and asking for their slots early lets the misses overlap.
  constexpr std::uint32_t kAhead = 16;
  std::uint64_t hashes[kAhead];
  const auto size = static_cast<std::uint32_t>(values_.size());
  for (std::uint32_t position = 0; position < std::min(size, kAhead); ++position) {
    hashes[position] = values_.hash(values_.value_at(position));
    reverse_heads_.prefetch(ProbeIndex::fragment_of(hashes[position]));
  }
  for (std::uint32_t position = 0; position < size; ++position) {
    const std::uint64_t hash = hashes[position % kAhead];
    if (position + kAhead < size) {
      hashes[position % kAhead] = values_.hash(values_.value_at(position + kAhead));
      reverse_heads_.prefetch(ProbeIndex::fragment_of(hashes[position % kAhead]));
    }
    index_value(position, hash);
  }
  reverse_built_.store(true, std::memory_order_release);
}

void Store::index_value(std::uint32_t position) const {
  index_value(position, values_.hash(values_.value_at(position)));
}

void Store::index_value(std::uint32_t position, std::uint64_t hash) const {
  reserve_links(position + 1);
  reverse_heads_.reserve(reverse_head_count_ + 1, value_fragment_reader(), position + 1);
  const std::uint32_t fragment = ProbeIndex::fragment_of(hash);
  const auto head = reverse_heads_.probe(fragment, values_.value_at(position),
                                        [this](std::size_t p) { return values_.value_at(p); });
  reverse_prev_[position] = kNoPosition;
  if (head.found) {
    reverse_next_[position] = static_cast<std::uint32_t>(head.position);
    reverse_prev_[head.position] = position;
    reverse_heads_.repoint(head.slot, position);
  } else {
    reverse_next_[position] = kNoPosition;
    reverse_heads_.occupy(head, position);
    ++reverse_head_count_;
  }
}

// `hash` is that of the value the position held when it was indexed; the text
// itself may already be written over.
void Store::unindex_value(std::uint32_t position, std::uint64_t hash) const noexcept {
  const std::uint32_t next = reverse_next_[position];
  const std::uint32_t prev = reverse_prev_[position];
  if (prev != kNoPosition) {
    reverse_next_[prev] = next;
  } else {
    const std::size_t slot = reverse_heads_.slot_of(ProbeIndex::fragment_of(hash), position);
    if (next == kNoPosition) {
      reverse_heads_.vacate(slot, value_fragment_reader());
      --reverse_head_count_;
    } else {
      reverse_heads_.repoint(slot, next);
    }
  }
  if (next != kNoPosition) reverse_prev_[next] = prev;
}

// Both link arrays cover `positions`. Each is checked on its own: when memory
// ran out between growing one and the other, the next call finds them unequal.
void Store::reserve_links(std::size_t positions) const {
  const std::size_t size = std::max(positions, 2 * std::min(reverse_next_.size(), reverse_prev_.size()));
  if (reverse_next_.size() < positions) reverse_next_.resize(size, kNoPosition);
  if (reverse_prev_.size() < positions) reverse_prev_.resize(size, kNoPosition);
}

void Store::reserve_reverse(std::size_t count) const {
  reserve_links(values_.size() + count);
  // A replaced value may start a chain of its own as well.
  reverse_heads_.reserve(reverse_head_count_ + count + 1, value_fragment_reader(), values_.size() + count);
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

void Store::register_schema(std::string name, SchemaDef schema) { add_schema(std::move(name), std::move(schema)); }

std::optional<SchemaDef> Store::take_schema(std::string_view name) {
  const auto existing = schema_ids_.find(name);
  if (existing == schema_ids_.end()) return std::nullopt;
  const SchemaId id = existing->second;
  schema_ids_.erase(existing);
  return remove_schema(id);
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

// Adds a schema, replacing one of the same name. Everything that allocates
// comes first; once the registries start to change nothing can fail, so a
// failed allocation leaves every index as it was.
void Store::add_schema(std::string name, SchemaDef schema) {
  schema.seal();
  auto fields = std::make_unique<SchemaSlot::Field[]>(schema.fields.size());
  reserve_more(unverified_, 1);
  std::unique_ptr<SchemaSlot> fresh;
  if (free_slots_.empty()) {
    fresh = std::make_unique<SchemaSlot>();
    reserve_more(schemas_, 1);
    reserve_more(free_slots_, schemas_.size() + 1 - free_slots_.size());
  }
  const auto named = schema_ids_.find(name);
  const bool replacing = named != schema_ids_.end();
  try {
    // Room for every new field name at once, growing geometrically: a table
    // grown one name at a time copies itself at every doubling.
    const std::size_t owners_wanted = field_owners_.size() + schema.fields.size();
    if (owners_wanted > field_owners_.entry_capacity()) {
      field_owners_.reserve(std::max(owners_wanted, 2 * field_owners_.entry_capacity()));
    }
    // Each field's place in the index waits in its owner_place until the
    // owner is added below, so that each name is looked up once.
    std::uint32_t position = 0;
    for (const auto& [field, type_name] : schema.fields) {
      const auto entry = field_owners_.try_emplace(field).first;
      entry->second.reserve_one_more();
      fields[position++].owner_place = static_cast<std::uint32_t>(entry - field_owners_.begin());
    }
    if (!replacing) schema_ids_.try_emplace(name, SchemaId{0});
  } catch (...) {
    // Owner lists made above and still empty would answer for no schema.
    for (const auto& [field, type_name] : schema.fields) {
      if (const auto entry = field_owners_.find(field); entry != field_owners_.end() && entry->second.empty()) {
        field_owners_.erase(entry);
      }
    }
    throw;
  }

  // Nothing below allocates.
  ++scope_generation_;
  SchemaId id;
  if (fresh) {
    id = static_cast<SchemaId>(schemas_.size());
    schemas_.push_back(std::move(fresh));
  } else {
    id = free_slots_.back();
    free_slots_.pop_back();
  }
  SchemaSlot& slot = *schemas_[id];
  slot.name = std::move(name);
  slot.definition = std::move(schema);
  slot.fields = std::move(fields);
  slot.live = true;
  slot.arrival = ++arrivals_;
  for (std::uint32_t position = 0; position < slot.definition.fields.size(); ++position) {
    SchemaSlot::Field& field = slot.fields[position];
    OwnerList& owners = field_owners_.begin()[field.owner_place].second;
    field.owner_place = static_cast<std::uint32_t>(owners.size());
    owners.push_back(Owner{id, position});
  }
  // The new schema's fields are in before the old one's go out, so that an
  // owner list the two share is never emptied and made again.
  SchemaId& current = schema_ids_.find(slot.name)->second;
  const SchemaId replaced = current;
  current = id;
  if (replacing) remove_schema(replaced);
  unverified_.push_back(Unverified{id, slot.arrival});
}

// Takes a schema's fields out of the field index (each in constant time: the
// last owner of a field fills the hole and learns its new place), so that a
// replaced schema never answers for a key again, and frees its slot for the
// next one. The caller has taken its name out of schema_ids_ or given it to
// another schema.
SchemaDef Store::remove_schema(SchemaId id) noexcept {
  ++scope_generation_;
  SchemaSlot& slot = (*schemas_[id]);
  std::uint32_t position = 0;
  for (const auto& [field, type_name] : slot.definition.fields) {
    const auto entry = field_owners_.find(field);
    OwnerList& owners = entry->second;
    const std::uint32_t place = slot.fields[position++].owner_place;
    const Owner last = owners.back();
    owners[place] = last;
    if (last.schema != id) {
      SchemaSlot& other = (*schemas_[last.schema]);
      const auto moved = other.definition.fields.find(field);
      other.fields[static_cast<std::size_t>(moved - other.definition.fields.begin())].owner_place = place;
    }
    owners.pop_back();
    if (owners.empty()) {
      field_owners_.erase(entry);
    } else {
      // The key may be a view of this schema's text: it now names the field
      // in the text of an owner that stays.
      const Owner& kept = owners.front();
      entry->first = schemas_[kept.schema]->definition.fields.begin()[kept.field].first;
    }
  }
  slot.live = false;
  slot.name = std::string();
  slot.fields.reset();
  free_slots_.push_back(id);  // within the capacity reserved when the slot was made
  // The schema may still wait for its completeness check; once such stale
  // entries could outnumber the rest, they go.
  if (++stale_unverified_ > 16 && stale_unverified_ > unverified_.size() / 2) forget_stale_unverified();
  return std::exchange(slot.definition, SchemaDef{});
}

bool Store::unverified_is_current(const Unverified& entry) const noexcept {
  const SchemaSlot& slot = *schemas_[entry.schema];
  return slot.live && slot.arrival == entry.arrival;
}

void Store::forget_stale_unverified() noexcept {
  std::erase_if(unverified_, [this](const Unverified& entry) { return !unverified_is_current(entry); });
  stale_unverified_ = 0;
}

std::optional<Store::TypedKey> Store::declared_field(std::string_view key) {
  const auto owners = field_owners_.find(key);
  if (owners == field_owners_.end()) return std::nullopt;
  const FieldType& type = resolved_type(owners->second);
  const Owner& owner = owners->second.front();
  const SchemaSlot& slot = *schemas_[owner.schema];
  return TypedKey{slot.name, slot.definition.fields.begin()[owner.field].second, &type};
}

const FieldType* Store::declared_type(std::string_view key) {
  if (field_owners_.empty()) return nullptr;
  const auto owners = field_owners_.find(key);
  if (owners == field_owners_.end()) return nullptr;
  return &resolved_type(owners->second);
}

// Good until the next type name is looked up: the caller checks one value first.
const FieldType& Store::resolved_type(OwnerList& owners) {
  ResolvedField& resolved = owners.resolved;
  if (resolved.generation != scope_generation_) {
    const Owner& owner = owners.front();
    resolved.type = named_type(schemas_[owner.schema]->definition.fields.begin()[owner.field].second);
    resolved.generation = scope_generation_;
  }
  return named_types_.begin()[resolved.type].second;
}

std::uint32_t Store::named_type(std::string_view type_name) {
  if (named_types_generation_ != scope_generation_) {
    named_types_.clear();
    named_types_generation_ = scope_generation_;
  }
  auto known = named_types_.find(type_name);
  if (known == named_types_.end()) known = named_types_.try_emplace(type_name, resolve_field_type(*this, type_name)).first;
  return static_cast<std::uint32_t>(known - named_types_.begin());
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

std::vector<std::string> Store::unverified_schemas(std::uint64_t mark) const {
  std::vector<std::string> names;
  for (const Unverified& entry : unverified_) {
    if (entry.arrival > mark) break;
    if (unverified_is_current(entry)) names.push_back(schemas_[entry.schema]->name);
  }
  return names;
}

void Store::mark_verified(std::uint64_t mark) noexcept {
  std::size_t checked = 0;
  while (checked < unverified_.size() && unverified_[checked].arrival <= mark) ++checked;
  unverified_.erase(unverified_.begin(), unverified_.begin() + static_cast<std::ptrdiff_t>(checked));
}

void Store::OwnerList::reserve_one_more() {
  if (size_ >= 1) reserve_more(more_, 1);
}

void Store::OwnerList::push_back(Owner owner) noexcept {
  if (size_ == 0) {
    first_ = owner;
  } else {
    more_.push_back(owner);  // within the room reserve_one_more made
  }
  ++size_;
}

void Store::OwnerList::pop_back() noexcept {
  if (size_ > 1) more_.pop_back();
  --size_;
}

StoreWriter::~StoreWriter() {
  try {
    settled();
  } catch (const std::bad_alloc&) {
    // Only reached while another exception leaves: the one being stored
    // failed as a line of its own would have, and the later ones never came.
  }
}

}  // namespace vyrl
