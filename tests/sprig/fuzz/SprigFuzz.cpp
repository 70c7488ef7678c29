// Fuzz target: parse the input strictly and leniently, in UTF-8 and as UTF-16 code units, and
// evaluate each tree against one state with the standard functions bound, the scalar evaluation
// checked against the general one. Everything must be freed again; script errors are expected,
// crashes and sanitizer reports are not.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "foundation/memory/Memory.h"
#include "sprig/Node.h"
#include "sprig/Parser.h"
#include "sprig/ScriptState.h"
#include "sprig/SprigException.h"
#include "sprig/StandardFunctions.h"

namespace {

using namespace Quorin::Sprig;

void ParseAndEvaluate(CScriptState& state, const Bravik::IString& text, bool lenient) {
  try {
    const CNodeHolder tree = Parse(text, lenient);
    const INode_Internal* root = tree.Get();
    for (int round = 0; round < 2; ++round) {
      // Where the scalar evaluation applies the tree is pure: the general one must agree.
      const Scalar scalar = EvaluateScalarTree(state, root);
      CTempValue result;
      EvaluateTree(state, root, result.Get(), false);
      if (scalar != kNoScalar && (FromScalar(scalar).kind != result.Get().kind ||
                                  FromScalar(scalar).payload != result.Get().payload)) {
        __builtin_trap();
      }
      Bravik::CMutableString shown;
      AsString(result.Get(), shown);
    }
  } catch (const Quorin::CSprigException&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = Bravik::Memory::InitializeMemory(nullptr, nullptr, nullptr,
                                                         Bravik::Memory::kNoLimit);
  if (!started) return 0;
  const uint64_t liveBefore = Bravik::Memory::GetMemoryStatistics().liveBlocks;
  {
    CScriptState state;
    BindStandardFunctions(state);
    std::vector<char> utf8(data, data + size);
    utf8.push_back('\0');
    const Bravik::CString text(utf8.data());
    ParseAndEvaluate(state, text, true);
    ParseAndEvaluate(state, text, false);

    std::vector<char16_t> utf16(size / 2 + 1, 0);
    std::memcpy(utf16.data(), data, size / 2 * 2);
    ParseAndEvaluate(state, Bravik::CString(utf16.data()), true);
  }
  if (Bravik::Memory::GetMemoryStatistics().liveBlocks != liveBefore) __builtin_trap();
  return 0;
}
