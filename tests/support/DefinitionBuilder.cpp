#include "tests/support/DefinitionBuilder.h"

#include <stdexcept>

#include "tests/support/TempDir.h"

namespace {

std::string RenderElement(const std::string& element, const std::string& text,
                          const DefinitionBuilder::Attributes& attrs) {
  std::string xml = "<" + element;
  for (const auto& attr : attrs) {
    xml += " " + attr.first + "=\"" + XmlEscape(attr.second) + "\"";
  }
  if (text.empty()) return xml + "/>";
  return xml + ">" + XmlEscape(text) + "</" + element + ">";
}

}  // namespace

std::string XmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

DefinitionBuilder::DefinitionBuilder(std::string root)
    : root_(std::move(root)) {}

DefinitionBuilder& DefinitionBuilder::Table(const std::string& name) {
  tables_.emplace_back();
  tables_.back().name = name;
  return *this;
}

DefinitionBuilder& DefinitionBuilder::UnnamedTable() {
  tables_.emplace_back();
  return *this;
}

DefinitionBuilder& DefinitionBuilder::Element(const std::string& element) {
  Current().element = element;
  return *this;
}

DefinitionBuilder& DefinitionBuilder::Note(const std::string& text) {
  TableDraft& table = Current();
  (table.hasFields ? table.tail : table.body) +=
      RenderElement("Note", text, {});
  return *this;
}

DefinitionBuilder& DefinitionBuilder::Field(const std::string& text,
                                            const Attributes& attrs) {
  return FieldElement("Field", text, attrs);
}

DefinitionBuilder& DefinitionBuilder::FieldElement(const std::string& element,
                                                   const std::string& text,
                                                   const Attributes& attrs) {
  TableDraft& table = Current();
  table.hasFields = true;
  table.fields += RenderElement(element, text, attrs);
  return *this;
}

DefinitionBuilder& DefinitionBuilder::RawInTable(const std::string& xml) {
  TableDraft& table = Current();
  (table.hasFields ? table.tail : table.body) += xml;
  return *this;
}

DefinitionBuilder& DefinitionBuilder::RawInFields(const std::string& xml) {
  TableDraft& table = Current();
  table.hasFields = true;
  table.fields += xml;
  return *this;
}

std::string DefinitionBuilder::Xml() const {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  xml += "<" + root_ + ">\n";
  for (const TableDraft& table : tables_) {
    xml += "  <" + table.element;
    if (table.name) xml += " name=\"" + XmlEscape(*table.name) + "\"";
    xml += ">" + table.body;
    if (table.hasFields) xml += "<Fields>" + table.fields + "</Fields>";
    xml += table.tail + "</" + table.element + ">\n";
  }
  return xml + "</" + root_ + ">\n";
}

std::wstring DefinitionBuilder::WriteTo(const TempDir& dir,
                                        const std::string& name) const {
  return WriteRaw(dir, name, Xml());
}

std::wstring DefinitionBuilder::WriteRaw(const TempDir& dir,
                                         const std::string& name,
                                         const std::string& xml) {
  return Widen(dir.Write(name, xml));
}

DefinitionBuilder::TableDraft& DefinitionBuilder::Current() {
  if (tables_.empty()) throw std::logic_error("describe a table first");
  return tables_.back();
}
