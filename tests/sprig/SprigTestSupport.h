// Shared helpers of the Sprig tests: parse and evaluate a text against one script state and
// describe the outcome as one comparable line ("Integer 5", "String ab", "E8@2 message").
#pragma once

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "sprig/Node.h"
#include "sprig/Parser.h"
#include "sprig/ScriptState.h"
#include "sprig/SprigException.h"
#include "sprig/Value.h"

namespace SprigTest {

using namespace Quorin::Sprig;

inline std::string Describe(const TlxSprigValue& value) {
  const TlxSprigValue& resolved = Resolve(value);
  char buffer[64];
  switch (resolved.kind) {
    case kSprigBoolean:
      return AsBoolean(resolved) ? "Boolean true" : "Boolean false";
    case kSprigInteger:
      return "Integer " + std::to_string(IntegerOf(resolved));
    case kSprigFloat:
      std::snprintf(buffer, sizeof(buffer), "Float %.7g", static_cast<double>(FloatOf(resolved)));
      return buffer;
    case kSprigString:
      return std::string("String ") + TextOf(resolved);
    default:
      return "Invalid";
  }
}

inline std::string Describe(const Quorin::CSprigException& error) {
  return "E" + std::to_string(error.GetCode()) + "@" + std::to_string(error.GetPosition()) + " " +
         static_cast<const char*>(error.GetMessage().GetData());
}

// Owns a parsed tree for the length of a test.
class CTree {
 public:
  explicit CTree(INode_Internal* root) : m_root(root) {}
  ~CTree() { DestroyTree(m_root); }
  CTree(const CTree&) = delete;
  CTree& operator=(const CTree&) = delete;
  INode_Internal* Get() const { return m_root; }

 private:
  INode_Internal* m_root;
};

class SprigFixture : public testing::Test {
 protected:
  // Parses (strictly unless lenient) and evaluates `text`; the outcome as one line. An empty
  // expression reads "Empty".
  std::string Run(const std::string& text, bool lenient = false) {
    try {
      CTree tree(Parse(Bravik::CString(text.c_str()), lenient));
      if (tree.Get() == nullptr) return "Empty";
      CTempValue result;
      EvaluateTree(state, tree.Get(), result.Get());
      return Describe(result.Get());
    } catch (const Quorin::CSprigException& error) {
      return Describe(error);
    }
  }

  // Runs every statement in order (each must succeed), then returns the outcome of `last`.
  std::string RunAfter(std::initializer_list<const char*> setup, const std::string& last) {
    for (const char* statement : setup) {
      const std::string outcome = Run(statement);
      EXPECT_EQ(outcome.rfind("E", 0) == 0 && outcome[1] >= '0' && outcome[1] <= '9', false)
          << statement << " -> " << outcome;
    }
    return Run(last);
  }

  std::string Variable(const char* name) {
    CTempValue value;
    state.GetVariable(Bravik::CString(name), true, value.Get());
    return Describe(value.Get());
  }

  CScriptState state;
};

}  // namespace SprigTest
