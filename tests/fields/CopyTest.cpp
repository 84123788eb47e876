// Copies and assignment of a manager hold deep, independent definitions.
#include <SelvaneLibrary/detail/FieldManager.h>
#include <gtest/gtest.h>

#include "tests/fields/FieldsTestUtil.h"
#include "tests/support/DefinitionBuilder.h"
#include "tests/support/TempDir.h"

namespace {

class CopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DefinitionBuilder first;
    first.Table("A.dbc").Note("a").Field("x", {{"position", "0"}});
    first.Table("B.dbc").Field("y", {{"position", "1"}, {"size", "4"}});
    first_ = first.WriteTo(dir_, "first.xml");
    DefinitionBuilder second;
    second.Table("A.dbc").Note("a again");
    second.Table("C.dbc").Field("z", {{"position", "2"}});
    second_ = second.WriteTo(dir_, "second.xml");
  }

  const std::vector<std::string> names_ = {"A.dbc", "B.dbc", "C.dbc"};
  TempDir dir_;
  std::wstring first_;
  std::wstring second_;
};

TEST_F(CopyTest, CopyIsDeepAndIndependent) {
  selvane::CDBFieldManager source;
  ASSERT_EQ(0, source.LoadDefinitions(first_));
  const auto loaded = Snapshot(source, names_);

  selvane::CDBFieldManager copy(source);
  EXPECT_EQ(loaded, Snapshot(copy, names_));
  EXPECT_NE(source.FindFields("A.dbc"), copy.FindFields("A.dbc"));

  ASSERT_EQ(0, copy.LoadDefinitions(second_));
  EXPECT_EQ(loaded, Snapshot(source, names_));
  EXPECT_EQ("a again", copy.FindFile("A.dbc")->note);
  ASSERT_NE(nullptr, copy.FindFields("C.dbc"));

  // And the other way round: the source moves on, the copy stays.
  const auto copied = Snapshot(copy, names_);
  selvane::CDBFieldManager other;
  ASSERT_EQ(0, other.LoadDefinitions(second_));
  source = other;
  EXPECT_EQ(copied, Snapshot(copy, names_));
}

TEST_F(CopyTest, AssignmentReplacesEverything) {
  selvane::CDBFieldManager source;
  ASSERT_EQ(0, source.LoadDefinitions(first_));
  selvane::CDBFieldManager target;
  ASSERT_EQ(0, target.LoadDefinitions(second_));

  target = source;
  EXPECT_EQ(Snapshot(source, names_), Snapshot(target, names_));
  EXPECT_EQ(nullptr, target.FindFile("C.dbc"));

  ASSERT_EQ(0, source.LoadDefinitions(second_));
  EXPECT_EQ("a", target.FindFile("A.dbc")->note);

  target = selvane::CDBFieldManager();
  for (const std::string& name : names_) {
    EXPECT_EQ(nullptr, target.FindFile(name)) << name;
  }
}

TEST_F(CopyTest, SelfAssignmentKeepsDefinitions) {
  selvane::CDBFieldManager manager;
  ASSERT_EQ(0, manager.LoadDefinitions(first_));
  const auto before = Snapshot(manager, names_);
  selvane::CDBFieldManager& alias = manager;
  manager = alias;
  EXPECT_EQ(before, Snapshot(manager, names_));
}

}  // namespace
