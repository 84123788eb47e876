// The built selvane tool run as a user runs it, on files written by the
// fixture builders.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/DbcBuilder.h"
#include "tests/support/DefinitionBuilder.h"
#include "tests/support/MpqBuilder.h"
#include "tests/support/TempDir.h"
#include "tests/support/WdbBuilder.h"

extern char** environ;

namespace {

struct Outcome {
  int status = -1;  // exit status, or -1 when the tool did not exit normally
  std::string out, err;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs the tool with these arguments, its stdout and stderr going to files.
// Standard input comes from the file stdinPath when one is given.
Outcome RunTool(const TempDir& dir, const std::vector<std::string>& args,
                const std::string& stdinPath = "") {
  const std::string outPath = dir.File("stdout.txt");
  const std::string errPath = dir.File("stderr.txt");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!stdinPath.empty()) {
    posix_spawn_file_actions_addopen(&actions, 0, stdinPath.c_str(), O_RDONLY,
                                     0);
  }
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> argv = {SELVANE_CLI};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (std::string& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);

  Outcome outcome;
  pid_t pid = 0;
  const int rc =
      posix_spawn(&pid, SELVANE_CLI, &actions, nullptr, cargv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return outcome;
  int wstatus = 0;
  if (waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus))
    outcome.status = WEXITSTATUS(wstatus);
  outcome.out = ReadAll(outPath);
  outcome.err = ReadAll(errPath);
  return outcome;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WdbBuilder wdb;
    wdb.Record(7).CString("seven").Int(70).Float(0.1f);
    wdb.Record(8).CString("say \"hi\"\\\n\tnow").Int(-80).Float(-2.5f);
    wdb_ = dir_.Write("items.wdb", wdb.bytes());

    const std::string table =
        DbcBuilder()
            .Record({Int(1), Str("one"), Float(1.5f), Byte(0xC8)})
            .Record({Int(16), Str("a\"b\\c\nd\x01"), Float(1e-7f), Byte(3)})
            .Build();
    archive_ = dir_.File("data.mpq");
    MpqBuilder()
        .Add("Data\\Items.dbc", table, MpqBuilder::Storage::kZlib)
        .Write(archive_);

    DefinitionBuilder wdbDefs("WDBFile");
    wdbDefs.Table("items.wdb")
        .Field("Id", {{"position", "0"}, {"type", "integer"}})
        .Field("Length", {{"position", "1"}, {"type", "integer"}})
        .Field("Name", {{"position", "2"}, {"type", "cstring"}})
        .Field("Amount",
               {{"position", "3"}, {"type", "integer"}, {"size", "4"}})
        .Field("Rate", {{"position", "4"}, {"type", "float"}, {"size", "4"}});
    wdbDefs.WriteTo(dir_, "wdb.xml");
    DefinitionBuilder dbcDefs("DBCFile");
    dbcDefs.Table("Items.dbc")
        .Field("Id", {{"position", "0"}, {"type", "integer"}, {"size", "4"}})
        .Field("Name", {{"position", "1"}, {"type", "string"}, {"size", "4"}})
        .Field("Weight", {{"position", "2"}, {"type", "float"}, {"size", "4"}})
        .Field("Level", {{"position", "3"}, {"type", "byte"}, {"size", "1"}});
    dbcDefs.WriteTo(dir_, "dbc.xml");
    wdbDefs_ = dir_.File("wdb.xml");
    dbcDefs_ = dir_.File("dbc.xml");
  }

  Outcome Wdb(const std::string& key, const std::string& result,
              bool json = false) {
    std::vector<std::string> args = {"wdb",    "--defs",   wdbDefs_,
                                     "--file", wdb_,       "--key",
                                     key,      "--result", result};
    if (json) args.push_back("--json");
    return RunTool(dir_, args);
  }
  Outcome Dbc(const std::string& key, const std::string& result,
              bool json = false) {
    std::vector<std::string> args = {
        "dbc",     "--defs",          dbcDefs_, "--archive", archive_,
        "--table", "Data\\Items.dbc", "--key",  key,         "--result",
        result};
    if (json) args.push_back("--json");
    return RunTool(dir_, args);
  }

