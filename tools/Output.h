#ifndef SELVANE_TOOLS_OUTPUT_H_
#define SELVANE_TOOLS_OUTPUT_H_

#include <string>

#include <SelvaneLibrary/DBParam.h>

// Renders a query's result by the type the library reported. Text types
// differ by table kind: a DBC "string" and a WDB "cstring" carry text, a
// DBC "cstring" is an integer.
std::string FormatPlain(const DBParam_t& result, bool dbc);
std::string FormatJson(const DBParam_t& result, bool dbc);
// The value alone as JSON: integers as integers, floats in shortest
// round-trip form (non-finite ones as text), text as a string.
std::string JsonValue(const DBParam_t& result, bool dbc);
// The members of FormatJson's object without its braces.
std::string JsonMembers(const DBParam_t& result, bool dbc);
// A CSV field, quoted as RFC 4180 asks when it holds a comma, a quote or a
// line break.
std::string CsvField(const std::string& text);

// Shortest text that reads back as the same float.
std::string FormatFloat(float value);
// A JSON string literal, quotes included.
std::string JsonString(const std::string& text);

#endif  // SELVANE_TOOLS_OUTPUT_H_
