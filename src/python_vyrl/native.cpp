// vyrl._native: the loading half of the vyrl package. One call loads a text
// or a file with a model and hands Python everything a Config needs at once,
// values already converted, so that the Python side only wraps dicts and the
// model never has to outlive the call.

#include <Python.h>

#include <charconv>
#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "literal/literal.hpp"
#include "guarded.hpp"
#include "py_ref.hpp"
#include "release_interpreter.hpp"
#include "text/ascii.hpp"
#include "text/text.hpp"
#include "vyrl/edit.hpp"
#include "vyrl/model.hpp"
#include "vyrl/version.hpp"
#include "vyrl/vyrl.hpp"

// Before 3.13 the interpreter lock alone keeps a critical section whole.
#if PY_VERSION_HEX < 0x030D0000
#define Py_BEGIN_CRITICAL_SECTION(object) {
#define Py_END_CRITICAL_SECTION() }
#endif

namespace vyrl::native {
namespace {

using python::PyRef;
using python::release_interpreter;

// Nested values deeper than loading itself accepts cannot have been loaded;
// this only keeps a value that was checked under another declaration of its
// schema from recursing without end.
constexpr int kMaxDepth = 512;


// Resolves the relative paths of @import and @derive lines against a
// directory other than the working one, as the tool's --root does.
class RootReader final : public FileReader {
 public:
  RootReader(std::string root, const Options& disk) : root_(std::move(root)), disk_(disk) {
    if (!root_.empty() && !root_.ends_with('/')) root_.push_back('/');
  }
  Result<std::string> read(std::string_view path) override {
    if (path.starts_with('/')) return read_file_from_disk(path, disk_);
    return read_file_from_disk(root_ + std::string(path), disk_);
  }

 private:
  std::string root_;
  Options disk_;
};

PyRef text(std::string_view view) {
  return PyRef::steal(PyUnicode_DecodeUTF8(view.data(), static_cast<Py_ssize_t>(view.size()), "replace"));
}

PyRef optional_text(std::optional<std::string_view> view) {
  if (!view) return PyRef::borrow(Py_None);
  return text(*view);
}

// The numbers of values that loading has already checked: these only turn
// accepted text into a Python number, and give nothing (no exception) for a
// text they cannot, so the caller keeps the text instead.
PyRef whole_number(std::string_view digits) {
  if (digits.starts_with('+')) digits.remove_prefix(1);
  long long number = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (error != std::errc() || end != digits.data() + digits.size()) return {};
  return PyRef::steal(PyLong_FromLongLong(number));
}

PyRef real_number(std::string_view digits) {
  // Locale-independent, and it reads inf, infinity and nan in any case and
  // reads a magnitude too large as infinity, as the language's numbers do.
  const std::string terminated(digits);
  char* end = nullptr;
  const double number = PyOS_string_to_double(terminated.c_str(), &end, nullptr);
  if (number == -1.0 && PyErr_Occurred() != nullptr) {
    PyErr_Clear();
    return {};
  }
  if (end != terminated.c_str() + terminated.size()) return {};
  return PyRef::steal(PyFloat_FromDouble(number));
}

class Converter {
 public:
  explicit Converter(const Model& model) : model_(model) {}

  const Model::Resolution& resolution(std::string_view type_name) {
    auto found = cache_.find(type_name);
    if (found == cache_.end()) found = cache_.emplace(type_name, model_.resolve(type_name)).first;
    return found->second;
  }

  // A new reference to `value` as its type gives it one meaning, else to the
  // text itself; null only with an exception set.
  PyRef convert(std::string_view type_name, std::string_view value, int depth = 0) {
    PyRef converted = depth < kMaxDepth ? typed(resolution(type_name), value, depth) : PyRef();
    if (converted || PyErr_Occurred() != nullptr) return converted;
    return text(value);
  }

