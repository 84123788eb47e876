#include <SelvaneLibrary/FieldManager.h>

CDBFieldManager::CDBFieldManager() = default;
CDBFieldManager::CDBFieldManager(const CDBFieldManager& other) = default;
CDBFieldManager& CDBFieldManager::operator=(const CDBFieldManager& other) =
    default;
CDBFieldManager::~CDBFieldManager() = default;

// Placeholder until the definition loader lands.
int CDBFieldManager::LoadDefinitions(const std::wstring&) { return -1; }

const FieldMap* CDBFieldManager::FindFields(const std::string& fileName) const {
  const auto it = files.find(fileName);
  return it == files.end() ? nullptr : &it->second.fields;
}

const CDBFieldManager::DBFile_t* CDBFieldManager::FindFile(
    const std::string& fileName) const {
  const auto it = files.find(fileName);
  return it == files.end() ? nullptr : &it->second;
}
