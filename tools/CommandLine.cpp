#include "tools/CommandLine.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

// A whole-string integer: decimal in the int32 range, or 0x hex up to
// 0xFFFFFFFF taken as the 32-bit pattern (0xFFFFFFFF is -1).
bool ParseInt32(const std::string& text, std::int32_t* out) {
  if (text.empty()) return false;
  const bool hex =
      text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  if (hex) {
    if (text.find_first_not_of("0123456789abcdefABCDEF", 2) !=
        std::string::npos)
      return false;
    const unsigned long long v = std::strtoull(begin + 2, &end, 16);
    if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull) return false;
    const auto bits = static_cast<std::uint32_t>(v);
    *out = static_cast<std::int32_t>(bits);  // two's complement pattern
    return true;
  }
  if (text.find_first_not_of("+-0123456789") != std::string::npos) return false;
  const long long v = std::strtoll(begin, &end, 10);
  if (errno != 0 || *end != '\0' || end == begin ||
      v < std::numeric_limits<std::int32_t>::min() ||
      v > std::numeric_limits<std::int32_t>::max())
    return false;
  *out = static_cast<std::int32_t>(v);
  return true;
}

bool ParseFloat(const std::string& text, float* out) {
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])))
    return false;
  char* end = nullptr;
  const float v = std::strtof(text.c_str(), &end);
  if (*end != '\0') return false;
  *out = v;
  return true;
}

}  // namespace

bool ParseFieldIndex(const std::string& token, std::int32_t* index) {
  return !token.empty() &&
         token.find_first_not_of("0123456789") == std::string::npos &&
         ParseInt32(token, index);
}

KeyValue ParseKeyValue(const std::string& text) {
  KeyValue value;
  value.strValue = text;
  if (!ParseInt32(text, &value.intValue)) value.intValue = 0;
  if (!ParseFloat(text, &value.floatValue)) value.floatValue = 0.0f;
  return value;
}

bool ParseTypedKey(const std::string& text, KeyKind kind,
                   std::int32_t* intValue, float* floatValue) {
  switch (kind) {
    case KeyKind::kInteger:
      return ParseInt32(text, intValue);
    case KeyKind::kByte: {
      std::int32_t v = 0;
      if (!ParseInt32(text, &v)) return false;
      const bool hex = text.size() > 2 && (text[1] == 'x' || text[1] == 'X');
      if (hex) {
        if (v < 0 || v > 0xFF) return false;
        *intValue = static_cast<std::int32_t>(
            static_cast<signed char>(static_cast<unsigned char>(v)));
        return true;
      }
      if (v < -128 || v > 127) return false;
      *intValue = v;
      return true;
    }
    case KeyKind::kFloat:
      return ParseFloat(text, floatValue);
    case KeyKind::kText:
      return true;
  }
  return false;
}

bool KeyKindOf(std::int32_t type, bool dbc, KeyKind* kind) {
  switch (type) {
    case 2:
      *kind = KeyKind::kFloat;
      return true;
    case 4:
      *kind = KeyKind::kByte;
      return true;
    case 1:
      *kind = KeyKind::kText;
      return dbc;
    case 5:
      *kind = dbc ? KeyKind::kInteger : KeyKind::kText;
      return true;
    case 0:
      *kind = KeyKind::kInteger;
      return true;
    default:
      // The DBC reader reads every other code as an integer.
      *kind = KeyKind::kInteger;
      return dbc;
  }
}

