// The vyr_rs extension module: the VYRL class over one document each.
//
// Every entry point follows the same order, which decides the error a bad call
// sees: argument count and names, receiver, owner thread, borrow, conversion,
// the core operation, release of the borrow, and only then the result.

#include <Python.h>
#if PY_VERSION_HEX < 0x030C0000
#include <structmember.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <iterator>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "arguments.hpp"
#include "borrow.hpp"
#include "errors.hpp"
#include "module_state.hpp"
#include "ownership.hpp"
#include "guarded.hpp"
#include "py_ref.hpp"
#include "release_interpreter.hpp"
#include "vyrl/vyrl.hpp"

namespace vyrl::python {
namespace {

constexpr const char* kWrongReceiverFormat = "descriptor requires a 'VYRL' object but received '%s'";

constexpr const char* kClassDoc =
    "VYRL()\n--\n\n"
    "Python-facing wrapper around the VYRL parser: one document, filled from texts and files and "
    "queried by key, by value, as a list or as an inline object.\n"
    "\n"
    "All methods that can fail raise `RuntimeError` with a descriptive message.";

// --- The instance. ---

// Every stored text is valid UTF-8 already, and most are ASCII: those are
// copied into a str of the ASCII kind at once, without the decoder's second
// look at every byte.
bool is_ascii(std::string_view text) noexcept {
  std::uint64_t high = 0;
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + i, sizeof word);
    high |= word;
  }
  for (; i < text.size(); ++i) high |= static_cast<unsigned char>(text[i]);
  return (high & 0x8080808080808080ULL) == 0;
}

// The decoder hands out its cached objects for the empty and one-character
// texts; making those anew would only cost memory. It also names what is
// wrong with a text that is not UTF-8, which no stored text should be.
PyObject* decoded_str(std::string_view text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// One character of UTF-8 at `at`: its code point and how many bytes it takes,
// or a length of 0 for anything but the shortest form of a code point that is
// no surrogate.
struct CodePoint {
  Py_UCS4 value;
  unsigned length;
};

CodePoint read_code_point(const unsigned char* at, const unsigned char* end) noexcept {
  const unsigned lead = at[0];
  const auto follows = [&](std::ptrdiff_t count) {
    if (end - at <= count) return false;
    for (std::ptrdiff_t i = 1; i <= count; ++i) {
      if ((at[i] & 0xC0) != 0x80) return false;
    }
    return true;
  };
  if (lead < 0x80) return {lead, 1};
  if (lead < 0xC2) return {0, 0};
  if (lead < 0xE0) {
    if (!follows(1)) return {0, 0};
    return {(lead & 0x1F) << 6 | (at[1] & 0x3Fu), 2};
  }
  if (lead < 0xF0) {
    if (!follows(2)) return {0, 0};
    const Py_UCS4 value = (lead & 0x0F) << 12 | (at[1] & 0x3Fu) << 6 | (at[2] & 0x3Fu);
    if (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF)) return {0, 0};
    return {value, 3};
  }
  if (lead < 0xF5) {
    if (!follows(3)) return {0, 0};
    const Py_UCS4 value = (lead & 0x07) << 18 | (at[1] & 0x3Fu) << 12 | (at[2] & 0x3Fu) << 6 | (at[3] & 0x3Fu);
    if (value < 0x10000 || value > 0x10FFFF) return {0, 0};
    return {value, 4};
  }
  return {0, 0};
}

template <class Char>
void write_code_points(Char* out, const unsigned char* at, const unsigned char* end) noexcept {
  while (at < end) {
    if (*at < 0x80) {
      *out++ = *at++;
      continue;
    }
    const CodePoint point = read_code_point(at, end);
    *out++ = static_cast<Char>(point.value);
    at += point.length;
  }
}

