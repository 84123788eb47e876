#include "fields/ElementDepth.h"

#include <tinyxml.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace {

enum class Encoding { kUnknown, kUtf8, kLegacy };

// What the parser makes of a '<' (TiXmlNode::Identify).
enum class Node { kNone, kDeclaration, kComment, kCData, kOther, kElement };

// Character classes, as the parser's IsWhiteSpace, IsAlpha and IsAlphaNum
// decide them.
constexpr unsigned char kSpace = 1;
constexpr unsigned char kNameStart = 2;
constexpr unsigned char kNameChar = 4;

// The bytes the parser takes for one character starting with this lead
// byte in UTF-8 text.
int Utf8Length(unsigned char lead) {
  if (lead < 0xC2) return 1;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  if (lead < 0xF5) return 4;
  return 1;
}

// The parser lowers a plain char. Above 0x7F that char is negative where
// char is signed, and the C library lowers it as the byte it stands for;
// tolower itself is only defined on the byte.
int Lower(char c, Encoding encoding) {
  const auto byte = static_cast<unsigned char>(c);
  if (encoding == Encoding::kUtf8 && byte >= 0x80 &&
      !std::is_signed<char>::value) {
    return byte;
  }
  return std::tolower(byte);
}

// The parser's StringEqual ignoring case.
bool StartsWithFolded(const char* p, const char* tag, Encoding encoding) {
  for (; *tag != '\0'; ++p, ++tag) {
    if (*p == '\0' || Lower(*p, encoding) != Lower(*tag, encoding)) {
      return false;
    }
  }
  return true;
}

bool StartsWith(const char* p, const char* tag) {
  return std::strncmp(p, tag, std::strlen(tag)) == 0;
}

