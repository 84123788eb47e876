#ifndef SELVANE_TOOLS_COMMANDLINE_H_
#define SELVANE_TOOLS_COMMANDLINE_H_

#include <cstdint>
#include <string>
#include <vector>

// What the selvane command line asks for, once parsed.
struct LookupRequest {
  enum class Kind { kWdb, kDbc };
  Kind kind = Kind::kWdb;
  std::vector<std::string> definitions;
  std::string file;   // wdb: the cache file; dbc: the archive
  std::string table;  // dbc only: the table path inside the archive
  std::int32_t keyIndex = 0;
  std::string keyValue;  // as typed; see KeyValue
  std::int32_t resultIndex = 0;
  bool json = false;
};

// A key value typed once and offered in every member, so that the user need
// not know the key field's type: the library reads only the member of it.
struct KeyValue {
  std::int32_t intValue = 0;  // decimal or 0x hex; 0 when not an integer
  float floatValue = 0.0f;    // 0 when not a number
  std::string strValue;       // always the text as typed
};

KeyValue ParseKeyValue(const std::string& text);

// Parses argv (without the program name). Returns false with a message for a
// bad command line; *help is set when --help was asked for.
bool ParseCommandLine(const std::vector<std::string>& args,
                      LookupRequest* request, bool* help, std::string* error);

const char* UsageText();

#endif  // SELVANE_TOOLS_COMMANDLINE_H_