// A text that is not all ASCII, decoded straight into a str of the width its
// widest character needs: the interpreter's decoder starts narrow, widens,
// and trims its result to size, a second allocation and copy for every str.
PyObject* new_wide_str(std::string_view text) {
  const auto* begin = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = begin + text.size();
  std::size_t count = 0;
  Py_UCS4 widest = 0;
  for (const unsigned char* at = begin; at < end; ++count) {
    if (*at < 0x80) {
      ++at;
      continue;
    }
    const CodePoint point = read_code_point(at, end);
    if (point.length == 0) return decoded_str(text);
    widest = std::max(widest, point.value);
    at += point.length;
  }
  if (count < 2) return decoded_str(text);
  PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(count), widest);
  if (str == nullptr) return nullptr;
  switch (PyUnicode_KIND(str)) {
    case PyUnicode_1BYTE_KIND:
      write_code_points(PyUnicode_1BYTE_DATA(str), begin, end);
      break;
    case PyUnicode_2BYTE_KIND:
      write_code_points(PyUnicode_2BYTE_DATA(str), begin, end);
      break;
    default:
      write_code_points(PyUnicode_4BYTE_DATA(str), begin, end);
      break;
  }
  return str;
}

PyObject* new_str(std::string_view text) {
  if (text.size() < 2) return decoded_str(text);
  if (!is_ascii(text)) return new_wide_str(text);
  PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(text.size()), 127);
  if (str != nullptr) std::memcpy(PyUnicode_DATA(str), text.data(), text.size());
  return str;
}

// The str made for each stored value that item access has returned, by the
// value's position, so that reading a key again hands back the same object
// instead of making a new one. A merge may change any value, so after one
// they are all forgotten; only the positions filled are visited, so a session
// of small merges between lookups stays cheap.
//
// A key read a second time is also kept, with its str, in a dict by the key.
// A str caches its own hash, so every later read is one probe of that dict,
// where the document would hash the key's bytes with its own seeded hash and
// compare them again: that was more than half of what a repeated doc[key]
// cost. A key read only once is left out: a pass over every key of a large
// document would pay for a dict as large as the document, and one probed in
// no useful order, for reads that never come. Only exact str keys go in,
// whose hashing and comparison never run Python code.
class ValueStrs {
 public:
  ValueStrs() = default;
  ValueStrs(const ValueStrs&) = delete;
  ValueStrs& operator=(const ValueStrs&) = delete;
  ~ValueStrs() {
    forget();
    Py_CLEAR(by_key_);
  }

  // A new reference to the str already made for `key`, or null, with no
  // exception set, when there is none.
  PyObject* find(PyObject* key) const noexcept {
    if (by_key_ == nullptr || !PyUnicode_CheckExact(key)) return nullptr;
#if PY_VERSION_HEX >= 0x030D0000
    PyObject* str = nullptr;
    // Hashing and comparing exact strs cannot fail, so neither can this.
    return PyDict_GetItemRef(by_key_, key, &str) > 0 ? str : nullptr;
#else
    PyObject* str = PyDict_GetItemWithError(by_key_, key);
    Py_XINCREF(str);
    return str;
#endif
  }

  // A new reference to the str of `text`, stored at `position`; from the
  // second read on, kept by `key` (the key as the caller gave it) as well.
  PyObject* get(std::size_t position, std::string_view text, PyObject* key) {
    if (position >= strs_.size()) strs_.resize(position + 1, nullptr);
    PyObject*& str = strs_[position];
    if (str == nullptr) {
      // Room to remember the position comes first: a str stored where
      // forget() cannot find it would outlive the value it was made from.
      if (filled_.size() == filled_.capacity()) filled_.reserve(std::max<std::size_t>(16, 2 * filled_.capacity()));
      PyObject* made = new_str(text);
      if (made == nullptr) return nullptr;
      str = made;
      filled_.push_back(position);
    } else if (PyUnicode_CheckExact(key)) {
      if (by_key_ == nullptr && (by_key_ = PyDict_New()) == nullptr) return nullptr;
      if (PyDict_SetItem(by_key_, key, str) < 0) return nullptr;
    }
    Py_INCREF(str);
    return str;
  }

  void forget() noexcept {
    if (by_key_ != nullptr) PyDict_Clear(by_key_);
    for (const std::size_t position : filled_) Py_CLEAR(strs_[position]);
    filled_.clear();
  }

 private:
  std::vector<PyObject*> strs_;
  std::vector<std::size_t> filled_;
  PyObject* by_key_ = nullptr;  // exact str key -> one of strs_
};

struct PyVYRL {
  PyObject ob_base;
  Owner owner;
  BorrowFlag borrow;
  VYRL document;
  ValueStrs value_strs;
};


