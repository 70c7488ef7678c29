#include <csignal>
#include <cstdlib>
#include <unistd.h>

#include "TestPlatform.h"

namespace QuorinTest {

namespace {
int g_hostExitCode = 0;
}

bool RedirectDocuments(const char* folder) { return setenv("XDG_DOCUMENTS_DIR", folder, 1) == 0; }

void SetSuppressSwitch(bool on) {
  on ? setenv("BRAVIK_SUPPRESS_ASSERTIONS", "1", 1) : unsetenv("BRAVIK_SUPPRESS_ASSERTIONS");
}

void InstallHostFaultHandler(int exitCode) {
  g_hostExitCode = exitCode;
  struct sigaction action{};
  action.sa_handler = [](int) { _exit(g_hostExitCode); };
  sigaction(SIGSEGV, &action, nullptr);
}

}  // namespace QuorinTest