  TempDir dir_;
  std::string wdb_, archive_, wdbDefs_, dbcDefs_;
};

struct AnswerCase {
  const char* key;
  const char* result;
  bool json;
  const char* out;
};

TEST_F(CliTest, WdbAnswers) {
  const AnswerCase cases[] = {
      {"0=8", "3", false, "-80\n"},
      {"0=0x8", "3", false, "-80\n"},
      {"2=seven", "3", false, "70\n"},
      {"0=7", "2", false, "seven\n"},
      {"0=7", "4", false, "0.1\n"},
      {"4=-2.5", "0", false, "8\n"},
      {"0=7", "1", false, "14\n"},  // data length: "seven\0" + 4 + 4 bytes
      {"0=8", "3", true, "{\"type\":\"integer\",\"value\":-80}\n"},
      {"0=7", "4", true, "{\"type\":\"float\",\"value\":0.1}\n"},
      {"0=7", "2", true, "{\"type\":\"cstring\",\"value\":\"seven\"}\n"},
      {"0=8", "2", true,
       "{\"type\":\"cstring\",\"value\":\"say \\\"hi\\\"\\\\\\n\\tnow\"}\n"},
  };
  for (const AnswerCase& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " -> " + c.result);
    const Outcome o = Wdb(c.key, c.result, c.json);
    EXPECT_EQ(0, o.status) << o.err;
    EXPECT_EQ(c.out, o.out);
    EXPECT_EQ("", o.err);
  }
}

TEST_F(CliTest, DbcAnswers) {
  const AnswerCase cases[] = {
      {"0=1", "1", false, "one\n"},
      {"1=one", "2", false, "1.5\n"},
      {"0=0x10", "2", false, "1e-07\n"},
      {"3=-56", "0", false, "1\n"},
      {"0=1", "3", false, "-56\n"},
      {"0=1", "3", true, "{\"type\":\"byte\",\"value\":-56}\n"},
      {"0=16", "2", true, "{\"type\":\"float\",\"value\":1e-07}\n"},
      {"0=16", "1", true,
       "{\"type\":\"string\",\"value\":\"a\\\"b\\\\c\\nd\\u0001\"}\n"},
  };
  for (const AnswerCase& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " -> " + c.result);
    const Outcome o = Dbc(c.key, c.result, c.json);
    EXPECT_EQ(0, o.status) << o.err;
    EXPECT_EQ(c.out, o.out);
    EXPECT_EQ("", o.err);
  }
}

TEST_F(CliTest, SeveralDefinitionFilesServeBothKinds) {
  const Outcome wdb =
      RunTool(dir_, {"wdb", "--defs", dbcDefs_, "--defs", wdbDefs_, "--file",
                     wdb_, "--key", "0=7", "--result", "3"});
  EXPECT_EQ(0, wdb.status) << wdb.err;
  EXPECT_EQ("70\n", wdb.out);
  const Outcome dbc =
      RunTool(dir_, {"dbc", "--defs", wdbDefs_, "--defs", dbcDefs_, "--archive",
                     archive_, "--table", "Data\\Items.dbc", "--key", "0=1",
                     "--result", "1"});
  EXPECT_EQ(0, dbc.status) << dbc.err;
  EXPECT_EQ("one\n", dbc.out);
}

