#include "vyrl/document.hpp"

#include <cstring>

#include "commands/builtin.hpp"
#include "vyrl/file.hpp"
#include "vyrl/parsing.hpp"
#include "vyrl/text.hpp"

namespace vyrl {
namespace {

// Average bytes per assignment assumed when pre-sizing `values` for a text.
constexpr std::size_t kBytesPerEntry = 40;

}  // namespace

VYRL::VYRL() {
  for (const CommandPtr& command : builtin_commands()) {
    commands_.insert_or_assign(std::string(command->name()), command);
  }
}

VYRL::~VYRL() = default;

Result<VYRL> VYRL::load(std::string_view path) {
  auto text = read_text_file(path);
  if (!text) return fail(std::move(text.error()));
  VYRL document;
  if (auto merged = document.merge_content(*text); !merged) return fail(std::move(merged.error()));
  return document;
}

void VYRL::register_type(std::string name, TypePtr definition) {
  types_.insert_or_assign(std::move(name), std::move(definition));
}

void VYRL::register_schema(std::string name, SchemaDef schema) {
  index_fields(name, schema);
  schemas_.insert_or_assign(std::move(name), std::move(schema));
}

Status VYRL::merge_content(std::string_view text) {
  values_.reserve(values_.size() + text.size() / kBytesPerEntry);

  std::string block;  // a directive block still waiting for its closing brace
  std::size_t block_line = 0;
  bool block_pending = false;
  BraceCount block_braces;

  const char* const begin = text.data();
  const char* const end = begin + text.size();
  std::size_t line_number = 0;
  for (const char* cursor = begin; cursor < end;) {
    const void* newline = std::memchr(cursor, '\n', static_cast<std::size_t>(end - cursor));
    const char* line_end = newline ? static_cast<const char*>(newline) : end;
    std::string_view line(cursor, static_cast<std::size_t>(line_end - cursor));
    cursor = newline ? line_end + 1 : end;
    if (newline && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++line_number;

    const std::string_view stripped = trim(strip_comment(line));
    if (!block_pending) {
      if (needs_accumulation(stripped)) {
        block.assign(stripped);
        block_braces = BraceCount{};
        block_braces.add(stripped);
        block_line = line_number;
        block_pending = true;
        continue;
      }
      if (auto done = process_stripped_line(stripped, line_number); !done) return done;
      continue;
    }
    block += ' ';
    block += stripped;
    block_braces.add(stripped);
    if (block_braces.closed()) {
      block_pending = false;
      if (auto done = process_stripped_line(trim(strip_comment(block)), block_line); !done) return done;
    }
  }
  if (block_pending) return process_stripped_line(trim(strip_comment(block)), block_line);
  return {};
}

Status VYRL::process_stripped_line(std::string_view line, std::size_t line_number) {
  if (line.empty()) return {};
  if (line.front() == '@') return run_directive(line, line_number);
  return store_assignment(line, line_number);
}

Status VYRL::run_directive(std::string_view line, std::size_t line_number) {
  const std::string_view rest = line.substr(1);
  const WhiteSpaceSplit split = split_at_white_space(rest);
  const std::string_view name = trim(split.before);
  if (name.empty()) return fail(VyrlError::parse(line_number, std::string(rest), "Empty directive"));
  const auto found = commands_.find(name);
  if (found == commands_.end()) {
    return fail(VyrlError::parse(line_number, std::string(rest), "Unknown directive: @" + std::string(name)));
  }
  // The handler may change the document (even its registries); keep it alive meanwhile.
  const CommandPtr command = found->second;
  return command->execute(*this, split.after);
}

Status VYRL::store_assignment(std::string_view line, std::size_t line_number) {
  const auto assignment = parse_assignment(line);
  if (!assignment) {
    return fail(VyrlError::parse(line_number, std::string(line), std::string(assignment.error())));
  }
  const auto [key, value] = *assignment;
  // When several schemas declare the key, which one checks it is left open; one is enough.
  if (const auto typed = schema_declaring(key)) {
    if (auto valid = validate_typed_field(typed->type_name, value, typed->schema, key); !valid) return valid;
  }
  // One probe for both cases: hashing the key is a large part of storing it.
  if (auto [entry, added] = values_.try_emplace(key, value); !added) entry->second.assign(value);
  return {};
}

void VYRL::index_fields(const std::string& schema_name, const SchemaDef& schema) {
  for (const auto& [field, type_name] : schema.fields) field_owners_.try_emplace(field, schema_name);
}

std::optional<VYRL::TypedKey> VYRL::schema_declaring(std::string_view key) {
  const auto owner = field_owners_.find(key);
  if (owner == field_owners_.end()) return std::nullopt;
  if (const auto schema = schemas_.find(owner->second); schema != schemas_.end()) {
    if (const auto field = schema->second.fields.find(key); field != schema->second.fields.end()) {
      return TypedKey{schema->first, field->second};
    }
  }
  // The schema this entry named was replaced by one without the field.
  for (const auto& [schema_name, schema] : schemas_) {
    if (const auto field = schema.fields.find(key); field != schema.fields.end()) {
      owner->second = schema_name;
      return TypedKey{schema_name, field->second};
    }
  }
  field_owners_.erase(owner);
  return std::nullopt;
}

}  // namespace vyrl
