#ifndef SELVANE_TOOLS_OUTPUT_H_
#define SELVANE_TOOLS_OUTPUT_H_

#include <string>

#include <SelvaneLibrary/DBParam.h>

// Renders a query's result by the type the library reported. Text types
// differ by table kind: a DBC "string" and a WDB "cstring" carry text, a
// DBC "cstring" is an integer.
std::string FormatPlain(const DBParam_t& result, bool dbc);
std::string FormatJson(const DBParam_t& result, bool dbc);

// Shortest text that reads back as the same float.
std::string FormatFloat(float value);
// A JSON string literal, quotes included.
std::string JsonString(const std::string& text);

#endif  // SELVANE_TOOLS_OUTPUT_H_
