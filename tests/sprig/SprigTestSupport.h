// Shared helpers of the Sprig tests: parse and evaluate a text against one script state and
// describe the outcome as one comparable line ("Integer 5", "String ab", "E8@2 message").
#pragma once

#include <cctype>
#include <cstdio>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "sprig/Node.h"
#include "sprig/Parser.h"
#include "sprig/SprigException.h"
#include "sprig/StandardFunctions.h"

namespace SprigTest {

using namespace Quorin::Sprig;

inline std::string Describe(const TlxSprigValue& value) {
  const TlxSprigValue& resolved = Resolve(value);
  char buffer[64];
  switch (resolved.kind) {
    case kSprigBoolean: return AsBoolean(resolved) ? "Boolean true" : "Boolean false";
    case kSprigInteger: return "Integer " + std::to_string(IntegerOf(resolved));
    case kSprigFloat:
      std::snprintf(buffer, sizeof(buffer), "Float %.7g", static_cast<double>(FloatOf(resolved)));
      return buffer;
    case kSprigString: return std::string("String ") + TextOf(resolved);
    default: return "Invalid";
  }
}

inline std::string Describe(const Quorin::CSprigException& error) {
  return "E" + std::to_string(error.GetCode()) + "@" + std::to_string(error.GetPosition()) + " " +
         static_cast<const char*>(error.GetMessage().GetData());
}

class SprigFixture : public testing::Test {
 protected:
  // Parses (strictly unless lenient) and evaluates `text`; the outcome as one line. An empty
  // expression reads "Empty".
  std::string Run(const std::string& text, bool lenient = false) {
    try {
      const CNodeHolder tree = Parse(Bravik::CString(text.c_str()), lenient);
      if (tree.Get() == nullptr) return "Empty";
      CTempValue result;
      EvaluateTree(state, tree.Get(), result.Get());
      return Describe(result.Get());
    } catch (const Quorin::CSprigException& error) {
      return Describe(error);
    }
  }

  std::string Variable(const char* name) {
    CTempValue value;
    state.GetVariable(Bravik::CString(name), true, value.Get());
    return Describe(value.Get());
  }

  CScriptState state;
};

// A text and the outcome of parsing (strictly unless lenient) and evaluating it.
struct SCase {
  const char* text;
  const char* expected;
  bool lenient = false;
};
inline void PrintTo(const SCase& c, std::ostream* out) { *out << c.text; }

// Runs cases against the standard functions, `Count` (the number of its arguments, counting
// only those that arrive resolved, never as References) and a = 10, b = 3, c = 2, d = 24, e = 4.
class SprigCaseTest : public SprigFixture, public testing::WithParamInterface<SCase> {
 protected:
  void SetUp() override {
    BindStandardFunctions(state);
    state.BindFunction(SprigCallable{&CountArguments, 0}, Bravik::CString("Count"));
    ASSERT_EQ(Run("a = 10, b = 3, c = 2, d = 24, e = 4"), "Integer 4");
  }
  void Check() {
    EXPECT_EQ(Run(GetParam().text, GetParam().lenient), GetParam().expected) << GetParam().text;
  }
  static void CountArguments(const SprigCallable&, TlxSprigValue& result,
                             const TlxSprigValue* arguments, uint64_t count) {
    int32_t resolved = 0;
    for (uint64_t i = 0; i < count; ++i) resolved += arguments[i].kind != kSprigReference;
    SetInteger(result, resolved);
  }
};

// Test names that say what is tested: the case's number and the letters and digits of its text.
inline std::string CaseName(const testing::TestParamInfo<SCase>& info) {
  std::string name = std::to_string(info.index) + "_";
  for (const char* c = info.param.text; *c != '\0' && name.size() < 32; ++c) {
    if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
  }
  return name;
}

}  // namespace SprigTest
