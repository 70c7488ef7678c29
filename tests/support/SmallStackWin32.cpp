#include <windows.h>
#include <process.h>

#include <exception>
#include <stdexcept>

#include "tests/support/SmallStack.h"

namespace QuorinTest {

namespace {

struct SJob {
  const std::function<void()>* work;
  std::exception_ptr error;
};

unsigned __stdcall RunJob(void* argument) {
  auto* job = static_cast<SJob*>(argument);
  try {
    (*job->work)();
  } catch (...) {
    job->error = std::current_exception();
  }
  return 0;
}

}  // namespace

// The size is the stack's reservation, not only its first commit: the thread can never grow
// past it.
void RunWithStack(size_t bytes, const std::function<void()>& work) {
  SJob job{&work, nullptr};
  const uintptr_t thread = _beginthreadex(nullptr, static_cast<unsigned>(bytes), &RunJob, &job,
                                          STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread == 0) throw std::runtime_error("no thread with that stack size");
  WaitForSingleObject(reinterpret_cast<HANDLE>(thread), INFINITE);
  CloseHandle(reinterpret_cast<HANDLE>(thread));
  if (job.error) std::rethrow_exception(job.error);
}

}  // namespace QuorinTest