 private:
  PyRef typed(const Model::Resolution& type, std::string_view value, int depth) {
    if (type.ends == Model::Resolution::Ends::schema) {
      const Model::Schema* schema = model_.schema(type.name);
      return schema != nullptr ? object(*schema, value, depth) : PyRef();
    }
    if (type.ends != Model::Resolution::Ends::builtin) return {};
    const std::string_view family = type.family;
    if (family == "list") return list(type.element, value, depth);
    if (family == "math") return numbers(value, type.components);
    if (type.whole) return whole_number(value);
    if (family == "physics") return real_number(value);
    if (family == "time") {
      // A datetime's text after its date, and whether a bare duration counts
      // seconds or anything else, are the writer's business: kept as text.
      if (type.name == "time::datetime" || type.name == "time::duration") return {};
      return real_number(value);
    }
    if (type.name == "f64") return real_number(value);
    if (type.name == "bool") {
      const bool yes = value == "1" || equals_ignoring_ascii_case(value, "true");
      return PyRef::borrow(yes ? Py_True : Py_False);
    }
    return {};  // string and color: the text is the value
  }

  PyRef list(std::string_view element, std::string_view value, int depth) {
    const auto body = wrapped_body(value, '[', ']');
    if (!body) return {};
    PyRef items = PyRef::steal(PyList_New(0));
    if (!items) return {};
    const bool complete = for_each_list_item(*body, [&](std::string_view item) {
      const PyRef converted = convert(element, item, depth + 1);
      return converted && PyList_Append(items.get(), converted.get()) == 0;
    });
    if (!complete) return {};
    return items;
  }

  PyRef numbers(std::string_view value, std::size_t components) {
    PyRef row = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(components)));
    if (!row) return {};
    std::size_t count = 0;
    for (std::size_t start = 0;; ++count) {
      const std::size_t comma = value.find(',', start);
      if (count == components) return {};
      PyRef number = real_number(trim(value.substr(start, comma - start)));
      if (!number) return {};
      PyTuple_SET_ITEM(row.get(), static_cast<Py_ssize_t>(count), number.release());
      if (comma == std::string_view::npos) break;
      start = comma + 1;
    }
    if (count + 1 != components) return {};
    return row;
  }

  // The fields the schema declares, in its order, each as its own type gives
  // it; fields it does not declare are left to raw().
  PyRef object(const Model::Schema& schema, std::string_view value, int depth) {
    const auto pairs = parse_inline_object_views(value);
    if (!pairs) return {};
    PyRef fields = PyRef::steal(PyDict_New());
    if (!fields) return {};
    for (const Model::Field& field : schema.fields) {
      const FieldSplit* written = nullptr;  // a later field of the same name wins, as in checking
      for (const FieldSplit& pair : *pairs) {
        if (pair.key == field.name) written = &pair;
      }
      if (written == nullptr) continue;
      const PyRef name = text(field.name);
      const PyRef converted = convert(field.type_name, written->value, depth + 1);
      if (!name || !converted || PyDict_SetItem(fields.get(), name.get(), converted.get()) < 0) return {};
    }
    return fields;
  }

  const Model& model_;
  std::unordered_map<std::string_view, Model::Resolution> cache_;
};

const char* origin_name(Frame::Origin origin) {
  switch (origin) {
    case Frame::Origin::text:
      return "text";
    case Frame::Origin::file:
      return "file";
    case Frame::Origin::imported:
      return "imported";
    case Frame::Origin::derived:
      return "derived";
  }
  return "text";
}

// (False, kind, message, frames, os_error, key): what vyrl.VyrlError is made
// of. Frames are (source, line, origin), outermost first.
PyObject* failure(const VyrlError& error, std::optional<std::string_view> key = std::nullopt,
                  std::optional<std::string_view> variable = std::nullopt) {
  // A signal handler that raised while a file was read ended the load; its
  // exception is the one to see.
  if (PyErr_Occurred() != nullptr) return nullptr;
  PyRef frames;
  if (variable) {
    const PyRef name = text(*variable);
    if (!name) return nullptr;
    frames = PyRef::steal(Py_BuildValue("((Ois))", name.get(), 0, "environment"));
  } else {
    frames = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(error.frames().size())));
    if (!frames) return nullptr;
    Py_ssize_t index = 0;
    for (const Frame& frame : error.frames()) {
      const PyRef source = text(frame.source);
      if (!source) return nullptr;
      PyObject* item = Py_BuildValue("(Ons)", source.get(), static_cast<Py_ssize_t>(frame.line),
                                     origin_name(frame.origin));
      if (item == nullptr) return nullptr;
      PyTuple_SET_ITEM(frames.get(), index++, item);
    }
  }
  if (!frames) return nullptr;
  int os_error = 0;
  if (const auto* io = std::get_if<VyrlError::IoError>(&error.kind())) os_error = io->os_error;
  if (!key) {
    if (const auto* field = std::get_if<VyrlError::SchemaValidationError>(&error.kind())) key = field->field;
  }
  const PyRef message = text(error.message());
  const PyRef key_text = optional_text(key);
  if (!message || !key_text) return nullptr;
  return Py_BuildValue("(OsOOiO)", Py_False, error.kind_name(), message.get(), frames.get(), os_error,
                       key_text.get());
}

