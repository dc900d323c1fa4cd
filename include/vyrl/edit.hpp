#pragma once

#include <string>
#include <string_view>

#include "vyrl/error.hpp"

namespace vyrl {

// Rewrites of a VYRL text that change nothing it means. Each reads the text
// with read_syntax (no file is opened, no type resolved), returns the whole
// new text, and checks it by reading it back before returning it.

// The one canonical layout: one space each side of an assignment's "=";
// trailing comments of consecutive assignments aligned two columns after the
// longest of them; comment lines and statements start in column 0, a block's
// inner lines are indented by two spaces and its closing "}" stands alone;
// at most one blank line in a row, none at the start or the end; no trailing
// white space; every line, the last included, ends with the text's first
// line end ("\n" when it has none). Values and arguments keep their bytes.
// A text with a line that loading would refuse fails with that line's error,
// its frame naming `source`; so does a text that is not UTF-8, at the line of
// its first bad byte. Formatting the result again changes nothing.
Result<std::string> format(std::string_view text, std::string_view source = "<text>");

// Gives the last assignment of `key` (the one that wins) the value `value`,
// written bare, in double or in single quotes, whichever reads back as
// exactly `value`; appends `key = value` when `key` has no assignment. Every
// other byte stays. Fails, changing nothing, for a key or value that no line
// can hold: an empty key, a line break, a key that starts with "@" or holds
// an "=" that would end it, a value that would begin a comment however it is
// quoted, or a key that only a byte-order mark before the first line tells
// from an assigned one. A text that is not UTF-8 or has a line that loading
// would refuse fails as format() fails for it.
Result<std::string> set_value(std::string_view text, std::string_view key, std::string_view value,
                              std::string_view source = "<text>");

// The line "key = value", without a line end, spelt as set_value spells a
// new line: the value bare, in double or in single quotes, whichever reads
// back as exactly `value`. Fails as set_value fails for what no line can
// hold. Lines made so, one per key, read back as the pairs they were made of.
Result<std::string> assignment_line(std::string_view key, std::string_view value);

// Removes every line that assigns `key`; NotFound when none does. A text
// that format() refuses, it refuses alike.
Result<std::string> delete_key(std::string_view text, std::string_view key, std::string_view source = "<text>");

}  // namespace vyrl
