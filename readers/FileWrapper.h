#ifndef SELVANE_READERS_FILEWRAPPER_H_
#define SELVANE_READERS_FILEWRAPPER_H_

#include <cstdint>
#include <string>

#include <SelvaneLibrary/DBParam.h>
#include <SelvaneLibrary/FieldAttr.h>

// The abstract table-file reader. One lives on the stack of one query:
// Open, SetDefinition, Query, destroy. Every int result is 0 for success
// and -1 for failure; nothing throws.
class CFileWrapper {
 public:
  explicit CFileWrapper(std::int32_t kind);
  virtual ~CFileWrapper();

  CFileWrapper(const CFileWrapper&) = delete;
  CFileWrapper& operator=(const CFileWrapper&) = delete;

  // Finds the first record whose key field holds the key's value and reads
  // the result field of that record into result.
  virtual int Query(DBParam_t& key, DBParam_t& result) = 0;
  virtual int ReadInt(std::int32_t* value) = 0;
  virtual int ReadFloat(float* value) = 0;
  // Appends one string value to out; on failure what was read stays.
  virtual int ReadString(std::string& out) = 0;
  virtual int ReadByte(char* value) = 0;
  virtual int ReadBytes(char* buffer, std::int32_t count) = 0;
  virtual int ReadHeader() = 0;
  // Releases every handle; does nothing on a closed reader.
  virtual void Close();
  virtual int SeekFromBegin(std::int32_t position) = 0;
  virtual int SeekFromCurrent(std::int32_t distance) = 0;

  // Attaches a table's fields (not owned). Null is refused.
  int SetDefinition(const FieldMap* definitions);

 protected:
  const FieldMap* definitions() const { return definitions_; }

 private:
  std::int32_t kind_;
  const FieldMap* definitions_ = nullptr;
};

#endif  // SELVANE_READERS_FILEWRAPPER_H_
