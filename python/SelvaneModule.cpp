// The selvane Python module: table snapshots as Python objects. Every answer
// comes from CSelvaneTable; this file only turns Python values into query
// records and query records into Python values.
#include <pybind11/pybind11.h>

#include <SelvaneLibrary/SelvaneLibrary.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace py = pybind11;

namespace {

// Becomes selvane.Error: a failure the library reports, with its reason.
class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Type codes of DBParam_t::type that decide a value's Python type.
constexpr std::int32_t kCodeString = 1;
constexpr std::int32_t kCodeFloat = 2;
constexpr std::int32_t kCodeCString = 5;

enum class Kind { kInt, kFloat, kText };

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::kInt:
      return "int";
    case Kind::kFloat:
      return "float";
    case Kind::kText:
      return "str or bytes";
  }
  return "";
}

// A path as the library takes it. On POSIX systems the library narrows each
// wide character to its low byte, so the path's file-system bytes go over
// one per character; on Windows the text goes as it is.
std::wstring ToPath(const py::handle& path) {
  const py::module_ os = py::module_::import("os");
#ifdef _WIN32
  return os.attr("fsdecode")(path).cast<std::wstring>();
#else
  const std::string bytes = os.attr("fsencode")(path).cast<std::string>();
  std::wstring wide(bytes.size(), L'\0');
  for (std::size_t i = 0; i < bytes.size(); ++i)
    wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]));
  return wide;
#endif
}

// A path or name for a message, quoted and escaped as Python shows it.
std::string Shown(const py::handle& text) {
  return py::repr(text).cast<std::string>();
}

std::string ShowPath(const py::handle& path) {
  return Shown(py::module_::import("os").attr("fsdecode")(path));
}

bool IsText(const py::handle& value) {
  return py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value);
}

// Text as bytes: str through UTF-8 (escaped surrogates back to their
// bytes), bytes as they are. Returns false for any other object.
bool ToBytes(const py::handle& value, std::string& out) {
  if (py::isinstance<py::bytes>(value)) {
    out = value.cast<std::string>();
    return true;
  }
  if (!py::isinstance<py::str>(value)) return false;
  const py::object encoded = py::reinterpret_steal<py::object>(
      PyUnicode_AsEncodedString(value.ptr(), "utf-8", "surrogateescape"));
  if (!encoded) throw py::error_already_set();
  out = encoded.cast<std::string>();
  return true;
}