Options document_options() {
  Options options;
  options.blocking_calls = &release_interpreter;
  return options;
}


PyObject* wrap(PyTypeObject* type, VYRL&& document) {
  // The class is neither collected nor variable-sized, and every field is
  // constructed below: the generic allocator's zeroing and size arithmetic
  // would only be paid for on every parse. tp_free (PyObject_Free) matches.
  PyVYRL* self = PyObject_New(PyVYRL, type);
  if (self == nullptr) return nullptr;
  PyObject* object = reinterpret_cast<PyObject*>(self);
  self->owner = Owner::current();
  new (&self->borrow) BorrowFlag();
  new (&self->document) VYRL(std::move(document));
  new (&self->value_strs) ValueStrs();
  return object;
}

void vyrl_dealloc(PyObject* object);

// Whether `object` is a VYRL of any interpreter. The class is final and every
// copy of it is made from vyrl_spec, so its deallocator tells it apart at the
// cost of one comparison; asking for the module by its definition, which walks
// the type's bases, is left to the case that fails, and answers the same.
bool is_vyrl(PyObject* object) noexcept {
  PyTypeObject* type = Py_TYPE(object);
  if (type->tp_dealloc == vyrl_dealloc) [[likely]] return true;
  if (PyType_GetModuleByDef(type, &module_def) != nullptr) return true;
  PyErr_Clear();
  return false;
}

// The receiver, thread and borrow checks of one call, holding the borrow until
// `finish()` or the end of the call.
class Entry {
 public:
  bool enter(PyObject* self, Access access) noexcept {
    if (!is_vyrl(self)) {
      PyErr_Format(PyExc_TypeError, kWrongReceiverFormat, Py_TYPE(self)->tp_name);
      return false;
    }
    self_ = reinterpret_cast<PyVYRL*>(self);
    if (!self_->owner.is_current()) {
      raise_foreign_call(state_of(Py_TYPE(self))->panic_exception);
      return false;
    }
    return borrow_.take(self_->borrow, access);
  }
  const VYRL& document() const noexcept { return self_->document; }
  // Only a merge changes the document, and it forgets the value strs.
  VYRL& mutable_document() noexcept {
    self_->value_strs.forget();
    return self_->document;
  }
  ValueStrs& value_strs() noexcept { return self_->value_strs; }
  void finish() noexcept { borrow_.end(); }

 private:
  PyVYRL* self_ = nullptr;
  Borrow borrow_;
};

// --- Results. ---

PyObject* status_result(const Status& status) {
  if (!status) return to_py(status.error());
  Py_RETURN_NONE;
}

// The texts of a map as str objects, each key followed by its value, or
// nothing with an exception set. Making a str never runs the collector, so
// this is safe under a borrow; making the dict that holds them is not.
template <class Map>
std::optional<std::vector<PyRef>> str_pairs(const Map& map) {
  std::vector<PyRef> pairs;
  pairs.reserve(2 * map.size());
  for (const auto& [key, value] : map) {
    pairs.push_back(PyRef::steal(new_str(key)));
    if (!pairs.back()) return std::nullopt;
    pairs.push_back(PyRef::steal(new_str(value)));
    if (!pairs.back()) return std::nullopt;
  }
  return pairs;
}

// A dict for `size` items, sized once where the interpreter offers it (every
// version from 3.11 to 3.14 does, 3.13's after it was briefly taken away)
// rather than grown and rehashed a dozen times on the way to a large
// document's size. Later interpreters get one that grows.
PyObject* new_dict(std::size_t size) {
#if PY_VERSION_HEX < 0x030F0000
  return _PyDict_NewPresized(static_cast<Py_ssize_t>(size));
#else
  (void)size;
  return PyDict_New();
#endif
}

PyObject* dict_from_pairs(std::span<const PyRef> pairs) {
  PyRef dict = PyRef::steal(new_dict(pairs.size() / 2));
  if (!dict) return nullptr;
  for (std::size_t i = 0; i + 1 < pairs.size(); i += 2) {
    if (PyDict_SetItem(dict.get(), pairs[i].get(), pairs[i + 1].get()) < 0) return nullptr;
  }
  return dict.release();
}

PyObject* list_from(std::vector<PyRef>& items) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(items.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < items.size(); ++i) {
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), items[i].release());
  }
  return list.release();
}

