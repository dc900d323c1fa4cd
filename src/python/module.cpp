// The vyr_rs extension module: the VYRL class over one document each.
//
// Every entry point follows the same order, which decides the error a bad call
// sees: argument count and names, receiver, owner thread, borrow, conversion,
// the core operation, release of the borrow, and only then the result.

#include <Python.h>

#include <exception>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "found_value/found_value.hpp"
#include "python/call_protocol.hpp"
#include "python/py_ref.hpp"
#include "types/list.hpp"
#include "vyrl/document.hpp"
#include "vyrl/file.hpp"

namespace vyrl::python {
namespace {

constexpr const char* kVersion = "1.4.0";
constexpr const char* kNotAModuleFormat = "vyr_rs can only be executed into a module, not into '%s'";
constexpr const char* kWrongReceiverFormat = "descriptor requires a 'VYRL' object but received '%s'";
constexpr const char* kAllNotAList = "vyr_rs.__all__ must be a list";

constexpr const char* kModuleDoc =
    "Python extension-module entry point of the VYRL configuration library; it exists only when the "
    "library is built with its Python option.\n"
    "\n"
    "In Python: `from vyr_rs import VYRL`";

constexpr const char* kClassDoc =
    "VYRL()\n--\n\n"
    "Python-facing wrapper around the VYRL parser: one document, filled from texts and files and "
    "queried by key, by value, as a list or as an inline object.\n"
    "\n"
    "All methods that can fail raise `RuntimeError` with a descriptive message.";

// --- The instance. ---

struct PyVYRL {
  PyObject ob_base;
  ThreadId owner;
  BorrowFlag borrow;
  VYRL document;
};

// Created on the first import and kept for the life of the process, so that
// static methods can make instances without a module at hand.
PyTypeObject* vyrl_type = nullptr;

// C++ failures (out of memory while copying text) must not unwind into the
// interpreter.
template <class Result, class Body>
Result guarded(Result on_error, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& error) {
    PyErr_SetString(PyExc_SystemError, error.what());
  }
  return on_error;
}

PyObject* wrap(VYRL&& document) {
  PyObject* object = vyrl_type->tp_alloc(vyrl_type, 0);
  if (object == nullptr) return nullptr;
  auto* self = reinterpret_cast<PyVYRL*>(object);
  self->owner = current_thread();
  new (&self->borrow) BorrowFlag();
  new (&self->document) VYRL(std::move(document));
  return object;
}

void raise_wrong_receiver(PyObject* self) {
  PyErr_Format(PyExc_TypeError, kWrongReceiverFormat, Py_TYPE(self)->tp_name);
}

// The receiver, thread and borrow checks of one call, holding the borrow until
// `finish()` or the end of the call.
class Entry {
 public:
  bool enter(PyObject* self, Access access) noexcept {
    if (Py_TYPE(self) != vyrl_type) {
      raise_wrong_receiver(self);
      return false;
    }
    self_ = reinterpret_cast<PyVYRL*>(self);
    if (self_->owner != current_thread()) {
      raise_foreign_call();
      return false;
    }
    return borrow_.take(self_->borrow, access);
  }
  const VYRL& document() const noexcept { return self_->document; }
  VYRL& mutable_document() noexcept { return self_->document; }
  void finish() noexcept { borrow_.end(); }

 private:
  PyVYRL* self_ = nullptr;
  Borrow borrow_;
};

// --- Results. ---

PyObject* new_str(std::string_view text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// The forward step of find_obj read in place: the stored text of `key`, or null
// when `key` is no key. Item access and `in` try it first, sparing the owned
// copy find_obj makes on their common path; on a miss they still ask find_obj,
// so the reverse fallback stays the core's.
const std::string* stored_value(const VYRL& document, std::string_view key) {
  const auto& values = document.values();
  const auto found = values.find(key);
  return found == values.end() ? nullptr : &found->second;
}

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

PyObject* dict_from_pairs(std::span<const PyRef> pairs) {
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict) return nullptr;
  for (std::size_t i = 0; i + 1 < pairs.size(); i += 2) {
    if (PyDict_SetItem(dict.get(), pairs[i].get(), pairs[i + 1].get()) < 0) return nullptr;
  }
  return dict.release();
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

PyObject* vyrl_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    if (!bind_no_arguments(kNewSignature, args, kwargs)) return nullptr;
    return wrap(VYRL());
  });
}

