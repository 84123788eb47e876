#include "fields/DefinitionLoader.h"

#include <tinyxml.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <system_error>
#include <utility>

#include "fields/ElementDepth.h"

namespace {

const char kUndefPrefix[] = "Undef_";
const char kNoNote[] = "[NONE]";

// Indexed by type code.
const char* const kTypeKeywords[] = {"integer", "string",  "float", "bit",
                                     "byte",    "cstring", "amount"};

std::int32_t TypeCode(const std::string& keyword) {
  for (std::size_t i = 0; i < sizeof(kTypeKeywords) / sizeof(kTypeKeywords[0]);
       ++i) {
    if (keyword == kTypeKeywords[i]) return static_cast<std::int32_t>(i);
  }
  return selvane::kTypeNone;
}

// Reads a number the way atoi does (leading white space, optional sign,
// decimal digits up to the first other character, 0 without digits), but
// saturates instead of overflowing.
std::int32_t ParseInt(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() &&
         std::isspace(static_cast<unsigned char>(text[i])) != 0) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // The magnitude stops growing at |INT32_MIN|, the largest one needed.
  const std::uint32_t cap = 2147483648u;
  std::uint32_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const std::uint32_t digit = static_cast<std::uint32_t>(text[i] - '0');
    magnitude = magnitude > (cap - digit) / 10 ? cap : magnitude * 10 + digit;
  }
  if (negative) {
    if (magnitude == cap) return std::numeric_limits<std::int32_t>::min();
    return -static_cast<std::int32_t>(magnitude);
  }
  if (magnitude == cap) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(magnitude);
}

selvane::FieldAttr_t ReadField(const TiXmlElement& element) {
  selvane::FieldAttr_t field;
  if (const char* text = element.GetText()) field.name = text;
  for (const TiXmlAttribute* attribute = element.FirstAttribute();
       attribute != nullptr; attribute = attribute->Next()) {
    const std::string& name = attribute->NameTStr();
    const std::string& value = attribute->ValueStr();
    if (name == "position") {
      field.position = ParseInt(value);
      // Named after the text as written, not the number it gives.
      if (field.name.empty()) field.name = kUndefPrefix + value;
    } else if (name == "type") {
      field.type = TypeCode(value);
    } else if (name == "size") {
      field.size = ParseInt(value);
    } else if (name == "skipbyte") {
      field.skipbyte = ParseInt(value);
    }
  }
  return field;
}

void ReadTable(const TiXmlElement& element,
               selvane::CDBFieldManager::DBFile_t* file) {
  const TiXmlElement* note = element.FirstChildElement("Note");
  const char* noteText = note != nullptr ? note->GetText() : nullptr;
  file->note = noteText != nullptr ? noteText : kNoNote;

  const TiXmlElement* fields = element.FirstChildElement("Fields");
  if (fields == nullptr) return;
  // From the first "Field" on, every following element is a field, whatever
  // its name.
  for (const TiXmlElement* child = fields->FirstChildElement("Field");
       child != nullptr; child = child->NextSiblingElement()) {
    selvane::FieldAttr_t field = ReadField(*child);
    const std::int32_t position = field.position;
    file->fields.insert_or_assign(position, std::move(field));
  }
}

// A directory or other non-regular file must never reach the parser: it
// sizes its buffer from the end position, which is meaningless for them
// (a directory asks for an impossible allocation, a pipe may block).
bool IsRegularFile(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(std::filesystem::path(path), error);
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The parser steps over a multi-byte UTF-8 sequence by the length its lead
// byte announces, even where the text ends inside it, and then reads on past
// the terminator. Parsing from a buffer that ends in this many terminators
// keeps every such step inside the buffer (a lead byte announces at most 4).
constexpr std::size_t kParsePadding = 8;

// Turns CR LF and lone CR into LF in place, as the parser's own file loader
// does.
void NormaliseLineEnds(std::string* text) {
  char* const begin = &(*text)[0];
  const char* const end = begin + text->size();
  const char* p = begin;
  char* q = begin;
  while (p < end) {
    const char* const cr = static_cast<const char*>(
        std::memchr(p, '\r', static_cast<std::size_t>(end - p)));
    const char* const stop = cr != nullptr ? cr : end;
    std::memmove(q, p, static_cast<std::size_t>(stop - p));
    q += stop - p;
    p = stop;
    if (cr == nullptr) break;
    *q++ = '\n';
    if (++p < end && *p == '\n') ++p;
  }
  text->resize(static_cast<std::size_t>(q - begin));
}

// Reads the whole file into text, straight into its buffer, which keeps
// room for the padding behind it. False when the file cannot be read.
bool ReadWhole(std::FILE* file, std::string* text) {
  // Sized from the file up front, so that a file that does not change while
  // it is read takes one read call, and neither the reading nor the padding
  // moves the text.
  std::size_t room = 4096;
  if (std::fseek(file, 0, SEEK_END) == 0) {
    const long size = std::ftell(file);
    if (size > 0) room = static_cast<std::size_t>(size) + 1;
  }
  if (std::fseek(file, 0, SEEK_SET) != 0) return false;
  text->reserve(room + kParsePadding);
  std::size_t used = 0;
  for (;;) {
    text->resize(used + room);
    const std::size_t got = std::fread(&(*text)[used], 1, room, file);
    used += got;
    if (got < room) break;
    room = used;  // the file has grown: double the buffer
  }
  text->resize(used);
  return std::ferror(file) == 0;
}

// The file as the parser's own file loader would hand it over: up to its
// first NUL, with normalised line ends, followed by the padding. False when
// the file cannot be read.
bool ReadForParsing(const std::string& path, std::string* text) {
  const FilePtr file(std::fopen(path.c_str(), "rb"));
  if (file == nullptr || !ReadWhole(file.get(), text)) return false;
  text->resize(std::strlen(text->c_str()));
  NormaliseLineEnds(text);
  text->append(kParsePadding, '\0');
  return true;
}

void ReadTables(const TiXmlElement& root, CDefinitionLoader::Files* tables) {
  for (const TiXmlElement* table = root.FirstChildElement(); table != nullptr;
       table = table->NextSiblingElement()) {
    const std::string* name = table->Attribute(std::string("name"));
    if (name == nullptr || name->empty()) continue;
    // A table of the same name earlier in this document is replaced whole.
    selvane::CDBFieldManager::DBFile_t& file = (*tables)[*name];
    file = selvane::CDBFieldManager::DBFile_t();
    ReadTable(*table, &file);
  }
}

bool IsDefinitionRoot(const TiXmlElement* root) {
  return root != nullptr &&
         (root->ValueStr() == "DBCFile" || root->ValueStr() == "WDBFile");
}

}  // namespace

bool CDefinitionLoader::Load(const std::string& path, Files* files) {
  if (!IsRegularFile(path)) return false;
  std::string text;
  if (!ReadForParsing(path, &text)) return false;
  // Measured before the parse, which would otherwise recurse as deep as the
  // document nests.
  if (ElementDepth(text.c_str(), kMaxDepth) > kMaxDepth) return false;

  TiXmlDocument document;
  // No error is ever shown, so its row and column are not counted (that
  // costs the parser one more pass over the text).
  document.SetTabSize(0);
  document.Parse(text.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
  if (document.Error()) return false;
  const TiXmlElement* root = document.RootElement();
  if (!IsDefinitionRoot(root)) return false;
  Files tables;
  ReadTables(*root, &tables);
  files->swap(tables);
  return true;
}
