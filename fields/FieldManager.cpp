#include <SelvaneLibrary/detail/FieldManager.h>

#include <utility>

#include "fields/DefinitionLoader.h"
#include "query/PathUtil.h"

namespace selvane {
namespace {

// Moves every loaded table into target, replacing a definition of the same
// name whole. Nodes are moved, not copied, so this cannot fail halfway.
void MergeTables(CDefinitionLoader::Files* loaded,
                 std::map<std::string, CDBFieldManager::DBFile_t>* target) {
  while (!loaded->empty()) {
    auto node = loaded->extract(loaded->begin());
    target->erase(node.key());
    target->insert(std::move(node));
  }
}

}  // namespace

CDBFieldManager::CDBFieldManager() = default;
CDBFieldManager::CDBFieldManager(const CDBFieldManager& other) = default;
CDBFieldManager::CDBFieldManager(CDBFieldManager&& other) noexcept = default;
CDBFieldManager& CDBFieldManager::operator=(CDBFieldManager&& other) noexcept =
    default;
CDBFieldManager& CDBFieldManager::operator=(const CDBFieldManager& other) =
    default;
CDBFieldManager::~CDBFieldManager() = default;

int CDBFieldManager::LoadDefinitions(const std::wstring& path) {
  CDefinitionLoader::Files loaded;
  try {
    std::string narrow;
    // A cut character would name another file: open nothing instead.
    if (!NarrowExact(path, &narrow)) return -1;
    if (!CDefinitionLoader::Load(narrow, &loaded)) return -1;
  } catch (...) {
    return -1;
  }
  MergeTables(&loaded, &files);
  return 0;
}

const FieldMap* CDBFieldManager::FindFields(const std::string& fileName) const {
  const auto it = files.find(fileName);
  return it == files.end() ? nullptr : &it->second.fields;
}

const CDBFieldManager::DBFile_t* CDBFieldManager::FindFile(
    const std::string& fileName) const {
  const auto it = files.find(fileName);
  return it == files.end() ? nullptr : &it->second;
}

}  // namespace selvane