TEST_F(CliTest, NoAnswerExitsOne) {
  const Outcome noMatch = Wdb("0=99", "3");
  EXPECT_EQ(1, noMatch.status);
  EXPECT_EQ("", noMatch.out);
  EXPECT_TRUE(Contains(noMatch.err, "no record matched")) << noMatch.err;

  const Outcome wrongTable = RunTool(
      dir_, {"dbc", "--defs", dbcDefs_, "--archive", archive_, "--table",
             "Data\\Other.dbc", "--key", "0=1", "--result", "1"});
  EXPECT_EQ(1, wrongTable.status);
  EXPECT_EQ("", wrongTable.out);
  EXPECT_TRUE(Contains(wrongTable.err, "no definition")) << wrongTable.err;
}

TEST_F(CliTest, MissingOrBadDefinitionFileIsNamed) {
  const std::string missing = dir_.File("nope.xml");
  const Outcome o = RunTool(dir_, {"wdb", "--defs", missing, "--file", wdb_,
                                   "--key", "0=7", "--result", "3"});
  EXPECT_EQ(1, o.status);
  EXPECT_EQ("", o.out);
  EXPECT_TRUE(Contains(o.err, "definition file '" + missing + "'")) << o.err;
  EXPECT_TRUE(Contains(o.err, "does not exist")) << o.err;

  const std::string bad = dir_.Write("bad.xml", "<Tables/>");
  const Outcome b =
      RunTool(dir_, {"wdb", "--defs", wdbDefs_, "--defs", bad, "--file", wdb_,
                     "--key", "0=7", "--result", "3"});
  EXPECT_EQ(1, b.status);
  EXPECT_TRUE(Contains(b.err, "definition file '" + bad + "'")) << b.err;
  EXPECT_TRUE(Contains(b.err, "did not load")) << b.err;
}

TEST_F(CliTest, MissingDataFileIsNamed) {
  const std::string file = dir_.File("gone.wdb");
  const Outcome w = RunTool(dir_, {"wdb", "--defs", wdbDefs_, "--file", file,
                                   "--key", "0=7", "--result", "3"});
  EXPECT_EQ(1, w.status);
  EXPECT_TRUE(Contains(w.err, "data file '" + file + "' does not exist"))
      << w.err;

  const std::string archive = dir_.File("gone.mpq");
  const Outcome d =
      RunTool(dir_, {"dbc", "--defs", dbcDefs_, "--archive", archive, "--table",
                     "Data\\Items.dbc", "--key", "0=1", "--result", "1"});
  EXPECT_EQ(1, d.status);
  EXPECT_TRUE(Contains(d.err, "archive '" + archive + "' does not exist"))
      << d.err;
}

TEST_F(CliTest, BadCommandLineExitsTwoWithUsage) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"sql"},
      {"wdb", "--defs", wdbDefs_, "--file", wdb_, "--result", "3"},
      {"wdb", "--defs", wdbDefs_, "--file", wdb_, "--key", "7", "--result",
       "3"},
      {"wdb", "--file", wdb_, "--key", "0=7", "--result", "3"},
      {"dbc", "--defs", dbcDefs_, "--archive", archive_, "--key", "0=1",
       "--result", "1"},
      {"wdb", "--defs", wdbDefs_, "--file", wdb_, "--key", "0=7", "--result",
       "3", "--format", "csv"},
      {"wdb", "--defs", wdbDefs_, "--file", wdb_, "--key", "0=7", "--keys-from",
       "-", "--result", "3"},
      {"wdb", "--defs", wdbDefs_, "--file", wdb_, "--key", "0=7", "--result",
       "3", "--colour"},
  };
  for (const auto& args : bad) {
    std::string line;
    for (const auto& a : args) line += a + " ";
    SCOPED_TRACE(line);
    const Outcome o = RunTool(dir_, args);
    EXPECT_EQ(2, o.status);
    EXPECT_EQ("", o.out);
    EXPECT_TRUE(Contains(o.err, "Usage:")) << o.err;
  }
}