std::optional<std::string_view> str_argument(PyObject* argument) {
  if (argument == Py_None) return std::nullopt;
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(argument, &size);
  if (data == nullptr) return std::nullopt;
  return std::string_view(data, static_cast<std::size_t>(size));
}

// The variable that stands for `key`: the prefix, then the key upper-cased
// with each character other than an ASCII letter, digit or "_" written "_".
std::string variable_for(std::string_view prefix, std::string_view key) {
  std::string name(prefix);
  for (const char c : key) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) == 0x80) continue;  // one "_" per character, not per byte
    if (byte >= 'a' && byte <= 'z') {
      name.push_back(static_cast<char>(byte - 'a' + 'A'));
    } else if ((byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') || byte == '_') {
      name.push_back(c);
    } else {
      name.push_back('_');
    }
  }
  return name;
}

struct Override {
  std::string variable;
  std::string_view key;
  std::string value;
  std::uint32_t first_file = 0;  // the model's files read for it: [first_file, end_file)
  std::uint32_t end_file = 0;
};

// Each variable that names a key, in the order of the keys. A variable that
// two keys share is refused: which of them it was meant for is a guess.
std::optional<std::vector<Override>> find_overrides(const Model& model, PyObject* environment,
                                                    std::string_view prefix, PyObject** refused) {
  std::vector<Override> found;
  std::unordered_map<std::string, std::string_view> claimed;
  for (const Model::Key& key : model.keys()) {
    std::string variable = variable_for(prefix, key.name);
    const PyRef name = text(variable);
    if (!name) return std::nullopt;
    PyObject* value = PyDict_GetItemWithError(environment, name.get());  // borrowed
    if (value == nullptr) {
      if (PyErr_Occurred() != nullptr) return std::nullopt;
      continue;
    }
    const auto [earlier, fresh] = claimed.emplace(variable, key.name);
    if (!fresh) {
      const VyrlError error = VyrlError::invalid_value("Environment variable '" + variable + "' matches two keys: '" +
                                                       excerpt(earlier->second) + "' and '" + excerpt(key.name) +
                                                       "'");
      *refused = failure(error, key.name, "$" + variable);
      return std::nullopt;
    }
    const auto content = str_argument(value);
    if (!content) {
      if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "environment values must be str");
      return std::nullopt;
    }
    found.push_back(Override{std::move(variable), key.name, std::string(*content)});
  }
  return found;
}

// What a load leaves for the Config's questions asked later (raw text, where,
// type, schemas): the model and the document, never changed once made, so
// any number of threads may ask at once. Answers are made on demand rather
// than up front, because most programs ask for few of them and a load would
// otherwise pay for them all.
struct Loaded {
  PyObject_HEAD
  Model model;
  VYRL document;
  std::vector<std::string> labels;  // per file of the model: "$VARIABLE" for an override, else empty
  // The typed values, made by the first values() call: a Config that is
  // only asked for a few keys, or handed on, never pays for the others.
  PyObject* values;
};

PyTypeObject* loaded_type(PyObject* module) { return *static_cast<PyTypeObject**>(PyModule_GetState(module)); }

Loaded* as_loaded(PyObject* self) { return reinterpret_cast<Loaded*>(self); }

