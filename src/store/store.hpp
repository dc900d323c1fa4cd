#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/value_store.hpp"
#include "support/hash.hpp"
#include "support/probe_index.hpp"
#include "types/schema.hpp"
#include "types/type.hpp"
#include "types/validation.hpp"
#include "vyrl/error.hpp"

namespace vyrl {

// The registries of one document: the stored values, the aliases declared with
// @type and the schemas declared with @schema, with the indexes that keep
// every question about them to a probe or two. Knows nothing of lines,
// directives or files; types see it only as a TypeScope.
class Store final : public TypeScope {
 public:
  Store() = default;
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // --- Values. ---
  using Values = ValueStore;
  const Values& values() const noexcept { return values_; }
  // Stores key -> value, replacing an earlier value of the key.
  void assign(std::string_view key, std::string_view value) { assign(key, value, values_.hash(key)); }
  // The same with values().hash(key) already known (and its slot prefetched).
  // Always inline: the loader stores every line through here, and the call
  // alone cost as much as probing the index.
  [[gnu::always_inline]] void assign(std::string_view key, std::string_view value, std::uint64_t hash) {
    // Until a reverse lookup builds its index, storing is the values' alone.
    if (!reverse_built_.load(std::memory_order_relaxed)) {
      values_.assign(key, value, hash);
      return;
    }
    assign_indexed(key, value, hash);
  }
  // Room for `entries` more values (and `bytes` of their text) when that grows
  // the table geometrically; see the definition for why never less.
  void expect_more_values(std::size_t entries, std::size_t bytes = 0);
  // Gives back room that an expectation left unused.
  void release_unused_room() noexcept;
  // Moves every value whose key is missing here out of `base`, which is left
  // empty; when memory runs out, takes none of them.
  void take_missing_values(Store& base);
  // Takes out the values stored last, down to `size` of them: how a directive
  // that fails half-way takes back what it added.
  void drop_values_from(std::size_t size) noexcept;

  // A key whose value equals `value` (any of them, when several do), or nothing.
  std::optional<std::string_view> key_holding(std::string_view value) const;

  // --- Aliases. ---
  const Registry<TypePtr>& types() const noexcept { return types_; }
  // Last declaration wins.
  void register_type(std::string name, TypePtr definition);
  // Takes the alias `name` out, or gives null when there is none.
  TypePtr take_type(std::string_view name);
  // Keeps an alias already registered under `name`; drops `definition` then.
  void insert_type_if_absent(std::string name, TypePtr definition);

  // --- Schemas. ---
  // Last declaration wins.
  void register_schema(std::string name, SchemaDef schema);
  // The names of all schemas, in no particular order.
  std::vector<std::string_view> schema_names() const;
  // Takes the schema `name` out, or gives nothing when there is none.
  std::optional<SchemaDef> take_schema(std::string_view name);
  // Keeps a schema already registered under `name`; drops `schema` then.
  void insert_schema_if_absent(std::string name, SchemaDef schema);

  // The schema that types `key` and the field's type name, if any schema
  // declares a field of that name. When several do, which one answers is
  // left open.
  struct TypedKey {
    std::string_view schema;
    std::string_view type_name;
    const FieldType* type;  // what the type name means in this store right now
  };
  // Whether any schema declares a field, so that some key may be checked.
  bool declares_fields() const noexcept { return !field_owners_.empty(); }
  std::optional<TypedKey> schema_declaring(std::string_view key) {
    // Most documents declare no schema, and then every key is a quick no.
    if (field_owners_.empty()) return std::nullopt;
    return declared_field(key);
  }
  // schema_declaring(key)->type alone, or null: what checking a value needs,
  // had without reaching the schema.
  const FieldType* declared_type(std::string_view key);