PyObject* vyrl_parse(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    PyObject* bound[1];
    if (!bind_arguments(kParseSignature, args, nargs, kwnames, bound)) return nullptr;
    const auto content = text_argument(kContentParameter[0], bound[0]);
    if (!content) return nullptr;
    VYRL document;
    if (auto merged = document.merge_content(*content); !merged) return to_py(merged.error());
    return wrap(std::move(document));
  });
}

PyObject* vyrl_load(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    PyObject* bound[1];
    if (!bind_arguments(kLoadSignature, args, nargs, kwnames, bound)) return nullptr;
    const auto path = text_argument(kPathParameter[0], bound[0]);
    if (!path) return nullptr;
    auto document = VYRL::load(*path);
    if (!document) return to_py(document.error());
    return wrap(std::move(*document));
  });
}

// --- Merging. ---

Status merge_text(VYRL& document, std::string_view content) { return document.merge_content(content); }

// The file is read whole before anything is merged, so a file that cannot be
// read leaves the document as it was.
Status merge_file_at(VYRL& document, std::string_view path) {
  auto text = read_text_file(path);
  if (!text) return fail(std::move(text.error()));
  return document.merge_content(*text);
}

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
  const auto items = ListType::parse_items(found.text());
  if (!items) Py_RETURN_NONE;
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(items->size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < items->size(); ++i) {
    PyObject* item = new_str((*items)[i]);
    if (item == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
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

// keys() and to_dict() turn the stored texts into str objects under the borrow
// and give it back before making the list or dict: that allocation may run the
// collector, and a finalizer it runs may use this document like any caller.
PyObject* vyrl_keys(PyObject* self, PyObject*) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    Entry entry;
    if (!entry.enter(self, Access::shared)) return nullptr;
    const auto& values = entry.document().values();
    std::vector<PyRef> keys;
    keys.reserve(values.size());
    for (const auto& [key, value] : values) {
      keys.push_back(PyRef::steal(new_str(key)));
      if (!keys.back()) return nullptr;
    }
    entry.finish();
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(keys.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < keys.size(); ++i) {
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), keys[i].release());
    }
    return list.release();
  });
}

PyObject* vyrl_to_dict(PyObject* self, PyObject*) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    Entry entry;
    if (!entry.enter(self, Access::shared)) return nullptr;
    const auto pairs = str_pairs(entry.document().values());
    entry.finish();
    return pairs ? dict_from_pairs(*pairs) : nullptr;
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
    const std::size_t count = entry.document().values().size();
    entry.finish();
    return PyUnicode_FromFormat("VYRL(%zu keys)", count);
  });
}

Py_ssize_t vyrl_length(PyObject* self) {
  return guarded<Py_ssize_t>(-1, [&]() -> Py_ssize_t {
    Entry entry;
    if (!entry.enter(self, Access::shared)) return -1;
    return static_cast<Py_ssize_t>(entry.document().values().size());
  });
}

int vyrl_contains(PyObject* self, PyObject* key_object) {
  return guarded<int>(-1, [&]() -> int {
    Entry entry;
    if (!entry.enter(self, Access::shared)) return -1;
    const auto key = text_argument(kKeyParameter[0], key_object);
    if (!key) return -1;
    if (stored_value(entry.document(), *key) != nullptr) return 1;
    return entry.document().find_obj(*key).has_value() ? 1 : 0;
  });
}

PyObject* vyrl_subscript(PyObject* self, PyObject* key_object) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    Entry entry;
    if (!entry.enter(self, Access::shared)) return nullptr;
    const auto key = text_argument(kKeyParameter[0], key_object);
    if (!key) return nullptr;
    // A str cannot run Python code while it is made, so holding the borrow a
    // moment longer is harmless.
    if (const std::string* value = stored_value(entry.document(), *key)) return new_str(*value);
    const auto found = entry.document().find_obj(*key);
    entry.finish();
    // Not a KeyError: a missing key reads like every other failure of the class.
    if (!found) return to_py(VyrlError::not_found(std::string(*key)));
    return new_str(found->text());
  });
}

