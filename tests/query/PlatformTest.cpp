// What differs between the platforms, asked through the shared library as a
// host asks: which character cuts a WDB path, which wide paths name a file,
// whether another process's writing handle keeps a WDB file from being read,
// and on Windows the library's entry point and exports.
#include <gtest/gtest.h>

#include <SelvaneLibrary/SelvaneObject.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

#include "tests/support/DefinitionBuilder.h"
#include "tests/support/SharedWriter.h"
#include "tests/support/TempDir.h"
#include "tests/support/WdbBuilder.h"

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
constexpr wchar_t kSeparator = L'\\';
#else
constexpr wchar_t kSeparator = L'/';
#endif

// One record with entry id 8 whose amount (field 3) is the given value.
std::string WdbWithAmount(std::int32_t amount) {
  WdbBuilder wdb;
  wdb.Record(7).CString("seven").Int(70);
  wdb.Record(8).CString("eight").Int(amount);
  return wdb.bytes();
}

DefinitionBuilder& WdbTable(DefinitionBuilder& defs, const std::string& name,
                            const std::string& amountType = "integer") {
  return defs.Table(name)
      .Field("Id", {{"position", "0"}, {"type", "integer"}, {"size", "4"}})
      .Field("Length", {{"position", "1"}, {"type", "integer"}, {"size", "4"}})
      .Field("Name", {{"position", "2"}, {"type", "cstring"}, {"size", "0"}})
      .Field("Amount",
             {{"position", "3"}, {"type", amountType}, {"size", "4"}});
}

// The amount of record 8, or nothing: returns the query's status.
int AskAmount(const CSelvaneObject& db, const std::wstring& path,
              std::int32_t* amount) {
  DBParam_t key, result;
  key.fieldIndex = 0;
  key.intValue = 8;
  result.fieldIndex = 3;
  result.intValue = -12345;
  const int rc = db.QueryWDB(path, key, result);
  *amount = result.intValue;
  return rc;
}

// The file system's name for a wide path: on Windows the wide name itself;
// elsewhere each character's low byte as the library narrows it, and a
// character above 0xFF (which the library refuses) in UTF-8.
fs::path NativePath(const std::wstring& wide) {
#ifdef _WIN32
  return fs::path(wide);
#else
  std::string bytes;
  for (wchar_t c : wide) {
    const auto code = static_cast<std::uint32_t>(c);
    if (code <= 0xFFu) {
      bytes += static_cast<char>(code);
    } else {  // the test's characters are all below 0x800
      bytes += static_cast<char>(0xC0u | (code >> 6));
      bytes += static_cast<char>(0x80u | (code & 0x3Fu));
    }
  }
  return fs::path(bytes);
#endif
}

