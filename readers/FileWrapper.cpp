#include "readers/FileWrapper.h"

CFileWrapper::CFileWrapper(std::int32_t kind) : kind_(kind) {
  static_cast<void>(kind_);  // kept for the record; no operation consults it
}

CFileWrapper::~CFileWrapper() = default;

void CFileWrapper::Close() {}

int CFileWrapper::SetDefinition(const FieldMap* definitions) {
  if (definitions == nullptr) return -1;
  definitions_ = definitions;
  return 0;
}
