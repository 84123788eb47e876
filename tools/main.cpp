// selvane: one lookup from the shell. Loads the definition files, asks the
// library, prints the answer by its type.
#include <SelvaneLibrary/SelvaneLibrary.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "tools/CommandLine.h"
#include "tools/Output.h"

namespace {

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

int Fail(const std::string& message) {
  std::fprintf(stderr, "selvane: %s\n", message.c_str());
  return 1;
}

int Run(const LookupRequest& request) {
  const bool dbc = request.kind == LookupRequest::Kind::kDbc;
  CSelvaneObject db;
  for (const auto& defs : request.definitions) {
    if (!IsRegularFile(defs))
      return Fail("definition file '" + defs + "' does not exist");
    if (db.InitConfig(Widen(defs)) != 0)
      return Fail("definition file '" + defs +
                  "' did not load (not XML, or its root is neither DBCFile "
                  "nor WDBFile)");
  }
  if (!IsRegularFile(request.file))
    return Fail(std::string(dbc ? "archive" : "data file") + " '" +
                request.file + "' does not exist");

  const KeyValue value = ParseKeyValue(request.keyValue);
  DBParam_t key;
  key.fieldIndex = request.keyIndex;
  key.intValue = value.intValue;
  key.floatValue = value.floatValue;
  key.strValue = value.strValue;
  DBParam_t result;
  result.fieldIndex = request.resultIndex;

  const int status =
      dbc ? db.QueryDBC(Widen(request.file), request.table, key, result)
          : db.QueryWDB(Widen(request.file), key, result);
  if (status != 0)
    return Fail(
        "no answer: no definition for the table, no record matched, or the "
        "table could not be read");
  const std::string text =
      request.json ? FormatJson(result, dbc) : FormatPlain(result, dbc);
  std::printf("%s\n", text.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  LookupRequest request;
  bool help = false;
  std::string error;
  if (!ParseCommandLine(args, &request, &help, &error)) {
    std::fprintf(stderr, "selvane: %s\n\n%s", error.c_str(), UsageText());
    return 2;
  }
  if (help) {
    std::printf("%s", UsageText());
    return 0;
  }
  return Run(request);
}