// --- Signatures. ---

constexpr const char* kContentParameter[] = {"content"};
constexpr const char* kPathParameter[] = {"path"};
constexpr const char* kKeyParameter[] = {"key"};
constexpr const char* kValueParameter[] = {"value"};
constexpr const char* kValidateParameters[] = {"type_name", "value"};

constexpr Signature kNewSignature{"VYRL.__new__()", {}};
constexpr Signature kParseSignature{"VYRL.parse()", kContentParameter};
constexpr Signature kLoadSignature{"VYRL.load()", kPathParameter};
constexpr Signature kMergeContentSignature{"VYRL.merge_content()", kContentParameter};
constexpr Signature kMergeFileSignature{"VYRL.merge_file()", kPathParameter};
constexpr Signature kFindObjSignature{"VYRL.find_obj()", kKeyParameter};
constexpr Signature kFindKeySignature{"VYRL.find_key()", kValueParameter};
constexpr Signature kFindDeepSignature{"VYRL.find_deep()", kKeyParameter};
constexpr Signature kFindListSignature{"VYRL.find_list()", kKeyParameter};
constexpr Signature kFindObjectSignature{"VYRL.find_object()", kKeyParameter};
constexpr Signature kValidateValueSignature{"VYRL.validate_value()", kValidateParameters};

// --- Constructors. ---

PyObject* vyrl_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    if (!bind_no_arguments(kNewSignature, args, kwargs)) return nullptr;
    return wrap(type, VYRL(document_options()));
  });
}

// A static method is called with its class as `self`.
PyTypeObject* class_of_static(PyObject* self) { return reinterpret_cast<PyTypeObject*>(self); }

using Make = Result<VYRL> (*)(std::string_view, const Options&);

// parse and load differ only in what their one argument names.
template <const Signature& kSignature, Make kMake>
PyObject* vyrl_make(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    PyObject* bound[1];
    if (!bind_arguments(kSignature, args, nargs, kwnames, bound)) return nullptr;
    const auto argument = text_argument(kSignature.parameters[0], bound[0]);
    if (!argument) return nullptr;
    auto document = kMake(*argument, document_options());
    if (!document) return to_py(document.error());
    return wrap(class_of_static(self), std::move(*document));
  });
}

// --- Merging. ---

Status merge_text(VYRL& document, std::string_view content) { return document.merge_content(content); }

// The file is read whole before anything is merged, so a file that cannot be
// read leaves the document as it was.
Status merge_file_at(VYRL& document, std::string_view path) { return document.merge_file(path); }

using Merge = Status (*)(VYRL&, std::string_view);

// merge_content and merge_file differ only in where the text comes from.
template <const Signature& kSignature, Merge kMerge>
PyObject* vyrl_merge(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    PyObject* bound[1];
    if (!bind_arguments(kSignature, args, nargs, kwnames, bound)) return nullptr;
    Entry entry;
    if (!entry.enter(self, Access::exclusive)) return nullptr;
    const auto argument = text_argument(kSignature.parameters[0], bound[0]);
    if (!argument) return nullptr;
    const Status merged = kMerge(entry.mutable_document(), *argument);
    entry.finish();
    return status_result(merged);
  });
}

// --- Lookups. ---

// How a found text is handed back: as it is, as a list literal's items, or as
// an inline object's fields. Text that is not the literal asked for gives None.
PyObject* found_as_str(const FoundValue& found) { return new_str(found.text()); }

PyObject* found_as_list(const FoundValue& found) {
  const auto items = found.as_list();
  if (!items) Py_RETURN_NONE;
  std::vector<PyRef> strs;
  strs.reserve(items->size());
  for (const std::string& item : *items) {
    strs.push_back(PyRef::steal(new_str(item)));
    if (!strs.back()) return nullptr;
  }
  return list_from(strs);
}

PyObject* found_as_dict(const FoundValue& found) {
  const auto fields = found.as_object();
  if (!fields) Py_RETURN_NONE;
  const auto pairs = str_pairs(*fields);
  return pairs ? dict_from_pairs(*pairs) : nullptr;
}

using Lookup = std::optional<FoundValue> (VYRL::*)(std::string_view) const;
using Conversion = PyObject* (*)(const FoundValue&);

