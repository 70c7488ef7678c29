// The boundary frame: the one place the error policy of the exports is applied. Every export
// other than the two start-up functions is a one-line forward through Guard:
//
//   QUORIN_API TlxObject* TlxGetPrototype(uint32_t id) {
//     return Guard<TlxObject*>(nullptr, [=](Repository& r) { return Quorin::FindPrototype(r, id); });
//   }
//   QUORIN_API void TlxReleaseInstance(uint32_t id) {
//     Guard([=](Repository& r) { Quorin::ReleaseInstance(r, id); });
//   }
//
// Each capi file opens with an "// Exports:" line, brings in Guard and Repository with using
// declarations, qualifies everything else with Quorin:: and captures by value.
//
// - Not started, or after shutdown: the body does not run; the absent result is returned.
// - std::bad_alloc ("bad allocation") leaves the export towards the host, unless the host started
//   the library with ContainOutOfMemory: then it becomes the absent result as well.
// - Any other exception becomes the absent result.
// GuardScript is Guard for the exports that run scripts: its body also gets the call's script
// fault record, and how the call ended (no error, the first script error, out of memory) becomes
// the calling thread's last script error, written once the call is over so that calls nested in
// host functions never outlast the outer one.
// Null arguments are checked by the unit that owns the operation, never here (they give the
// absent result as well).
// GuardAnyTime is for the few exports that work without a Repository (TlxCalculateTextId);
// start-up (StartLibrary) catches everything itself.
#pragma once

#include <new>
#include <utility>

#include "repository/Repository.h"
#include "sprig/ScriptFault.h"
#include "sprig/Value.h"

namespace Quorin {

// In a catch block of std::bad_alloc: leaves unless the host asked to contain it.
inline void RethrowUncontained() {
  if (!Repository::ContainsOutOfMemory()) throw;
}

template <typename R, typename F>
R Guard(R absent, F&& body) {
  Repository* repository = Repository::Get();
  if (repository == nullptr) return absent;
  try {
    return static_cast<R>(std::forward<F>(body)(*repository));
  } catch (const std::bad_alloc&) {
    RethrowUncontained();
  } catch (...) {
  }
  return absent;
}

// Script values cross the frame as two whole words (see SValueWords).
template <typename F>
TlxSprigValue Guard(const TlxSprigValue& absent, F&& body) {
  return Sprig::FromWords(Guard(Sprig::ToWords(absent), [&](Repository& repository) {
    return Sprig::ToWords(std::forward<F>(body)(repository));
  }));
}

template <typename F>
void Guard(F&& body) {
  Repository* repository = Repository::Get();
  if (repository == nullptr) return;
  try {
    std::forward<F>(body)(*repository);
  } catch (const std::bad_alloc&) {
    RethrowUncontained();
  } catch (...) {
  }
}

template <typename R, typename F>
R GuardAnyTime(R absent, F&& body) {
  try {
    return static_cast<R>(std::forward<F>(body)());
  } catch (const std::bad_alloc&) {
    RethrowUncontained();
  } catch (...) {
  }
  return absent;
}

// body(Repository&, Sprig::SScriptFault&) -> R.
template <typename R, typename F>
R GuardScript(R absent, F&& body) {
  Repository* repository = Repository::Get();
  if (repository == nullptr) return absent;
  Sprig::SScriptFault fault;
  try {
    const R result = static_cast<R>(std::forward<F>(body)(*repository, fault));
    Sprig::PublishFault(fault);
    return result;
  } catch (const CSprigException& error) {
    fault.Capture(error);
  } catch (const std::bad_alloc&) {
    fault.CaptureOutOfMemory();
    Sprig::PublishFault(fault);
    RethrowUncontained();
  } catch (...) {
  }
  Sprig::PublishFault(fault);
  return absent;
}

template <typename F>
TlxSprigValue GuardScript(const TlxSprigValue& absent, F&& body) {
  return Sprig::FromWords(GuardScript(Sprig::ToWords(absent), [&](Repository& repository, Sprig::SScriptFault& fault) {
    return Sprig::ToWords(std::forward<F>(body)(repository, fault));
  }));
}

}  // namespace Quorin
