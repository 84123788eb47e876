#ifndef SELVANE_TESTS_SUPPORT_DEFINITIONBUILDER_H_
#define SELVANE_TESTS_SUPPORT_DEFINITIONBUILDER_H_

#include <optional>
#include <string>
#include <utility>
#include <vector>

class TempDir;

// Writes field-definition documents for tests. Either describe the tables
// and let Xml() render them, or hand over raw XML text with WriteRaw.
// Texts and attribute values are escaped, so any byte string can be used.
class DefinitionBuilder {
 public:
  using Attributes = std::vector<std::pair<std::string, std::string>>;

  explicit DefinitionBuilder(std::string root = "DBCFile");

  // Starts a table element carrying name="...". Later calls describe it.
  DefinitionBuilder& Table(const std::string& name);
  // Starts a table element without a "name" attribute.
  DefinitionBuilder& UnnamedTable();
  // Element name of the current table ("File" unless changed).
  DefinitionBuilder& Element(const std::string& element);
  // A "Note" element with this text (empty: an empty element).
  DefinitionBuilder& Note(const std::string& text);
  // A field element (named "Field" unless given) inside the table's
  // "Fields" element, created on first use. Empty text: no text at all.
  DefinitionBuilder& Field(const std::string& text, const Attributes& attrs);
  DefinitionBuilder& FieldElement(const std::string& element,
                                  const std::string& text,
                                  const Attributes& attrs);
  // Raw XML placed inside the table element, after what came before it.
  DefinitionBuilder& RawInTable(const std::string& xml);
  // Raw XML placed inside "Fields", after what came before it.
  DefinitionBuilder& RawInFields(const std::string& xml);

  std::string Xml() const;
  // Writes Xml() to dir.File(name); returns the wide path to load.
  std::wstring WriteTo(const TempDir& dir, const std::string& name) const;
  // Writes xml as given; returns the wide path to load.
  static std::wstring WriteRaw(const TempDir& dir, const std::string& name,
                               const std::string& xml);

 private:
  struct TableDraft {
    std::string element = "File";
    std::optional<std::string> name;
    std::string body;    // rendered children before "Fields"
    std::string fields;  // rendered children of "Fields"
    bool hasFields = false;
    std::string tail;  // rendered children after "Fields"
  };

  TableDraft& Current();

  std::string root_;
  std::vector<TableDraft> tables_;
};

// Escapes the five XML special characters.
std::string XmlEscape(const std::string& text);

#endif  // SELVANE_TESTS_SUPPORT_DEFINITIONBUILDER_H_