py::object FromBytes(const std::string& text) {
  PyObject* decoded = PyUnicode_DecodeUTF8(
      text.data(), static_cast<Py_ssize_t>(text.size()), "surrogateescape");
  if (decoded == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(decoded);
}

// One open table, with what the binding needs to name its fields.
class Table {
 public:
  Table(bool wdb, std::string name) : wdb_(wdb), name_(std::move(name)) {}

  CSelvaneTable& snapshot() { return table_; }

  // Caches the field names once the table is open.
  void TakeFieldNames() {
    const std::int32_t count = table_.FieldCount();
    names_.clear();
    for (std::int32_t i = 0; i < count; ++i)
      names_.push_back(FromBytes(table_.FieldName(i)));
  }

  std::int32_t size() const { return table_.RecordCount(); }

  py::list fields() const {
    py::list out;
    for (const auto& name : names_) out.append(name);
    return out;
  }

  py::dict Record(std::int32_t record) const {
    py::dict out;
    for (std::size_t i = 0; i < names_.size(); ++i) {
      const py::object value = ReadField(record, static_cast<std::int32_t>(i));
      if (PyDict_SetItem(out.ptr(), names_[i].ptr(), value.ptr()) != 0)
        throw py::error_already_set();
    }
    return out;
  }

  py::dict Item(std::int64_t record) const {
    const std::int64_t count = size();
    if (record < 0) record += count;
    if (record < 0 || record >= count)
      throw py::index_error("record index out of range");
    return Record(static_cast<std::int32_t>(record));
  }

  py::object Get(const py::handle& keyField, const py::handle& value,
                 const py::handle& resultField,
                 const py::object& fallback) const {
    DBParam_t key = MakeKey(keyField, value);
    DBParam_t result;
    result.fieldIndex = ResolveField(resultField);
    int status;
    {
      py::gil_scoped_release unlocked;
      status = table_.Query(key, result);
    }
    return status == 0 ? ToPython(result) : fallback;
  }

  py::list FindAll(const py::handle& keyField, const py::handle& value) const {
    DBParam_t key = MakeKey(keyField, value);
    std::vector<std::int32_t> records;
    {
      py::gil_scoped_release unlocked;
      table_.FindAll(key, records);
    }
    py::list out;
    for (std::int32_t record : records) out.append(record);
    return out;
  }

  py::list Column(const py::handle& field) const {
    const std::int32_t index = ResolveField(field);
    const std::int32_t count = size();
    py::list out;
    for (std::int32_t record = 0; record < count; ++record)
      out.append(ReadField(record, index));
    return out;
  }

  std::string Repr() const {
    return "<selvane.Table " + name_ + ": " + std::to_string(size()) +
           " records, " + std::to_string(names_.size()) + " fields>";
  }

 private:
  Kind KindOf(std::int32_t type) const {
    if (type == kCodeFloat) return Kind::kFloat;
    if (type == (wdb_ ? kCodeCString : kCodeString)) return Kind::kText;
    return Kind::kInt;
  }

  py::object ToPython(const DBParam_t& field) const {
    switch (KindOf(field.type)) {
      case Kind::kFloat:
        return py::float_(static_cast<double>(field.floatValue));
      case Kind::kText:
        return FromBytes(field.strValue);
      case Kind::kInt:
        break;
    }
    return py::int_(field.intValue);
  }

  py::object ReadField(std::int32_t record, std::int32_t index) const {
    DBParam_t field;
    field.fieldIndex = index;
    if (table_.Read(record, field) != 0) return py::none();
    return ToPython(field);
  }

  // A field by its name (str or bytes) or its index (int).
  std::int32_t ResolveField(const py::handle& field) const {
    const auto count = static_cast<std::int64_t>(names_.size());
    if (py::isinstance<py::int_>(field)) {
      const auto index = field.cast<std::int64_t>();
      if (index < 0 || index >= count)
        throw py::index_error("field index " + std::to_string(index) +
                              " out of range for " + name_ + " (" +
                              std::to_string(count) + " fields)");
      return static_cast<std::int32_t>(index);
    }
    std::string name;
    if (!ToBytes(field, name))
      throw py::type_error("a field is named by str or bytes or given by int");
    const int index = table_.FieldIndex(name);
    if (index < 0) {
      PyErr_SetObject(
          PyExc_KeyError,
          py::str("no field named {!r} in {}").format(field, name_).ptr());
      throw py::error_already_set();
    }
    return index;
  }

  // The key record for field and value; TypeError when the value is not of
  // the field's type.
  DBParam_t MakeKey(const py::handle& field, const py::handle& value) const {
    DBParam_t key;
    key.fieldIndex = ResolveField(field);
    const Kind kind = KindOf(table_.FieldType(key.fieldIndex));
    bool fits = false;
    const bool isBool = py::isinstance<py::bool_>(value);
    switch (kind) {
      case Kind::kText:
        fits = ToBytes(value, key.strValue);
        break;
      case Kind::kFloat:  // float, int, or a number type that converts
        fits = !isBool && !IsText(value) &&
               (PyIndex_Check(value.ptr()) || py::hasattr(value, "__float__"));
        if (fits) key.floatValue = ToFloat(value);
        break;
      case Kind::kInt:  // int, or an integer type (numpy's among them)
        fits = !isBool && PyIndex_Check(value.ptr());
        if (fits) key.intValue = ToInt32(value, key.fieldIndex);
        break;
    }
    if (!fits)
      throw py::type_error(
          "field " + FieldLabel(key.fieldIndex) + " holds values of type " +
          KindName(kind) + ", not " +
          py::str(py::type::of(value).attr("__name__")).cast<std::string>());
    return key;
  }

  // The key as a 4-byte float. A finite value beyond its range equals no
  // stored float, so it becomes a NaN, which matches nothing.
  static float ToFloat(const py::handle& value) {
    const py::object number =
        py::reinterpret_steal<py::object>(PyNumber_Float(value.ptr()));
    if (!number) throw py::error_already_set();
    const double v = PyFloat_AS_DOUBLE(number.ptr());
    if (std::isfinite(v) && std::fabs(v) > std::numeric_limits<float>::max())
      return std::numeric_limits<float>::quiet_NaN();
    return static_cast<float>(v);
  }

  std::int32_t ToInt32(const py::handle& value, std::int32_t field) const {
    const py::object index =
        py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!index) throw py::error_already_set();
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (v == -1 && PyErr_Occurred()) throw py::error_already_set();
    if (overflow != 0 || v < std::numeric_limits<std::int32_t>::min() ||
        v > std::numeric_limits<std::int32_t>::max())
      throw py::value_error("key " + py::repr(value).cast<std::string>() +
                            " is outside the 32-bit range of field " +
                            FieldLabel(field));
    return static_cast<std::int32_t>(v);
  }

  std::string FieldLabel(std::int32_t index) const {
    return py::repr(names_[static_cast<std::size_t>(index)])
               .cast<std::string>() +
           " (index " + std::to_string(index) + ")";
  }

  CSelvaneTable table_;
  bool wdb_;
  std::string name_;
  std::vector<py::object> names_;
};

// Walks a table's records in file order; holds the table alive.
class RecordIterator {
 public:
  explicit RecordIterator(py::object table)
      : owner_(std::move(table)), table_(owner_.cast<const Table*>()) {}

  py::dict Next() {
    if (next_ >= table_->size()) throw py::stop_iteration();
    return table_->Record(next_++);
  }

 private:
  py::object owner_;
  const Table* table_;
  std::int32_t next_ = 0;
};