void WriteNative(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

class PlatformTest : public ::testing::Test {
 protected:
  std::wstring Dir() const { return Widen(dir_.path()); }
  void Load(const DefinitionBuilder& defs) {
    ASSERT_EQ(0, db_.InitConfig(defs.WriteTo(dir_, "defs.xml")));
  }

  TempDir dir_;
  CSelvaneObject db_;
};

// The definition is found by the name after the last separator, and on
// Windows only the backslash separates: there "dir/Items.wdb" is looked up
// as "<folder>/Items.wdb", a name a definition can carry. Each definition
// reads the amount with another width, so the answer tells which was used.
TEST_F(PlatformTest, WdbNameIsCutAtThePlatformsSeparatorOnly) {
  const std::string folder = fs::path(dir_.path()).filename().string();
  dir_.Write("Items.wdb", WdbWithAmount(0x01020304));
  DefinitionBuilder defs("WDBFile");
  WdbTable(defs, "Items.wdb", "integer");
  WdbTable(defs, folder + "/Items.wdb", "byte");
  Load(defs);

  std::int32_t amount = 0;
  ASSERT_EQ(0, AskAmount(db_, Dir() + kSeparator + L"Items.wdb", &amount));
  EXPECT_EQ(0x01020304, amount);
  ASSERT_EQ(0, AskAmount(db_, Dir() + L"/Items.wdb", &amount));
#ifdef _WIN32
  EXPECT_EQ(0x04, amount);  // the whole "<folder>/Items.wdb" definition
#else
  EXPECT_EQ(0x01020304, amount);
#endif
}

// Paths from random characters, some up to 0xFF (each narrows to its own
// byte) and some above (cut to their low byte, which would name another
// file). Every folder holds a file; a refused path's cut form holds one too,
// so that only the refusal can make its answer -1.
TEST_F(PlatformTest, WidePathsUpToFFOpenAndAboveAreRefused) {
  const wchar_t pool[] = {L'a',      L'k',      L'z',      L'0',
                          L'\u00e9', L'\u00fc', L'\u00ff', L'\u00c0',
                          L'\u0161', L'\u0162', L'\u0165'};
  DefinitionBuilder defs("WDBFile");
  WdbTable(defs, "Items.wdb");
  Load(defs);
  std::mt19937 gen(20261209u);
  int opened = 0, refused = 0;
  for (int i = 0; i < 40; ++i) {
    std::wstring name;
    std::wstring cut;
    const int length = 1 + static_cast<int>(gen() % 6);
    for (int k = 0; k < length; ++k) {
      const wchar_t c = pool[gen() % (sizeof pool / sizeof pool[0])];
      name += c;
      cut += static_cast<wchar_t>(static_cast<std::uint32_t>(c) & 0xFFu);
    }
    const bool exact = name == cut;
    const std::wstring base = Dir() + kSeparator + std::to_wstring(i);
    const std::wstring path =
        base + kSeparator + name + kSeparator + L"Items.wdb";
    WriteNative(NativePath(path), WdbWithAmount(i));
    if (!exact) {
      WriteNative(
          NativePath(base + kSeparator + cut + kSeparator + L"Items.wdb"),
          WdbWithAmount(-1));
    }
    std::int32_t amount = 0;
    const int rc = AskAmount(db_, path, &amount);
    if (exact) {
      ++opened;
      EXPECT_EQ(0, rc) << i;
      EXPECT_EQ(i, amount) << i;
    } else {
      ++refused;
      EXPECT_EQ(-1, rc) << i;
      EXPECT_EQ(-12345, amount) << i;
    }
  }
  EXPECT_GT(opened, 5);
  EXPECT_GT(refused, 5);
}

TEST_F(PlatformTest, WdbFileIsReadWhileAnotherHandleWritesIt) {
  const std::string path = dir_.Write("Items.wdb", WdbWithAmount(80));
  DefinitionBuilder defs("WDBFile");
  WdbTable(defs, "Items.wdb");
  Load(defs);
  SharedWriter writer(path);
  ASSERT_TRUE(writer.ok());
  std::int32_t amount = 0;
  EXPECT_EQ(0, AskAmount(db_, Widen(path), &amount));
  EXPECT_EQ(80, amount);
  // The next query sees what the writer wrote meanwhile.
  ASSERT_TRUE(writer.Rewrite(WdbWithAmount(81)));
  EXPECT_EQ(0, AskAmount(db_, Widen(path), &amount));
  EXPECT_EQ(81, amount);
}

#ifdef _WIN32
// The library as Windows loads it: a fresh copy under another name goes
// through the entry point's process notification (a FALSE there makes the
// load fail), a thread's start and end, and unloads again. Its export table
// names the query object's members.
TEST_F(PlatformTest, LibraryLoadsUnloadsAndExportsTheQueryObject) {
  const HMODULE self = GetModuleHandleW(L"SelvaneLibrary.dll");
  ASSERT_NE(nullptr, self);
  wchar_t file[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(self, file, MAX_PATH);
  ASSERT_TRUE(length > 0 && length < MAX_PATH);
  const fs::path copy = fs::path(Dir()) / L"SelvaneCopy.dll";
  fs::copy_file(fs::path(file), copy);

  const HMODULE loaded = LoadLibraryW(copy.wstring().c_str());
  ASSERT_NE(nullptr, loaded) << GetLastError();
  DWORD threadResult = 1;
  const HANDLE thread = CreateThread(
      nullptr, 0, [](LPVOID) -> DWORD { return 0; }, nullptr, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
  EXPECT_NE(0, GetExitCodeThread(thread, &threadResult));
  EXPECT_EQ(0u, threadResult);
  CloseHandle(thread);
  // Mangled names as the compiler emits them for the exported class.
  EXPECT_NE(nullptr,
            reinterpret_cast<void*>(GetProcAddress(
                loaded,
                "_ZNK14CSelvaneObject8QueryWDBERKNSt7__cxx1112basic_stringIwSt1"
                "1char_traitsIwESaIwEEER9DBParam_tS9_")));
  EXPECT_NE(nullptr, reinterpret_cast<void*>(
                         GetProcAddress(loaded, "_ZN14CSelvaneObjectC1Ev")));
  EXPECT_EQ(nullptr, reinterpret_cast<void*>(
                         GetProcAddress(loaded,
                                        "_Z12WideToNarrowRKNSt7__cxx11"
                                        "12basic_stringIwSt11char_"
                                        "traitsIwESaIwEEE")));
  EXPECT_NE(0, FreeLibrary(loaded));
}
#endif

}  // namespace
