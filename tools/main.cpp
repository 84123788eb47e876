// selvane: lookups from the shell. Loads the definition files, opens the
// table once, and answers one key, every key of a list, or dumps the table.
#include <SelvaneLibrary/SelvaneLibrary.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "tools/CommandLine.h"
#include "tools/Output.h"

namespace {

// Exit statuses.
constexpr int kAnswered = 0;
constexpr int kFailed = 1;
constexpr int kBadCommandLine = 2;

const char* const kTypeNames[] = {"integer", "string",  "float", "bit",
                                  "byte",    "cstring", "amount"};

std::string TypeName(std::int32_t type) {
  return type >= 0 && type <= 6 ? kTypeNames[type] : "none";
}

// Paths pass byte for byte: every byte becomes one wide character, which the
// library narrows back to the same byte.
std::wstring Widen(const std::string& narrow) {
  std::wstring wide(narrow.size(), L'\0');
  for (std::size_t i = 0; i < narrow.size(); ++i)
    wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(narrow[i]));
  return wide;
}

bool IsRegularFile(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

int Fail(const std::string& message, int status = kFailed) {
  std::fprintf(stderr, "selvane: %s\n", message.c_str());
  return status;
}

// Buffered standard output: a dump of a large table is many small lines.
class Out {
 public:
  ~Out() { Flush(); }
  void Line(const std::string& text) {
    buffer_ += text;
    buffer_ += '\n';
    if (buffer_.size() >= 1 << 16) Flush();
  }
  void Flush() {
    std::fwrite(buffer_.data(), 1, buffer_.size(), stdout);
    buffer_.clear();
    std::fflush(stdout);
  }

 private:
  std::string buffer_;
};

// A field of the open table, from its token on the command line.
struct Field {
  std::int32_t index = -1;
  std::int32_t type = -1;
  std::string label;  // how messages name it
};

class Session {
 public:
  explicit Session(const LookupRequest& request)
      : request_(request), dbc_(request.kind == LookupRequest::Kind::kDbc) {}

  int Run() {
    if (const int status = LoadDefinitions(); status != kAnswered)
      return status;
    if (const int status = OpenTable(); status != kAnswered) return status;
    switch (request_.mode) {
      case LookupRequest::Mode::kDump:
        return Dump();
      case LookupRequest::Mode::kKeysFrom:
        return KeysFrom();
      case LookupRequest::Mode::kLookup:
        break;
    }
    return Lookup();
  }

 private:
  int LoadDefinitions() {
    for (const auto& defs : request_.definitions) {
      if (!IsRegularFile(defs))
        return Fail("definition file '" + defs + "' does not exist");
      if (db_.InitConfig(Widen(defs)) != 0)
        return Fail("definition file '" + defs +
                    "' did not load (not XML, or its root is neither DBCFile "
                    "nor WDBFile)");
    }
    return kAnswered;
  }

  int OpenTable() {
    if (!dbc_) {
      if (!IsRegularFile(request_.file))
        return Fail("data file '" + request_.file + "' does not exist");
      if (table_.OpenWDB(db_, Widen(request_.file)) == 0) return kAnswered;
      return OpenFailure("data file '" + request_.file + "'");
    }
    std::vector<std::wstring> archives;
    for (const auto& a : request_.archives) {
      if (!IsRegularFile(a)) return Fail("archive '" + a + "' does not exist");
      archives.push_back(Widen(a));
    }
    if (table_.OpenDBC(db_, archives, request_.table) == 0) return kAnswered;
    std::string where = "archive";
    if (archives.size() > 1) where += "s";
    for (const auto& a : request_.archives) where += " '" + a + "'";
    return OpenFailure(where);
  }

  int OpenFailure(const std::string& where) {
    using selvane::TableStatus;
    const std::string name = dbc_ ? "table '" + request_.table + "'"
                                  : "data file '" + request_.file + "'";
    switch (table_.Status()) {
      case TableStatus::kNoDefinition:
        return Fail("no definition for " + name + " in the definition files");
      case TableStatus::kFileUnopenable:
        return Fail(where + " cannot be opened or read");
      case TableStatus::kTableNotFound:
        return Fail("table '" + request_.table + "' is not in " + where);
      case TableStatus::kHeaderUnreadable:
        return Fail(name + " is shorter than its 20-byte header");
      default:
        break;
    }
    return Fail(name + ": " + CSelvaneTable::StatusText(table_.Status()));
  }

  // Resolves a field token; on failure prints why and returns false.
  bool Resolve(const std::string& token, Field* field) {
    std::int32_t index = -1;
    if (ParseFieldIndex(token, &index)) {
      if (index >= table_.FieldCount()) {
        Fail("field " + token + " is out of range: the table has " +
             std::to_string(table_.FieldCount()) + " fields");
        return false;
      }
      const std::string name = table_.FieldName(index);
      field->label = name.empty() ? "field " + token
                                  : "field " + token + " ('" + name + "')";
    } else {
      index = table_.FieldIndex(token);
      if (index < 0) {
        Fail("the table has no field named '" + token + "'");
        return false;
      }
      field->label = "field '" + token + "'";
    }
    field->index = index;
    field->type = table_.FieldType(index);
    return true;
  }

  // A field a query can read, or false after saying why.
  bool Readable(const Field& field, KeyKind* kind) {
    KeyKind k;
    if (KeyKindOf(field.type, dbc_, kind != nullptr ? kind : &k)) return true;
    Fail(field.label + " has type '" + TypeName(field.type) +
         "', which cannot be read in a " + (dbc_ ? "DBC table" : "WDB file"));
    return false;
  }

  std::string KindName(KeyKind kind) const {
    switch (kind) {
      case KeyKind::kInteger:
        return "an integer";
      case KeyKind::kByte:
        return "a byte (-128..127 or 0x00..0xFF)";
      case KeyKind::kFloat:
        return "a float";
      case KeyKind::kText:
        break;
    }
    return "text";
  }

  // The key record for text, or false when text is no value of its type.
  bool MakeKey(const std::string& text, DBParam_t* key) const {
    key->fieldIndex = key_.index;
    return ParseTypedKey(text, keyKind_, &key->intValue, &key->floatValue) &&
           (keyKind_ != KeyKind::kText || (key->strValue = text, true));
  }

  std::string Mistyped(const std::string& text) const {
    return "'" + text + "' is not " + KindName(keyKind_) + ", the type of " +
           key_.label + " (" + TypeName(key_.type) + ")";
  }

  bool PrepareKeyAndResult() {
    return Resolve(request_.keyField, &key_) && Readable(key_, &keyKind_) &&
           Resolve(request_.resultField, &result_) &&
           Readable(result_, nullptr);
  }

  std::string Render(const DBParam_t& result) const {
    return request_.json ? FormatJson(result, dbc_) : FormatPlain(result, dbc_);
  }

  int Lookup() {
    if (!PrepareKeyAndResult()) return kFailed;
    DBParam_t key;
    if (!MakeKey(request_.keyValue, &key))
      return Fail(Mistyped(request_.keyValue), kBadCommandLine);
    Out out;
    if (!request_.all) {
      DBParam_t result;
      std::string reason;
      if (!Answer(request_.keyValue, &result, &reason)) return Fail(reason);
      out.Line(Render(result));
      return kAnswered;
    }
    std::vector<std::int32_t> records;
    if (table_.FindAll(key, records) != 0) return Fail("no record matched");
    int status = kAnswered;
    for (const std::int32_t r : records) {
      DBParam_t result;
      result.fieldIndex = result_.index;
      if (table_.Read(r, result) != 0) {
        status = Fail("the " + result_.label + " of record " +
                      std::to_string(r) + " cannot be read");
      } else {
        out.Line(Render(result));
      }
    }
    return status;
  }

  // One answer for one key of the list; false with the reason when none.
  bool Answer(const std::string& text, DBParam_t* result,
              std::string* reason) const {
    DBParam_t key;
    if (!MakeKey(text, &key)) {
      *reason = Mistyped(text);
      return false;
    }
    result->fieldIndex = result_.index;
    if (table_.Query(key, *result) == 0) return true;
    std::vector<std::int32_t> records;
    *reason = table_.FindAll(key, records) == 0
                  ? "the result field of the matching record cannot be read"
                  : "no record matched";
    return false;
  }

  int KeysFrom() {
    if (!PrepareKeyAndResult()) return kFailed;
    std::ifstream file;
    std::istream* in = &std::cin;
    if (request_.keysFrom != "-") {
      file.open(request_.keysFrom, std::ios::binary);
      if (!file.is_open())
        return Fail("key file '" + request_.keysFrom + "' cannot be read");
      in = &file;
    }
    Out out;
    int status = kAnswered;
    std::string line;
    while (std::getline(*in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      DBParam_t result;
      std::string reason;
      const bool answered = Answer(line, &result, &reason);
      if (!answered) status = kFailed;
      if (request_.json) {
        out.Line("{\"key\":" + JsonString(line) + "," +
                 (answered ? JsonMembers(result, dbc_)
                           : "\"error\":" + JsonString(reason)) +
                 "}");
      } else {
        out.Line(answered ? FormatPlain(result, dbc_) : "");
        if (!answered) {
          out.Flush();
          Fail("key '" + line + "': " + reason);
        }
      }
    }
    return status;
  }

  int Dump() {
    std::vector<Field> columns;
    if (request_.fields.empty()) {
      for (std::int32_t i = 0; i < table_.FieldCount(); ++i) {
        Field f;
        f.index = i;
        columns.push_back(f);
      }
    } else {
      for (const auto& token : request_.fields) {
        Field f;
        if (!Resolve(token, &f)) return kFailed;
        columns.push_back(f);
      }
    }
    std::vector<std::string> names;
    for (const Field& f : columns) {
      const std::string name = table_.FieldName(f.index);
      names.push_back(name.empty() ? "Undef_" + std::to_string(f.index) : name);
    }
    const bool csv = request_.format == LookupRequest::Format::kCsv;
    Out out;
    if (csv) {
      std::string header;
      for (std::size_t c = 0; c < names.size(); ++c)
        header += (c == 0 ? "" : ",") + CsvField(names[c]);
      out.Line(header);
    }
    std::vector<std::string> keys;
    for (const auto& name : names) keys.push_back(JsonString(name) + ":");
    const std::int32_t count = table_.RecordCount();
    std::string line;
    for (std::int32_t r = 0; r < count; ++r) {
      line.clear();
      if (!csv) line += '{';
      for (std::size_t c = 0; c < columns.size(); ++c) {
        DBParam_t field;
        field.fieldIndex = columns[c].index;
        const bool read = table_.Read(r, field) == 0;
        if (c != 0) line += ',';
        if (csv) {
          if (read) line += CsvField(FormatPlain(field, dbc_));
        } else {
          line += keys[c];
          line += read ? JsonValue(field, dbc_) : "null";
        }
      }
      if (!csv) line += '}';
      out.Line(line);
    }
    return kAnswered;
  }

  const LookupRequest& request_;
  const bool dbc_;
  CSelvaneObject db_;
  CSelvaneTable table_;
  Field key_, result_;
  KeyKind keyKind_ = KeyKind::kInteger;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  LookupRequest request;
  bool help = false;
  std::string error;
  if (!ParseCommandLine(args, &request, &help, &error)) {
    std::fprintf(stderr, "selvane: %s\n\n%s", error.c_str(), UsageText());
    return kBadCommandLine;
  }
  if (help) {
    std::printf("%s", UsageText());
    return kAnswered;
  }
  try {
    return Session(request).Run();
  } catch (const std::bad_alloc&) {
    // A damaged header can claim billions of fields or records.
    return Fail("not enough memory");
  }
}
