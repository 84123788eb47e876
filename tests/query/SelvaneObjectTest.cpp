// The query object as a host drives it: real definition files, real WDB
// files and real MPQ archives written into a temporary folder.
#include <SelvaneLibrary/SelvaneLibrary.h>

#include <gtest/gtest.h>

#ifdef __linux__
#include <sys/inotify.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/DbcBuilder.h"
#include "tests/support/DefinitionBuilder.h"
#include "tests/support/MpqBuilder.h"
#include "tests/support/TempDir.h"
#include "tests/support/WdbBuilder.h"

namespace {

#ifdef __linux__
// Reports whether anything inside one folder was opened since it started
// watching: the way to see that a query touched no file.
class OpenWatch {
 public:
  explicit OpenWatch(const std::string& folder)
      : fd_(inotify_init1(IN_NONBLOCK)) {
    if (fd_ >= 0) inotify_add_watch(fd_, folder.c_str(), IN_OPEN);
  }
  ~OpenWatch() {
    if (fd_ >= 0) close(fd_);
  }
  OpenWatch(const OpenWatch&) = delete;
  OpenWatch& operator=(const OpenWatch&) = delete;

  bool ok() const { return fd_ >= 0; }
  bool SawOpen() const {
    alignas(inotify_event) char buffer[4096];
    const ssize_t n = read(fd_, buffer, sizeof buffer);
    return n > 0;
  }

 private:
  int fd_;
};
#else
// Only Linux reports opens (Windows' change notifications do not): elsewhere
// the watch sees nothing, and the tests using it check the answers only.
class OpenWatch {
 public:
  explicit OpenWatch(const std::string&) {}
  bool ok() const { return true; }
  bool SawOpen() const { return false; }
};
#endif

// WDB table: id, length, a name (cstring) and an amount (integer).
DefinitionBuilder& WdbTable(DefinitionBuilder& defs, const std::string& name) {
  return defs.Table(name)
      .Field("Id", {{"position", "0"}, {"type", "integer"}, {"size", "4"}})
      .Field("Length", {{"position", "1"}, {"type", "integer"}, {"size", "4"}})
      .Field("Name", {{"position", "2"}, {"type", "cstring"}, {"size", "0"}})
      .Field("Amount", {{"position", "3"}, {"type", "integer"}, {"size", "4"}});
}

// DBC table: id (integer), name (string), weight (float).
DefinitionBuilder& DbcTable(DefinitionBuilder& defs, const std::string& name) {
  return defs.Table(name)
      .Field("Id", {{"position", "0"}, {"type", "integer"}, {"size", "4"}})
      .Field("Name", {{"position", "1"}, {"type", "string"}, {"size", "4"}})
      .Field("Weight", {{"position", "2"}, {"type", "float"}, {"size", "4"}});
}

std::string WdbBytes(std::int32_t amountOf8 = 80) {
  WdbBuilder wdb;
  wdb.Record(7).CString("seven").Int(70);
  wdb.Record(8).CString("eight").Int(amountOf8);
  return wdb.bytes();
}

std::string DbcBytes(const std::string& nameOf2 = "two") {
  return DbcBuilder()
      .Record({Int(1), Str("one"), Float(1.5f)})
      .Record({Int(2), Str(nameOf2), Float(2.5f)})
      .Build();
}

// WDB key: entry id 8; result: the amount (index 3).
struct WdbAsk {
  DBParam_t key, result;
  WdbAsk() {
    key.fieldIndex = 0;
    key.intValue = 8;
    result.fieldIndex = 3;
  }
};

// DBC key: id 2; result: the name (index 1).
struct DbcAsk {
  DBParam_t key, result;
  DbcAsk() {
    key.fieldIndex = 0;
    key.intValue = 2;
    result.fieldIndex = 1;
  }
};

class SelvaneObjectTest : public ::testing::Test {
 protected:
  std::wstring W(const std::string& name) const {
    return Widen(dir_.File(name));
  }
  int AskWdb(const CSelvaneObject& db, const std::wstring& path,
             std::int32_t* amount = nullptr) const {
    WdbAsk ask;
    const int rc = db.QueryWDB(path, ask.key, ask.result);
    if (amount != nullptr) *amount = ask.result.intValue;
    return rc;
  }
  int AskDbc(const CSelvaneObject& db, const std::wstring& archive,
             const std::string& table, std::string* name = nullptr) const {
    DbcAsk ask;
    const int rc = db.QueryDBC(archive, table, ask.key, ask.result);
    if (name != nullptr) *name = ask.result.strValue;
    return rc;
  }

