#include <algorithm>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

#include "model/recorder.hpp"
#include "types/families.hpp"
#include "types/list.hpp"
#include "types/math.hpp"
#include "types/physics.hpp"
#include "types/primitive_type.hpp"
#include "types/resolve.hpp"
#include "types/type_definition.hpp"
#include "vyrl/model.hpp"

namespace vyrl {
namespace detail {

// The lookups a finished model answers, built once when a load ends.
struct ModelIndex {
  std::once_flag keys_listed;
  std::vector<Model::Key> key_list;  // see Model::keys()
  std::once_flag keys_built;
  std::unordered_map<std::string_view, std::size_t> keys;     // -> position in keys_
  std::unordered_map<std::string_view, std::size_t> schemas;  // in effect -> position in schemas_
  std::unordered_map<std::string_view, std::size_t> aliases;
  std::unordered_map<std::string_view, std::uint32_t> files;  // the last file read at a path
  // Syntax trees, each built by the first reader that asks.
  std::vector<std::unique_ptr<SyntaxTree>> trees;
  std::unique_ptr<std::once_flag[]> built;
};

}  // namespace detail

Model::Model() : Model(SIZE_MAX) {}
Model::Model(std::size_t max_errors) : max_errors_(max_errors), index_(std::make_unique<detail::ModelIndex>()) {}
Model::Model(Model&&) noexcept = default;
Model& Model::operator=(Model&&) noexcept = default;
Model::~Model() = default;

void Model::clear() {
  // A model that never recorded, the usual one, is clear already.
  if (files_.empty() && statements_.empty() && errors_.empty()) return;
  *this = Model(max_errors_);
}

std::span<const Model::Key> Model::keys() const {
  std::call_once(index_->keys_listed, [this] {
    // In the order the winners were read: mark them, then walk the assignments once.
    std::vector<bool> wins(assignments_.size());
    std::size_t count = 0;
    for (const std::uint32_t winner : winners_) {
      if (winner == kNone) continue;
      wins[winner] = true;
      ++count;
    }
    std::vector<Key>& keys = index_->key_list;
    keys.reserve(count);
    for (std::size_t i = 0; i < wins.size(); ++i) {
      if (wins[i]) keys.push_back(Key{assignments_[i].key, i, std::nullopt});
    }
    for (const auto& [assignment, place] : derived_) {
      const auto key = std::ranges::lower_bound(keys, assignment, {}, &Key::winner);
      if (key != keys.end() && key->winner == assignment) key->derived_at = place;
    }
  });
  return index_->key_list;
}

const Model::Key* Model::key(std::string_view name) const {
  const std::span<const Key> all = keys();
  std::call_once(index_->keys_built, [&] {
    index_->keys.reserve(all.size());
    for (std::size_t i = 0; i < all.size(); ++i) index_->keys.emplace(all[i].name, i);
  });
  const auto found = index_->keys.find(name);
  return found == index_->keys.end() ? nullptr : &all[found->second];
}

std::vector<std::size_t> Model::replaced(const Key& key) const {
  std::vector<std::size_t> earlier;
  for (auto at = assignments_[key.winner].replaces; at != kNone; at = assignments_[at].replaces) earlier.push_back(at);
  std::ranges::reverse(earlier);
  return earlier;
}

const Model::Schema* Model::schema(std::string_view name) const noexcept {
  const auto found = index_->schemas.find(name);
  return found == index_->schemas.end() ? nullptr : &schemas_[found->second];
}

const Model::Alias* Model::alias(std::string_view name) const noexcept {
  const auto found = index_->aliases.find(name);
  return found == index_->aliases.end() ? nullptr : &aliases_[found->second];
}

const Model::File* Model::file(std::string_view path) const noexcept {
  const auto found = index_->files.find(path);
  return found == index_->files.end() ? nullptr : &files_[found->second];
}

const SyntaxTree& Model::syntax(std::uint32_t file) const {
  std::call_once(index_->built[file], [&] { index_->trees[file] = std::make_unique<SyntaxTree>(read_syntax(files_[file].text)); });
  return *index_->trees[file];
}

Model::Resolution Model::resolve(std::string_view type_name) const {
  Resolution resolution;
  // The order validation looks a name up in: an alias, a schema, then the
  // built-in types. An alias's definition names a built-in type only.
  std::string_view name = type_name;
  if (const auto found = index_->aliases.find(name); found != index_->aliases.end()) {
    resolution.aliases.push_back(found->second);
    name = aliases_[found->second].definition;
  } else if (index_->schemas.contains(name)) {
    resolution.ends = Resolution::Ends::schema;
    resolution.name = name;
    return resolution;
  }
  resolution.name = name;
  if (!resolve_builtin(name)) return resolution;
  resolution.ends = Resolution::Ends::builtin;
  if (const auto element = ListType::parse_inner(name)) {
    resolution.family = "list";
    resolution.element = *element;
  } else if (const TypeFamily* family = family_of(name)) {
    resolution.family = family->name;
    const std::string_view member = name.substr(family->prefix.size());
    if (family->prefix.empty()) {
      resolution.whole = member == PrimitiveType(PrimitiveType::Member::I32).name();
    } else if (family->name == "physics") {
      const auto unit = PhysicsTypes::from_name(member);
      resolution.whole = unit && unit->kind() == UnitKind::Integer;
    } else if (family->name == "math") {
      for (const MathMemberInfo& info : kMathMembers) {
        if (info.type_name == member) resolution.components = info.components;
      }
    }
  }
  return resolution;
}

std::string Model::describe(Place place) const {
  std::string text = files_[place.file].path;
  if (place.line != 0) {
    text.push_back(':');
    text.append(std::to_string(place.line));
  }
  return text;
}

std::string Model::describe_with_route(Place place) const {
  std::string text = describe(place);
  std::uint32_t file = place.file;
  while (const std::optional<Place> by = files_[file].read_by) {
    text += files_[file].origin == Frame::Origin::derived ? ", derived at " : ", imported at ";
    text += describe(*by);
    file = by->file;
  }
  return text;
}

namespace detail {

std::string_view ModelRecorder::add_file(std::string path, std::string text, Frame::Origin origin) {
  Model::File& file = model_.files_.emplace_back();
  file.path = std::move(path);
  file.text = std::move(text);
  file.origin = origin;
  if (!levels_.empty()) file.read_by = here();
  return file.text;
}

void ModelRecorder::add_unreadable_file(std::string path, Frame::Origin origin) {
  add_file(std::move(path), {}, origin);
  model_.files_.back().readable = false;
}

void ModelRecorder::enter(Store& store, Frame::Origin origin) {
  if (levels_.empty() && document_ == nullptr) {
    document_ = &store;
    seed(store);
  }
  levels_.push_back(Level{&state_of(store), static_cast<std::uint32_t>(model_.files_.size() - 1), origin});
}

// A model that already holds a document's loads, now merged into again: the
// keys and declarations in effect go on from where they were.
void ModelRecorder::seed(const Store& document) {
  StoreState& state = state_of(document);
  state.winners = model_.winners_;
  for (const auto& [assignment, place] : model_.derived_) derived_at_.emplace(assignment, place);
  for (const auto& [name, position] : model_.index_->schemas) state.schemas.emplace(name, position);
  for (const auto& [name, position] : model_.index_->aliases) state.aliases.emplace(name, position);
}

Model::Place ModelRecorder::here() const noexcept {
  const Level& level = levels_.back();
  if (level.statement == SIZE_MAX) return Place{level.file, 0};
  return model_.statements_[level.statement].place;
}

void ModelRecorder::begin_statement(Model::Statement::Kind kind, std::size_t line, std::size_t line_count) {
  Level& level = levels_.back();
  level.statement = model_.statements_.size();
  model_.statements_.push_back(Model::Statement{kind, Model::Statement::Outcome::applied,
                                                static_cast<std::uint32_t>(line_count),
                                                Place{level.file, static_cast<std::uint32_t>(line)}});
}

std::string_view ModelRecorder::keep(std::string_view text) {
  const std::string& file = model_.files_[levels_.back().file].text;
  const std::less<const char*> before;
  if (!before(text.data(), file.data()) && !before(file.data() + file.size(), text.data() + text.size())) return text;
  return model_.kept_.emplace_back(text);
}

bool ModelRecorder::follows_from_failed_declaration(const VyrlError& error) const {
  if (failed_names_.empty()) return false;
  const auto failed = [this](std::string_view name) { return !name.empty() && failed_names_.contains(std::string(name)); };
  if (failed(error.unknown_type())) return true;
  if (const auto* missing = std::get_if<VyrlError::NotFound>(&error.kind())) return failed(missing->name);
  if (const auto* invalid = std::get_if<VyrlError::InvalidType>(&error.kind())) return failed(invalid->type_name);
  if (const auto* field = std::get_if<VyrlError::SchemaValidationError>(&error.kind())) {
    return failed(field->type_name) || failed(field->schema);
  }
  return false;
}

bool ModelRecorder::record_error(VyrlError error, std::string_view failed_name) {
  ++error_events_;
  Model::Statement& statement = model_.statements_[levels_.back().statement];
  if (follows_from_failed_declaration(error)) {
    statement.outcome = Model::Statement::Outcome::followed;
    return true;
  }
  statement.outcome = Model::Statement::Outcome::failed;
  if (!failed_name.empty()) failed_names_.emplace(failed_name);
  if (model_.errors_.size() >= model_.max_errors_) {
    ++model_.errors_left_out_;
    full_ = true;
    return false;
  }
  for (auto level = levels_.rbegin(); level != levels_.rend(); ++level) {
    const std::size_t line = level->statement == SIZE_MAX ? 0 : model_.statements_[level->statement].place.line;
    error.add_outer_frame(Frame{model_.files_[level->file].path, line, level->origin});
  }
  model_.errors_.push_back(std::move(error));
  return true;
}

void ModelRecorder::record_file_error(VyrlError error) {
  ++error_events_;
  if (model_.errors_.size() >= model_.max_errors_) {
    ++model_.errors_left_out_;
    full_ = true;
    return;
  }
  model_.errors_.push_back(std::move(error));
}

void ModelRecorder::assigned(std::string_view key, std::string_view value, const std::optional<Store::TypedKey>& typed) {
  const std::size_t index = model_.assignments_.size();
  Model::Assignment& assignment = model_.assignments_.emplace_back();
  assignment.key = keep(key);
  assignment.value = keep(value);
  assignment.place = here();
  if (typed) assignment.typing = typing_of(*typed, key);
  (void)index;
}

// The field's type name is a view into its schema as stored, which stays put
// until a declaration replaces or takes the schema: until then it stands for
// the field, and finding the declaration again is a probe, not a walk.
std::uint32_t ModelRecorder::typing_of(const Store::TypedKey& typed, std::string_view key) {
  if (const auto known = typings_.find(typed.type_name.data()); known != typings_.end()) return known->second;
  const StoreState& state = *levels_.back().store;
  const auto schema = state.schemas.find(typed.schema);
  if (schema == state.schemas.end()) return Model::kNone;
  const Model::Schema& declaration = model_.schemas_[schema->second];
  const std::size_t field = field_position(schema->second, key);
  const auto position = static_cast<std::uint32_t>(model_.typings_.size());
  model_.typings_.push_back(Model::Typing{
      declaration.name, field == kNoField ? std::string_view() : declaration.fields[field].type_name, schema->second});
  typings_.emplace(typed.type_name.data(), position);
  return position;
}

void ModelRecorder::settle(const Store& store) {
  StoreState& state = *levels_.back().store;
  const Store::Values& values = store.values();
  state.winners.resize(values.size(), Model::kNone);
  // Probing for each key waits on memory in a large store; asking a few
  // keys ahead lets those waits overlap, as the store's own writer does.
  constexpr std::size_t kAhead = 8;
  const std::size_t end = model_.assignments_.size();
  const auto key_of = [this](std::size_t i) { return model_.assignments_[i].key; };
  for (std::size_t i = settled_; i < std::min(settled_ + kAhead, end); ++i) values.prefetch(values.hash(key_of(i)));
  for (std::size_t i = settled_; i < end; ++i) {
    if (i + kAhead < end) values.prefetch(values.hash(key_of(i + kAhead)));
    const std::size_t position = values.position_of(key_of(i));
    if (position >= state.winners.size()) continue;
    model_.assignments_[i].replaces = state.winners[position];
    state.winners[position] = static_cast<std::uint32_t>(i);
  }
  settled_ = end;
}

void ModelRecorder::expect(std::size_t lines) {
  model_.statements_.reserve(model_.statements_.size() + lines);
  model_.assignments_.reserve(model_.assignments_.size() + lines);
}

// A few fields are compared in turn; a schema of many gets an index by name,
// built the first time, so that neither declaring nor typing its keys is
// quadratic in its fields.
std::size_t ModelRecorder::field_position(std::size_t declaration, std::string_view name) {
  constexpr std::size_t kFewFields = 8;
  const std::vector<Model::Field>& fields = model_.schemas_[declaration].fields;
  const auto index = field_index_.find(declaration);
  if (index == field_index_.end()) {
    if (fields.size() <= kFewFields) {
      const auto found = std::ranges::find(fields, name, &Model::Field::name);
      return found == fields.end() ? kNoField : static_cast<std::size_t>(found - fields.begin());
    }
    auto& built = field_index_[declaration];
    for (std::size_t i = 0; i < fields.size(); ++i) built.emplace(fields[i].name, i);
    const auto found = built.find(name);
    return found == built.end() ? kNoField : found->second;
  }
  const auto found = index->second.find(name);
  return found == index->second.end() ? kNoField : found->second;
}

void ModelRecorder::declared_schema(const Store&, std::string_view name, std::span<const Model::Field> fields) {
  typings_.clear();
  StoreState& state = *levels_.back().store;
  Model::Schema& schema = model_.schemas_.emplace_back();
  schema.name = keep(name);
  schema.place = here();
  schema.fields.reserve(fields.size());
  const std::size_t position = model_.schemas_.size() - 1;
  for (const Model::Field& field : fields) {
    // A repeated field takes the later type and keeps an earlier optional mark, as the store does.
    if (const std::size_t earlier = field_position(position, field.name); earlier != kNoField) {
      Model::Field& kept = schema.fields[earlier];
      kept.type_name = keep(field.type_name);
      kept.optional = kept.optional || field.optional;
      continue;
    }
    schema.fields.push_back(Model::Field{keep(field.name), keep(field.type_name), field.optional});
    if (const auto index = field_index_.find(position); index != field_index_.end()) {
      index->second.emplace(schema.fields.back().name, schema.fields.size() - 1);
    }
  }
  if (const auto [entry, added] = state.schemas.try_emplace(schema.name, position); !added) {
    schema.replaces = entry->second;
    entry->second = position;
  }
  if (!failed_names_.empty()) failed_names_.erase(std::string(name));
}

void ModelRecorder::declared_alias(const Store&, std::string_view name, std::string_view definition) {
  StoreState& state = *levels_.back().store;
  Model::Alias& alias = model_.aliases_.emplace_back();
  alias.name = keep(name);
  alias.definition = keep(definition);
  alias.place = here();
  const std::size_t position = model_.aliases_.size() - 1;
  if (const auto [entry, added] = state.aliases.try_emplace(alias.name, position); !added) {
    alias.replaces = entry->second;
    entry->second = position;
  }
  if (!failed_names_.empty()) failed_names_.erase(std::string(name));
}

void ModelRecorder::read(Frame::Origin origin, std::string_view written, std::optional<std::uint32_t> file) {
  model_.reads_.push_back(Model::Read{here(), origin, keep(written), file});
}

// A @derive line takes a declaration over from its base, where the
// document has none of that name: the base no longer holds it either way.
template <class Declaration>
void ModelRecorder::take_over(std::unordered_map<std::string_view, std::size_t>& from,
                              std::unordered_map<std::string_view, std::size_t>& to,
                              std::vector<Declaration>& declarations, std::string_view name) {
  const auto found = from.find(name);
  if (found == from.end()) return;
  const std::size_t position = found->second;
  from.erase(found);
  if (to.try_emplace(declarations[position].name, position).second) declarations[position].derived_at = here();
}

void ModelRecorder::took_schema(const Store& into, const Store& base, std::string_view name) {
  typings_.clear();
  take_over(state_of(base).schemas, state_of(into).schemas, model_.schemas_, name);
}

void ModelRecorder::took_alias(const Store& into, const Store& base, std::string_view name) {
  take_over(state_of(base).aliases, state_of(into).aliases, model_.aliases_, name);
}

void ModelRecorder::taking_missing_values(const Store& into, const Store& base) {
  moving_.clear();
  for (const std::uint32_t winner : state_of(base).winners) {
    if (winner != Model::kNone && !into.values().contains(model_.assignments_[winner].key)) moving_.push_back(winner);
  }
}

void ModelRecorder::took_missing_values(const Store& into) {
  StoreState& to = state_of(into);
  to.winners.resize(into.values().size(), Model::kNone);
  const Place at = here();
  for (const std::uint32_t winner : moving_) {
    const std::size_t position = into.values().position_of(model_.assignments_[winner].key);
    if (position >= to.winners.size()) continue;
    to.winners[position] = winner;
    derived_at_.insert_or_assign(winner, at);
  }
  moving_.clear();
}

ModelRecorder::~ModelRecorder() {
  if (document_ == nullptr) return;
  StoreState& state = state_of(*document_);
  model_.winners_ = std::move(state.winners);
  model_.derived_.assign(derived_at_.begin(), derived_at_.end());
  std::ranges::sort(model_.derived_, {}, &std::pair<std::uint32_t, Place>::first);
  // A fresh index: answers about the model before this load are stale.
  auto index = std::make_unique<ModelIndex>();
  index->schemas.insert(state.schemas.begin(), state.schemas.end());
  index->aliases.insert(state.aliases.begin(), state.aliases.end());
  for (std::uint32_t i = 0; i < model_.files_.size(); ++i) index->files.insert_or_assign(model_.files_[i].path, i);
  index->trees.resize(model_.files_.size());
  index->built = std::make_unique<std::once_flag[]>(model_.files_.size());
  model_.index_ = std::move(index);
}

}  // namespace detail
}  // namespace vyrl
