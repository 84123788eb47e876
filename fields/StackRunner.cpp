#include "fields/StackRunner.h"

#include <cstdint>
#include <exception>

#if defined(_WIN32)
#include <process.h>
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace {

struct Task {
  const std::function<void()>* job;
  std::exception_ptr error;
};

void RunTask(Task* task) {
  try {
    (*task->job)();
  } catch (...) {
    task->error = std::current_exception();
  }
}

#if defined(_WIN32)

unsigned __stdcall ThreadMain(void* arg) {
  RunTask(static_cast<Task*>(arg));
  return 0;
}

bool StartAndJoin(std::size_t stackBytes, Task* task) {
  if (stackBytes > 0xFFFFFFFFu) return false;
  const std::uintptr_t handle =
      _beginthreadex(nullptr, static_cast<unsigned>(stackBytes), ThreadMain,
                     task, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (handle == 0) return false;
  const HANDLE thread = reinterpret_cast<HANDLE>(handle);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  return true;
}

#else

void* ThreadMain(void* arg) {
  RunTask(static_cast<Task*>(arg));
  return nullptr;
}

bool StartAndJoin(std::size_t stackBytes, Task* task) {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return false;
  pthread_t thread;
  const bool started =
      pthread_attr_setstacksize(&attributes, stackBytes) == 0 &&
      pthread_create(&thread, &attributes, ThreadMain, task) == 0;
  pthread_attr_destroy(&attributes);
  if (started) pthread_join(thread, nullptr);
  return started;
}

#endif

}  // namespace

bool RunWithStack(std::size_t stackBytes, const std::function<void()>& job) {
  Task task{&job, nullptr};
  if (!StartAndJoin(stackBytes, &task)) return false;
  if (task.error) std::rethrow_exception(task.error);
  return true;
}