int DigitValue(char c, bool hex) {
  if (c >= '0' && c <= '9') return c - '0';
  if (!hex) return -1;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

struct NamedEntity {
  const char* text;
  char value;
};
const NamedEntity kNamedEntities[] = {{"&amp;", '&'},
                                      {"&lt;", '<'},
                                      {"&gt;", '>'},
                                      {"&quot;", '"'},
                                      {"&apos;", '\''}};

// Every Pass function takes the position the parser's matching routine
// starts from and returns where that routine returns: null where the parser
// stops reading, the text's end where it returns that.
class Walk {
 public:
  explicit Walk(std::size_t limit)
      : limit_(limit), condensed_(TiXmlBase::IsWhiteSpaceCondensed()) {
    for (int c = 0; c < 256; ++c) {
      unsigned char classes = 0;
      if (std::isspace(c) != 0 || c == '\n' || c == '\r') classes |= kSpace;
      // Bytes from 0x7F up all count as letters.
      const bool alpha = c < 127 ? std::isalpha(c) != 0 : true;
      const bool alnum = c < 127 ? std::isalnum(c) != 0 : true;
      if (alpha || c == '_') classes |= kNameStart;
      if (alnum || c == '_' || c == '-' || c == '.' || c == ':') {
        classes |= kNameChar;
      }
      classes_[c] = classes;
    }
  }

  // TiXmlDocument::Parse.
  std::size_t Run(const char* p) {
    if (*p == '\0') return 0;
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    if (u[0] == 0xEF && u[1] == 0xBB && u[2] == 0xBF) {
      encoding_ = Encoding::kUtf8;
    }
    p = SkipSpace(p);
    while (p != nullptr && *p != '\0') {
      const Node node = Identify(&p);
      if (node == Node::kNone) break;
      if (node == Node::kElement) {
        p = PassElement(p);
      } else if (node == Node::kDeclaration) {
        // The first declaration of the document sets its encoding.
        const bool open = encoding_ == Encoding::kUnknown;
        std::string named;
        p = PassDeclaration(p, open ? &named : nullptr);
        if (open) encoding_ = EncodingNamed(named);
      } else {
        p = PassLeaf(node, p);
      }
      p = SkipSpace(p);
    }
    return deepest_;
  }

 private:
  struct Name {
    const char* begin;
    std::size_t size;
  };

  bool Is(char c, unsigned char classes) const {
    return (classes_[static_cast<unsigned char>(c)] & classes) != 0;
  }

  static Encoding EncodingNamed(const std::string& name) {
    // Read as a C string, as the parser reads it.
    const char* text = name.c_str();
    if (*text == '\0' || StartsWithFolded(text, "UTF-8", Encoding::kUnknown) ||
        StartsWithFolded(text, "UTF8", Encoding::kUnknown)) {
      return Encoding::kUtf8;
    }
    return Encoding::kLegacy;
  }

  const char* SkipSpace(const char* p) const {
    if (p == nullptr || *p == '\0') return nullptr;
    if (encoding_ != Encoding::kUtf8) {
      while (Is(*p, kSpace)) ++p;
      return p;
    }
    for (;;) {
      const auto* u = reinterpret_cast<const unsigned char*>(p);
      // Byte order marks and the two non-characters count as space.
      if (u[0] == 0xEF && ((u[1] == 0xBB && u[2] == 0xBF) ||
                           (u[1] == 0xBF && (u[2] == 0xBE || u[2] == 0xBF)))) {
        p += 3;
      } else if (Is(*p, kSpace)) {
        ++p;
      } else {
        return p;
      }
    }
  }

  // Moves p past white space to a node; kNone unless one starts there.
  Node Identify(const char** at) const {
    const char* p = SkipSpace(*at);
    if (p == nullptr || *p != '<') return Node::kNone;
    *at = p;
    if (StartsWithFolded(p, "<?xml", encoding_)) return Node::kDeclaration;
    if (StartsWith(p, "<!--")) return Node::kComment;
    if (StartsWith(p, "<![CDATA[")) return Node::kCData;
    if (p[1] == '!') return Node::kOther;
    return Is(p[1], kNameStart) ? Node::kElement : Node::kOther;
  }

  const char* PassName(const char* p) const {
    if (p == nullptr || !Is(*p, kNameStart)) return nullptr;
    while (Is(*p, kNameChar)) ++p;
    return p;
  }

  // An entity reference, or the lone '&' that starts none. Appends to out
  // what the parser would append in text that is not UTF-8.
  static const char* PassEntity(const char* p, std::string* out) {
    if (p[1] == '#' && p[2] != '\0') {
      const bool hex = p[2] == 'x';
      if (hex && p[3] == '\0') return nullptr;
      const char* const end = std::strchr(p + (hex ? 3 : 2), ';');
      if (end == nullptr) return nullptr;
      // Digits are read back from the ';' to the nearest 'x' (or '#'), so
      // whatever lies before that one is passed over unread.
      const char stop = hex ? 'x' : '#';
      std::uint32_t code = 0;
      std::uint32_t scale = 1;
      for (const char* q = end - 1; *q != stop; --q) {
        const int digit = DigitValue(*q, hex);
        if (digit < 0) return nullptr;
        code += scale * static_cast<std::uint32_t>(digit);
        scale *= hex ? 16u : 10u;
      }
      if (out != nullptr) out->push_back(static_cast<char>(code & 0xFFu));
      return end + 1;
    }
    for (const NamedEntity& entity : kNamedEntities) {
      if (StartsWith(p, entity.text)) {
        if (out != nullptr) out->push_back(entity.value);
        return p + std::strlen(entity.text);
      }
    }
    return p + 1;  // the parser keeps nothing of it
  }

  // One character of text (TiXmlBase::GetChar).
  const char* PassChar(const char* p, std::string* out) const {
    if (encoding_ == Encoding::kUtf8) {
      const int length = Utf8Length(static_cast<unsigned char>(*p));
      if (length > 1) return p + length;
    }
    if (*p == '&') return PassEntity(p, out);
    if (out != nullptr) out->push_back(*p);
    return p + 1;
  }

  // Text up to and past the quote (TiXmlBase::ReadText keeping space).
  const char* PassQuoted(const char* p, char quote, std::string* out) const {
    while (*p != '\0' && *p != quote) {
      p = PassChar(p, out);
      if (p == nullptr) return nullptr;
    }
    if (*p != '\0') ++p;
    return *p != '\0' ? p : nullptr;
  }

  // TiXmlAttribute::Parse; value, when given, receives the value.
  const char* PassAttribute(const char* p, std::string* value) const {
    p = SkipSpace(p);
    p = PassName(p);
    if (p == nullptr || *p == '\0') return nullptr;
    p = SkipSpace(p);
    if (p == nullptr || *p != '=') return nullptr;
    p = SkipSpace(p + 1);
    if (p == nullptr || *p == '\0') return nullptr;
    if (*p == '\'' || *p == '"') return PassQuoted(p + 1, *p, value);
    for (; *p != '\0' && !Is(*p, kSpace) && *p != '/' && *p != '>'; ++p) {
      if (*p == '\'' || *p == '"') return nullptr;
      if (value != nullptr) value->push_back(*p);
    }
    return p;
  }

  // Character data inside an element (TiXmlText::Parse), from where the
  // parser hands it over; returns at the '<' that ends it.
  const char* PassText(const char* p) const {
    if (condensed_) {
      p = SkipSpace(p);
      if (p == nullptr) return nullptr;
    }
    while (*p != '\0' && *p != '<') {
      p = condensed_ && Is(*p, kSpace) ? p + 1 : PassChar(p, nullptr);
      if (p == nullptr) return nullptr;
    }
    // The '<' must not be the last character.
    return *p != '\0' && p[1] != '\0' ? p : nullptr;
  }

  static const char* PassComment(const char* p) {
    const char* const end = std::strstr(p + 4, "-->");
    return end != nullptr ? end + 3 : p + std::strlen(p);
  }

  static const char* PassCData(const char* p) {
    const char* const end = std::strstr(p + 9, "]]>");
    return end != nullptr && end[3] != '\0' ? end + 3 : nullptr;
  }

  // Any other markup (TiXmlUnknown) ends at the first '>'.
  static const char* PassOther(const char* p) {
    const char* const end = std::strchr(p, '>');
    return end != nullptr ? end + 1 : p + std::strlen(p);
  }

  // TiXmlDeclaration::Parse; encoding, when given, receives the value of
  // its last "encoding" attribute.
  const char* PassDeclaration(const char* p, std::string* encoding) const {
    p += 5;
    while (*p != '\0') {
      if (*p == '>') return p + 1;
      p = SkipSpace(p);
      if (p == nullptr || *p == '\0') return nullptr;
      if (StartsWithFolded(p, "version", encoding_) ||
          StartsWithFolded(p, "standalone", encoding_)) {
        p = PassAttribute(p, nullptr);
      } else if (StartsWithFolded(p, "encoding", encoding_)) {
        if (encoding != nullptr) encoding->clear();
        p = PassAttribute(p, encoding);
      } else {
        while (*p != '\0' && *p != '>' && !Is(*p, kSpace)) ++p;
      }
      if (p == nullptr) return nullptr;
    }
    return nullptr;
  }

  // Any node but an element, p at its '<'.
  const char* PassLeaf(Node node, const char* p) const {
    switch (node) {
      case Node::kDeclaration:
        return PassDeclaration(p, nullptr);
      case Node::kComment:
        return PassComment(p);
      case Node::kCData:
        return PassCData(p);
      default:
        return PassOther(p);
    }
  }

  // TiXmlElement::Parse, the recursion unrolled: open_ holds the elements
  // whose content is being read.
  const char* PassElement(const char* p) {
    const std::size_t outer = open_.size();
    p = OpenElement(p);
    while (p != nullptr && open_.size() > outer) {
      const char* child = nullptr;
      p = PassContent(p, &child);
      if (p == nullptr) return nullptr;
      p = child != nullptr ? OpenElement(child) : CloseElement(p);
    }
    return p;
  }

  // The start tag, p at its '<'. An element with content stays open.
  const char* OpenElement(const char* p) {
    const std::size_t depth = open_.size() + 1;
    if (depth > deepest_) deepest_ = depth;
    if (depth > limit_) return nullptr;
    p = SkipSpace(p + 1);
    const char* const name = p;
    p = PassName(p);
    if (p == nullptr || *p == '\0') return nullptr;
    const Name named{name, static_cast<std::size_t>(p - name)};
    for (;;) {
      p = SkipSpace(p);
      if (p == nullptr || *p == '\0') return nullptr;
      if (*p == '/') return p[1] == '>' ? p + 2 : nullptr;
      if (*p == '>') {
        open_.push_back(named);
        return p + 1;
      }
      p = PassAttribute(p, nullptr);
      if (p == nullptr || *p == '\0') return nullptr;
    }
  }

  // TiXmlElement::ReadValue: stops at an end tag, or at a child element
  // (then also stored in *child).
  const char* PassContent(const char* p, const char** child) const {
    const char* withSpace = p;
    p = SkipSpace(p);
    while (p != nullptr && *p != '\0') {
      if (*p != '<') {
        p = PassText(condensed_ ? p : withSpace);
      } else if (p[1] == '/') {
        return p;
      } else {
        const Node node = Identify(&p);
        if (node == Node::kElement) {
          *child = p;
          return p;
        }
        p = PassLeaf(node, p);
      }
      withSpace = p;
      p = SkipSpace(p);
    }
    return nullptr;
  }

  // The end tag of the innermost open element, p at its "</".
  const char* CloseElement(const char* p) {
    const Name& name = open_.back();
    if (std::strncmp(p + 2, name.begin, name.size) != 0) return nullptr;
    p = SkipSpace(p + 2 + name.size);
    if (p == nullptr || *p != '>') return nullptr;
    open_.pop_back();
    return p + 1;
  }

  const std::size_t limit_;
  const bool condensed_;
  unsigned char classes_[256];
  Encoding encoding_ = Encoding::kUnknown;
  std::vector<Name> open_;
  std::size_t deepest_ = 0;
};

}  // namespace

std::size_t ElementDepth(const char* text, std::size_t limit) {
  return Walk(limit).Run(text);
}
