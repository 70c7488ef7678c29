// What the system tests need to arrange through the platform directly.
#pragma once

namespace QuorinTest {
// Points "~" at `folder`; false where the documents folder cannot be moved.
bool RedirectDocuments(const char* folder);
void SetSuppressSwitch(bool on);
// The host's own last-resort fault handler: ends the process with `exitCode`.
void InstallHostFaultHandler(int exitCode);
}  // namespace QuorinTest