  // --- Completeness. ---
  // Schemas are checked for their required keys in the order they arrived;
  // one found complete stays complete (values are never removed) until it is
  // replaced, so each is checked once per declaration. A mark stands for the
  // schemas that have arrived so far.
  std::uint64_t completeness_mark() const noexcept { return arrivals_; }
  // The names of the schemas not yet found complete among those that arrived
  // up to `mark`, in arrival order.
  std::vector<std::string> unverified_schemas(std::uint64_t mark) const;
  // Records that those schemas were found complete.
  void mark_verified(std::uint64_t mark) noexcept;
  // Fails with the first required field of `schema` that has no value.
  Status require_complete(std::string_view name, const SchemaDef& schema) const;

  // --- TypeScope. ---
  const Type* alias(std::string_view name) const noexcept override;
  const SchemaDef* schema(std::string_view name) const noexcept override;

 private:
  // The tests' check that every index agrees with what it indexes.
  friend struct StoreAudit;

  using SchemaId = std::uint32_t;

  // Which schemas declare a field name, and where each keeps its type name.
  struct Owner {
    SchemaId schema;
    std::uint32_t field;  // position in the schema's fields
  };

  // A field's type as last looked up, and the scope generation it was looked
  // up in. Every alias or schema that comes or goes starts a new generation,
  // so a type is looked up again only after something it may name changed,
  // not once per assignment.
  struct ResolvedField {
    std::uint64_t generation = 0;  // 0: never looked up
    std::uint32_t type = 0;  // position in named_types_
  };

  // The owners of one field name: nearly always one, kept in place, so that
  // declaring a field allocates nothing of its own.
  class OwnerList {
   public:
    // The type of the first owner's field, which is the one that checks the
    // key: kept here, so that checking a value reaches no schema. Any change
    // of owners starts a new generation, which drops it.
    ResolvedField resolved;

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    Owner& operator[](std::size_t i) noexcept { return i == 0 ? first_ : more_[i - 1]; }
    const Owner& operator[](std::size_t i) const noexcept { return i == 0 ? first_ : more_[i - 1]; }
    const Owner& front() const noexcept { return first_; }
    const Owner& back() const noexcept { return (*this)[size_ - 1]; }
    // Room for one more, so that the push_back after it cannot fail.
    void reserve_one_more();
    void push_back(Owner owner) noexcept;
    void pop_back() noexcept;

   private:
    Owner first_{};
    std::uint32_t size_ = 0;
    std::vector<Owner> more_;
  };

  struct SchemaSlot {
    std::string name;
    SchemaDef definition;
    bool live = false;
    std::uint64_t arrival = 0;  // which declaration this is, counting from 1
    // For each field of `definition`, in order: its place in the owner list
    // of that field name.
    struct Field {
      std::uint32_t owner_place = 0;
    };
    std::unique_ptr<Field[]> fields;
  };

  // A schema still to be checked for completeness, as it was when it arrived:
  // a slot reused by a later declaration does not answer for it.
  struct Unverified {
    SchemaId schema;
    std::uint64_t arrival;
  };

  std::optional<TypedKey> declared_field(std::string_view key);
  const FieldType& resolved_type(OwnerList& owners);
  std::uint32_t named_type(std::string_view type_name);
  void assign_indexed(std::string_view key, std::string_view value, std::uint64_t hash);
  void add_schema(std::string name, SchemaDef schema);
  SchemaDef remove_schema(SchemaId id) noexcept;
  bool unverified_is_current(const Unverified& entry) const noexcept;
  void forget_stale_unverified() noexcept;
  void index_value(std::uint32_t position) const;
  void index_value(std::uint32_t position, std::uint64_t hash) const;
  void unindex_value(std::uint32_t position, std::uint64_t hash) const noexcept;
  // The hash a chain head is indexed under: that of the value it holds.
  auto value_fragment_reader() const noexcept {
    return [this](std::size_t position) { return ProbeIndex::fragment_of(values_.hash(values_.value_at(position))); };
  }
  // Makes room in the reverse index for `count` more positions, so that
  // indexing them cannot fail half-way.
  void reserve_reverse(std::size_t count) const;
  void reserve_links(std::size_t positions) const;
  void build_reverse_index() const;