void loaded_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  Loaded* loaded = as_loaded(self);
  Py_XDECREF(loaded->values);
  loaded->labels.~vector();
  loaded->document.~VYRL();
  loaded->model.~Model();
  type->tp_free(self);
  Py_DECREF(type);
}

// The key's model entry, or null with KeyError set.
const Model::Key* key_of(const Loaded* loaded, PyObject* key) {
  const auto name = PyUnicode_Check(key) ? str_argument(key) : std::nullopt;
  if (name) {
    if (const Model::Key* found = loaded->model.key(*name); found != nullptr && loaded->document.get(*name)) {
      return found;
    }
  }
  if (!PyErr_Occurred()) PyErr_SetObject(PyExc_KeyError, key);
  return nullptr;
}

template <class Body>
PyObject* guarded(Body&& body) noexcept {
  return python::guarded<PyObject*>(nullptr, std::forward<Body>(body));
}

PyObject* file_text(const Loaded* loaded, std::uint32_t file) {
  const std::string& label = loaded->labels[file];
  return text(label.empty() ? std::string_view(loaded->model.files()[file].path) : std::string_view(label)).release();
}

// raw(key) -> str: the value as the document stores it.
PyObject* loaded_raw(PyObject* self, PyObject* key) {
  return guarded([&]() -> PyObject* {
    const Loaded* loaded = as_loaded(self);
    if (key_of(loaded, key) == nullptr) return nullptr;
    return text(*loaded->document.get(*str_argument(key))).release();
  });
}

// where(key) -> (file, line): the winning assignment; line 0 for an override.
PyObject* loaded_where(PyObject* self, PyObject* key) {
  return guarded([&]() -> PyObject* {
    const Loaded* loaded = as_loaded(self);
    const Model::Key* found = key_of(loaded, key);
    if (found == nullptr) return nullptr;
    const Model::Place place = loaded->model.winner(*found).place;
    const PyRef file = PyRef::steal(file_text(loaded, place.file));
    if (!file) return nullptr;
    const std::size_t line = loaded->labels[place.file].empty() ? place.line : 0;
    return Py_BuildValue("(On)", file.get(), static_cast<Py_ssize_t>(line));
  });
}

// typing(key) -> None | (declared, schema, ends, name, family or None, (alias, ...))
PyObject* loaded_typing(PyObject* self, PyObject* key) {
  return guarded([&]() -> PyObject* {
    const Loaded* loaded = as_loaded(self);
    const Model::Key* found = key_of(loaded, key);
    if (found == nullptr) return nullptr;
    const vyrl::Model::Typing* typing = loaded->model.typing(loaded->model.winner(*found));
    if (!typing) Py_RETURN_NONE;
    const Model::Resolution resolved = loaded->model.resolve(typing->type_name);
    PyRef aliases = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(resolved.aliases.size())));
    if (!aliases) return nullptr;
    for (std::size_t i = 0; i < resolved.aliases.size(); ++i) {
      PyRef alias = text(loaded->model.aliases()[resolved.aliases[i]].name);
      if (!alias) return nullptr;
      PyTuple_SET_ITEM(aliases.get(), static_cast<Py_ssize_t>(i), alias.release());
    }
    static constexpr const char* kEnds[] = {"builtin", "schema", "unknown", "cycle"};
    const PyRef declared = text(typing->type_name);
    const PyRef schema = text(typing->schema);
    const PyRef name = text(resolved.name);
    const PyRef family = resolved.family.empty() ? PyRef::borrow(Py_None) : text(resolved.family);
    if (!declared || !schema || !name || !family) return nullptr;
    return Py_BuildValue("(OOsOOO)", declared.get(), schema.get(), kEnds[static_cast<int>(resolved.ends)], name.get(),
                         family.get(), aliases.get());
  });
}

