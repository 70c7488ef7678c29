// Loads the QuorinCAPI shared library the way a game does: at run time, from the folder of
// the running executable, and looks its exports up by name.
#pragma once

#include <string>

class CHostLibrary {
 public:
  CHostLibrary() = default;
  CHostLibrary(const CHostLibrary&) = delete;
  CHostLibrary& operator=(const CHostLibrary&) = delete;
  ~CHostLibrary();

  // Loads the library from beside the executable; false (with Error() set) when it cannot.
  bool Open();
  // The address of an exported function, or null when the library has no such export.
  void* Find(const char* name) const;

  const std::string& Path() const { return path_; }
  const std::string& Error() const { return error_; }

 private:
  void* handle_ = nullptr;
  std::string path_;
  std::string error_;
};
