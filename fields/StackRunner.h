#ifndef SELVANE_FIELDS_STACKRUNNER_H_
#define SELVANE_FIELDS_STACKRUNNER_H_

#include <cstddef>
#include <functional>

// Runs a job on a thread of its own whose stack is at least the given size,
// and waits for it. For work whose stack depth depends on its input, so that
// it does not depend on whatever stack the caller's thread happens to have.
// The stack is address space reserved up front; only what the job touches
// is ever committed.
//
// False when no such thread could be started (the job did not run). An
// exception thrown by the job is rethrown to the caller.
bool RunWithStack(std::size_t stackBytes, const std::function<void()>& job);

#endif  // SELVANE_FIELDS_STACKRUNNER_H_
