// The parser recurses once per element level. A document nested deeper than
// the loader's limit is refused before it is parsed, and one at the limit
// loads within a small stack, on the caller's own thread.
#include <SelvaneLibrary/detail/FieldManager.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "fields/DefinitionLoader.h"
#include "tests/fields/FieldsTestUtil.h"
#include "tests/support/DefinitionBuilder.h"
#include "tests/support/TempDir.h"

namespace {

constexpr std::size_t kLimit = CDefinitionLoader::kMaxDepth;

std::string Repeat(const std::string& piece, std::size_t times) {
  std::string text;
  text.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) text += piece;
  return text;
}

// A definition of Deep.dbc whose deepest element sits at depth (4 or more):
// DBCFile, File and Note, then nested elements inside the note.
std::string DeepDocument(std::size_t depth, bool closed = true) {
  const std::size_t inner = depth - 3;
  return "<DBCFile><File name=\"Deep.dbc\"><Note>" + Repeat("<a>", inner) +
         (closed ? Repeat("</a>", inner) : "") +
         "</Note><Fields><Field position=\"0\" type=\"integer\" size=\"4\">id"
         "</Field></Fields></File></DBCFile>";
}

std::string Base() {
  return DefinitionBuilder()
      .Table("Keep.dbc")
      .Field("id", {{"position", "0"}, {"type", "integer"}, {"size", "4"}})
      .Xml();
}

const std::vector<std::string> kNames = {"Keep.dbc", "Deep.dbc"};

TEST(DeepDocumentTest, AtTheLimitLoadsOneDeeperIsRefusedAndChangesNothing) {
  TempDir dir;
  selvane::CDBFieldManager manager;
  ASSERT_EQ(0, manager.LoadDefinitions(
                   DefinitionBuilder::WriteRaw(dir, "base.xml", Base())));
  const auto before = Snapshot(manager, kNames);

  for (const bool closed : {true, false}) {
    SCOPED_TRACE(closed ? "closed" : "never closed");
    EXPECT_EQ(-1, manager.LoadDefinitions(DefinitionBuilder::WriteRaw(
                      dir, "over.xml", DeepDocument(kLimit + 1, closed))));
    EXPECT_EQ(before, Snapshot(manager, kNames));
  }

  ASSERT_EQ(0, manager.LoadDefinitions(DefinitionBuilder::WriteRaw(
                   dir, "limit.xml", DeepDocument(kLimit))));
  const DBFile* deep = manager.FindFile("Deep.dbc");
  ASSERT_NE(nullptr, deep);
  EXPECT_EQ(MapOf({Attr("id", 0, 0, 4)}), deep->fields);
  EXPECT_NE(nullptr, manager.FindFile("Keep.dbc"));
}

// Markup that opens no element does not count towards the limit, however
// many '<' it holds.
TEST(DeepDocumentTest, LessThanSignsOutsideElementsDoNotCount) {
  const std::string opens = Repeat("<a>", 10 * kLimit);
  const std::string places[] = {
      "<!--" + opens + "-->",
      "<![CDATA[" + opens + "]]>",
      "<?pi " + Repeat("<a", 10 * kLimit) + "?>",
      "<x v=\"" + opens + "\" w='" + opens + "'/>",
      "<x>" + Repeat("&lt;a&gt;", 10 * kLimit) + "</x>",
  };
  TempDir dir;
  for (const std::string& place : places) {
    SCOPED_TRACE(place.substr(0, 12));
    const std::string xml = "<DBCFile><File name=\"Deep.dbc\"><Note>" + place +
                            "</Note><Fields><Field position=\"0\">id</Field>"
                            "</Fields></File></DBCFile>";
    selvane::CDBFieldManager manager;
    EXPECT_EQ(0, manager.LoadDefinitions(
                     DefinitionBuilder::WriteRaw(dir, "d.xml", xml)));
    EXPECT_NE(nullptr, manager.FindFile("Deep.dbc"));
  }
}

