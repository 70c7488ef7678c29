// The node tree of a parsed expression and its evaluation. Evaluation walks the whole tree every
// time: binary operators evaluate their right operand before their left one (the comma is the
// exception), and && and || always evaluate both.
#pragma once

#include <cstdint>
#include <iterator>
#include <utility>

#include "foundation/container/Array.h"
#include "foundation/string/String.h"
#include "sprig/Scalar.h"
#include "sprig/ScriptState.h"
#include "sprig/Value.h"

namespace Quorin::Sprig {

// Operator kinds. ORDER SPRIG_OP
enum class EOperator : uint8_t {
  kOpenGroup, kCloseGroup, kOpenFunction, kCloseFunction,
  kIncrement, kDecrement, kNot, kBitNot,
  kMultiply, kDivide, kModulo, kAdd, kSubtract, kShiftLeft, kShiftRight,
  kLess, kLessEqual, kGreater, kGreaterEqual, kEqual, kNotEqual,
  kBitAnd, kBitXor, kBitOr, kLogicalAnd, kLogicalOr,
  kAssign, kAddAssign, kSubtractAssign, kMultiplyAssign, kDivideAssign, kModuloAssign,
  kShiftLeftAssign, kShiftRightAssign, kBitAndAssign, kBitXorAssign, kBitOrAssign,
  kComma,
};
constexpr uint32_t kOperatorCount = static_cast<uint32_t>(EOperator::kComma) + 1;
constexpr uint32_t IndexOf(EOperator kind) { return static_cast<uint32_t>(kind); }

struct SOperatorInfo {
  const char* spelling;
  uint8_t priority;  // a smaller number binds more tightly
};

// ORDER SPRIG_OP
inline constexpr SOperatorInfo kOperators[] = {
    {"(", 1},    {")", 1},   {"{", 1},   {"}", 1},   {"++", 2},  {"--", 3},  {"!", 4},
    {"~", 5},    {"*", 6},   {"/", 7},   {"%", 8},   {"+", 9},   {"-", 10},  {"<<", 11},
    {">>", 12},  {"<", 13},  {"<=", 13}, {">", 13},  {">=", 13}, {"==", 14}, {"!=", 15},
    {"&", 16},   {"^", 17},  {"|", 18},  {"&&", 19}, {"||", 20}, {"=", 21},  {"+=", 22},
    {"-=", 23},  {"*=", 24}, {"/=", 25}, {"%=", 26}, {"<<=", 27}, {">>=", 28}, {"&=", 29},
    {"^=", 30},  {"|=", 31}, {",", 32},
};
static_assert(std::size(kOperators) == kOperatorCount);

// Deeper evaluations raise "Expression is nested too deeply." (code 6).
constexpr uint32_t kMaxEvaluationDepth = 1000;

// One evaluation and the state it reads and writes.
struct CEvaluationContext {
  CScriptState& state;
};

// The public face of a parsed expression.
class INode {
 public:
  virtual ~INode() = default;

 protected:
  INode() = default;
};

enum class ENodeKind : uint8_t { kOperator, kConstant, kVariable, kFunction };

class INode_Internal : public INode {
 public:
  INode_Internal(const INode_Internal&) = delete;
  INode_Internal& operator=(const INode_Internal&) = delete;
  ~INode_Internal() override;

  // The node's value as a scalar when the subtree is pure, shallow and its values are scalars,
  // else kNoScalar (nothing has changed then that a general evaluation would not change the same
  // way). `depth` is the node's depth in the tree.
  virtual Scalar EvaluateScalar(CEvaluationContext&, uint32_t) const { return kNoScalar; }
  // Stores `value` into what the node denotes; `out` receives the assignment's value. Only
  // variables can be assigned: every other node raises code 0.
  virtual TlxSprigValue& Assign(CEvaluationContext& context, TlxSprigValue& out,
                                const TlxSprigValue& value) const;
  // Moves subtrees the node owns besides its children to the front of `pending` (linked through
  // right children) and returns the new front: destruction never recurses on depth.
  virtual INode_Internal* DetachSubtrees(INode_Internal* pending) { return pending; }

  uint8_t GetPriority() const { return IsOperator() ? kOperators[IndexOf(op)].priority : 0; }
  bool IsStepOperator() const {
    return IsOperator() && (op == EOperator::kIncrement || op == EOperator::kDecrement);
  }
  bool CanBeUnary() const {
    return IsStepOperator() || (IsOperator() && (op == EOperator::kNot || op == EOperator::kBitNot ||
                                                 op == EOperator::kSubtract));
  }
  bool IsOperator() const { return nodeKind == ENodeKind::kOperator; }

  INode_Internal* left = nullptr;   // owned
  INode_Internal* right = nullptr;  // owned
  uint32_t position = 0;            // character index of the node's token
  uint8_t closedGroup = 0;          // 1 when a closing bracket closed the group it roots
  const ENodeKind nodeKind;
  const EOperator op;  // operator nodes only

