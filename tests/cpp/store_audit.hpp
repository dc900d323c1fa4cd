#pragma once

#include <set>
#include <string>
#include <string_view>

#include "store/store.hpp"

namespace vyrl {

// Checks that every index of a store agrees with what it indexes, and says
// the first disagreement it finds (empty when there is none).
struct StoreAudit {
  static std::string check(const Store& store) {
    if (std::string problem = values(store.values_); !problem.empty()) return problem;
    if (std::string problem = reverse(store); !problem.empty()) return problem;
    return schemas(store);
  }

  // Schemas registered under a name of their own.
  static std::size_t schema_count(const Store& store) noexcept { return store.schema_ids_.size(); }

  // What the values of a store hold in memory: the arena as far as it is
  // written (the rest of its last block is never touched, so never resident),
  // entries and index.
  static std::size_t kept_bytes(const Store& store) {
    const ValueStore& values = store.values_;
    return values.arena_bytes_ - values.room_ + values.entries_.capacity() * sizeof(ValueStore::Record) +
           values.index_.memory_bytes();
  }

 private:
  static std::string values(const ValueStore& values) {
    std::size_t occupied = 0;
    values.index_.for_each_position([&](std::size_t) { ++occupied; });
    if (occupied != values.size()) return "value index holds " + std::to_string(occupied) + " slots";
    std::size_t live = 0;
    for (std::size_t position = 0; position < values.size(); ++position) {
      const auto [key, value] = values.at(position);
      if (values.position_of(key) != position) return "key '" + std::string(key) + "' is not found where it is";
      live += key.size() + value.size();
    }
    if (live != values.live_bytes_) return "live bytes counted wrong";
    return {};
  }

  static std::string reverse(const Store& store) {
    if (!store.reverse_built_.load()) return {};
    const ValueStore& values = store.values_;
    if (store.reverse_next_.size() < values.size() || store.reverse_prev_.size() < values.size()) {
      return "the chain links do not cover every position";
    }
    const auto value_at = [&](std::size_t p) { return values.value_at(p); };
    std::set<std::string_view> distinct;
    for (std::uint32_t position = 0; position < values.size(); ++position) {
      const std::string_view value = values.value_at(position);
      distinct.insert(value);
      const auto head = store.reverse_heads_.probe(ProbeIndex::fragment_of(values.hash(value)), value, value_at);
      if (!head.found) return "no chain for the value of position " + std::to_string(position);
      bool reached = false;
      for (std::uint32_t at = static_cast<std::uint32_t>(head.position), before = Store::kNoPosition;
           at != Store::kNoPosition; before = at, at = store.reverse_next_[at]) {
        if (store.reverse_prev_[at] != before) return "a chain's links disagree";
        if (values.value_at(at) != value) return "a chain holds another value";
        reached |= at == position;
      }
      if (!reached) return "value '" + std::string(value) + "' is missing from its chain";
    }
    std::size_t heads = 0;
    store.reverse_heads_.for_each_position([&](std::size_t) { ++heads; });
    if (distinct.size() != heads || heads != store.reverse_head_count_) return "the chain heads count wrong";
    return {};
  }

  static std::string schemas(const Store& store) {
    std::size_t live = 0;
    std::size_t owners = 0;
    for (std::uint32_t id = 0; id < store.schemas_.size(); ++id) {
      const Store::SchemaSlot& slot = *store.schemas_[id];
      if (!slot.live) continue;
      ++live;
      const auto named = store.schema_ids_.find(slot.name);
      if (named == store.schema_ids_.end() || named->second != id) return "schema '" + slot.name + "' is not named";
      std::uint32_t position = 0;
      for (const auto& [field, type_name] : slot.definition.fields) {
        const auto entry = store.field_owners_.find(field);
        if (entry == store.field_owners_.end()) return "field '" + std::string(field) + "' has no owners";
        const std::uint32_t place = slot.fields[position].owner_place;
        if (place >= entry->second.size() || entry->second[place].schema != id ||
            entry->second[place].field != position) {
          return "field '" + std::string(field) + "' does not know schema '" + slot.name + "'";
        }
        ++position;
        ++owners;
      }
    }
    if (live != store.schema_ids_.size()) return "schema names count wrong";
    std::size_t indexed = 0;
    for (const auto& [field, list] : store.field_owners_) {
      if (list.empty()) return "field '" + std::string(field) + "' has an empty owner list";
      const Store::Owner& front = list.front();
      if (field.data() != store.schemas_[front.schema]->definition.fields.begin()[front.field].first.data()) {
        return "field '" + std::string(field) + "' is keyed by a text its first owner does not hold";
      }
      indexed += list.size();
    }
    if (indexed != owners) return "field owners count wrong";
    if (store.free_slots_.size() != store.schemas_.size() - live) return "free schema slots count wrong";
    if (store.free_slots_.capacity() < store.schemas_.size()) return "freeing a schema slot could allocate";
    for (std::size_t i = 1; i < store.unverified_.size(); ++i) {
      if (store.unverified_[i - 1].arrival >= store.unverified_[i].arrival) return "unverified schemas out of order";
    }
    return {};
  }
};

}  // namespace vyrl
