// A document nested far deeper than any definition file needs must load as
// TinyXML reads it, whatever stack the caller's thread has.
#include <SelvaneLibrary/detail/FieldManager.h>
#include <gtest/gtest.h>

#include <string>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <pthread.h>
#endif

#include "tests/support/DefinitionBuilder.h"
#include "tests/support/TempDir.h"

namespace {

// A table whose "Note" holds depth nested elements, the field after them.
std::string DeepDocument(int depth, bool closed) {
  std::string xml = "<DBCFile><File name=\"Deep.dbc\"><Note>";
  for (int i = 0; i < depth; ++i) xml += "<a>";
  if (closed) {
    for (int i = 0; i < depth; ++i) xml += "</a>";
  }
  xml +=
      "</Note><Fields><Field position=\"0\" type=\"integer\" size=\"4\">id"
      "</Field></Fields></File></DBCFile>";
  return xml;
}

struct LoadTask {
  selvane::CDBFieldManager* manager;
  std::wstring path;
  int status;
};

// Loads on a thread with a small stack: 10,000 levels need about 2 MiB of
// parser stack, far more than this thread has. Threads with a chosen stack
// size start differently on each platform.
constexpr unsigned kSmallStack = 128 * 1024;

#ifdef _WIN32
int LoadOnSmallStack(selvane::CDBFieldManager* manager,
                     const std::wstring& path) {
  LoadTask task{manager, path, -2};
  const HANDLE thread = CreateThread(
      nullptr, kSmallStack,
      [](LPVOID arg) -> DWORD {
        auto* t = static_cast<LoadTask*>(arg);
        t->status = t->manager->LoadDefinitions(t->path);
        return 0;
      },
      &task, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread == nullptr) return -3;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  return task.status;
}
#else
int LoadOnSmallStack(selvane::CDBFieldManager* manager,
                     const std::wstring& path) {
  LoadTask task{manager, path, -2};
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kSmallStack);
  pthread_t thread;
  const int started = pthread_create(
      &thread, &attributes,
      [](void* arg) -> void* {
        auto* t = static_cast<LoadTask*>(arg);
        t->status = t->manager->LoadDefinitions(t->path);
        return nullptr;
      },
      &task);
  pthread_attr_destroy(&attributes);
  if (started != 0) return -3;
  pthread_join(thread, nullptr);
  return task.status;
}
#endif

TEST(DeepDocumentTest, LoadsOrFailsWithoutExhaustingTheCallersStack) {
  TempDir dir;
  selvane::CDBFieldManager manager;
  const std::wstring deep = DefinitionBuilder::WriteRaw(
      dir, "deep.xml", DeepDocument(10000, /*closed=*/true));
  ASSERT_EQ(0, LoadOnSmallStack(&manager, deep));
  const selvane::FieldMap* fields = manager.FindFields("Deep.dbc");
  ASSERT_NE(nullptr, fields);
  ASSERT_EQ(1u, fields->size());
  EXPECT_EQ("id", fields->at(0).name);

  // Never closed: malformed, refused, and nothing changes.
  const std::wstring open = DefinitionBuilder::WriteRaw(
      dir, "open.xml", DeepDocument(10000, /*closed=*/false));
  selvane::CDBFieldManager fresh;
  EXPECT_EQ(-1, LoadOnSmallStack(&fresh, open));
  EXPECT_EQ(nullptr, fresh.FindFile("Deep.dbc"));
}

}  // namespace
