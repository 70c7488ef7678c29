// Runs work on a thread of its own whose stack is as small as a game's job threads may give:
// work that needs more stack than that crashes the test instead of passing by luck.
#pragma once

#include <cstddef>
#include <functional>

namespace QuorinTest {

// Runs `work` on a new thread with a stack of `bytes` and waits for it. An exception that
// leaves `work` is raised again on the caller's thread.
void RunWithStack(size_t bytes, const std::function<void()>& work);

}  // namespace QuorinTest
