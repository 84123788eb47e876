#ifndef SELVANE_FIELDS_DEFINITIONLOADER_H_
#define SELVANE_FIELDS_DEFINITIONLOADER_H_

#include <cstddef>
#include <map>
#include <string>

#include <SelvaneLibrary/detail/FieldManager.h>

// Reads one field-definition file into a set of table definitions of its
// own, so that the manager can merge them only once the whole document has
// been read. The only user of the XML parser.
class CDefinitionLoader {
 public:
  using Files = std::map<std::string, selvane::CDBFieldManager::DBFile_t>;

  // Deepest element nesting a document may have (the root is level 1; a
  // definition file needs four). The parser recurses a few hundred bytes of
  // stack per level; at this depth the whole load fits far inside 64 KiB of
  // stack, on whatever thread the host calls from.
  static constexpr std::size_t kMaxDepth = 64;

  // Parses the file at path (narrow, as the file system takes it). True when
  // the file was read and its root element is "DBCFile" or "WDBFile"; *files
  // then holds exactly the named tables of the document, a later table of the
  // same name having replaced an earlier one. A document nested deeper than
  // kMaxDepth is refused unparsed. On false, *files is unchanged.
  // Throws only std::bad_alloc.
  static bool Load(const std::string& path, Files* files);
};

#endif  // SELVANE_FIELDS_DEFINITIONLOADER_H_