// schemas() -> ((name, file, line, ((field, type, optional), ...)), ...): those in effect.
PyObject* loaded_schemas(PyObject* self, PyObject* /*unused*/) {
  return guarded([&]() -> PyObject* {
    const Loaded* loaded = as_loaded(self);
    const Model& model = loaded->model;
    PyRef schemas = PyRef::steal(PyList_New(0));
    if (!schemas) return nullptr;
    for (const Model::Schema& schema : model.schemas()) {
      if (model.schema(schema.name) != &schema) continue;
      PyRef fields = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(schema.fields.size())));
      if (!fields) return nullptr;
      for (std::size_t i = 0; i < schema.fields.size(); ++i) {
        const Model::Field& field = schema.fields[i];
        const PyRef field_name = text(field.name);
        const PyRef field_type = text(field.type_name);
        if (!field_name || !field_type) return nullptr;
        PyObject* item =
            Py_BuildValue("(OOO)", field_name.get(), field_type.get(), field.optional ? Py_True : Py_False);
        if (item == nullptr) return nullptr;
        PyTuple_SET_ITEM(fields.get(), static_cast<Py_ssize_t>(i), item);
      }
      const PyRef name = text(schema.name);
      const PyRef file = PyRef::steal(file_text(loaded, schema.place.file));
      if (!name || !file) return nullptr;
      const PyRef entry = PyRef::steal(
          Py_BuildValue("(OOnO)", name.get(), file.get(), static_cast<Py_ssize_t>(schema.place.line), fields.get()));
      if (!entry || PyList_Append(schemas.get(), entry.get()) < 0) return nullptr;
    }
    return PyList_AsTuple(schemas.get());
  });
}

// {key: converted value}, in the order the winning assignments were read.
PyObject* convert_values(const Loaded& loaded) {
  PyRef values = PyRef::steal(PyDict_New());
  if (!values) return nullptr;
  const Model& model = loaded.model;
  Converter converter(model);
  for (const Model::Key& key : model.keys()) {
    const auto raw = loaded.document.get(key.name);
    if (!raw) continue;  // a key the model saw but the document does not hold
    const Model::Typing* typing = model.typing(model.winner(key));
    const PyRef name = text(key.name);
    const PyRef value = typing != nullptr ? converter.convert(typing->type_name, *raw) : text(*raw);
    if (!name || !value || PyDict_SetItem(values.get(), name.get(), value.get()) < 0) return nullptr;
  }
  return values.release();
}

// values() -> dict, made once: threads that ask at once get the same one.
PyObject* loaded_values(PyObject* self, PyObject* /*unused*/) {
  Loaded* loaded = as_loaded(self);
  PyObject* result = nullptr;
  Py_BEGIN_CRITICAL_SECTION(self);
  if (loaded->values == nullptr) loaded->values = convert_values(*loaded);
  result = Py_XNewRef(loaded->values);
  Py_END_CRITICAL_SECTION();
  return result;
}

PyMethodDef loaded_methods[] = {
    {"values", loaded_values, METH_NOARGS, "values() -> dict"},
    {"raw", loaded_raw, METH_O, "raw(key) -> str"},
    {"where", loaded_where, METH_O, "where(key) -> (file, line)"},
    {"typing", loaded_typing, METH_O, "typing(key) -> tuple or None"},
    {"schemas", loaded_schemas, METH_NOARGS, "schemas() -> tuple"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot loaded_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(loaded_dealloc)},
    {Py_tp_methods, loaded_methods},
    {Py_tp_doc, const_cast<char*>("What a load left for a Config to ask later; made by load() only.")},
    {0, nullptr},
};

PyType_Spec loaded_spec = {
    "vyrl._native.Loaded",
    sizeof(Loaded),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    loaded_slots,
};

// (True, loaded); loaded.values() gives the converted values.
PyObject* success(PyTypeObject* type, VYRL&& document, Model&& model, const std::vector<Override>& overrides) {
  PyRef handle = PyRef::steal(type->tp_alloc(type, 0));
  if (!handle) return nullptr;
  Loaded* loaded = as_loaded(handle.get());
  // Until every member is made, the deallocator must not run their destructors.
  new (&loaded->model) Model(std::move(model));
  new (&loaded->document) VYRL(std::move(document));
  new (&loaded->labels) std::vector<std::string>(loaded->model.files().size());
  loaded->values = nullptr;
  for (const Override& applied : overrides) {
    for (std::uint32_t file = applied.first_file; file < applied.end_file && file < loaded->labels.size(); ++file) {
      loaded->labels[file] = "$" + applied.variable;
    }
  }
  return Py_BuildValue("(OO)", Py_True, handle.get());
}

