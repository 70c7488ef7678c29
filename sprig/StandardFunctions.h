// The standard function library: `Math.` and `String.` functions bound like any other function.
// Each checks its argument count, then the kinds in argument order, and raises CSprigException
// (code 13 or 14, position 0) at the first failure.
#pragma once

#include "sprig/ScriptState.h"

namespace Quorin::Sprig {

// String.Contains, StartsWith, EndsWith, Length, Replace, Substring, Distance.
void BindStringFunctions(CScriptState& state);
// Math.Sum, Min, Max, Clamp.
void BindMathFunctions(CScriptState& state);
// The String functions, then the Math functions. Names already bound keep their function.
void BindStandardFunctions(CScriptState& state);

}  // namespace Quorin::Sprig