// Every one-argument lookup method: find_obj, find_key, find_deep, find_list and
// find_object differ only in the core call, the parameter and the conversion.
// The lookup result is an owned copy, so the borrow ends before converting.
template <const Signature& kSignature, Lookup kLookup, Conversion kConvert>
PyObject* vyrl_lookup(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    PyObject* bound[1];
    if (!bind_arguments(kSignature, args, nargs, kwnames, bound)) return nullptr;
    Entry entry;
    if (!entry.enter(self, Access::shared)) return nullptr;
    const auto argument = text_argument(kSignature.parameters[0], bound[0]);
    if (!argument) return nullptr;
    const auto found = (entry.document().*kLookup)(*argument);
    entry.finish();
    if (!found) Py_RETURN_NONE;
    return kConvert(*found);
  });
}

// keys() turns the stored texts into str objects under the borrow and gives it
// back before making the list: that allocation may run the collector, and a
// finalizer it runs may use this document like any caller.
PyObject* vyrl_keys(PyObject* self, PyObject*) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    Entry entry;
    if (!entry.enter(self, Access::shared)) return nullptr;
    const Entries entries = entry.document().entries();
    std::vector<PyRef> keys;
    keys.reserve(entries.size());
    for (const auto [key, value] : entries) {
      keys.push_back(PyRef::steal(new_str(key)));
      if (!keys.back()) return nullptr;
    }
    entry.finish();
    return list_from(keys);
  });
}

// to_dict() makes its dict before it reads the document, for the same reason,
// and fills it in the same pass that makes the strs: storing a str under an
// exact str key runs no Python code and never the collector, so that is safe
// under the borrow, and no second array of every str is built and walked.
// A finalizer that changed the document while the dict was made is seen.
PyObject* vyrl_to_dict(PyObject* self, PyObject*) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    Entry entry;
    if (!entry.enter(self, Access::shared)) return nullptr;
    const std::size_t expected = entry.document().size();
    entry.finish();
    PyRef dict = PyRef::steal(new_dict(expected));
    if (!dict || !entry.enter(self, Access::shared)) return nullptr;
    for (const auto [key, value] : entry.document().entries()) {
      const PyRef key_str = PyRef::steal(new_str(key));
      if (!key_str) return nullptr;
      const PyRef value_str = PyRef::steal(new_str(value));
      if (!value_str || PyDict_SetItem(dict.get(), key_str.get(), value_str.get()) < 0) return nullptr;
    }
    entry.finish();
    return dict.release();
  });
}

PyObject* vyrl_validate_value(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    PyObject* bound[2];
    if (!bind_arguments(kValidateValueSignature, args, nargs, kwnames, bound)) return nullptr;
    Entry entry;
    if (!entry.enter(self, Access::shared)) return nullptr;
    const auto type_name = text_argument(kValidateParameters[0], bound[0]);
    if (!type_name) return nullptr;
    const auto value = text_argument(kValidateParameters[1], bound[1]);
    if (!value) return nullptr;
    const Status valid = entry.document().validate_value(*type_name, *value);
    entry.finish();
    return status_result(valid);
  });
}

// --- Slots. ---

PyObject* vyrl_repr(PyObject* self) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    Entry entry;
    if (!entry.enter(self, Access::shared)) return nullptr;
    const std::size_t count = entry.document().size();
    entry.finish();
    return PyUnicode_FromFormat("VYRL(%zu keys)", count);
  });
}

Py_ssize_t vyrl_length(PyObject* self) {
  return guarded<Py_ssize_t>(-1, [&]() -> Py_ssize_t {
    Entry entry;
    if (!entry.enter(self, Access::shared)) return -1;
    return static_cast<Py_ssize_t>(entry.document().size());
  });
}

int vyrl_contains(PyObject* self, PyObject* key_object) {
  return guarded<int>(-1, [&]() -> int {
    Entry entry;
    if (!entry.enter(self, Access::shared)) return -1;
    const auto key = text_argument(kKeyParameter[0], key_object);
    if (!key) return -1;
    if (entry.document().get(*key)) return 1;
    return entry.document().find_obj(*key).has_value() ? 1 : 0;
  });
}