PyObject* load_now(PyObject* module, PyObject* const* args) {
  const auto path = str_argument(args[0]);
  if (!path && PyErr_Occurred()) return nullptr;
  const auto content = str_argument(args[1]);
  if (!content && PyErr_Occurred()) return nullptr;
  const auto source = str_argument(args[2]);
  if (!source && PyErr_Occurred()) return nullptr;
  const auto root = str_argument(args[3]);
  if (!root && PyErr_Occurred()) return nullptr;
  PyObject* environment = args[4];
  const auto prefix = str_argument(args[5]);
  if (!prefix && PyErr_Occurred()) return nullptr;
  if (environment != Py_None && !PyDict_Check(environment)) {
    PyErr_SetString(PyExc_TypeError, "environment must be a dict or None");
    return nullptr;
  }

  Model model;
  Options options;
  options.blocking_calls = &release_interpreter;
  std::optional<RootReader> reader;
  if (root) {
    reader.emplace(std::string(*root), options);
    options.file_reader = &*reader;
  }
  options.model = &model;

  Result<VYRL> loaded = path ? VYRL::load(*path, options)
                        : source ? VYRL::parse_as(content.value_or(""), *source, options)
                                 : VYRL::parse(content.value_or(""), options);
  if (!loaded) return failure(loaded.error());

  std::vector<Override> overrides;
  if (environment != Py_None) {
    PyObject* refused = nullptr;
    auto found = find_overrides(model, environment, prefix.value_or(""), &refused);
    if (!found) return refused;
    overrides = std::move(*found);
    // Overrides come after the whole file, as lines merged in one by one, so
    // each is checked by the schemas in effect as the file ends.
    for (Override& applied : overrides) {
      const auto line = assignment_line(applied.key, applied.value);
      if (!line) return failure(line.error(), applied.key, "$" + applied.variable);
      applied.first_file = static_cast<std::uint32_t>(model.files().size());
      if (auto merged = loaded->merge_content(*line); !merged) {
        return failure(merged.error(), applied.key, "$" + applied.variable);
      }
      applied.end_file = static_cast<std::uint32_t>(model.files().size());
    }
  }
  return success(loaded_type(module), std::move(*loaded), std::move(model), overrides);
}

// --- into=: a class's plan, run here because it runs once per field of every
// value loaded, where interpreted checks would cost more than the load.
//
// A plan is (cls, make, slots), make 0: cls(**fields), 1: the dict of fields
// itself (a TypedDict), 2: a plain dataclass whose generated __init__ would
// only set each field, filled directly. A slot is (attribute, key, check,
// missing, default), missing 0: required, 1: leave it to the class, 2: the
// default, 3: default() (a factory), 4: None. A check is (code, argument):
// 0 exact type, 1 float (an int too), 2 anything, 3 None or check, 4 list of
// check, 5 tuple of the checks, 6 tuple of check, 7 dict of check, 8 an
// object into a plan, 9 a Python function. A value that does not fit gives
// NotImplemented: the Python side then explains it, slowly and once.

struct Mismatch {};

enum : long { kExact, kReal, kAnything, kOptional, kList, kTuple, kTupleOf, kDict, kNested, kFunction };

// A new reference, or null: with an exception set for a real error, without
// one (mismatched set) for a value that does not fit.
PyObject* build_plan(PyObject* plan, PyObject* values, PyObject* mismatch_type, bool& mismatched, int depth);

