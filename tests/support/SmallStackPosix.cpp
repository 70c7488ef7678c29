#include <pthread.h>

#include <exception>
#include <stdexcept>

#include "tests/support/SmallStack.h"

namespace QuorinTest {

namespace {

struct SJob {
  const std::function<void()>* work;
  std::exception_ptr error;
};

void* RunJob(void* argument) {
  auto* job = static_cast<SJob*>(argument);
  try {
    (*job->work)();
  } catch (...) {
    job->error = std::current_exception();
  }
  return nullptr;
}

}  // namespace

void RunWithStack(size_t bytes, const std::function<void()>& work) {
  SJob job{&work, nullptr};
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_t thread;
  const bool started = pthread_attr_setstacksize(&attributes, bytes) == 0 &&
                       pthread_create(&thread, &attributes, &RunJob, &job) == 0;
  pthread_attr_destroy(&attributes);
  if (!started) throw std::runtime_error("no thread with that stack size");
  pthread_join(thread, nullptr);
  if (job.error) std::rethrow_exception(job.error);
}

}  // namespace QuorinTest
