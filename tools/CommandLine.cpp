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

bool ParseIndex(const std::string& text, std::int32_t* out) {
  return text.find_first_not_of("0123456789") == std::string::npos &&
         ParseInt32(text, out);
}

}  // namespace

KeyValue ParseKeyValue(const std::string& text) {
  KeyValue value;
  value.strValue = text;
  if (!ParseInt32(text, &value.intValue)) value.intValue = 0;
  if (!ParseFloat(text, &value.floatValue)) value.floatValue = 0.0f;
  return value;
}

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
  bool have_key = false, have_result = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& opt = args[i];
    if (opt == "--json") {
      request->json = true;
      continue;
    }
    const bool takes_value =
        opt == "--defs" || opt == "--key" || opt == "--result" ||
        opt == (dbc ? "--archive" : "--file") || (dbc && opt == "--table");
    if (!takes_value) {
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
    } else if (opt == "--file" || opt == "--archive") {
      request->file = value;
    } else if (opt == "--table") {
      request->table = value;
    } else if (opt == "--key") {
      const std::size_t eq = value.find('=');
      if (eq == std::string::npos ||
          !ParseIndex(value.substr(0, eq), &request->keyIndex)) {
        *error = "--key wants INDEX=VALUE, with INDEX a field number";
        return false;
      }
      request->keyValue = value.substr(eq + 1);
      have_key = true;
    } else {
      if (!ParseIndex(value, &request->resultIndex)) {
        *error = "--result wants a field number";
        return false;
      }
      have_result = true;
    }
  }
  if (request->definitions.empty()) {
    *error = "at least one --defs FILE is needed";
  } else if (request->file.empty()) {
    *error = dbc ? "--archive PATH is needed" : "--file PATH is needed";
  } else if (dbc && request->table.empty()) {
    *error = "--table NAME is needed";
  } else if (!have_key) {
    *error = "--key INDEX=VALUE is needed";
  } else if (!have_result) {
    *error = "--result INDEX is needed";
  } else {
    return true;
  }
  return false;
}

const char* UsageText() {
  return R"(Usage:
  selvane wdb --defs FILE [--defs FILE ...] --file PATH
              --key INDEX=VALUE --result INDEX [--json]
  selvane dbc --defs FILE [--defs FILE ...] --archive PATH --table NAME
              --key INDEX=VALUE --result INDEX [--json]

Finds the first record whose field INDEX holds VALUE and prints the field
--result of that record. VALUE is offered as integer (decimal or 0x hex),
float and text at once; the field's type in the definitions decides which
is compared. Definition files are loaded in order; later ones replace
earlier definitions of the same table.

The definition of a WDB file is found by its name after the last '/' or
'\'; that of a DBC table by the table path after its first '\'.

Exit status: 0 answered, 1 no answer (the library returned -1),
2 bad command line.

Examples:
  selvane wdb --defs defs.xml --file cache/items.wdb --key 0=42 --result 2
  selvane dbc --defs defs.xml --archive data.mpq --table "Tables\Spells.dbc" \
              --key 2=Fireball --result 0 --json
)";
}