PyObject* check_value(PyObject* check, PyObject* value, PyObject* mismatch_type, bool& mismatched, int depth) {
  if (depth > kMaxDepth) {
    mismatched = true;
    return nullptr;
  }
  const long code = PyLong_AsLong(PyTuple_GET_ITEM(check, 0));
  PyObject* argument = PyTuple_GET_ITEM(check, 1);
  const auto no = [&]() -> PyObject* {
    mismatched = true;
    return nullptr;
  };
  switch (code) {
    case kExact:
      if (Py_TYPE(value) == reinterpret_cast<PyTypeObject*>(argument)) return Py_NewRef(value);
      return no();
    case kReal:
      if (PyFloat_CheckExact(value)) return Py_NewRef(value);
      if (PyLong_CheckExact(value)) return PyNumber_Float(value);
      return no();
    case kAnything:
      return Py_NewRef(value);
    case kOptional:
      if (value == Py_None) return Py_NewRef(value);
      return check_value(argument, value, mismatch_type, mismatched, depth + 1);
    case kList: {
      if (!PyList_CheckExact(value)) return no();
      const Py_ssize_t size = PyList_GET_SIZE(value);
      PyRef out = PyRef::steal(PyList_New(size));
      if (!out) return nullptr;
      for (Py_ssize_t i = 0; i < size; ++i) {
        PyObject* item = check_value(argument, PyList_GET_ITEM(value, i), mismatch_type, mismatched, depth + 1);
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(out.get(), i, item);
      }
      return out.release();
    }
    case kTuple:
    case kTupleOf: {
      if (!PyTuple_CheckExact(value) && !PyList_CheckExact(value)) return no();
      const Py_ssize_t size = PySequence_Fast_GET_SIZE(value);
      if (code == kTuple && size != PyTuple_GET_SIZE(argument)) return no();
      PyRef out = PyRef::steal(PyTuple_New(size));
      if (!out) return nullptr;
      for (Py_ssize_t i = 0; i < size; ++i) {
        PyObject* each = code == kTuple ? PyTuple_GET_ITEM(argument, i) : argument;
        PyObject* item =
            check_value(each, PySequence_Fast_GET_ITEM(value, i), mismatch_type, mismatched, depth + 1);
        if (item == nullptr) return nullptr;
        PyTuple_SET_ITEM(out.get(), i, item);
      }
      return out.release();
    }
    case kDict: {
      if (!PyDict_CheckExact(value)) return no();
      PyRef out = PyRef::steal(PyDict_New());
      if (!out) return nullptr;
      Py_ssize_t position = 0;
      PyObject* name = nullptr;
      PyObject* item = nullptr;
      while (PyDict_Next(value, &position, &name, &item)) {
        const PyRef checked = PyRef::steal(check_value(argument, item, mismatch_type, mismatched, depth + 1));
        if (!checked || PyDict_SetItem(out.get(), name, checked.get()) < 0) return nullptr;
      }
      return out.release();
    }
    case kNested:
      if (!PyDict_CheckExact(value)) return no();
      return build_plan(argument, value, mismatch_type, mismatched, depth + 1);
    case kFunction: {
      PyObject* out = PyObject_CallOneArg(argument, value);
      if (out == nullptr && PyErr_ExceptionMatches(mismatch_type)) {
        PyErr_Clear();
        mismatched = true;
      }
      return out;
    }
    default:
      PyErr_SetString(PyExc_SystemError, "vyrl: unknown check in a plan");
      return nullptr;
  }
}

