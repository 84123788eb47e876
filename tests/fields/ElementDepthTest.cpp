// The depth walk against the parser itself: the parser links every element
// it starts into the document, also when it then fails, so the deepest
// element of what it leaves behind is the deepest level its recursion
// reached. Random documents mix every construct that can hide a '<' or a
// quote from a naive reader, and half of them are damaged afterwards.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <algorithm>
#include <cstddef>
#include <random>
#include <string>
#include <vector>

#include "fields/ElementDepth.h"

namespace {

// The parser may read up to 3 bytes past the terminator.
std::string Padded(const std::string& text) {
  return text + std::string(8, '\0');
}

std::size_t DeepestElement(const TiXmlNode* node, std::size_t depth) {
  std::size_t deepest = depth;
  for (const TiXmlNode* child = node->FirstChild(); child != nullptr;
       child = child->NextSibling()) {
    const bool element = child->ToElement() != nullptr;
    deepest =
        std::max(deepest, DeepestElement(child, depth + (element ? 1 : 0)));
  }
  return deepest;
}

struct Parsed {
  std::size_t depth;
  bool error;
};

Parsed ParseDepth(const std::string& padded) {
  TiXmlDocument document;
  document.Parse(padded.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
  return {DeepestElement(&document, 0), document.Error()};
}

class RandomDocument {
 public:
  explicit RandomDocument(unsigned seed) : rng_(seed) {}

  std::string Make() {
    std::string doc;
    if (Chance(4)) doc += "\xEF\xBB\xBF";
    if (Chance(2)) doc += Declaration();
    while (Chance(3)) doc += Misc();
    doc += Element(Pick(24));
    while (Chance(4)) doc += Chance(2) ? Misc() : Element(2);
    return doc;
  }

  // Cut, flipped, inserted or dropped bytes, a few times over.
  std::string Damage(std::string doc) {
    static const char kBytes[] = "<>/=\"'&;#x-!?[] a\xE2\xEF\xC3\xBB\xBF\t";
    const int edits = 1 + Pick(3);
    for (int i = 0; i < edits && !doc.empty(); ++i) {
      const std::size_t at = Below(doc.size());
      const char byte = kBytes[Below(sizeof kBytes - 1)];
      switch (Pick(4)) {
        case 0:
          doc.resize(at);
          break;
        case 1:
          doc[at] = byte;
          break;
        case 2:
          doc.insert(doc.begin() + static_cast<std::ptrdiff_t>(at), byte);
          break;
        default:
          doc.erase(at, 1);
          break;
      }
    }
    return doc;
  }

 private:
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  std::size_t Below(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_);
  }
  bool Chance(int oneIn) { return Pick(oneIn) == 0; }

  template <std::size_t N>
  const char* From(const char* const (&choices)[N]) {
    return choices[Below(N)];
  }

  // Mostly plain text, sometimes a piece that ends a value, text, comment
  // or section early or late, or only looks as if it did: quotes, '<' and
  // '>', entity references that reach over other markup, and UTF-8 lead
  // bytes that swallow what follows them.
  std::string Filler() {
    static const char* const kPlain[] = {"x",     " ",        "\n", "ab",
                                         "&amp;", "\xC3\xA9", "1"};
    // clang-format off
    static const char* const kTricky[] = {
        "<", ">", "/", "'", "\"", "<a>", "</a>", "<a/>",
        "&lt;", "&quot;", "&apos;", "&", "&#x41;", "&#65;", "&#x", "&#",
        "x4;", "#6;", ";", "&#x\"",
        "\xE2\x82\xAC", "\xE2", "\xC3", "\xF0", "\xEF\xBB\xBF",
        "-->", "--", "]]>", "]]", "<!--", "?>"};
    // clang-format on
    std::string text;
    const int pieces = Pick(5);
    for (int i = 0; i < pieces; ++i) {
      text += Chance(6) ? From(kTricky) : From(kPlain);
    }
    return text;
  }

  std::string Space() {
    static const char* const kSpaces[] = {"",   "",    " ",
                                          "\n", "\t ", "\xEF\xBB\xBF"};
    return From(kSpaces);
  }

  std::string Declaration() {
    static const char* const kOpen[] = {"<?xml", "<?XML", "<?xml-sheet"};
    static const char* const kEncodings[] = {
        "UTF-8",      "utf-8",     "UTF8",  "ISO-8859-1", "",
        "&#x55;TF-8", "&#0;latin", "latin", "u&#x54;f8",  "&bogus;UTF-8"};
    std::string decl = From(kOpen);
    if (Chance(2)) decl += " version=\"1.0\"";
    if (!Chance(4)) {
      const char* const quote = Chance(3) ? "'" : "\"";
      decl += std::string(" encoding=") + quote + From(kEncodings) + quote;
    }
    if (Chance(4)) decl += " standalone=\"yes\"";
    // The parser ends the declaration at that '>' and stops at the rest.
    if (Chance(16)) decl += " other=\"a>b\"";
    return decl + "?>" + Space();
  }

  std::string Misc() {
    switch (Pick(24)) {
      case 0:
        // The parser ends it at the first '>' and stops at the rest.
        return "<!DOCTYPE d [<!ELEMENT a ANY>]>" + Space();
      case 1:
        return "<?pi " + Filler() + "?>" + Space();
      case 2:
        return "< a>" + Space();
      case 3:
        return "<?xml version='1.0' encoding='latin'?>" + Space();
      case 4:
        return "<1" + Filler() + ">" + Space();
      case 5:
        return "<!DOCTYPE d>" + Space();
      default:
        return "<!--" + Filler() + "-->" + Space();
    }
  }

  std::string Name() {
    static const char* const kNames[] = {"a",   "b",     "Field",     "_x",
                                         "a.b", "a-b:c", "\xC3\xA9l", "ab"};
    return From(kNames);
  }

  std::string Attributes() {
    static const char* const kNames[] = {"x", "position", "y-1", "_z"};
    std::string attributes;
    // Distinct names: a repeated one stops the parser but not the walk.
    const int first = Pick(4);
    const int count = Pick(4);
    for (int i = 0; i < count; ++i) {
      attributes += std::string(" ") + kNames[(first + i) % 4];
      attributes += Chance(6) ? " = " : "=";
      switch (Pick(3)) {
        case 0:
          attributes += "\"" + Filler() + "\"";
          break;
        case 1:
          attributes += "'" + Filler() + "'";
          break;
        default:
          attributes += Chance(2) ? "bare" : "a&amp;b";
          break;
      }
    }
    return attributes;
  }

  std::string Content(int levels) {
    std::string content;
    // Mostly one child at least, so that some documents nest deep.
    if (levels > 0 && !Chance(6)) content += Element(levels - 1);
    const int parts = Pick(3);
    for (int i = 0; i < parts; ++i) {
      switch (Pick(6)) {
        case 0:
          content += Filler();
          break;
        case 1:
          content += "<![CDATA[" + Filler() + "]]>";
          break;
        case 2:
          content += Misc();
          break;
        default:
          if (levels > 0) content += Element(levels - 1);
          break;
      }
    }
    return content;
  }

  std::string Element(int levels) {
    const std::string name = Name();
    std::string element = "<" + name + Attributes() + Space();
    if (Chance(4)) return element + (Chance(2) ? "/>" : "/ >");
    element += ">" + Content(levels) + "</";
    element += Chance(10) ? Name() : name;
    return element + Space() + ">";
  }

  std::mt19937 rng_;
};

class ElementDepthTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { TiXmlBase::SetCondenseWhiteSpace(GetParam()); }
  void TearDown() override { TiXmlBase::SetCondenseWhiteSpace(true); }
};

