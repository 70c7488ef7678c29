#include "sprig/Node.h"

#include <array>
#include <utility>

#include "foundation/memory/Memory.h"
#include "foundation/string/Format.h"
#include "sprig/SprigException.h"

namespace Quorin::Sprig {

using Bravik::CMutableString;
using Bravik::CString;
namespace Memory = Bravik::Memory;

namespace {

// Operations of the binary operator kinds; null for kinds with their own rule. ORDER SPRIG_OP
constexpr BinaryOperation kBinaryOperations[kOperatorCount] = {
    nullptr,    nullptr,      nullptr,   nullptr,    nullptr,   nullptr,      nullptr,
    nullptr,    Multiply,     Divide,    Modulo,     Add,       Subtract,     ShiftLeft,
    ShiftRight, Less,         LessEqual, Greater,    GreaterEqual, Equal,     NotEqual,
    BitAnd,     BitXor,       BitOr,     LogicalAnd, LogicalOr, nullptr,      Add,
    Subtract,   Multiply,     Divide,    Modulo,     ShiftLeft, ShiftRight,   BitAnd,
    BitXor,     BitOr,        nullptr,
};

[[noreturn]] void RaiseMissing(uint32_t kind, bool leftSide, uint32_t position) {
  CMutableString message;
  Bravik::Format(message,
                 CString(leftSide ? "Missing left hand side of \"a %1 b\"."
                                  : "Missing right hand side of \"a %1 b\"."),
                 CString(kOperators[kind].spelling));
  throw CSprigException(message, leftSide ? kSprigErrorMissingLeft : kSprigErrorMissingRight,
                        position);
}

[[noreturn]] void RaiseMissingOperand(uint32_t kind, uint32_t position) {
  CMutableString message;
  Bravik::Format(message, CString("Missing operant of \"%1a\"."),
                 CString(kOperators[kind].spelling));
  throw CSprigException(message, kSprigErrorMissingRight, position);
}

// Arguments of one call: up to eight on the stack, more in one block.
class CArgumentList {
 public:
  explicit CArgumentList(uint64_t capacity) {
    if (capacity > kInline) {
      m_heap.Reserve(capacity);
      m_data = m_heap.Data();
    }
  }
  ~CArgumentList() {
    for (uint64_t i = 0; i < m_count; ++i) Release(m_data[i]);
  }
  CArgumentList(const CArgumentList&) = delete;
  CArgumentList& operator=(const CArgumentList&) = delete;

  // Appends a resolved copy (never a Reference; a String gets its own block).
  void AppendCopy(const TlxSprigValue& value) {
    m_data[m_count] = MakeInvalidValue();
    ++m_count;
    Assign(m_data[m_count - 1], value);
  }
  const TlxSprigValue* Data() const { return m_count != 0 ? m_data : nullptr; }
  uint64_t Count() const { return m_count; }

 private:
  static constexpr uint64_t kInline = 8;
  TlxSprigValue m_inline[kInline];
  Bravik::TArray<TlxSprigValue> m_heap;
  TlxSprigValue* m_data = m_inline;
  uint64_t m_count = 0;
};

template <uint32_t Kind>
class TOpNode_Internal : public INode_Internal {
 public:
  uint8_t GetPriority() const override { return kOperators[Kind].priority; }
  bool IsStepOperator() const override { return Kind == kOpIncrement || Kind == kOpDecrement; }
  bool CanBeUnary() const override {
    return Kind == kOpIncrement || Kind == kOpDecrement || Kind == kOpNot || Kind == kOpBitNot ||
           Kind == kOpSubtract;
  }
  uint32_t GetKind() const override { return Kind; }
  Scalar EvaluateScalar(CEvaluationContext& context, uint32_t depth) const override;

 protected:
  void EvaluateNode(CEvaluationContext& context, TlxSprigValue& out) const override;

 private:
  void EvaluateStep(CEvaluationContext& context, TlxSprigValue& out) const;
  void EvaluateUnary(CEvaluationContext& context, TlxSprigValue& out) const;
  void EvaluateMinus(CEvaluationContext& context, TlxSprigValue& out) const;
  void EvaluateAssignment(CEvaluationContext& context, TlxSprigValue& out) const;
  void EvaluateComma(CEvaluationContext& context, TlxSprigValue& out) const;
  void EvaluateBinary(CEvaluationContext& context, TlxSprigValue& out) const;