 protected:
  explicit INode_Internal(ENodeKind kind, EOperator opKind = EOperator::kOpenGroup)
      : nodeKind(kind), op(opKind) {}
};

// The evaluator's errors of a tree's shape (CSprigException at the node's position), shared with
// the check of a tree before it runs.
[[noreturn]] void RaiseMissing(EOperator kind, bool leftSide, uint32_t position);
[[noreturn]] void RaiseMissingOperand(EOperator kind, uint32_t position);
[[noreturn]] void RaiseUnaryOnly(EOperator kind, uint32_t position);
[[noreturn]] void RaiseNotAssignable(uint32_t position);
void RequireOperands(const INode_Internal* node);

// Destroys a tree (null does nothing) with constant stack depth.
void DestroyTree(INode* root);

// The one owner of a parse tree until someone takes it.
class CNodeHolder {
 public:
  CNodeHolder() = default;
  explicit CNodeHolder(INode_Internal* root) : m_root(root) {}
  ~CNodeHolder() { DestroyTree(m_root); }
  CNodeHolder(CNodeHolder&& other) noexcept : m_root(other.Take()) {}
  CNodeHolder& operator=(CNodeHolder&& other) noexcept {
    if (this != &other) {
      DestroyTree(m_root);
      m_root = other.Take();
    }
    return *this;
  }
  CNodeHolder(const CNodeHolder&) = delete;
  CNodeHolder& operator=(const CNodeHolder&) = delete;

  INode_Internal* Get() const { return m_root; }
  // Hands the tree over; the holder becomes empty.
  INode_Internal* Take() { return std::exchange(m_root, nullptr); }

 private:
  INode_Internal* m_root = nullptr;
};

// Operator node of a kind.
INode_Internal* CreateOperatorNode(EOperator kind);

class CConstNode_Internal : public INode_Internal {
 public:
  // Takes ownership of the value (and its text).
  explicit CConstNode_Internal(const TlxSprigValue& value)
      : INode_Internal(ENodeKind::kConstant), m_value(value) {}
  ~CConstNode_Internal() override { Release(m_value); }
  Scalar EvaluateScalar(CEvaluationContext&, uint32_t) const override { return m_scalar; }
  // `out` (Invalid) becomes a copy of the constant.
  void Read(TlxSprigValue& out) const { Sprig::Assign(out, m_value); }

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
  Scalar EvaluateScalar(CEvaluationContext& context, uint32_t depth) const override;
  // `out` (Invalid) becomes a Reference to the variable, or a member's value. Raises
  // CSprigException at the node's position for what is not found.
  void Read(CEvaluationContext& context, TlxSprigValue& out) const;

 private:
  // The entry this name denoted last time, for repeated evaluations: valid while the state is
  // the same and no store has freed an entry since.
  TlxSprigValue* Entry(CEvaluationContext& context, bool silent) const;
  bool IsMemberRead() const { return m_parsed.member && m_parsed.scope != EVariableScope::kGlobal; }

  Bravik::CMutableString m_name;
  SVariableName m_parsed;
  mutable TlxSprigValue* m_entry = nullptr;
  mutable const CScriptState* m_entryState = nullptr;
  mutable uint64_t m_entryGeneration = 0;
};

class CFuncNode_Internal : public INode_Internal {
 public:
  // Takes the name text (UTF-8). The parser hands over the argument slots when the call closes.
  explicit CFuncNode_Internal(Bravik::CMutableString&& name);
  ~CFuncNode_Internal() override;
  INode_Internal* DetachSubtrees(INode_Internal* pending) override;
  // `out` (Invalid) becomes the bound function's result; Invalid when none has the name.
  void Call(CEvaluationContext& context, const TlxSprigValue* arguments, uint64_t count,
            TlxSprigValue& out) const {
    context.state.CallFunction(m_parsed, arguments, count, out);
  }

  const SFunctionName& GetName() const { return m_parsed; }
  const Bravik::CMutableString& GetNameText() const { return m_name; }

  // Argument slots: owned subtrees, null when empty.
  Bravik::TArray<INode_Internal*> slots;

 private:
  Bravik::CMutableString m_name;
  SFunctionName m_parsed;
};

// Evaluates a tree into `out` (Invalid on entry); a null root gives Invalid. Raises
// CSprigException for script errors and std::bad_alloc. Tries the scalar evaluation first unless
// the caller already has. Uses a constant amount of the machine stack whatever the tree's depth.
void EvaluateTree(CScriptState& state, const INode* root, TlxSprigValue& out, bool tryScalar = true);
// The value of an operator-rooted tree when its scalar evaluation applies, else kNoScalar (the
// caller then takes EvaluateTree, which gives the same value). A variable at the root is left to
// EvaluateTree, whose value for it is a Reference.
Scalar EvaluateScalarTree(CScriptState& state, const INode* root);

// Raises the first error that evaluating the tree would raise from its shape alone, in the
// order the evaluation meets them: a missing operand, a unary operator given a left operand, an
// assignment to something that is not a variable, a call of a function that is not bound now,
// nesting too deep. Reads no variable and runs nothing; constant stack depth. Raises
// std::bad_alloc for very deep trees.
void CheckTree(const CScriptState& state, const INode* root);

}  // namespace Quorin::Sprig
