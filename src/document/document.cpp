#include <memory>
#include <string>
#include <utility>

#include "document/internals.hpp"
#include "load/loader.hpp"
#include "types/validation.hpp"
#include "vyrl/document.hpp"
#include "vyrl/model.hpp"

namespace vyrl {

VYRL::VYRL() : state_(std::make_unique<detail::DocumentState>()) {}

// A new document starts its model afresh.
VYRL::VYRL(const Options& options) : VYRL() {
  state_->options = options;
  if (options.model != nullptr) options.model->clear();
}

VYRL::VYRL(VYRL&&) noexcept = default;
VYRL& VYRL::operator=(VYRL&&) noexcept = default;
VYRL::~VYRL() = default;

Result<VYRL> VYRL::parse(std::string_view text, const Options& options) {
  VYRL document(options);
  if (auto merged = document.merge_content(text); !merged) return fail(std::move(merged.error()));
  return document;
}

Result<VYRL> VYRL::load(std::string_view path, const Options& options) {
  VYRL document(options);
  if (auto merged = document.merge_file(path); !merged) return fail(std::move(merged.error()));
  return document;
}

Result<VYRL> VYRL::parse_as(std::string_view text, std::string_view path, const Options& options) {
  VYRL document(options);
  if (auto merged = Loader(document.state_->options).merge_file_text(document.state_->store, text, path); !merged) {
    return fail(std::move(merged.error()));
  }
  return document;
}

Result<VYRL> VYRL::load_standard_input(const Options& options) {
  VYRL document(options);
  if (auto merged = Loader(document.state_->options).merge_standard_input(document.state_->store); !merged) {
    return fail(std::move(merged.error()));
  }
  return document;
}

Status VYRL::merge_content(std::string_view text) {
  return Loader(state_->options).merge_text(state_->store, text, kTextSource, Frame::Origin::text);
}

Status VYRL::merge_file(std::string_view path) { return Loader(state_->options).merge_file(state_->store, path); }

std::optional<std::string_view> VYRL::get(std::string_view key) const { return state_->store.values().find(key); }

std::optional<std::size_t> VYRL::find_position(std::string_view key) const noexcept {
  const std::size_t position = state_->store.values().position_of(key);
  if (position == size()) return std::nullopt;
  return position;
}

Status VYRL::validate_value(std::string_view type_name, std::string_view value) const {
  return vyrl::validate_value(state_->store, type_name, value);
}

std::size_t VYRL::size() const noexcept { return state_->store.values().size(); }

Entry VYRL::entry_at(std::size_t index) const noexcept { return state_->store.values().at(index); }

const Options& VYRL::options() const noexcept { return state_->options; }

void VYRL::set_options(const Options& options) noexcept { state_->options = options; }

}  // namespace vyrl