// Parsed whole, this nesting takes the parser minutes (its work grows with
// the square of the depth) and some 45 MB of stack.
TEST(DeepDocumentTest, VeryDeepNestingIsRefusedAtOnce) {
  const std::size_t depth = 200000;
  TempDir dir;
  const std::string xml = DeepDocument(depth);
  const std::wstring path = DefinitionBuilder::WriteRaw(dir, "deep.xml", xml);
  selvane::CDBFieldManager manager;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(-1, manager.LoadDefinitions(path));
  const std::chrono::duration<double, std::milli> took =
      std::chrono::steady_clock::now() - start;
  std::printf("%zu bytes nested %zu deep refused in %.2f ms\n", xml.size(),
              depth, took.count());
  // Generous: the walk stops at the limit, long before the end.
  EXPECT_LT(took.count(), 2000.0);
  EXPECT_EQ(nullptr, manager.FindFile("Deep.dbc"));
}

// The stack a load may take at most, as a host thread could have it.
constexpr std::size_t kSmallStack = 64 * 1024;

#if defined(_WIN32)

DWORD WINAPI RunJob(LPVOID job) {
  (*static_cast<const std::function<void()>*>(job))();
  return 0;
}

// Runs job on a thread with kSmallStack reserved; the stack use is not
// measured here (returns 0).
std::size_t RunOnSmallStack(const std::function<void()>& job) {
  const HANDLE thread = CreateThread(
      nullptr, kSmallStack, RunJob, const_cast<std::function<void()>*>(&job),
      STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread == nullptr) {
    ADD_FAILURE() << "no thread";
    return 0;
  }
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  return 0;
}

#else

void* RunJob(void* job) {
  (*static_cast<const std::function<void()>*>(job))();
  return nullptr;
}

// Runs job on a thread whose stack is kSmallStack bytes of our own, with an
// inaccessible page below it, and returns how many bytes of that stack were
// written: its high-water mark, which includes what the C library keeps at
// the stack's top for the thread itself.
std::size_t RunOnSmallStack(const std::function<void()>& job) {
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  void* const map = mmap(nullptr, page + kSmallStack, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (map == MAP_FAILED) {
    ADD_FAILURE() << "no memory for the stack";
    return 0;
  }
  auto* const stack = static_cast<unsigned char*>(map) + page;
  const unsigned char fill = 0xA5;
  std::memset(stack, fill, kSmallStack);
  std::size_t used = 0;
  pthread_attr_t attributes;
  pthread_t thread;
  if (mprotect(map, page, PROT_NONE) == 0 &&
      pthread_attr_init(&attributes) == 0) {
    if (pthread_attr_setstack(&attributes, stack, kSmallStack) == 0 &&
        pthread_create(&thread, &attributes, RunJob,
                       const_cast<std::function<void()>*>(&job)) == 0) {
      pthread_join(thread, nullptr);
      std::size_t untouched = 0;
      while (untouched < kSmallStack && stack[untouched] == fill) ++untouched;
      used = kSmallStack - untouched;
    } else {
      ADD_FAILURE() << "no thread";
    }
    pthread_attr_destroy(&attributes);
  } else {
    ADD_FAILURE() << "no thread attributes";
  }
  munmap(map, page + kSmallStack);
  return used;
}

#endif

TEST(DeepDocumentTest, LoadsFitIn64KiBOfStack) {
  TempDir dir;
  const std::wstring atLimit =
      DefinitionBuilder::WriteRaw(dir, "limit.xml", DeepDocument(kLimit));
  const std::wstring over = DefinitionBuilder::WriteRaw(
      dir, "over.xml", DeepDocument(kLimit + 1, /*closed=*/false));
  const std::wstring deep =
      DefinitionBuilder::WriteRaw(dir, "deep.xml", DeepDocument(100000));
  // What the thread itself takes, for comparison.
  const std::size_t idle = RunOnSmallStack([] {});
  int status[3] = {1, 1, 1};
  const std::size_t used = RunOnSmallStack([&] {
    selvane::CDBFieldManager manager;
    status[0] = manager.LoadDefinitions(atLimit);
    status[1] = manager.LoadDefinitions(over);
    status[2] = manager.LoadDefinitions(deep);
  });
  EXPECT_EQ(0, status[0]);
  EXPECT_EQ(-1, status[1]);
  EXPECT_EQ(-1, status[2]);
#if !defined(_WIN32)
  std::printf("stack high-water mark: %zu of %zu bytes (%zu idle)\n", used,
              kSmallStack, idle);
  RecordProperty("stack_bytes", static_cast<int>(used));
  // Well inside: at most half of it, thread records included.
  EXPECT_GT(used, 0u);
  EXPECT_LE(used, kSmallStack / 2);
#else
  (void)idle;
  (void)used;
#endif
}

}  // namespace