// doc[key] for a key not read before, or not given as an exact str: the
// document's own lookup, then its reverse fallback. Kept apart so that a
// repeated read, below, stays a small function.
[[gnu::noinline]] PyObject* subscript_from_document(Entry& entry, PyObject* key_object) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    const auto key = text_argument(kKeyParameter[0], key_object);
    if (!key) return nullptr;
    // Making a str or storing it in a dict of strs cannot run Python code, so
    // holding the borrow a moment longer is harmless.
    if (const auto position = entry.document().find_position(*key)) {
      return entry.value_strs().get(*position, entry.document().entry(*position).second, key_object);
    }
    const auto found = entry.document().find_obj(*key);
    entry.finish();
    // Not a KeyError: a missing key reads like every other failure of the class.
    if (!found) return to_py(VyrlError::not_found(std::string(*key)));
    return new_str(found->text());
  });
}

PyObject* vyrl_subscript(PyObject* self, PyObject* key_object) {
  // Nothing before the slow path can throw.
  Entry entry;
  if (!entry.enter(self, Access::shared)) return nullptr;
  if (PyObject* known = entry.value_strs().find(key_object)) return known;
  return subscript_from_document(entry, key_object);
}

void vyrl_dealloc(PyObject* object) {
  auto* self = reinterpret_cast<PyVYRL*>(object);
  PyTypeObject* type = Py_TYPE(object);
  if (self->owner.is_current()) {
    self->value_strs.~ValueStrs();
    self->document.~VYRL();
    self->borrow.~BorrowFlag();
  } else {
    // The document may hold state the owner thread relies on being untouched
    // elsewhere; leaking it is the safe choice, the object memory is ours.
    report_foreign_drop(reinterpret_cast<PyObject*>(type));
  }
  type->tp_free(object);
  Py_DECREF(type);
}

// --- Tables. ---

constexpr int kFastcall = METH_FASTCALL | METH_KEYWORDS;

#define VYRL_FASTCALL(function) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function))

constexpr const char* kParseDoc =
    "parse(content)\n--\n\n"
    "Parse an VYRL string and return a new instance.\n"
    "\n"
    "```python\n"
    "cfg = VYRL.parse(\"host = localhost\\nport = 8080\")\n"
    "```";
constexpr const char* kLoadDoc =
    "load(path)\n--\n\n"
    "Load an VYRL file from disk and return a new instance.\n"
    "\n"
    "```python\n"
    "cfg = VYRL.load(\"config.vyr\")\n"
    "```";

PyMethodDef vyrl_methods[] = {
    {"parse", VYRL_FASTCALL((vyrl_make<kParseSignature, VYRL::parse>)), kFastcall | METH_STATIC, kParseDoc},
    {"load", VYRL_FASTCALL((vyrl_make<kLoadSignature, VYRL::load>)), kFastcall | METH_STATIC, kLoadDoc},
    {"merge_content", VYRL_FASTCALL((vyrl_merge<kMergeContentSignature, merge_text>)), kFastcall,
     "merge_content($self, content)\n--\n\n"
     "Merge VYRL text into this instance (modifies in-place)."},
    {"merge_file", VYRL_FASTCALL((vyrl_merge<kMergeFileSignature, merge_file_at>)), kFastcall,
     "merge_file($self, path)\n--\n\n"
     "Merge an VYRL file into this instance (modifies in-place)."},
    {"find_obj", VYRL_FASTCALL((vyrl_lookup<kFindObjSignature, &VYRL::find_obj, found_as_str>)), kFastcall,
     "find_obj($self, key)\n--\n\n"
     "Forward lookup: returns the value for `key`, or `None`.\n"
     "\n"
     "Also performs a reverse lookup (find key whose value equals `key`)\n"
     "when no direct key is found."},
    {"find_key", VYRL_FASTCALL((vyrl_lookup<kFindKeySignature, &VYRL::find_key, found_as_str>)), kFastcall,
     "find_key($self, value)\n--\n\n"
     "Reverse lookup: find the key whose value equals `value`, or `None`."},
    {"find_deep", VYRL_FASTCALL((vyrl_lookup<kFindDeepSignature, &VYRL::find_deep, found_as_str>)), kFastcall,
     "find_deep($self, key)\n--\n\n"
     "Deep lookup: follow key\u2192value\u2192key chains until a terminal or cycle."},
    {"find_list", VYRL_FASTCALL((vyrl_lookup<kFindListSignature, &VYRL::find_obj, found_as_list>)), kFastcall,
     "find_list($self, key)\n--\n\n"
     "Look up `key` and parse its value as a list `[a, b, c]`.\n"
     "\n"
     "Returns `None` if the key is absent or the value is not a list literal."},
    {"find_object", VYRL_FASTCALL((vyrl_lookup<kFindObjectSignature, &VYRL::find_obj, found_as_dict>)), kFastcall,
     "find_object($self, key)\n--\n\n"
     "Look up `key` and parse its value as an inline object `{ k = v, ... }`.\n"
     "\n"
     "Returns `None` if the key is absent or the value is not an object literal."},
    {"keys", vyrl_keys, METH_NOARGS,
     "keys($self)\n--\n\n"
     "Returns all keys stored in this instance."},
    {"to_dict", vyrl_to_dict, METH_NOARGS,
     "to_dict($self)\n--\n\n"
     "Returns a Python `dict` of all key-value pairs."},
    {"validate_value", VYRL_FASTCALL(vyrl_validate_value), kFastcall,
     "validate_value($self, type_name, value)\n--\n\n"
     "Validate `value` against a built-in or registered type name.\n"
     "\n"
     "Raises `RuntimeError` on validation failure."},
    {nullptr, nullptr, 0, nullptr},
};

