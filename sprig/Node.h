// The node tree of a parsed expression and its evaluation. Evaluation walks the whole tree every
// time: binary operators evaluate their right operand before their left one (the comma is the
// exception), and && and || always evaluate both.
#pragma once

#include <cstdint>

#include "foundation/container/Array.h"
#include "foundation/string/String.h"
#include "sprig/Scalar.h"
#include "sprig/ScriptState.h"
#include "sprig/Value.h"

namespace Quorin::Sprig {

// Operator kinds, their spellings and priorities (a smaller number binds more tightly).
// ORDER SPRIG_OP
constexpr uint8_t kOpOpenGroup = 0;
constexpr uint8_t kOpCloseGroup = 1;
constexpr uint8_t kOpOpenFunction = 2;
constexpr uint8_t kOpCloseFunction = 3;
constexpr uint8_t kOpIncrement = 4;
constexpr uint8_t kOpDecrement = 5;
constexpr uint8_t kOpNot = 6;
constexpr uint8_t kOpBitNot = 7;
constexpr uint8_t kOpMultiply = 8;
constexpr uint8_t kOpSubtract = 12;
constexpr uint8_t kOpLess = 15;  // then LessEqual, Greater, GreaterEqual
constexpr uint8_t kOpEqual = 19;
constexpr uint8_t kOpNotEqual = 20;
constexpr uint8_t kOpLogicalAnd = 24;
constexpr uint8_t kOpLogicalOr = 25;
constexpr uint8_t kOpAssign = 26;
constexpr uint8_t kOpAddAssign = 27;
constexpr uint8_t kOpBitOrAssign = 36;
constexpr uint8_t kOpComma = 37;
constexpr uint32_t kOperatorCount = 38;

struct SOperatorInfo {
  const char* spelling;
  uint8_t priority;
};

inline constexpr SOperatorInfo kOperators[] = {
    {"(", 1},    {")", 1},   {"{", 1},   {"}", 1},   {"++", 2},  {"--", 3},  {"!", 4},
    {"~", 5},    {"*", 6},   {"/", 7},   {"%", 8},   {"+", 9},   {"-", 10},  {"<<", 11},
    {">>", 12},  {"<", 13},  {"<=", 13}, {">", 13},  {">=", 13}, {"==", 14}, {"!=", 15},
    {"&", 16},   {"^", 17},  {"|", 18},  {"&&", 19}, {"||", 20}, {"=", 21},  {"+=", 22},
    {"-=", 23},  {"*=", 24}, {"/=", 25}, {"%=", 26}, {"<<=", 27}, {">>=", 28}, {"&=", 29},
    {"^=", 30},  {"|=", 31}, {",", 32},
};
static_assert(sizeof(kOperators) / sizeof(kOperators[0]) == kOperatorCount);

// Deeper evaluations raise "Expression is nested too deeply." (code 6).
constexpr uint32_t kMaxEvaluationDepth = 1000;

// One evaluation: the state it reads and writes, and how deep it has gone.
struct CEvaluationContext {
  CScriptState& state;
  uint32_t depth = 0;
};

// The public face of a parsed expression.
class INode {
 public:
  virtual ~INode() = default;

 protected:
  INode() = default;
};

class INode_Internal : public INode {
 public:
  INode_Internal() = default;
  INode_Internal(const INode_Internal&) = delete;
  INode_Internal& operator=(const INode_Internal&) = delete;
  ~INode_Internal() override;

  // Computes the node's value into `out` (Invalid on entry) and returns it.
  TlxSprigValue& Evaluate(CEvaluationContext& context, TlxSprigValue& out) const;
  // The node's value as a scalar when the subtree is pure and its values are scalars, else
  // kNoScalar (nothing has changed then that a general evaluation would not change the same way).
  // `depth` counts as the context's depth does.
  virtual Scalar EvaluateScalar(CEvaluationContext&, uint32_t) const { return kNoScalar; }
  // Stores `value` into what the node denotes; `out` receives the assignment's value. Only
  // variables can be assigned: every other node raises code 0.
  virtual TlxSprigValue& Assign(CEvaluationContext& context, TlxSprigValue& out,
                                const TlxSprigValue& value) const;
  virtual uint8_t GetPriority() const = 0;
  virtual bool IsStepOperator() const = 0;
  virtual bool CanBeUnary() const = 0;
  // The operator kind, or kOperatorCount for value nodes.
  virtual uint32_t GetKind() const { return kOperatorCount; }