TEST_P(ElementDepthTest, AgreesWithTheParserOnRandomDocuments) {
  int failed = 0;
  int refused = 0;
  for (unsigned seed = 1; seed <= 3000 && failed < 5; ++seed) {
    RandomDocument random(seed);
    std::string doc = random.Make();
    const bool damaged = seed % 2 == 0;
    if (damaged) doc = random.Damage(doc);
    const std::string text = Padded(doc);
    const Parsed parsed = ParseDepth(text);
    const std::size_t walked = ElementDepth(text.c_str(), 1000);
    refused += parsed.error ? 1 : 0;
    // A damaged document may repeat an attribute name, which stops the
    // parser and not the walk.
    const bool exact = !parsed.error || !damaged;
    if (exact ? walked != parsed.depth : walked < parsed.depth) {
      ADD_FAILURE() << "seed " << seed << ": walk " << walked << ", parser "
                    << parsed.depth << (parsed.error ? " (error)" : "") << "\n"
                    << doc;
      ++failed;
    }
    // Past the limit the walk stops and says so.
    const std::size_t limit = seed % (walked + 2);
    EXPECT_EQ(std::min(walked, limit + 1), ElementDepth(text.c_str(), limit))
        << "seed " << seed;
  }
  // Both outcomes are well represented.
  EXPECT_GT(refused, 300);
  EXPECT_LT(refused, 2700);
}

INSTANTIATE_TEST_SUITE_P(WhiteSpace, ElementDepthTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Condensed" : "Kept";
                         });

}  // namespace
