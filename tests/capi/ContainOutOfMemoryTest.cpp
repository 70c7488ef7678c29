// Started with ContainOutOfMemory, a host that cannot catch C++ exceptions sees out of memory as
// absent results: a session of start-up, registration, object creation, a Sprig parse and
// evaluation and a connection's resolution is run with every host allocation in turn failing.
// No exception may leave an export, nothing may leak, and a script that ran out of memory says
// so through its last error.
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capi/QuorinCAPI.h"
#include "tests/repository/StoryBuilder.h"
#include "tests/support/CountingAllocator.h"

namespace {

using namespace QuorinTest;

// One session; false at the first step that gave its absent result. The script's text and the
// connection's path are larger than the pools' biggest block, so those steps take memory from
// the host on every run, however warm the pools are.
bool Session() {
  if (!TlxInitialize(QUORIN_CAPI_VERSION, TLX_START_CONTAIN_OUT_OF_MEMORY)) return false;
  TlxRegisterDefaultClasses();
  if (!TlxIsClassRegistered(TLX_CLASS_LINK)) return false;
  const TlxScriptReference condition{1, TLX_SCRIPT_SPRIG};
  const TlxReference target{1, TLX_REF_PROTOTYPE}, part{2, TLX_REF_PROTOTYPE};
  uint8_t data[19] = {};
  std::memcpy(data + 9, &condition, sizeof condition);
  std::memcpy(data + 14, &target, sizeof target);
  TlxCreateText(1, "v:gold >= 1");
  if (!TlxIsTextRegistered(1) || TlxCreatePrototype(1, TLX_CLASS_DIALOG_FRAGMENT, TLX_NO_ID16) == nullptr ||
      TlxCreatePrototype(2, TLX_CLASS_CONNECTION_PART, TLX_NO_ID16) == nullptr) {
    return false;
  }
  TlxStorePrototypeClassData(2, data, sizeof data);
  const std::vector<TlxReference> parts(300, part);
  TlxReferenceList* connection = TlxCreateListPrototype(3, parts.data(), static_cast<uint32_t>(parts.size()));
  if (TlxGetConstCMember(TlxGetPrototype(2), 0) == nullptr || connection == nullptr) return false;

  const std::string script = "v:gold = 3, v:name = \"" + std::string(1100, 'g') + "\", v:name + \"!\"";
  TlxSprigExpression* parsed = TlxSprigParse(script.c_str());
  if (parsed == nullptr) return false;
  const TlxSprigValue value = TlxSprigExecuteParsed(parsed);
  TlxSprigFreeNode(parsed);
  if (value.kind != TLX_SPRIG_STRING) {
    EXPECT_EQ(TlxSprigGetLastError(nullptr, 0, nullptr), TLX_SPRIG_ERROR_OUT_OF_MEMORY);
    return false;
  }
  BrvFree(reinterpret_cast<void*>(value.payload));

  void** paths = TlxResolveConnectionWithIndirections(ListObject(connection));
  if (paths == nullptr) return false;
  const bool holds = TlxGetResolvedConnectionCount(paths) == 1 && TlxResolveConnectionConditions(paths[0]);
  TlxFreeResolvedConnection(paths);
  return holds;
}

TEST(ContainOutOfMemory, EveryFailingAllocationGivesAbsentResultsWithoutException) {
  const uint64_t failedRuns = ForEachAllocationFailure([] {
    const AllocatorCounters& counters = Counters();
    bool complete = false;
    try {
      complete = Session();
    } catch (const std::bad_alloc&) {
      ADD_FAILURE() << "out of memory left an export at host call " << counters.failAtCall;
    }
    const bool injected = counters.allocateCalls + counters.reallocateCalls >= counters.failAtCall;
    TlxShutdown();
    if (injected || !complete) throw std::bad_alloc();  // contained: go on with the next call
  });
  EXPECT_GT(failedRuns, 20u);
}

// Without the flag, out of memory still leaves the export as std::bad_alloc.
TEST(ContainOutOfMemory, IsOffUnlessAskedFor) {
  ASSERT_TRUE(TlxInitialize(QUORIN_CAPI_VERSION, 0));
  Counters().failAtCall = Counters().allocateCalls + Counters().reallocateCalls + 1;
  EXPECT_THROW(TlxCreateText(1, std::string(5000, 'x').c_str()), std::bad_alloc);
  Counters().failAtCall = 0;
  TlxShutdown();
}

}  // namespace