  Values values_;
  Registry<TypePtr> types_;
  // By id. A removed schema's slot is emptied and its id taken again by the
  // next schema, so that declaring one schema over and over holds one slot.
  std::vector<std::unique_ptr<SchemaSlot>> schemas_;
  std::vector<SchemaId> free_slots_;  // capacity kept at schemas_.size(): freeing never allocates
  Registry<SchemaId> schema_ids_;   // name -> id of the live schema
  // Keyed by a view of the name in the text of one of its owners, which
  // remove_schema moves to another owner before that text can go.
  FlatMap<std::string_view, OwnerList, SeededHash> field_owners_;
  std::vector<Unverified> unverified_;  // schemas not yet found complete, in arrival order
  std::size_t stale_unverified_ = 0;    // at most this many of them were replaced since
  std::uint64_t arrivals_ = 0;
  std::uint64_t scope_generation_ = 1;
  // What each type name means in the current generation, looked up once for
  // all the fields that name it; emptied when the generation changes.
  Registry<FieldType> named_types_;
  std::uint64_t named_types_generation_ = 0;

  // value -> the keys holding it, built by the first reverse lookup that needs
  // it and kept up to date by every later change. The index finds, for each
  // distinct value text, the first position of a chain that links every
  // position holding that text.
  static constexpr std::uint32_t kNoPosition = UINT32_MAX;
  mutable std::mutex reverse_build_;
  mutable std::atomic<bool> reverse_built_{false};
  mutable ProbeIndex reverse_heads_;
  mutable std::size_t reverse_head_count_ = 0;  // distinct values indexed
  mutable std::vector<std::uint32_t> reverse_next_;
  mutable std::vector<std::uint32_t> reverse_prev_;
};

// Assignments handed over in order and stored a few later. Storing a key
// in a large document mostly waits for its index slot to arrive from memory;
// hashing a few keys ahead and asking for their slots early lets those waits
// overlap. The store is reached only through settled(), which stores the
// queue first, so nothing can read or change the document past a queued
// assignment: it changes exactly in the order of the calls.
class StoreWriter {
 public:
  explicit StoreWriter(Store& store) noexcept : store_(store) {}
  StoreWriter(const StoreWriter&) = delete;
  StoreWriter& operator=(const StoreWriter&) = delete;
  // Whatever is still queued is stored, as far as memory allows: when it runs
  // out (the writer is then going away with an exception), the assignments
  // up to the one that could not be stored remain, as if it had failed first.
  ~StoreWriter();

  void assign(std::string_view key, std::string_view value) {
    const Store::Values& values = store_.values();
    if (count_ == 0 && values.index_fits_in_cache()) {
      // An index in cache answers at once; queueing would only add work.
      store_.assign(key, value, values.hash(key));
      return;
    }
    if (count_ == kDepth) store_oldest();
    const std::uint64_t hash = values.hash(key);
    values.prefetch(hash);
    queue_[(first_ + count_++) % kDepth] = Pending{key, value, hash};
  }

  // Declarations are no value a queued assignment could change, so reading
  // them needs no settling.
  std::optional<Store::TypedKey> schema_declaring(std::string_view key) { return store_.schema_declaring(key); }
  bool declares_fields() const noexcept { return store_.declares_fields(); }
  const FieldType* declared_type(std::string_view key) { return store_.declared_type(key); }
  const TypeScope& scope() const noexcept { return store_; }

  // The store with every queued assignment stored.
  Store& settled() {
    while (count_ > 0) store_oldest();
    return store_;
  }

 private:
  static constexpr std::size_t kDepth = 16;
  struct Pending {
    std::string_view key;
    std::string_view value;
    std::uint64_t hash;
  };

  void store_oldest() {
    const Pending& next = queue_[first_];
    try {
      store_.assign(next.key, next.value, next.hash);
    } catch (...) {
      count_ = 0;  // the later ones never came: the document keeps a prefix
      throw;
    }
    first_ = (first_ + 1) % kDepth;
    --count_;
  }

  Store& store_;
  Pending queue_[kDepth];
  std::size_t first_ = 0;
  std::size_t count_ = 0;
};

}  // namespace vyrl