// The definitions a script loads; opens tables with them. A load replaces
// definitions while no open reads them: the lock is taken only after the
// interpreter lock is let go, so neither waits on the other.
class Definitions {
 public:
  void Load(const py::handle& path) {
    const std::wstring wide = ToPath(path);
    int status;
    {
      py::gil_scoped_release unlocked;
      std::unique_lock<std::shared_mutex> lock(mutex_);
      status = object_.InitConfig(wide);
    }
    if (status != 0)
      throw Failure("definition file " + ShowPath(path) +
                    " did not load (missing, unreadable, not XML, or its "
                    "root is neither DBCFile nor WDBFile)");
  }

  std::unique_ptr<Table> OpenWdb(const py::handle& path) const {
    const std::wstring wide = ToPath(path);
    auto table = std::make_unique<Table>(true, ShowPath(path));
    int status;
    {
      py::gil_scoped_release unlocked;
      std::shared_lock<std::shared_mutex> lock(mutex_);
      status = table->snapshot().OpenWDB(object_, wide);
    }
    return Opened(std::move(table), status, ShowPath(path));
  }

  std::unique_ptr<Table> OpenDbc(const py::handle& archives,
                                 const std::string& tablePath) const {
    std::vector<std::wstring> paths;
    std::string shown;
    if (py::isinstance<py::str>(archives) ||
        py::isinstance<py::bytes>(archives) ||
        py::hasattr(archives, "__fspath__")) {
      paths.push_back(ToPath(archives));
      shown = ShowPath(archives);
    } else {
      for (const py::handle archive : archives) {
        paths.push_back(ToPath(archive));
        shown += (shown.empty() ? "" : ", ") + ShowPath(archive);
      }
    }
    auto table = std::make_unique<Table>(false, Shown(FromBytes(tablePath)));
    int status;
    {
      py::gil_scoped_release unlocked;
      std::shared_lock<std::shared_mutex> lock(mutex_);
      status = table->snapshot().OpenDBC(object_, paths, tablePath);
    }
    return Opened(std::move(table), status,
                  Shown(FromBytes(tablePath)) + " in " + shown);
  }

 private:
  static std::unique_ptr<Table> Opened(std::unique_ptr<Table> table, int status,
                                       const std::string& what) {
    if (status != 0) {
      const selvane::TableStatus why = table->snapshot().Status();
      throw Failure("cannot open " + what + ": " +
                    CSelvaneTable::StatusText(why));
    }
    table->TakeFieldNames();
    return table;
  }

  CSelvaneObject object_;
  mutable std::shared_mutex mutex_;
};

std::string TableName(const py::handle& tablePath) {
  std::string name;
  if (!ToBytes(tablePath, name))
    throw py::type_error("the table path is a str or bytes");
  return name;
}

}  // namespace

PYBIND11_MODULE(selvane, m) {
  m.doc() = "Lookups in DBC tables and WDB cache files, read whole once.";
  m.attr("__version__") = SELVANE_VERSION;
  py::register_exception<Failure>(m, "Error");

  py::class_<Table>(m, "Table",
                    "A table read whole into memory; every answer comes "
                    "from memory.")
      .def("__len__", &Table::size)
      .def_property_readonly("fields", &Table::fields,
                             "Field names, in field-index order.")
      .def("__getitem__", &Table::Item, py::arg("record"),
           "One record as a dict {field name: value}.")
      .def("__iter__",
           [](py::object self) { return RecordIterator(std::move(self)); })
      .def("get", &Table::Get, py::arg("key_field"), py::arg("value"),
           py::arg("result_field"), py::arg("default") = py::none(),
           "The result field of the first record whose key field holds "
           "value, or default.")
      .def("find_all", &Table::FindAll, py::arg("key_field"), py::arg("value"),
           "Indexes, in file order, of every record whose key field holds "
           "value.")
      .def("column", &Table::Column, py::arg("field"),
           "One field of every record, as a list.")
      .def_property_readonly(
          "memory_bytes",
          [](Table& self) { return self.snapshot().MemoryBytes(); },
          "Bytes the table holds: its file, its record list and every index "
          "built so far.")
      .def("__repr__", &Table::Repr);

  py::class_<RecordIterator>(m, "RecordIterator")
      .def("__iter__", [](py::object self) { return self; })
      .def("__next__", &RecordIterator::Next);

  py::class_<Definitions>(m, "Definitions",
                          "Field definitions, loaded from XML files in "
                          "order; later ones replace earlier ones by table "
                          "name.")
      .def(py::init([](const py::args& paths) {
        auto defs = std::make_unique<Definitions>();
        for (const py::handle path : paths) defs->Load(path);
        return defs;
      }))
      .def("load", &Definitions::Load, py::arg("path"))
      .def("open_wdb", &Definitions::OpenWdb, py::arg("path"),
           "Reads a WDB cache file whole; selvane.Error when it cannot.")
      .def(
          "open_dbc",
          [](const Definitions& self, const py::handle& archives,
             const py::handle& tablePath) {
            return self.OpenDbc(archives, TableName(tablePath));
          },
          py::arg("archives"), py::arg("table_path"),
          "Reads a DBC table whole from the first archive that holds it; "
          "archives is one path or a list of them.");
}
