#include "readers/FileWrapper.h"

CFileWrapper::CFileWrapper(std::int32_t kind) : kind_(kind) {
  static_cast<void>(kind_);  // kept for the record; no operation consults it
}

CFileWrapper::~CFileWrapper() = default;

void CFileWrapper::Close() {}

int CFileWrapper::SetDefinition(const selvane::FieldMap* definitions) {
  if (definitions == nullptr) return -1;
  definitions_ = definitions;
  return 0;
}

int CFileWrapper::ReadAndMatch(ValueKind kind, const DBParam_t& key,
                               bool* matched) {
  switch (kind) {
    case ValueKind::kInteger: {
      std::int32_t value = 0;
      if (ReadInt(&value) != 0) return -1;
      *matched = value == key.intValue;
      return 0;
    }
    case ValueKind::kByte: {
      char value = 0;
      if (ReadByte(&value) != 0) return -1;
      *matched = static_cast<signed char>(value) == key.intValue;
      return 0;
    }
    case ValueKind::kFloat: {
      float value = 0.0f;
      if (ReadFloat(&value) != 0) return -1;
      *matched = value == key.floatValue;  // NaN matches nothing; -0 == +0
      return 0;
    }
    case ValueKind::kString: {
      try {
        std::string value;
        if (ReadString(value) != 0) return -1;
        *matched = value == key.strValue;
        return 0;
      } catch (...) {  // out of memory for the text read: a failed read
        return -1;
      }
    }
  }
  return -1;
}

int CFileWrapper::ReadAndStore(ValueKind kind, DBParam_t& result) {
  switch (kind) {
    case ValueKind::kInteger: {
      std::int32_t value = 0;
      if (ReadInt(&value) != 0) return -1;
      result.intValue = value;
      return 0;
    }
    case ValueKind::kByte: {
      char value = 0;
      if (ReadByte(&value) != 0) return -1;
      result.intValue = static_cast<signed char>(value);
      return 0;
    }
    case ValueKind::kFloat: {
      float value = 0.0f;
      if (ReadFloat(&value) != 0) return -1;
      result.floatValue = value;
      return 0;
    }
    case ValueKind::kString: {
      const std::size_t old_size = result.strValue.size();
      int status = -1;
      try {
        status = ReadString(result.strValue);
      } catch (...) {  // out of memory, or longer than a string can hold
        status = -1;
      }
      if (status != 0) result.strValue.resize(old_size);
      return status;
    }
  }
  return -1;
}