  TempDir dir_;
};

// --- Path cutting ----------------------------------------------------------

struct DbcPathCase {
  const char* label;
  const char* entry;       // name stored in the archive
  const char* definition;  // name the definition is filed under
  const char* table;       // table path the host asks for
  int expected;
};

const DbcPathCase kDbcPathCases[] = {
    {"NoBackslash", "Items.dbc", "Items.dbc", "Items.dbc", 0},
    {"OneLevelCutForLookup", "Data\\Items.dbc", "Items.dbc", "Data\\Items.dbc",
     0},
    // The archive is asked for the uncut path: a table stored without its
    // folder is not found through a path that names one.
    {"OneLevelOpensUncutPath", "Items.dbc", "Items.dbc", "Data\\Items.dbc", -1},
    {"OneLevelFullNameNotLookedUp", "Data\\Items.dbc", "Data\\Items.dbc",
     "Data\\Items.dbc", -1},
    {"TwoLevelsKeepSecond", "A\\B\\Items.dbc", "B\\Items.dbc",
     "A\\B\\Items.dbc", 0},
    {"TwoLevelsBareNameNotFound", "A\\B\\Items.dbc", "Items.dbc",
     "A\\B\\Items.dbc", -1},
    {"ForwardSlashNoSeparator", "A/Items.dbc", "A/Items.dbc", "A/Items.dbc", 0},
    {"ForwardSlashNotCut", "A/Items.dbc", "Items.dbc", "A/Items.dbc", -1},
    {"SlashThenBackslash", "A/B\\Items.dbc", "Items.dbc", "A/B\\Items.dbc", 0},
};

void PrintTo(const DbcPathCase& c, std::ostream* os) { *os << c.label; }

class DbcPathTest : public SelvaneObjectTest,
                    public ::testing::WithParamInterface<DbcPathCase> {};

TEST_P(DbcPathTest, LooksUpCutNameAndOpensWholePath) {
  const DbcPathCase& c = GetParam();
  MpqBuilder().Add(c.entry, DbcBytes()).Write(dir_.File("a.mpq"));
  DefinitionBuilder defs;
  DbcTable(defs, c.definition);
  CSelvaneObject db;
  ASSERT_EQ(0, db.InitConfig(defs.WriteTo(dir_, "defs.xml")));
  std::string name;
  EXPECT_EQ(c.expected, AskDbc(db, W("a.mpq"), c.table, &name));
  if (c.expected == 0) {
    EXPECT_EQ("two", name);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, DbcPathTest, ::testing::ValuesIn(kDbcPathCases),
                         [](const ::testing::TestParamInfo<DbcPathCase>& info) {
                           return std::string(info.param.label);
                         });

struct WdbPathCase {
  const char* label;
  const char* folder;  // created inside the temporary folder ("" for none)
  const char* file;    // file name inside that folder
  const char* definition;
  int expected;
};

#ifdef _WIN32
// On Windows only the backslash cuts (a '/' is part of the name there).
const WdbPathCase kWdbPathCases[] = {
    {"Path", "", "items.wdb", "items.wdb", 0},
    {"PathTwoLevels", "cache\\en", "items.wdb", "items.wdb", 0},
    {"WholeNameWithBackslashNotLookedUp", "cache", "items.wdb",
     "cache\\items.wdb", -1},
};
#else
// On POSIX both '/' and '\' cut, whichever comes last; a backslash is an
// ordinary character in a POSIX file name, so such files can be made.
const WdbPathCase kWdbPathCases[] = {
    {"PosixPath", "", "items.wdb", "items.wdb", 0},
    {"PosixPathTwoLevels", "cache/en", "items.wdb", "items.wdb", 0},
    {"BackslashAfterLastSlash", "", "cache\\items.wdb", "items.wdb", 0},
    {"TwoBackslashesCutAtLast", "", "a\\b\\items.wdb", "items.wdb", 0},
    {"SlashAfterLastBackslash", "sub\\x", "items.wdb", "items.wdb", 0},
    {"WholeNameWithBackslashNotLookedUp", "", "cache\\items.wdb",
     "cache\\items.wdb", -1},
};
#endif

void PrintTo(const WdbPathCase& c, std::ostream* os) { *os << c.label; }

class WdbPathTest : public SelvaneObjectTest,
                    public ::testing::WithParamInterface<WdbPathCase> {};

TEST_P(WdbPathTest, LooksUpAfterLastSeparator) {
  const WdbPathCase& c = GetParam();
  std::string folder = dir_.path();
  if (*c.folder != '\0') {
    folder = JoinPath(folder, c.folder);
    std::filesystem::create_directories(folder);
  }
  const std::string relative =
      *c.folder != '\0' ? JoinPath(c.folder, c.file) : std::string(c.file);
  dir_.Write(relative, WdbBytes());
  DefinitionBuilder defs("WDBFile");
  WdbTable(defs, c.definition);
  CSelvaneObject db;
  ASSERT_EQ(0, db.InitConfig(defs.WriteTo(dir_, "defs.xml")));
  std::int32_t amount = 0;
  EXPECT_EQ(c.expected, AskWdb(db, W(relative), &amount));
  if (c.expected == 0) {
    EXPECT_EQ(80, amount);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, WdbPathTest, ::testing::ValuesIn(kWdbPathCases),
                         [](const ::testing::TestParamInfo<WdbPathCase>& info) {
                           return std::string(info.param.label);
                         });

// --- Case-sensitive lookup -------------------------------------------------

TEST_F(SelvaneObjectTest, WdbLookupIsCaseSensitive) {
  for (const char* name : {"Items.wdb", "items.wdb", "ITEMS.WDB"})
    dir_.Write(name, WdbBytes());
  DefinitionBuilder defs("WDBFile");
  WdbTable(defs, "Items.wdb");
  CSelvaneObject db;
  ASSERT_EQ(0, db.InitConfig(defs.WriteTo(dir_, "defs.xml")));
  EXPECT_EQ(0, AskWdb(db, W("Items.wdb")));
  EXPECT_EQ(-1, AskWdb(db, W("items.wdb")));
  EXPECT_EQ(-1, AskWdb(db, W("ITEMS.WDB")));
}

TEST_F(SelvaneObjectTest, DbcLookupIsCaseSensitiveThoughArchiveIsNot) {
  // The archive finds its entries whatever the case; the definitions do not.
  MpqBuilder().Add("Data\\Spell.dbc", DbcBytes()).Write(dir_.File("a.mpq"));
  DefinitionBuilder defs;
  DbcTable(defs, "Spell.dbc");
  CSelvaneObject db;
  ASSERT_EQ(0, db.InitConfig(defs.WriteTo(dir_, "defs.xml")));
  EXPECT_EQ(0, AskDbc(db, W("a.mpq"), "Data\\Spell.dbc"));
  EXPECT_EQ(-1, AskDbc(db, W("a.mpq"), "Data\\spell.dbc"));
  EXPECT_EQ(-1, AskDbc(db, W("a.mpq"), "Data\\SPELL.DBC"));
}

// --- Queries without definitions open nothing ------------------------------

class NoDefinitionTest : public SelvaneObjectTest {
 protected:
  void SetUp() override {
    dir_.Write("items.wdb", WdbBytes());
    MpqBuilder().Add("Items.dbc", DbcBytes()).Write(dir_.File("a.mpq"));
  }
  // Both queries fail and neither opens a file in the folder.
  void ExpectQueriesOpenNothing(const CSelvaneObject& db) {
    OpenWatch watch(dir_.path());
    ASSERT_TRUE(watch.ok());
    EXPECT_EQ(-1, AskWdb(db, W("items.wdb")));
    EXPECT_EQ(-1, AskDbc(db, W("a.mpq"), "Items.dbc"));
    EXPECT_FALSE(watch.SawOpen());
  }
};

#ifdef __linux__
// The watch itself: a query that has its definitions is seen opening.
TEST_F(NoDefinitionTest, WatchSeesQueriesThatOpen) {
  DefinitionBuilder defs;
  WdbTable(defs, "items.wdb");
  DbcTable(defs, "Items.dbc");
  CSelvaneObject db;
  ASSERT_EQ(0, db.InitConfig(defs.WriteTo(dir_, "defs.xml")));
  {
    OpenWatch watch(dir_.path());
    ASSERT_TRUE(watch.ok());
    EXPECT_EQ(0, AskWdb(db, W("items.wdb")));
    EXPECT_TRUE(watch.SawOpen());
  }
  OpenWatch watch(dir_.path());
  ASSERT_TRUE(watch.ok());
  EXPECT_EQ(0, AskDbc(db, W("a.mpq"), "Items.dbc"));
  EXPECT_TRUE(watch.SawOpen());
}
#endif

TEST_F(NoDefinitionTest, NewObject) {
  CSelvaneObject db;
  ExpectQueriesOpenNothing(db);
}

TEST_F(NoDefinitionTest, AfterFailedInitConfig) {
  const std::wstring missing = W("missing.xml");
  const std::wstring notXml =
      DefinitionBuilder::WriteRaw(dir_, "bad.xml", "<DBCFile><File name=");
  DefinitionBuilder wrongRoot("Tables");
  WdbTable(wrongRoot, "items.wdb");
  DbcTable(wrongRoot, "Items.dbc");
  const std::wstring wrong = wrongRoot.WriteTo(dir_, "wrong.xml");
  for (const std::wstring& path : {missing, notXml, wrong}) {
    CSelvaneObject db;
    EXPECT_EQ(-1, db.InitConfig(path));
    ExpectQueriesOpenNothing(db);
  }
}

TEST_F(NoDefinitionTest, OtherTableDefined) {
  DefinitionBuilder defs;
  WdbTable(defs, "other.wdb");
  DbcTable(defs, "Other.dbc");
  CSelvaneObject db;
  ASSERT_EQ(0, db.InitConfig(defs.WriteTo(dir_, "defs.xml")));
  ExpectQueriesOpenNothing(db);
}

// --- Copies and assignment -------------------------------------------------

class CopyTest : public SelvaneObjectTest {
 protected:
  void SetUp() override {
    for (const char* name : {"a.wdb", "b.wdb", "c.wdb"})
      dir_.Write(name, WdbBytes());
    for (const char* name : {"a.wdb", "b.wdb", "c.wdb"}) {
      DefinitionBuilder defs("WDBFile");
      WdbTable(defs, name);
      paths_.push_back(defs.WriteTo(dir_, std::string(name) + ".xml"));
    }
  }
  bool Answers(const CSelvaneObject& db, const char* name) const {
    return AskWdb(db, W(name)) == 0;
  }
  std::vector<std::wstring> paths_;  // definitions of a.wdb, b.wdb, c.wdb
};

TEST_F(CopyTest, CopyAnswersLikeSourceAndLoadsIndependently) {
  CSelvaneObject source;
  ASSERT_EQ(0, source.InitConfig(paths_[0]));
  CSelvaneObject copy(source);
  EXPECT_TRUE(Answers(copy, "a.wdb"));
  ASSERT_EQ(0, copy.InitConfig(paths_[1]));
  EXPECT_TRUE(Answers(copy, "b.wdb"));
  EXPECT_FALSE(Answers(source, "b.wdb"));
  ASSERT_EQ(0, source.InitConfig(paths_[2]));
  EXPECT_FALSE(Answers(copy, "c.wdb"));
  EXPECT_TRUE(Answers(source, "a.wdb"));
}

TEST_F(CopyTest, AssignmentReplacesDefinitionsAndStaysIndependent) {
  CSelvaneObject source, target;
  ASSERT_EQ(0, source.InitConfig(paths_[0]));
  ASSERT_EQ(0, target.InitConfig(paths_[2]));
  CSelvaneObject& back = (target = source);
  EXPECT_EQ(&target, &back);
  EXPECT_TRUE(Answers(target, "a.wdb"));
  EXPECT_FALSE(Answers(target, "c.wdb"));
  ASSERT_EQ(0, target.InitConfig(paths_[1]));
  EXPECT_FALSE(Answers(source, "b.wdb"));
  ASSERT_EQ(0, source.InitConfig(paths_[2]));
  EXPECT_FALSE(Answers(target, "c.wdb"));
}

TEST_F(CopyTest, SelfAssignmentKeepsDefinitions) {
  CSelvaneObject db;
  ASSERT_EQ(0, db.InitConfig(paths_[0]));
  ASSERT_EQ(0, db.InitConfig(paths_[1]));
  CSelvaneObject& self = db;
  db = self;
  EXPECT_TRUE(Answers(db, "a.wdb"));
  EXPECT_TRUE(Answers(db, "b.wdb"));
}

TEST_F(CopyTest, CopyOutlivesSource) {
  auto* source = new CSelvaneObject;
  ASSERT_EQ(0, source->InitConfig(paths_[0]));
  CSelvaneObject copy(*source);
  CSelvaneObject assigned;
  assigned = *source;
  delete source;
  EXPECT_TRUE(Answers(copy, "a.wdb"));
  EXPECT_TRUE(Answers(assigned, "a.wdb"));
}

// --- Either root serves both kinds of query --------------------------------

TEST_F(SelvaneObjectTest, EitherRootServesBothKinds) {
  dir_.Write("items.wdb", WdbBytes());
  MpqBuilder().Add("Items.dbc", DbcBytes()).Write(dir_.File("a.mpq"));
  for (const char* root : {"DBCFile", "WDBFile"}) {
    SCOPED_TRACE(root);
    DefinitionBuilder defs(root);
    WdbTable(defs, "items.wdb");
    DbcTable(defs, "Items.dbc");
    CSelvaneObject db;
    ASSERT_EQ(0, db.InitConfig(defs.WriteTo(dir_, std::string(root) + ".xml")));
    std::int32_t amount = 0;
    std::string name;
    EXPECT_EQ(0, AskWdb(db, W("items.wdb"), &amount));
    EXPECT_EQ(80, amount);
    EXPECT_EQ(0, AskDbc(db, W("a.mpq"), "Items.dbc", &name));
    EXPECT_EQ("two", name);
  }
}

// --- Every query reads the file anew ---------------------------------------

TEST_F(SelvaneObjectTest, WdbFileChangedBetweenQueriesIsReadAnew) {
  dir_.Write("items.wdb", WdbBytes(80));
  DefinitionBuilder defs("WDBFile");
  WdbTable(defs, "items.wdb");
  CSelvaneObject db;
  ASSERT_EQ(0, db.InitConfig(defs.WriteTo(dir_, "defs.xml")));
  std::int32_t amount = 0;
  ASSERT_EQ(0, AskWdb(db, W("items.wdb"), &amount));
  EXPECT_EQ(80, amount);
  dir_.Write("items.wdb", WdbBytes(81));
  ASSERT_EQ(0, AskWdb(db, W("items.wdb"), &amount));
  EXPECT_EQ(81, amount);
  WdbBuilder without8;
  without8.Record(7).CString("seven").Int(70);
  dir_.Write("items.wdb", without8.bytes());
  EXPECT_EQ(-1, AskWdb(db, W("items.wdb")));
}

TEST_F(SelvaneObjectTest, ArchiveChangedBetweenQueriesIsReadAnew) {
  MpqBuilder().Add("Items.dbc", DbcBytes("two")).Write(dir_.File("a.mpq"));
  DefinitionBuilder defs;
  DbcTable(defs, "Items.dbc");
  CSelvaneObject db;
  ASSERT_EQ(0, db.InitConfig(defs.WriteTo(dir_, "defs.xml")));
  std::string name;
  ASSERT_EQ(0, AskDbc(db, W("a.mpq"), "Items.dbc", &name));
  EXPECT_EQ("two", name);
  MpqBuilder().Add("Items.dbc", DbcBytes("deux")).Write(dir_.File("a.mpq"));
  ASSERT_EQ(0, AskDbc(db, W("a.mpq"), "Items.dbc", &name));
  EXPECT_EQ("deux", name);
}

// --- Wide paths that narrowing would change --------------------------------

// U+0169 narrows to 'i' (0x69): each path below would name the existing
// "...i..." file if its character were cut to the low 8 bits.
const wchar_t kAboveFF = L'\u0169';

class WidePathTest : public SelvaneObjectTest {
 protected:
  std::wstring WideName(const std::string& before, const std::string& after) {
    return Widen(dir_.File(before)) + kAboveFF + Widen(after);
  }
};

TEST_F(WidePathTest, DefinitionFileFailsAndOpensNothing) {
  DefinitionBuilder defs("WDBFile");
  WdbTable(defs, "items.wdb");
  defs.WriteTo(dir_, "defsi.xml");
  dir_.Write("items.wdb", WdbBytes());
  // A NUL would end the path early and name the same existing file.
  std::wstring withNul = W("defsi.xml");
  withNul += L'\0';
  withNul += L"x";
  CSelvaneObject db;
  for (const std::wstring& path : {WideName("defs", ".xml"), withNul}) {
    OpenWatch watch(dir_.path());
    ASSERT_TRUE(watch.ok());
    EXPECT_EQ(-1, db.InitConfig(path));
    EXPECT_FALSE(watch.SawOpen());
  }
  EXPECT_EQ(-1, AskWdb(db, W("items.wdb")));
  EXPECT_EQ(0, db.InitConfig(W("defsi.xml")));  // the fixture itself is good
  EXPECT_EQ(0, AskWdb(db, W("items.wdb")));
}

TEST_F(WidePathTest, ArchiveFailsAndOpensNothing) {
  MpqBuilder().Add("Items.dbc", DbcBytes()).Write(dir_.File("ai.mpq"));
  DefinitionBuilder defs;
  DbcTable(defs, "Items.dbc");
  CSelvaneObject db;
  ASSERT_EQ(0, db.InitConfig(defs.WriteTo(dir_, "defs.xml")));
  ASSERT_EQ(0, AskDbc(db, W("ai.mpq"), "Items.dbc"));
  OpenWatch watch(dir_.path());
  ASSERT_TRUE(watch.ok());
  DbcAsk ask;
  ask.result.strValue = "kept";
  EXPECT_EQ(
      -1, db.QueryDBC(WideName("a", ".mpq"), "Items.dbc", ask.key, ask.result));
  EXPECT_EQ("kept", ask.result.strValue);
  EXPECT_FALSE(watch.SawOpen());
}

TEST_F(WidePathTest, WdbFileFailsAndOpensNothing) {
  // Both the file and the name looked up would match once narrowed.
  dir_.Write("itemsi.wdb", WdbBytes());
  DefinitionBuilder defs("WDBFile");
  WdbTable(defs, "itemsi.wdb");
  CSelvaneObject db;
  ASSERT_EQ(0, db.InitConfig(defs.WriteTo(dir_, "defs.xml")));
  ASSERT_EQ(0, AskWdb(db, W("itemsi.wdb")));
  OpenWatch watch(dir_.path());
  ASSERT_TRUE(watch.ok());
  std::int32_t amount = -7;
  EXPECT_EQ(-1, AskWdb(db, WideName("items", ".wdb"), &amount));
  EXPECT_EQ(0, amount);  // untouched default of the result record
  EXPECT_FALSE(watch.SawOpen());
}

// --- A failed InitConfig changes no definitions ----------------------------

TEST_F(SelvaneObjectTest, FailedInitConfigKeepsEarlierDefinitions) {
  dir_.Write("items.wdb", WdbBytes());
  DefinitionBuilder good("WDBFile");
  WdbTable(good, "items.wdb");
  // Redefinitions that would make the amount query fail, each in a file
  // that does not load.
  DefinitionBuilder wrongRoot("Other");
  wrongRoot.Table("items.wdb")
      .Field("Id", {{"position", "0"}, {"type", "string"}});
  const std::string broken =
      "<WDBFile><File name=\"items.wdb\"><Fields><Field position=\"0\" "
      "type=\"string\"/></Fields></File>";  // root never closed
  const std::wstring failing[] = {
      wrongRoot.WriteTo(dir_, "wrong.xml"),
      DefinitionBuilder::WriteRaw(dir_, "broken.xml", broken),
      W("missing.xml")};
  CSelvaneObject db;
  ASSERT_EQ(0, db.InitConfig(good.WriteTo(dir_, "good.xml")));
  for (const std::wstring& path : failing) {
    EXPECT_EQ(-1, db.InitConfig(path));
    std::int32_t amount = 0;
    EXPECT_EQ(0, AskWdb(db, W("items.wdb"), &amount));
    EXPECT_EQ(80, amount);
  }
}

// --- What the query writes into the records --------------------------------

TEST_F(SelvaneObjectTest, ResultTextIsAppendedTo) {
  dir_.Write("items.wdb", WdbBytes());
  MpqBuilder().Add("Items.dbc", DbcBytes()).Write(dir_.File("a.mpq"));
  DefinitionBuilder defs;
  WdbTable(defs, "items.wdb");
  DbcTable(defs, "Items.dbc");
  CSelvaneObject db;
  ASSERT_EQ(0, db.InitConfig(defs.WriteTo(dir_, "defs.xml")));

  WdbAsk wdb;
  wdb.result.fieldIndex = 2;
  wdb.result.strValue = "pre:";
  ASSERT_EQ(0, db.QueryWDB(W("items.wdb"), wdb.key, wdb.result));
  EXPECT_EQ("pre:eight", wdb.result.strValue);
  EXPECT_EQ(5, wdb.result.type);
  ASSERT_EQ(0, db.QueryWDB(W("items.wdb"), wdb.key, wdb.result));
  EXPECT_EQ("pre:eighteight", wdb.result.strValue);

  DbcAsk dbc;
  dbc.result.strValue = "pre:";
  ASSERT_EQ(0, db.QueryDBC(W("a.mpq"), "Items.dbc", dbc.key, dbc.result));
  EXPECT_EQ("pre:two", dbc.result.strValue);
  EXPECT_EQ(1, dbc.result.type);
}

TEST_F(SelvaneObjectTest, KeyTypeIsWrittenFromDefinition) {
  dir_.Write("items.wdb", WdbBytes());
  MpqBuilder().Add("Items.dbc", DbcBytes()).Write(dir_.File("a.mpq"));
  DefinitionBuilder defs;
  WdbTable(defs, "items.wdb");
  DbcTable(defs, "Items.dbc");
  CSelvaneObject db;
  ASSERT_EQ(0, db.InitConfig(defs.WriteTo(dir_, "defs.xml")));

  // WDB: key by name (cstring), host's type ignored and overwritten.
  WdbAsk wdb;
  wdb.key.fieldIndex = 2;
  wdb.key.type = 2;
  wdb.key.strValue = "seven";
  ASSERT_EQ(0, db.QueryWDB(W("items.wdb"), wdb.key, wdb.result));
  EXPECT_EQ(5, wdb.key.type);
  EXPECT_EQ(70, wdb.result.intValue);
  EXPECT_EQ(0, wdb.result.type);

  // DBC: key by weight (float); the types are written even without a match.
  DbcAsk dbc;
  dbc.key.fieldIndex = 2;
  dbc.key.type = 0;
  dbc.key.floatValue = 1.5f;
  dbc.result.fieldIndex = 0;
  ASSERT_EQ(0, db.QueryDBC(W("a.mpq"), "Items.dbc", dbc.key, dbc.result));
  EXPECT_EQ(2, dbc.key.type);
  EXPECT_EQ(0, dbc.result.type);
  EXPECT_EQ(1, dbc.result.intValue);
  DbcAsk miss;
  miss.key.fieldIndex = 1;
  miss.key.strValue = "none";
  miss.result.fieldIndex = 2;
  EXPECT_EQ(-1, db.QueryDBC(W("a.mpq"), "Items.dbc", miss.key, miss.result));
  EXPECT_EQ(1, miss.key.type);
  EXPECT_EQ(2, miss.result.type);
}

}  // namespace
