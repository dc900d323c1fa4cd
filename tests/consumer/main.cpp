// Uses the installed headers the way an application would, and exits non-zero
// when anything differs from what the library promises.
#include <cstdio>
#include <string>
#include <string_view>
#include <variant>

#include <vyrl/vyrl.hpp>

namespace {

int failures = 0;

void expect(bool ok, std::string_view what) {
  if (!ok) {
    std::fprintf(stderr, "consumer: %.*s\n", static_cast<int>(what.size()), what.data());
    ++failures;
  }
}

}  // namespace

int main() {
  vyrl::VYRL config;
  const vyrl::Status merged = config.merge_content(
      "@type port = i32\n"
      "@schema Server { host: string, port: port, tint*: color }\n"
      "host = 'alpha'\n"
      "port = 8080\n"
      "db = { user = app, pool = 4 }\n");
  expect(merged.has_value(), "a valid text is refused");

  const auto port = config.find_obj("port");
  expect(port && port->text() == "8080", "port is not 8080");
  const auto key = config.find_key("alpha");
  expect(key && key->text() == "host", "the reverse lookup of alpha is not host");
  const auto db = config.find_obj("db");
  const auto fields = db ? db->as_object() : std::nullopt;
  expect(fields && fields->size() == 2 && fields->at("pool") == "4", "db does not read back as an object");

  // Failures are values: the message is everything a caller needs.
  const vyrl::Status bad = config.merge_content("port = fast");
  expect(!bad && bad.error().message() ==
                     "Schema 'Server' validation error: field 'port' (type 'port') — Invalid value: Expected i32, got 'fast'",
         "a mistyped port is not reported as expected");
  expect(config.validate_value("math::vector3", "1, 2.5, -3").has_value(), "a vector is refused");
  expect(config.validate_value("port", "http").error().message() ==
             "Invalid type 'port': Invalid value: Expected i32, got 'http'",
         "an alias does not validate as its definition");

  // The fields of an error are there for callers that want more than the text.
  const vyrl::Status unparsable = config.merge_content("a = 1\nno equals sign");
  const auto* parse = unparsable ? nullptr : std::get_if<vyrl::VyrlError::ParseError>(&unparsable.error().kind());
  expect(parse && parse->line == 2 && parse->line_text == "no equals sign", "a parse error does not carry its line");
  expect(config.size() == 4 && config.get("a") == "1", "the stored values are not as merged");
  std::size_t seen = 0;
  for (const auto& [key, value] : config.entries()) seen += !key.empty() && config.get(key) == value;
  expect(seen == 4, "the entries view does not match the lookups");

  const vyrl::Result<vyrl::VYRL> missing = vyrl::VYRL::load("no/such/file.vyr");
  expect(!missing && missing.error().is<vyrl::VyrlError::IoError>(), "loading a missing file does not fail with IoError");
  expect(!missing && missing.error().frames().size() == 1 && missing.error().frames()[0].source == "no/such/file.vyr",
         "an unreadable file is not named beside its error");
  expect(std::string_view(VYRL_VERSION) == vyrl::kVersion, "the version macro and constant differ");

  if (failures == 0) std::puts("consumer: ok");
  return failures == 0 ? 0 : 1;
}