TEST_F(CliTest, FieldsGoByName) {
  const AnswerCase wdb[] = {
      {"Id=8", "Amount", false, "-80\n"},
      {"Name=seven", "Rate", true, "{\"type\":\"float\",\"value\":0.1}\n"},
      {"Amount=70", "1", false, "14\n"},
  };
  for (const AnswerCase& c : wdb) {
    SCOPED_TRACE(std::string(c.key) + " -> " + c.result);
    const Outcome o = Wdb(c.key, c.result, c.json);
    EXPECT_EQ(0, o.status) << o.err;
    EXPECT_EQ(c.out, o.out);
  }
  const Outcome d = Dbc("Name=one", "Level");
  EXPECT_EQ(0, d.status) << d.err;
  EXPECT_EQ("-56\n", d.out);

  const Outcome unknown = Wdb("Id=7", "Colour");
  EXPECT_EQ(1, unknown.status);
  EXPECT_TRUE(Contains(unknown.err, "no field named 'Colour'")) << unknown.err;
  const Outcome range = Dbc("9=1", "0");
  EXPECT_EQ(1, range.status);
  EXPECT_TRUE(Contains(range.err, "field 9 is out of range")) << range.err;
}

TEST_F(CliTest, AMistypedKeyIsRefused) {
  struct Case {
    bool dbc;
    const char* key;
    const char* field;
    const char* type;
  };
  const Case cases[] = {
      {false, "Id=abc", "'Id'", "integer"},
      {false, "0=12x", "field 0 ('Id')", "integer"},
      {false, "Rate=fast", "'Rate'", "float"},
      {true, "Level=200", "'Level'", "byte"},
      {true, "Weight=", "'Weight'", "float"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    const Outcome o = c.dbc ? Dbc(c.key, "0") : Wdb(c.key, "0");
    EXPECT_EQ(2, o.status);
    EXPECT_EQ("", o.out);
    EXPECT_TRUE(Contains(o.err, c.field)) << o.err;
    EXPECT_TRUE(Contains(o.err, c.type)) << o.err;
  }
}

TEST_F(CliTest, FailuresAreToldApart) {
  DefinitionBuilder defs("WDBFile");
  defs.Table("items.wdb")
      .Field("Id", {{"position", "0"}, {"type", "integer"}})
      .Field("Length", {{"position", "1"}, {"type", "integer"}})
      .Field("Flags", {{"position", "2"}, {"type", "bit"}, {"size", "4"}});
  const std::string bitDefs = dir_.File("bit.xml");
  defs.WriteTo(dir_, "bit.xml");
  const Outcome bit = RunTool(dir_, {"wdb", "--defs", bitDefs, "--file", wdb_,
                                     "--key", "0=7", "--result", "Flags"});
  EXPECT_EQ(1, bit.status);
  EXPECT_TRUE(Contains(bit.err, "type 'bit', which cannot be read")) << bit.err;

  const Outcome table =
      RunTool(dir_, {"dbc", "--defs", dbcDefs_, "--archive", archive_,
                     "--table", "Items.dbc", "--key", "0=1", "--result", "1"});
  EXPECT_EQ(1, table.status);
  EXPECT_TRUE(Contains(table.err, "table 'Items.dbc' is not in archive"))
      << table.err;

  std::filesystem::create_directories(dir_.File("short"));
  const std::string shortFile = dir_.Write("short/items.wdb", "WDB");
  const Outcome cut =
      RunTool(dir_, {"wdb", "--defs", wdbDefs_, "--file", shortFile, "--key",
                     "0=7", "--result", "2"});
  EXPECT_EQ(1, cut.status);
  EXPECT_TRUE(Contains(cut.err, "shorter than its 20-byte header")) << cut.err;

  const Outcome notArchive =
      RunTool(dir_, {"dbc", "--defs", dbcDefs_, "--archive", wdb_, "--table",
                     "Data\\Items.dbc", "--key", "0=1", "--result", "1"});
  EXPECT_EQ(1, notArchive.status);
  EXPECT_TRUE(Contains(notArchive.err, "cannot be opened")) << notArchive.err;
}

TEST_F(CliTest, AllPrintsEveryMatch) {
  WdbBuilder wdb;
  wdb.Record(7).CString("a").Int(1).Float(0.5f);
  wdb.Record(8).CString("b").Int(2).Float(0.5f);
  wdb.Record(7).CString("c").Int(3).Float(1.5f);
  std::filesystem::create_directories(dir_.File("all"));
  const std::string file = dir_.Write("all/items.wdb", wdb.bytes());
  auto run = [&](const std::string& key, bool json) {
    std::vector<std::string> args = {"wdb",  "--defs", wdbDefs_, "--file",
                                     file,   "--key",  key,      "--result",
                                     "Name", "--all"};
    if (json) args.push_back("--json");
    return RunTool(dir_, args);
  };
  const Outcome ids = run("Id=7", false);
  EXPECT_EQ(0, ids.status) << ids.err;
  EXPECT_EQ("a\nc\n", ids.out);
  const Outcome rates = run("Rate=0.5", true);
  EXPECT_EQ(0, rates.status) << rates.err;
  EXPECT_EQ(
      "{\"type\":\"cstring\",\"value\":\"a\"}\n"
      "{\"type\":\"cstring\",\"value\":\"b\"}\n",
      rates.out);
  const Outcome none = run("Id=9", false);
  EXPECT_EQ(1, none.status);
  EXPECT_EQ("", none.out);
  EXPECT_TRUE(Contains(none.err, "no record matched")) << none.err;
}

TEST_F(CliTest, KeysFromAFileOrStandardInput) {
  const std::string keys = dir_.Write("keys.txt", "8\n7\r\n99\nabc\n7\n");
  std::vector<std::string> args = {"wdb", "--defs",   wdbDefs_, "--file",
                                   wdb_,  "--key",    "Id",     "--keys-from",
                                   keys,  "--result", "Amount"};
  const Outcome plain = RunTool(dir_, args);
  EXPECT_EQ(1, plain.status);  // two keys have no answer
  EXPECT_EQ("-80\n70\n\n\n70\n", plain.out);
  EXPECT_TRUE(Contains(plain.err, "key '99': no record matched")) << plain.err;
  EXPECT_TRUE(Contains(plain.err, "key 'abc': 'abc' is not an integer"))
      << plain.err;

  args.push_back("--json");
  args[8] = "-";
  const Outcome json = RunTool(dir_, args, keys);
  EXPECT_EQ(1, json.status);
  EXPECT_EQ(
      "{\"key\":\"8\",\"type\":\"integer\",\"value\":-80}\n"
      "{\"key\":\"7\",\"type\":\"integer\",\"value\":70}\n"
      "{\"key\":\"99\",\"error\":\"no record matched\"}\n"
      "{\"key\":\"abc\",\"error\":\"'abc' is not an integer, the type of "
      "field 'Id' (integer)\"}\n"
      "{\"key\":\"7\",\"type\":\"integer\",\"value\":70}\n",
      json.out);

  const std::string good = dir_.Write("good.txt", "one\n\x01none\n");
  const Outcome dbc =
      RunTool(dir_, {"dbc", "--defs", dbcDefs_, "--archive", archive_,
                     "--table", "Data\\Items.dbc", "--key", "Name",
                     "--keys-from", good, "--result", "Id"});
  EXPECT_EQ(1, dbc.status);
  EXPECT_EQ("1\n\n", dbc.out);
  const std::string both = dir_.Write("both.txt", "16\n1\n");
  const Outcome ok =
      RunTool(dir_, {"dbc", "--defs", dbcDefs_, "--archive", archive_,
                     "--table", "Data\\Items.dbc", "--key", "0", "--keys-from",
                     both, "--result", "Weight"});
  EXPECT_EQ(0, ok.status) << ok.err;
  EXPECT_EQ("1e-07\n1.5\n", ok.out);
}

TEST_F(CliTest, DumpsTheWholeTable) {
  const std::vector<std::string> wdb = {"wdb",    "--defs", wdbDefs_,
                                        "--file", wdb_,     "--dump"};
  const Outcome csv = RunTool(dir_, wdb);
  EXPECT_EQ(0, csv.status) << csv.err;
  EXPECT_EQ(
      "Id,Length,Name,Amount,Rate\n"
      "7,14,seven,70,0.1\n"
      "8,23,\"say \"\"hi\"\"\\\n\tnow\",-80,-2.5\n",
      csv.out);

  std::vector<std::string> jsonl = wdb;
  jsonl.insert(jsonl.end(), {"--format", "jsonl", "--fields", "Name,0,Rate"});
  const Outcome j = RunTool(dir_, jsonl);
  EXPECT_EQ(0, j.status) << j.err;
  EXPECT_EQ(
      "{\"Name\":\"seven\",\"Id\":7,\"Rate\":0.1}\n"
      "{\"Name\":\"say \\\"hi\\\"\\\\\\n\\tnow\",\"Id\":8,\"Rate\":-2.5}\n",
      j.out);

  const Outcome dbc = RunTool(
      dir_, {"dbc", "--defs", dbcDefs_, "--archive", archive_, "--table",
             "Data\\Items.dbc", "--dump", "--format", "jsonl"});
  EXPECT_EQ(0, dbc.status) << dbc.err;
  EXPECT_EQ(
      "{\"Id\":1,\"Name\":\"one\",\"Weight\":1.5,\"Level\":-56}\n"
      "{\"Id\":16,\"Name\":\"a\\\"b\\\\c\\nd\\u0001\",\"Weight\":1e-07,"
      "\"Level\":3}\n",
      dbc.out);

  const Outcome unknown =
      RunTool(dir_, {"wdb", "--defs", wdbDefs_, "--file", wdb_, "--dump",
                     "--fields", "Name,Colour"});
  EXPECT_EQ(1, unknown.status);
  EXPECT_TRUE(Contains(unknown.err, "no field named 'Colour'")) << unknown.err;
}

TEST_F(CliTest, TheFirstArchiveHoldingTheTableAnswers) {
  const std::string patch = dir_.File("patch.mpq");
  MpqBuilder()
      .Add("Data\\Items.dbc",
           DbcBuilder()
               .Record({Int(1), Str("patched"), Float(2.0f), Byte(1)})
               .Build())
      .Write(patch);
  const std::string other = dir_.File("other.mpq");
  MpqBuilder().Add("Data\\Other.dbc", DbcBuilder().Build()).Write(other);
  auto run = [&](const std::vector<std::string>& archives) {
    std::vector<std::string> args = {"dbc", "--defs", dbcDefs_};
    for (const auto& a : archives) args.insert(args.end(), {"--archive", a});
    args.insert(args.end(), {"--table", "Data\\Items.dbc", "--key", "Id=1",
                             "--result", "Name"});
    return RunTool(dir_, args);
  };
  EXPECT_EQ("patched\n", run({other, patch, archive_}).out);
  EXPECT_EQ("one\n", run({archive_, patch}).out);
  const Outcome none = run({other, other});
  EXPECT_EQ(1, none.status);
  EXPECT_TRUE(Contains(none.err, "is not in archives")) << none.err;
}

TEST_F(CliTest, HelpPrintsUsageAndExitsZero) {
  const Outcome o = RunTool(dir_, {"--help"});
  EXPECT_EQ(0, o.status);
  EXPECT_TRUE(Contains(o.out, "Usage:"));
  EXPECT_TRUE(Contains(o.out, "selvane wdb --defs"));
  EXPECT_TRUE(Contains(o.out, "selvane dbc --defs"));
  EXPECT_TRUE(Contains(o.out, "Examples:"));
  EXPECT_EQ("", o.err);
}

}  // namespace