// parse and load again, as functions bound to the class; see bind_static_methods.
PyMethodDef bound_static_methods[] = {
    {"parse", VYRL_FASTCALL((vyrl_make<kParseSignature, VYRL::parse>)), kFastcall, kParseDoc},
    {"load", VYRL_FASTCALL((vyrl_make<kLoadSignature, VYRL::load>)), kFastcall, kLoadDoc},
    {nullptr, nullptr, 0, nullptr},
};

#undef VYRL_FASTCALL

// The placeholder __module__ member; see create_vyrl_type in module.cpp.
#if PY_VERSION_HEX >= 0x030C0000
PyMemberDef vyrl_members[] = {{"__module__", Py_T_PYSSIZET, 0, Py_READONLY, nullptr}, {nullptr, 0, 0, 0, nullptr}};
#else
PyMemberDef vyrl_members[] = {{"__module__", T_PYSSIZET, 0, READONLY, nullptr}, {nullptr, 0, 0, 0, nullptr}};
#endif

PyType_Slot vyrl_slots[] = {
    {Py_tp_doc, const_cast<char*>(kClassDoc)},
    {Py_tp_members, vyrl_members},
    {Py_tp_methods, vyrl_methods},
    {Py_tp_new, reinterpret_cast<void*>(vyrl_new)},
    {Py_tp_repr, reinterpret_cast<void*>(vyrl_repr)},
    {Py_mp_length, reinterpret_cast<void*>(vyrl_length)},
    {Py_sq_contains, reinterpret_cast<void*>(vyrl_contains)},
    {Py_mp_subscript, reinterpret_cast<void*>(vyrl_subscript)},
    {Py_tp_dealloc, reinterpret_cast<void*>(vyrl_dealloc)},
    {0, nullptr},
};

}  // namespace

// No BASETYPE (final), no dict or weakref offsets, and not immutable.
PyType_Spec vyrl_spec = {"VYRL", sizeof(PyVYRL), 0, Py_TPFLAGS_DEFAULT, vyrl_slots};

// A static method is handed no class, yet parse and load must find the class
// of their own interpreter to make instances. So each is bound to its class
// like a method of it, and still stored as a staticmethod, which is how it is
// called: VYRL.parse(text).
bool bind_static_methods(PyTypeObject* type) {
  for (PyMethodDef* method = bound_static_methods; method->ml_name != nullptr; ++method) {
    const PyRef function = PyRef::steal(PyCFunction_NewEx(method, reinterpret_cast<PyObject*>(type), nullptr));
    if (!function) return false;
    const PyRef descriptor = PyRef::steal(PyStaticMethod_New(function.get()));
    if (!descriptor || PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), method->ml_name, descriptor.get()) < 0) {
      return false;
    }
  }
  return true;
}

}  // namespace vyrl::python
