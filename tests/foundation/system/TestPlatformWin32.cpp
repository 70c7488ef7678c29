#include <windows.h>

#include "TestPlatform.h"

namespace QuorinTest {

namespace {
int g_hostExitCode = 0;
}

bool RedirectDocuments(const char*) { return false; }

void SetSuppressSwitch(bool on) {
  HKEY key = nullptr;
  if (RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Bravik", &key) != ERROR_SUCCESS) return;
  const DWORD one = 1;
  if (on) RegSetValueExA(key, "SuppressAssertions", 0, REG_DWORD, (const BYTE*)&one, sizeof one);
  else RegDeleteValueA(key, "SuppressAssertions");
  RegCloseKey(key);
}

void InstallHostFaultHandler(int exitCode) {
  g_hostExitCode = exitCode;
  SetUnhandledExceptionFilter([](EXCEPTION_POINTERS*) -> LONG {
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(g_hostExitCode));
    return EXCEPTION_CONTINUE_SEARCH;
  });
}

}  // namespace QuorinTest