namespace {

bool TakesValue(const std::string& opt, bool dbc) {
  return opt == "--defs" || opt == "--key" || opt == "--result" ||
         opt == "--keys-from" || opt == "--format" || opt == "--fields" ||
         opt == (dbc ? "--archive" : "--file") || (dbc && opt == "--table");
}

std::vector<std::string> SplitCommas(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (;;) {
    const std::size_t comma = text.find(',', from);
    parts.push_back(text.substr(from, comma - from));
    if (comma == std::string::npos) return parts;
    from = comma + 1;
  }
}

// What each mode needs besides the table, and what it does not take.
bool CheckMode(const LookupRequest& r, bool haveKey, bool haveResult,
               bool haveFormat, bool haveFields, std::string* error) {
  using Mode = LookupRequest::Mode;
  if (r.mode == Mode::kDump) {
    if (haveKey || haveResult || r.all) {
      *error = "--dump takes no --key, --result or --all";
      return false;
    }
    return true;
  }
  if (haveFormat || haveFields) {
    *error = "--format and --fields go with --dump";
    return false;
  }
  if (!haveKey) {
    *error = r.mode == Mode::kKeysFrom ? "--keys-from needs --key FIELD"
                                       : "--key FIELD=VALUE is needed";
    return false;
  }
  if (!haveResult) {
    *error = "--result FIELD is needed";
    return false;
  }
  if (r.mode == Mode::kKeysFrom && r.all) {
    *error = "--all and --keys-from do not go together";
    return false;
  }
  return true;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args,
                      LookupRequest* request, bool* help, std::string* error) {
  *help = false;
  for (const auto& arg : args) {
    if (arg == "--help" || arg == "-h") {
      *help = true;
      return true;
    }
  }
  if (args.empty()) {
    *error = "missing command: wdb or dbc";
    return false;
  }
  if (args[0] == "wdb") {
    request->kind = LookupRequest::Kind::kWdb;
  } else if (args[0] == "dbc") {
    request->kind = LookupRequest::Kind::kDbc;
  } else {
    *error = "unknown command '" + args[0] + "': use wdb or dbc";
    return false;
  }
  const bool dbc = request->kind == LookupRequest::Kind::kDbc;
  bool have_key = false, have_result = false, have_format = false,
       have_fields = false;
  std::string key;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& opt = args[i];
    if (opt == "--json") {
      request->json = true;
      continue;
    }
    if (opt == "--all") {
      request->all = true;
      continue;
    }
    if (opt == "--dump") {
      request->mode = LookupRequest::Mode::kDump;
      continue;
    }
    if (!TakesValue(opt, dbc)) {
      *error = "unknown option '" + opt + "'";
      return false;
    }
    if (i + 1 >= args.size()) {
      *error = "option " + opt + " needs a value";
      return false;
    }
    const std::string& value = args[++i];
    if (opt == "--defs") {
      request->definitions.push_back(value);
    } else if (opt == "--file") {
      request->file = value;
    } else if (opt == "--archive") {
      request->archives.push_back(value);
    } else if (opt == "--table") {
      request->table = value;
    } else if (opt == "--key") {
      key = value;
      have_key = true;
    } else if (opt == "--result") {
      request->resultField = value;
      have_result = !value.empty();
    } else if (opt == "--keys-from") {
      request->keysFrom = value;
      if (request->mode != LookupRequest::Mode::kDump)
        request->mode = LookupRequest::Mode::kKeysFrom;
    } else if (opt == "--format") {
      have_format = true;
      if (value == "csv") {
        request->format = LookupRequest::Format::kCsv;
      } else if (value == "jsonl") {
        request->format = LookupRequest::Format::kJsonl;
      } else {
        *error = "--format wants csv or jsonl";
        return false;
      }
    } else {
      have_fields = true;
      request->fields = SplitCommas(value);
    }
  }
  if (request->mode == LookupRequest::Mode::kDump &&
      !request->keysFrom.empty()) {
    *error = "--dump and --keys-from do not go together";
    return false;
  }
  if (have_key) {
    const std::size_t eq = key.find('=');
    if (request->mode == LookupRequest::Mode::kKeysFrom) {
      if (eq != std::string::npos) {
        *error = "with --keys-from, --key names the field only";
        return false;
      }
      request->keyField = key;
    } else if (eq == std::string::npos) {
      *error = "--key wants FIELD=VALUE, with FIELD a name or a number";
      return false;
    } else {
      request->keyField = key.substr(0, eq);
      request->keyValue = key.substr(eq + 1);
    }
    if (request->keyField.empty()) {
      *error = "--key needs a field name or number";
      return false;
    }
  }
  if (request->definitions.empty()) {
    *error = "at least one --defs FILE is needed";
  } else if (!dbc && request->file.empty()) {
    *error = "--file PATH is needed";
  } else if (dbc && request->archives.empty()) {
    *error = "--archive PATH is needed";
  } else if (dbc && request->table.empty()) {
    *error = "--table NAME is needed";
  } else {
    return CheckMode(*request, have_key, have_result, have_format, have_fields,
                     error);
  }
  return false;
}

const char* UsageText() {
  return R"(Usage:
  selvane wdb --defs FILE [--defs FILE ...] --file PATH
              --key FIELD=VALUE --result FIELD [--all] [--json]
  selvane dbc --defs FILE [--defs FILE ...] --archive PATH [--archive PATH ...]
              --table NAME --key FIELD=VALUE --result FIELD [--all] [--json]
  selvane wdb|dbc ... --key FIELD --keys-from FILE|- --result FIELD [--json]
  selvane wdb|dbc ... --dump [--format csv|jsonl] [--fields A,B,...]

Finds the first record whose field FIELD holds VALUE and prints the field
--result of that record. A FIELD of digits alone is a field index; anything
else is a field name from the definitions. VALUE must be a value of the key
field's type: integers in decimal or 0x hex, floats as C reads them, text as
it stands. Definition files are loaded in order; later ones replace earlier
definitions of the same table.

  --archive      may be given several times: the first archive that holds
                 the table serves it (patch archives before base archives).
  --all          the result field of every matching record, one per line.
  --keys-from    one key VALUE per line (- for standard input), one answer
                 per line in the same order (an empty line where none).
  --json         one object per answer: {"type":"integer","value":42}; with
                 --keys-from {"key":"42","type":...} or {"key":..,"error":..}.
  --dump         the whole table, one record per line: CSV with a header row
                 of field names, or JSON Lines keyed by field name.
  --fields       the fields a dump shows, by name or number.

The definition of a WDB file is found by its name after the last '/' or
'\'; that of a DBC table by the table path after its first '\'.

Exit status: 0 answered (with --keys-from: every key answered), 1 no answer
or a failure (the reason on stderr), 2 bad command line or a VALUE that is
not a value of the key field's type.

Examples:
  selvane wdb --defs defs.xml --file cache/items.wdb --key 0=42 --result 2
  selvane wdb --defs defs.xml --file cache/items.wdb --key Id=42 --result Name
  selvane dbc --defs defs.xml --archive patch.mpq --archive base.mpq \
              --table "Tables\Spells.dbc" --key Name=Fireball --result 0 --json
  selvane dbc --defs defs.xml --archive base.mpq --table "Tables\Spells.dbc" \
              --key School=2 --result Name --all
  printf '1\n2\n' | selvane wdb --defs defs.xml --file cache/items.wdb \
              --key Id --keys-from - --result Name --json
  selvane wdb --defs defs.xml --file cache/items.wdb --dump --format jsonl
)";
}
