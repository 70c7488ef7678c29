// Loads the QuorinCAPI shared library the way a game does: at run time, from the folder of
// the running executable (or, installed, from lib/ beside its bin/), and looks its exports up by name.
#pragma once

#include <string>

class CHostLibrary {
 public:
  CHostLibrary() = default;
  CHostLibrary(const CHostLibrary&) = delete;
  CHostLibrary& operator=(const CHostLibrary&) = delete;
  ~CHostLibrary();

  // Loads the library from beside the executable (or an installed tree's lib/); false (with Error() set) when it cannot.
  bool Open();
  // The address of an exported function, or null when the library has no such export.
  void* Find(const char* name) const;

  const std::string& Path() const { return m_path; }
  const std::string& Error() const { return m_error; }

 private:
  void* m_handle = nullptr;
  std::string m_path;
  std::string m_error;
};