void vyrl_dealloc(PyObject* object) {
  auto* self = reinterpret_cast<PyVYRL*>(object);
  PyTypeObject* type = Py_TYPE(object);
  if (self->owner == current_thread()) {
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

PyMethodDef vyrl_methods[] = {
    {"parse", VYRL_FASTCALL(vyrl_parse), kFastcall | METH_STATIC,
     "parse(content)\n--\n\n"
     "Parse an VYRL string and return a new instance.\n"
     "\n"
     "```python\n"
     "cfg = VYRL.parse(\"host = localhost\\nport = 8080\")\n"
     "```"},
    {"load", VYRL_FASTCALL(vyrl_load), kFastcall | METH_STATIC,
     "load(path)\n--\n\n"
     "Load an VYRL file from disk and return a new instance.\n"
     "\n"
     "```python\n"
     "cfg = VYRL.load(\"config.vyr\")\n"
     "```"},
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

#undef VYRL_FASTCALL

PyType_Slot vyrl_slots[] = {
    {Py_tp_doc, const_cast<char*>(kClassDoc)},
    {Py_tp_methods, vyrl_methods},
    {Py_tp_new, reinterpret_cast<void*>(vyrl_new)},
    {Py_tp_repr, reinterpret_cast<void*>(vyrl_repr)},
    {Py_mp_length, reinterpret_cast<void*>(vyrl_length)},
    {Py_sq_contains, reinterpret_cast<void*>(vyrl_contains)},
    {Py_mp_subscript, reinterpret_cast<void*>(vyrl_subscript)},
    {Py_tp_dealloc, reinterpret_cast<void*>(vyrl_dealloc)},
    {0, nullptr},
};

// No BASETYPE (final), no dict or weakref offsets, and not immutable. The
// dotted name is only how the interpreter learns __module__ (a bare name earns
// a DeprecationWarning at import); see create_vyrl_type for the bare one.
constexpr const char* kQualifiedTypeName = "vyr_rs.VYRL";
constexpr std::size_t kModulePrefixLength = std::string_view("vyr_rs.").size();
PyType_Spec vyrl_spec = {kQualifiedTypeName, sizeof(PyVYRL), 0, Py_TPFLAGS_DEFAULT, vyrl_slots};

PyTypeObject* create_vyrl_type() {
  auto* type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&vyrl_spec));
  if (type == nullptr) return nullptr;
  // The interpreter's own messages ("'VYRL' object is not iterable") quote
  // tp_name; they name the class as users write it. The pointer stays inside
  // the buffer the type owns, so nothing else changes hands.
  type->tp_name += kModulePrefixLength;
  return type;
}

// --- Module. ---

// Sets `name` on the module and lists it in __all__ (made on first use).
bool add_export(PyObject* module, const char* name, PyObject* value) {
  const PyRef all_name = PyRef::steal(PyUnicode_InternFromString("__all__"));
  if (!all_name) return false;
  PyRef all = PyRef::steal(PyObject_GetAttr(module, all_name.get()));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = PyRef::steal(PyList_New(0));
    if (!all || PyObject_SetAttr(module, all_name.get(), all.get()) < 0) return false;
  }
  if (!PyList_Check(all.get())) {
    PyErr_SetString(PyExc_TypeError, kAllNotAList);
    return false;
  }
  const PyRef py_name = PyRef::steal(PyUnicode_InternFromString(name));
  if (!py_name || PyList_Append(all.get(), py_name.get()) < 0) return false;
  return PyObject_SetAttr(module, py_name.get(), value) == 0;
}

bool register_module(PyObject* module) {
  if (vyrl_type == nullptr) {
    if (!create_panic_exception()) return false;
    vyrl_type = create_vyrl_type();
    if (vyrl_type == nullptr) return false;
  }
  if (!add_export(module, "VYRL", reinterpret_cast<PyObject*>(vyrl_type))) return false;
  const PyRef version = PyRef::steal(PyUnicode_FromString(kVersion));
  return version && add_export(module, "__version__", version.get());
}

int exec_module(PyObject* module) {
  if (!PyModule_Check(module)) {
    PyErr_Format(PyExc_TypeError, kNotAModuleFormat, Py_TYPE(module)->tp_name);
    return -1;
  }
  return guarded<int>(-1, [&] { return register_module(module) ? 0 : -1; });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
#ifdef Py_mod_gil
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "vyr_rs", kModuleDoc, 0, nullptr, module_slots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace vyrl::python

PyMODINIT_FUNC PyInit_vyr_rs(void) { return PyModuleDef_Init(&vyrl::python::module_def); }