  void RequireOperands() const {
    if (left == nullptr) RaiseMissing(Kind, true, position);
    if (right == nullptr) RaiseMissing(Kind, false, position);
  }
};

template <uint32_t Kind>
void TOpNode_Internal<Kind>::EvaluateNode(CEvaluationContext& context, TlxSprigValue& out) const {
  if constexpr (Kind <= kOpCloseFunction) {
    SetInvalid(out);  // brackets never become nodes; kept for completeness
  } else if constexpr (Kind == kOpIncrement || Kind == kOpDecrement) {
    EvaluateStep(context, out);
  } else if constexpr (Kind == kOpNot || Kind == kOpBitNot) {
    EvaluateUnary(context, out);
  } else if constexpr (Kind == kOpSubtract) {
    EvaluateMinus(context, out);
  } else if constexpr (Kind >= kOpAssign && Kind <= kOpBitOrAssign) {
    EvaluateAssignment(context, out);
  } else if constexpr (Kind == kOpComma) {
    EvaluateComma(context, out);
  } else {
    EvaluateBinary(context, out);
  }
}

// Postfix (operand on the left): the value before the step. Prefix: the value after it.
template <uint32_t Kind>
void TOpNode_Internal<Kind>::EvaluateStep(CEvaluationContext& context, TlxSprigValue& out) const {
  constexpr auto step = Kind == kOpIncrement ? Increment : Decrement;
  CTempValue operand;
  if (left != nullptr) {
    left->Evaluate(context, operand.Get());
    Sprig::Assign(out, operand.Get());
    step(operand.Get());
    return;
  }
  if (right == nullptr) RaiseMissingOperand(Kind, position);
  right->Evaluate(context, operand.Get());
  step(operand.Get());
  Sprig::Assign(out, operand.Get());
}

template <uint32_t Kind>
void TOpNode_Internal<Kind>::EvaluateUnary(CEvaluationContext& context, TlxSprigValue& out) const {
  if (left != nullptr) {
    CMutableString message;
    Bravik::Format(message, CString("operator \"%1\" is unary."),
                   CString(kOperators[Kind].spelling));
    throw CSprigException(message, kSprigErrorUnaryOnly, position);
  }
  if (right == nullptr) RaiseMissingOperand(Kind, position);
  CTempValue operand;
  right->Evaluate(context, operand.Get());
  if constexpr (Kind == kOpNot) {
    LogicalNot(out, operand.Get());
  } else {
    BitNot(out, operand.Get());
  }
}

template <uint32_t Kind>
void TOpNode_Internal<Kind>::EvaluateMinus(CEvaluationContext& context, TlxSprigValue& out) const {
  if (right == nullptr) RaiseMissing(Kind, false, position);
  CTempValue rightValue;
  right->Evaluate(context, rightValue.Get());
  if (left == nullptr) {
    Negate(out, rightValue.Get());
    return;
  }
  CTempValue leftValue;
  left->Evaluate(context, leftValue.Get());
  Subtract(out, leftValue.Get(), rightValue.Get());
}

template <uint32_t Kind>
void TOpNode_Internal<Kind>::EvaluateAssignment(CEvaluationContext& context,
                                                TlxSprigValue& out) const {
  RequireOperands();
  CTempValue rightValue;
  right->Evaluate(context, rightValue.Get());
  if constexpr (Kind == kOpAssign) {
    left->Assign(context, out, rightValue.Get());
  } else {
    CTempValue leftValue;
    left->Evaluate(context, leftValue.Get());
    CTempValue result;
    kBinaryOperations[Kind](result.Get(), leftValue.Get(), rightValue.Get());
    left->Assign(context, out, result.Get());
  }
}

template <uint32_t Kind>
void TOpNode_Internal<Kind>::EvaluateComma(CEvaluationContext& context, TlxSprigValue& out) const {
  if (left != nullptr) {
    CTempValue discarded;
    left->Evaluate(context, discarded.Get());
  }
  if (right == nullptr) RaiseMissing(Kind, false, position);
  right->Evaluate(context, out);
}

template <uint32_t Kind>
void TOpNode_Internal<Kind>::EvaluateBinary(CEvaluationContext& context, TlxSprigValue& out) const {
  RequireOperands();
  CTempValue rightValue;
  right->Evaluate(context, rightValue.Get());
  CTempValue leftValue;
  left->Evaluate(context, leftValue.Get());
  kBinaryOperations[Kind](out, leftValue.Get(), rightValue.Get());
}

// Operators whose scalar evaluation applies: the pure ones (no step, assignment or comma).
constexpr bool HasScalarRule(uint32_t kind) {
  return kind == kOpNot || kind == kOpBitNot || (kind >= kOpMultiply && kind < kOpAssign);
}

// The binary rules, right operand evaluated first as in EvaluateBinary; the frequent ones inline,
// the others through the operation of Value.h.
template <uint32_t Kind>
Scalar ScalarBinary(Scalar a, Scalar b) {
  switch (Kind) {
    case kOpLess + 0: return ScalarCompare(a, b, [](auto x, auto y) { return !(x >= y); });
    case kOpLess + 1: return ScalarCompare(a, b, [](auto x, auto y) { return !(x > y); });
    case kOpLess + 2: return ScalarCompare(a, b, [](auto x, auto y) { return x > y; });
    case kOpLess + 3: return ScalarCompare(a, b, [](auto x, auto y) { return x >= y; });
    case kOpEqual: return ScalarBoolean(ScalarEquals(a, b));
    case kOpNotEqual: return ScalarBoolean(!ScalarEquals(a, b));
    case kOpLogicalAnd: return ScalarBoolean(ScalarAsBoolean(a) && ScalarAsBoolean(b));
    case kOpLogicalOr: return ScalarBoolean(ScalarAsBoolean(a) || ScalarAsBoolean(b));
    default: return ApplyScalar(kBinaryOperations[Kind], a, b);
  }
}

template <uint32_t Kind>
Scalar TOpNode_Internal<Kind>::EvaluateScalar(CEvaluationContext& context, uint32_t depth) const {
  if constexpr (!HasScalarRule(Kind)) {
    return kNoScalar;
  } else {
    if (depth >= kMaxEvaluationDepth || right == nullptr) return kNoScalar;
    const Scalar rightValue = right->EvaluateScalar(context, depth + 1);
    if (rightValue == kNoScalar) return kNoScalar;
    if constexpr (Kind == kOpNot || Kind == kOpBitNot) {
      if (left != nullptr) return kNoScalar;  // the general evaluation raises
      return Kind == kOpNot ? ScalarLogicalNot(rightValue) : ApplyScalar(BitNot, rightValue);
    } else {
      if (left == nullptr) return Kind == kOpSubtract ? ApplyScalar(Negate, rightValue) : kNoScalar;
      const Scalar leftValue = left->EvaluateScalar(context, depth + 1);
      if (leftValue == kNoScalar) return kNoScalar;
      return ScalarBinary<Kind>(leftValue, rightValue);
    }
  }
}

constexpr uint32_t kNodePool = Memory::PoolForAlignment(alignof(INode_Internal));

using NodeFactory = INode_Internal* (*)();

template <uint32_t Kind>
INode_Internal* MakeOperatorNode() {
  return Memory::New<TOpNode_Internal<Kind>>(kNodePool);
}

template <size_t... Kinds>
constexpr auto MakeFactories(std::index_sequence<Kinds...>) {
  return std::array<NodeFactory, sizeof...(Kinds)>{&MakeOperatorNode<Kinds>...};
}

constexpr auto kOperatorFactories = MakeFactories(std::make_index_sequence<kOperatorCount>());

}  // namespace

// ---- Common node ----

INode_Internal::~INode_Internal() {
  // Children are detached before DestroyTree deletes a node; this covers direct deletion.
  DestroyTree(left);
  DestroyTree(right);
}

TlxSprigValue& INode_Internal::Evaluate(CEvaluationContext& context, TlxSprigValue& out) const {
  if (context.depth >= kMaxEvaluationDepth) {
    throw CSprigException("Expression is nested too deeply.", kSprigErrorNothing, position);
  }
  struct SDepth {
    uint32_t& depth;
    ~SDepth() { --depth; }
  } guard{++context.depth};
  EvaluateNode(context, out);
  return out;
}

TlxSprigValue& INode_Internal::Assign(CEvaluationContext&, TlxSprigValue&,
                                      const TlxSprigValue&) const {
  throw CSprigException("Trying to assign to a const value.", kSprigErrorAssignToConst, position);
}

// Left subtrees are rotated into the right chain, so every node is deleted childless.
void DestroyTree(INode* root) {
  INode_Internal* pending = static_cast<INode_Internal*>(root);
  while (pending != nullptr) {
    INode_Internal* node = pending;
    if (node->left != nullptr) {
      INode_Internal* child = node->left;
      node->left = child->right;
      child->right = node;
      pending = child;
      continue;
    }
    pending = node->right;
    node->right = nullptr;
    pending = node->DetachSubtrees(pending);
    Memory::Delete(node);
  }
}

INode_Internal* CreateOperatorNode(uint32_t kind) { return kOperatorFactories[kind](); }

void EvaluateTree(CScriptState& state, const INode* root, TlxSprigValue& out, bool tryScalar) {
  if (root == nullptr) {
    SetInvalid(out);
    return;
  }
  if (tryScalar) {
    const Scalar scalar = EvaluateScalarTree(state, root);
    if (scalar != kNoScalar) {
      out = FromScalar(scalar);
      return;
    }
  }
  CEvaluationContext context{state};
  static_cast<const INode_Internal*>(root)->Evaluate(context, out);
}

Scalar EvaluateScalarTree(CScriptState& state, const INode* root) {
  const auto* node = static_cast<const INode_Internal*>(root);
  if (node == nullptr || node->GetKind() == kOperatorCount) return kNoScalar;
  CEvaluationContext context{state};
  return node->EvaluateScalar(context, 0);
}

// ---- Constants ----

void CConstNode_Internal::EvaluateNode(CEvaluationContext&, TlxSprigValue& out) const {
  Sprig::Assign(out, m_value);
}

// ---- Variables ----

CVarNode_Internal::CVarNode_Internal(CMutableString&& name) : m_name(std::move(name)) {
  m_parsed.Parse(m_name);
}

TlxSprigValue* CVarNode_Internal::Entry(CEvaluationContext& context, bool silent) const {
  const uint64_t generation = Bravik::StoreEntryGeneration();
  if (m_entry != nullptr && m_entryState == &context.state && m_entryGeneration == generation) return m_entry;
  TlxSprigValue* entry = context.state.VariableEntry(m_parsed, silent);
  // Looking up may create stores but frees no entry, so the generation read above still holds.
  m_entry = entry;
  m_entryState = &context.state;
  m_entryGeneration = generation;
  return entry;
}

void CVarNode_Internal::EvaluateNode(CEvaluationContext& context, TlxSprigValue& out) const {
  try {
    if (m_parsed.member && m_parsed.scope != EVariableScope::kGlobal) {
      context.state.GetVariable(m_parsed, false, out);
    } else {
      MakeReference(out, Entry(context, false));
    }
  } catch (const CSprigException& error) {
    throw error.WithPosition(position);
  }
}

// A variable read creates what it names, which a general evaluation would create the same way;
// a failed look-up is left to that evaluation to report.
Scalar CVarNode_Internal::EvaluateScalar(CEvaluationContext& context, uint32_t depth) const {
  if (depth >= kMaxEvaluationDepth || (m_parsed.member && m_parsed.scope != EVariableScope::kGlobal)) return kNoScalar;
  const TlxSprigValue* entry;
  try {
    entry = Entry(context, false);
  } catch (...) {
    return kNoScalar;
  }
  return entry != nullptr ? ToScalar(Resolve(*entry)) : MakeScalar(kSprigInvalid, 0);
}

// Writes through a Reference to the variable; a member or a name that silent look-up did not
// find is not written, and the assignment's value is then just a copy.
TlxSprigValue& CVarNode_Internal::Assign(CEvaluationContext& context, TlxSprigValue& out,
                                         const TlxSprigValue& value) const {
  TlxSprigValue* entry = m_parsed.member && m_parsed.scope != EVariableScope::kGlobal ? nullptr : Entry(context, true);
  if (entry != nullptr) {
    MakeReference(out, entry);
  } else {
    SetInvalid(out);
  }
  Sprig::Assign(out, value);
  return out;
}

// ---- Function calls ----

CFuncNode_Internal::CFuncNode_Internal(CMutableString&& name) : m_name(std::move(name)) {
  m_parsed.Parse(m_name);
  slots.Append(nullptr);
}

CFuncNode_Internal::~CFuncNode_Internal() {
  for (INode_Internal* slot : slots) DestroyTree(slot);
}

// Each slot's tree goes to the front of the chain, its right spine leading to the old front.
INode_Internal* CFuncNode_Internal::DetachSubtrees(INode_Internal* pending) {
  for (INode_Internal*& slot : slots) {
    if (slot == nullptr) continue;
    INode_Internal* last = slot;
    while (last->right != nullptr) last = last->right;
    last->right = pending;
    pending = slot;
    slot = nullptr;
  }
  return pending;
}

void CFuncNode_Internal::EvaluateNode(CEvaluationContext& context, TlxSprigValue& out) const {
  CArgumentList arguments(slots.Count());
  for (const INode_Internal* slot : slots) {
    if (slot == nullptr) continue;
    CTempValue value;
    slot->Evaluate(context, value.Get());
    arguments.AppendCopy(value.Get());
  }
  context.state.CallFunction(m_parsed, arguments.Data(), arguments.Count(), out);
}

}  // namespace Quorin::Sprig
