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
// - std::bad_alloc ("bad allocation") leaves the export towards the host.
// - Any other exception becomes the absent result.
// Null arguments are checked by the unit that owns the operation, never here (they give the
// absent result as well).
// GuardAnyTime is for the few exports that work without a Repository (TlxCalculateTextId);
// start-up (StartLibrary) catches everything itself.
#pragma once

#include <new>
#include <utility>

#include "repository/Repository.h"
#include "sprig/Value.h"

namespace Quorin {

template <typename R, typename F>
R Guard(R absent, F&& body) {
  Repository* repository = Repository::Get();
  if (repository == nullptr) return absent;
  try {
    return static_cast<R>(std::forward<F>(body)(*repository));
  } catch (const std::bad_alloc&) {
    throw;
  } catch (...) {
    return absent;
  }
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
    throw;
  } catch (...) {
  }
}

template <typename R, typename F>
R GuardAnyTime(R absent, F&& body) {
  try {
    return static_cast<R>(std::forward<F>(body)());
  } catch (const std::bad_alloc&) {
    throw;
  } catch (...) {
    return absent;
  }
}

}  // namespace Quorin
