#ifndef SELVANE_TOOLS_COMMANDLINE_H_
#define SELVANE_TOOLS_COMMANDLINE_H_

#include <cstdint>
#include <string>
#include <vector>

// What the selvane command line asks for, once parsed.
struct LookupRequest {
  enum class Kind { kWdb, kDbc };
  enum class Mode { kLookup, kKeysFrom, kDump };
  enum class Format { kCsv, kJsonl };
  Kind kind = Kind::kWdb;
  Mode mode = Mode::kLookup;
  std::vector<std::string> definitions;
  std::string file;                   // wdb only: the cache file
  std::vector<std::string> archives;  // dbc only: the first holding it serves
  std::string table;                  // dbc only: the table path
  // A field as typed: digits alone are an index, anything else a name.
  std::string keyField;
  std::string keyValue;  // as typed (lookup mode); see ParseTypedKey
  std::string resultField;
  std::string keysFrom;  // kKeysFrom: a file, or "-" for standard input
  bool all = false;      // every matching record, not only the first
  Format format = Format::kCsv;
  std::vector<std::string> fields;  // kDump: the columns; empty for all
  bool json = false;
};

// A field token of digits alone, as an index; false for anything else (a
// name) and for digits beyond the int32 range.
bool ParseFieldIndex(const std::string& token, std::int32_t* index);

// A key value typed once and offered in every member, so that the user need
// not know the key field's type: the library reads only the member of it.
struct KeyValue {
  std::int32_t intValue = 0;  // decimal or 0x hex; 0 when not an integer
  float floatValue = 0.0f;    // 0 when not a number
  std::string strValue;       // always the text as typed
};

KeyValue ParseKeyValue(const std::string& text);

// The value kinds a key field can have, as the command line reads them.
enum class KeyKind { kInteger, kByte, kFloat, kText };

// Reads text as a value of the kind into its member of *value: integers
// decimal in the int32 range or 0x hex up to 0xFFFFFFFF (the 32-bit
// pattern); bytes -128..127 or 0x hex up to 0xFF (its signed value); floats
// as strtof reads the whole text; text as it stands. False when the text is
// no value of the kind.
bool ParseTypedKey(const std::string& text, KeyKind kind,
                   std::int32_t* intValue, float* floatValue);

// The key kind of a field of this type code in a table of this kind; false
// for a code the table's reader cannot read.
bool KeyKindOf(std::int32_t type, bool dbc, KeyKind* kind);

// Parses argv (without the program name). Returns false with a message for a
// bad command line; *help is set when --help was asked for.
bool ParseCommandLine(const std::vector<std::string>& args,
                      LookupRequest* request, bool* help, std::string* error);

const char* UsageText();

#endif  // SELVANE_TOOLS_COMMANDLINE_H_
