// The one platform-specific file of the demo host: dynamic loading on POSIX and Windows.
#include "examples/HostLibrary.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>
#endif

namespace {

#if defined(_WIN32)
constexpr const char* kLibraryName = "QuorinCAPI.dll";
constexpr const char* kInstalledFolder = "";  // installed DLLs sit beside the programs

std::string ExecutableFolder() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length);
  const size_t slash = folder.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

void* Load(const std::string& path, std::string& error) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) error = "LoadLibraryA failed, error " + std::to_string(GetLastError());
  return reinterpret_cast<void*>(module);
}

void* Symbol(void* handle, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void Unload(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
#else
constexpr const char* kLibraryName = "libQuorinCAPI.so";
constexpr const char* kInstalledFolder = "../lib/";  // an installed tree: bin/ beside lib/

std::string ExecutableFolder() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof(path));
  std::string folder(path, length > 0 ? static_cast<size_t>(length) : 0);
  const size_t slash = folder.find_last_of('/');
  return slash == std::string::npos ? std::string("./") : folder.substr(0, slash + 1);
}

void* Load(const std::string& path, std::string& error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) error = dlerror();
  return handle;
}

void* Symbol(void* handle, const char* name) { return dlsym(handle, name); }

void Unload(void* handle) { dlclose(handle); }
#endif

}  // namespace

CHostLibrary::~CHostLibrary() {
  if (m_handle != nullptr) Unload(m_handle);
}

bool CHostLibrary::Open() {
  m_path = ExecutableFolder() + kLibraryName;
  m_handle = Load(m_path, m_error);
  if (m_handle == nullptr && *kInstalledFolder != '\0') {
    std::string error;
    const std::string installed = ExecutableFolder() + kInstalledFolder + kLibraryName;
    m_handle = Load(installed, error);
    if (m_handle != nullptr) m_path = installed;
  }
  return m_handle != nullptr;
}

void* CHostLibrary::Find(const char* name) const {
  return m_handle == nullptr ? nullptr : Symbol(m_handle, name);
}