  // Moves subtrees the node owns besides its children to the front of `pending` (linked through
  // right children) and returns the new front: destruction never recurses on depth.
  virtual INode_Internal* DetachSubtrees(INode_Internal* pending) { return pending; }

  INode_Internal* left = nullptr;   // owned
  INode_Internal* right = nullptr;  // owned
  uint32_t position = 0;            // character index of the node's token
  uint8_t closedGroup = 0;          // 1 when a closing bracket closed the group it roots

 protected:
  virtual void EvaluateNode(CEvaluationContext& context, TlxSprigValue& out) const = 0;
};

// Destroys a tree (null does nothing) with constant stack depth.
void DestroyTree(INode* root);

// Operator node of a kind below kOperatorCount.
INode_Internal* CreateOperatorNode(uint32_t kind);

class CConstNode_Internal : public INode_Internal {
 public:
  // Takes ownership of the value (and its text).
  explicit CConstNode_Internal(const TlxSprigValue& value) : m_value(value) {}
  ~CConstNode_Internal() override { Release(m_value); }
  uint8_t GetPriority() const override { return 0; }
  bool IsStepOperator() const override { return false; }
  bool CanBeUnary() const override { return false; }
  const TlxSprigValue& GetValue() const { return m_value; }
  Scalar EvaluateScalar(CEvaluationContext&, uint32_t depth) const override {
    return depth < kMaxEvaluationDepth ? m_scalar : kNoScalar;
  }

 protected:
  void EvaluateNode(CEvaluationContext& context, TlxSprigValue& out) const override;

 private:
  TlxSprigValue m_value;
  Scalar m_scalar = ToScalar(Resolve(m_value));
};

class CVarNode_Internal : public INode_Internal {
 public:
  // Takes the name text (UTF-8).
  explicit CVarNode_Internal(Bravik::CMutableString&& name);
  TlxSprigValue& Assign(CEvaluationContext& context, TlxSprigValue& out,
                        const TlxSprigValue& value) const override;
  uint8_t GetPriority() const override { return 0; }
  bool IsStepOperator() const override { return false; }
  bool CanBeUnary() const override { return false; }
  const Bravik::CMutableString& GetName() const { return m_name; }
  Scalar EvaluateScalar(CEvaluationContext& context, uint32_t depth) const override;

 protected:
  void EvaluateNode(CEvaluationContext& context, TlxSprigValue& out) const override;

 private:
  // The entry this name denoted last time, for repeated evaluations: valid while the state is
  // the same and no store has freed an entry since.
  TlxSprigValue* Entry(CEvaluationContext& context, bool silent) const;

  Bravik::CMutableString m_name;
  SVariableName m_parsed;
  mutable TlxSprigValue* m_entry = nullptr;
  mutable const CScriptState* m_entryState = nullptr;
  mutable uint64_t m_entryGeneration = 0;
};

class CFuncNode_Internal : public INode_Internal {
 public:
  // Takes the name text (UTF-8); starts with one empty argument slot.
  explicit CFuncNode_Internal(Bravik::CMutableString&& name);
  ~CFuncNode_Internal() override;
  uint8_t GetPriority() const override { return 0; }
  bool IsStepOperator() const override { return false; }
  bool CanBeUnary() const override { return false; }
  INode_Internal* DetachSubtrees(INode_Internal* pending) override;
  const Bravik::CMutableString& GetName() const { return m_name; }

  // Argument slots (owned subtrees, null when empty), and for every bracket open inside the
  // call the index of the slot it added. The parser works on both.
  Bravik::TArray<INode_Internal*> slots;
  Bravik::TArray<uint64_t> brackets;

 protected:
  void EvaluateNode(CEvaluationContext& context, TlxSprigValue& out) const override;

 private:
  Bravik::CMutableString m_name;
  SFunctionName m_parsed;
};

// Evaluates a tree into `out` (Invalid on entry); a null root gives Invalid. Raises
// CSprigException for script errors and std::bad_alloc. Tries the scalar evaluation first unless
// the caller already has.
void EvaluateTree(CScriptState& state, const INode* root, TlxSprigValue& out, bool tryScalar = true);
// The value of an operator-rooted tree when its scalar evaluation applies, else kNoScalar (the
// caller then takes EvaluateTree, which gives the same value). A variable at the root is left to
// EvaluateTree, whose value for it is a Reference.
Scalar EvaluateScalarTree(CScriptState& state, const INode* root);

}  // namespace Quorin::Sprig