PyObject* build_plan(PyObject* plan, PyObject* values, PyObject* mismatch_type, bool& mismatched, int depth) {
  PyObject* cls = PyTuple_GET_ITEM(plan, 0);
  const long make = PyLong_AsLong(PyTuple_GET_ITEM(plan, 1));
  PyObject* slots = PyTuple_GET_ITEM(plan, 2);
  PyRef fields = PyRef::steal(PyDict_New());
  if (!fields) return nullptr;
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(slots); ++i) {
    PyObject* slot = PyTuple_GET_ITEM(slots, i);
    PyObject* attribute = PyTuple_GET_ITEM(slot, 0);
    PyObject* value = PyDict_GetItemWithError(values, PyTuple_GET_ITEM(slot, 1));  // borrowed
    PyRef checked;
    if (value != nullptr) {
      checked = PyRef::steal(check_value(PyTuple_GET_ITEM(slot, 2), value, mismatch_type, mismatched, depth));
    } else {
      if (PyErr_Occurred() != nullptr) return nullptr;
      PyObject* fallback = PyTuple_GET_ITEM(slot, 4);
      switch (PyLong_AsLong(PyTuple_GET_ITEM(slot, 3))) {
        case 1:
          continue;
        case 2:
          checked = PyRef::borrow(fallback);
          break;
        case 3:
          checked = PyRef::steal(PyObject_CallNoArgs(fallback));
          break;
        case 4:
          checked = PyRef::borrow(Py_None);
          break;
        default:
          mismatched = true;
          return nullptr;
      }
    }
    if (!checked || PyDict_SetItem(fields.get(), attribute, checked.get()) < 0) return nullptr;
  }
  if (make == 1) return fields.release();
  if (make == 2) {
    auto* type = reinterpret_cast<PyTypeObject*>(cls);
    const PyRef no_arguments = PyRef::steal(PyTuple_New(0));
    if (!no_arguments) return nullptr;
    PyRef made = PyRef::steal(type->tp_new(type, no_arguments.get(), nullptr));
    if (!made || PyObject_GenericSetDict(made.get(), fields.get(), nullptr) < 0) return nullptr;
    return made.release();
  }
  const PyRef no_arguments = PyRef::steal(PyTuple_New(0));
  if (!no_arguments) return nullptr;
  return PyObject_Call(cls, no_arguments.get(), fields.get());
}

constexpr const char* kBuildDoc =
    "build(plan, values, mismatch_type) -> object\n\n"
    "Runs an into= plan over a dict of values; NotImplemented when a value does not fit.";

PyObject* build(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 3) {
    PyErr_SetString(PyExc_TypeError, "build() takes exactly 3 arguments");
    return nullptr;
  }
  bool mismatched = false;
  PyObject* built = build_plan(args[0], args[1], args[2], mismatched, 0);
  if (built == nullptr && mismatched && PyErr_Occurred() == nullptr) Py_RETURN_NOTIMPLEMENTED;
  return built;
}

constexpr const char* kLoadDoc =
    "load(path, text, source, root, environment, prefix) -> tuple\n\n"
    "Loads a file (path) or a text (text, named source) with a model; see the vyrl package.";

PyObject* load(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 6) {
    PyErr_SetString(PyExc_TypeError, "load() takes exactly 6 arguments");
    return nullptr;
  }
  try {
    return load_now(module, args);
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& error) {
    PyErr_SetString(PyExc_SystemError, error.what());
  }
  return nullptr;
}

PyMethodDef methods[] = {
    {"load", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(load)), METH_FASTCALL, kLoadDoc},
    {"build", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(build)), METH_FASTCALL, kBuildDoc},
    {nullptr, nullptr, 0, nullptr},
};

int exec_module(PyObject* module) {
  auto** type = static_cast<PyTypeObject**>(PyModule_GetState(module));
  *type = reinterpret_cast<PyTypeObject*>(PyType_FromModuleAndSpec(module, &loaded_spec, nullptr));
  if (*type == nullptr) return -1;
  if (PyModule_AddObjectRef(module, "Loaded", reinterpret_cast<PyObject*>(*type)) < 0) return -1;
  return PyModule_AddStringConstant(module, "__version__", VYRL_VERSION);
}

int traverse_module(PyObject* module, visitproc visit, void* arg) {
  auto** type = static_cast<PyTypeObject**>(PyModule_GetState(module));
  if (type != nullptr) Py_VISIT(*type);
  return 0;
}

int clear_module(PyObject* module) {
  auto** type = static_cast<PyTypeObject**>(PyModule_GetState(module));
  if (type != nullptr) Py_CLEAR(*type);
  return 0;
}

void free_module(void* module) { clear_module(static_cast<PyObject*>(module)); }

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
#ifdef Py_mod_multiple_interpreters
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
#endif
#ifdef Py_mod_gil
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "vyrl._native",
    "The native part of the vyrl package; import vyrl instead.",
    sizeof(PyTypeObject*),
    methods,
    slots,
    traverse_module,
    clear_module,
    free_module,
};

}  // namespace
}  // namespace vyrl::native

PyMODINIT_FUNC PyInit__native(void) { return PyModuleDef_Init(&vyrl::native::module_def); }
