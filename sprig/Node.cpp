#include "sprig/Node.h"

#include <array>
#include <cstring>
#include <utility>

#include "foundation/memory/Memory.h"
#include "foundation/string/Format.h"
#include "sprig/InlineStack.h"
#include "sprig/SprigException.h"

namespace Quorin::Sprig {

using Bravik::CMutableString;
using Bravik::CString;
namespace Memory = Bravik::Memory;

namespace {

// The scalar evaluation recurses; deeper trees take the general evaluation, whose stack use
// does not grow with depth.
constexpr uint32_t kMaxScalarDepth = 48;

// Operations of the binary operator kinds; null for kinds with their own rule. ORDER SPRIG_OP
constexpr BinaryOperation kBinaryOperations[] = {
    nullptr,    nullptr,      nullptr,   nullptr,    nullptr,   nullptr,      nullptr,
    nullptr,    Multiply,     Divide,    Modulo,     Add,       Subtract,     ShiftLeft,
    ShiftRight, Less,         LessEqual, Greater,    GreaterEqual, Equal,     NotEqual,
    BitAnd,     BitXor,       BitOr,     LogicalAnd, LogicalOr, nullptr,      Add,
    Subtract,   Multiply,     Divide,    Modulo,     ShiftLeft, ShiftRight,   BitAnd,
    BitXor,     BitOr,        nullptr,
};
static_assert(std::size(kBinaryOperations) == kOperatorCount);

BinaryOperation OperationOf(EOperator kind) { return kBinaryOperations[IndexOf(kind)]; }
const char* SpellingOf(EOperator kind) { return kOperators[IndexOf(kind)].spelling; }

// The general evaluation, without recursion: a stack of the nodes under way, each with the step
// it has reached, and a stack of the values they have produced. Every finished node leaves one
// value; an operator takes its operands' values off the stack. Unwinding frees what is left.
class CEvaluator {
 public:
  explicit CEvaluator(CEvaluationContext& context) : m_context(context) {}
  ~CEvaluator() {
    while (m_values.Count() != 0) Pop();
  }
  CEvaluator(const CEvaluator&) = delete;
  CEvaluator& operator=(const CEvaluator&) = delete;

  void Run(const INode_Internal* root, TlxSprigValue& out);

 private:
  struct SFrame {
    const INode_Internal* node;
    uint32_t step;       // how far the node has got
    uint32_t valueBase;  // values on the stack when it started
  };

  // Each Resume runs the next step of a node: true while the node goes on (it entered a child
  // or has steps left), false when it is done and has left its value.
  bool Resume(const SFrame& frame);
  bool ResumeOperator(const INode_Internal* node, uint32_t step);
  bool ResumeCall(const SFrame& frame);
  bool ResumeBinary(const INode_Internal* node, uint32_t step);
  bool ResumeMinus(const INode_Internal* node, uint32_t step);
  bool ResumeUnary(const INode_Internal* node, uint32_t step);
  bool ResumeStep(const INode_Internal* node, uint32_t step);
  bool ResumeAssign(const INode_Internal* node, uint32_t step);
  bool ResumeComma(const INode_Internal* node, uint32_t step);

  bool Enter(const INode_Internal* node);
  TlxSprigValue& PushInvalid() {
    m_values.Push(MakeInvalidValue());
    return m_values.Top();
  }
  void Pop() {
    Release(m_values.Top());
    m_values.Drop(1);
  }
  // Replaces the top `count` values by `result`.
  void Replace(uint32_t count, CTempValue& result) {
    for (uint32_t i = 0; i < count; ++i) Pop();
    m_values.Push(result.Take());  // never grows: count >= 1
  }
  // The top two values are the left operand (evaluated last) over the right one.
  void Combine(BinaryOperation operation) {
    CTempValue result;
    operation(result.Get(), m_values.Top(), m_values.Top(1));
    Replace(2, result);
  }

  CEvaluationContext& m_context;
  TInlineStack<SFrame, 24> m_frames;
  TInlineStack<TlxSprigValue, 24> m_values;
};

void CEvaluator::Run(const INode_Internal* root, TlxSprigValue& out) {
  Enter(root);
  while (m_frames.Count() != 0) {
    SFrame& top = m_frames.Top();
    const SFrame frame = top;
    ++top.step;  // before Resume, which may move the frames when it enters a child
    if (!Resume(frame)) m_frames.Drop(1);
  }
  out = m_values.Top();
  m_values.Drop(1);
}

bool CEvaluator::Enter(const INode_Internal* node) {
  if (m_frames.Count() >= kMaxEvaluationDepth) {
    throw CSprigException("Expression is nested too deeply.", kSprigErrorNothing, node->position);
  }
  m_frames.Push(SFrame{node, 0, static_cast<uint32_t>(m_values.Count())});
  return true;
}

bool CEvaluator::Resume(const SFrame& frame) {
  const INode_Internal* node = frame.node;
  switch (node->nodeKind) {
    case ENodeKind::kConstant:
      static_cast<const CConstNode_Internal*>(node)->Read(PushInvalid());
      return false;
    case ENodeKind::kVariable:
      static_cast<const CVarNode_Internal*>(node)->Read(m_context, PushInvalid());
      return false;
    case ENodeKind::kFunction:
      return ResumeCall(frame);
    default:
      return ResumeOperator(node, frame.step);
  }
}

bool CEvaluator::ResumeOperator(const INode_Internal* node, uint32_t step) {
  switch (node->op) {
    case EOperator::kOpenGroup:
    case EOperator::kCloseGroup:
    case EOperator::kOpenFunction:
    case EOperator::kCloseFunction:
      PushInvalid();  // brackets never become nodes; kept for completeness
      return false;
    case EOperator::kIncrement:
    case EOperator::kDecrement: return ResumeStep(node, step);
    case EOperator::kNot:
    case EOperator::kBitNot: return ResumeUnary(node, step);
    case EOperator::kSubtract: return ResumeMinus(node, step);
    case EOperator::kAssign:
    case EOperator::kAddAssign:
    case EOperator::kSubtractAssign:
    case EOperator::kMultiplyAssign:
    case EOperator::kDivideAssign:
    case EOperator::kModuloAssign:
    case EOperator::kShiftLeftAssign:
    case EOperator::kShiftRightAssign:
    case EOperator::kBitAndAssign:
    case EOperator::kBitXorAssign:
    case EOperator::kBitOrAssign: return ResumeAssign(node, step);
    case EOperator::kComma: return ResumeComma(node, step);
    default: return ResumeBinary(node, step);
  }
}

// Each slot's value becomes a resolved copy (never a Reference) as soon as it is there; the
// call then takes them off the stack as its argument array.
bool CEvaluator::ResumeCall(const SFrame& frame) {
  const auto* call = static_cast<const CFuncNode_Internal*>(frame.node);
  if (frame.step != 0 && call->slots[frame.step - 1] != nullptr &&
      m_values.Top().kind == kSprigReference) {
    CTempValue copy;
    Assign(copy.Get(), m_values.Top());
    m_values.Top() = copy.Take();
  }
  if (frame.step < call->slots.Count()) {
    const INode_Internal* slot = call->slots[frame.step];
    return slot == nullptr || Enter(slot);
  }
  const uint32_t count = static_cast<uint32_t>(m_values.Count()) - frame.valueBase;
  CTempValue result;
  call->Call(m_context, count != 0 ? &m_values[frame.valueBase] : nullptr, count, result.Get());
  for (uint32_t i = 0; i < count; ++i) Pop();
  m_values.Push(result.Take());
  return false;
}

bool CEvaluator::ResumeBinary(const INode_Internal* node, uint32_t step) {
  switch (step) {
    case 0:
      RequireOperands(node);
      return Enter(node->right);
    case 1: return Enter(node->left);
    default:
      Combine(OperationOf(node->op));
      return false;
  }
}

// Binary with a left operand, else the negation of its right one.
bool CEvaluator::ResumeMinus(const INode_Internal* node, uint32_t step) {
  if (step == 0) {
    if (node->right == nullptr) RaiseMissing(node->op, false, node->position);
    return Enter(node->right);
  }
  if (step == 1 && node->left != nullptr) return Enter(node->left);
  if (node->left != nullptr) {
    Combine(Subtract);
  } else {
    CTempValue result;
    Negate(result.Get(), m_values.Top());
    Replace(1, result);
  }
  return false;
}

bool CEvaluator::ResumeUnary(const INode_Internal* node, uint32_t step) {
  if (step == 0) {
    if (node->left != nullptr) RaiseUnaryOnly(node->op, node->position);
    if (node->right == nullptr) RaiseMissingOperand(node->op, node->position);
    return Enter(node->right);
  }
  CTempValue result;
  (node->op == EOperator::kNot ? LogicalNot : BitNot)(result.Get(), m_values.Top());
  Replace(1, result);
  return false;
}

// Postfix (operand on the left): the value before the step. Prefix: the value after it. The
// step changes the operand in place: the variable when the operand refers to one.
bool CEvaluator::ResumeStep(const INode_Internal* node, uint32_t step) {
  if (step == 0) {
    if (node->left != nullptr) return Enter(node->left);
    if (node->right == nullptr) RaiseMissingOperand(node->op, node->position);
    return Enter(node->right);
  }
  const auto stepOperation = node->op == EOperator::kIncrement ? Increment : Decrement;
  TlxSprigValue& operand = m_values.Top();
  CTempValue result;
  if (node->left != nullptr) {
    Sprig::Assign(result.Get(), operand);
    stepOperation(operand);
  } else {
    stepOperation(operand);
    Sprig::Assign(result.Get(), operand);
  }
  Replace(1, result);
  return false;
}

// `=` stores the right value; the compound forms store the operation of both.
bool CEvaluator::ResumeAssign(const INode_Internal* node, uint32_t step) {
  const bool compound = node->op != EOperator::kAssign;
  if (step == 0) {
    RequireOperands(node);
    return Enter(node->right);
  }
  if (step == 1 && compound) return Enter(node->left);
  CTempValue result;
  if (!compound) {
    node->left->Assign(m_context, result.Get(), m_values.Top());
    Replace(1, result);
    return false;
  }
  CTempValue combined;
  OperationOf(node->op)(combined.Get(), m_values.Top(), m_values.Top(1));
  node->left->Assign(m_context, result.Get(), combined.Get());
  Replace(2, result);
  return false;
}

// The left operand runs first and its value is dropped; the right operand's value is the
// comma's. Without a left operand an Invalid stands in for it.
bool CEvaluator::ResumeComma(const INode_Internal* node, uint32_t step) {
  switch (step) {
    case 0:
      if (node->left != nullptr) return Enter(node->left);
      PushInvalid();
      return true;
    case 1:
      Pop();
      if (node->right == nullptr) RaiseMissing(node->op, false, node->position);
      return Enter(node->right);
    default: return false;
  }
}

template <EOperator Kind>
class TOpNode_Internal final : public INode_Internal {
 public:
  TOpNode_Internal() : INode_Internal(ENodeKind::kOperator, Kind) {}
  Scalar EvaluateScalar(CEvaluationContext& context, uint32_t depth) const override;
};

// Operators whose scalar evaluation applies: the pure ones (no step, assignment or comma).
// ORDER SPRIG_OP
constexpr bool HasScalarRule(EOperator kind) {
  return kind == EOperator::kNot || kind == EOperator::kBitNot ||
         (IndexOf(kind) >= IndexOf(EOperator::kMultiply) &&
          IndexOf(kind) <= IndexOf(EOperator::kLogicalOr));
}

// The binary rules, right operand evaluated first as in the general evaluation; the frequent
// ones inline, the others through the operation of Value.h.
template <EOperator Kind>
Scalar ScalarBinary(Scalar a, Scalar b) {
  switch (Kind) {
    case EOperator::kLess: return ScalarCompare(a, b, [](auto x, auto y) { return !(x >= y); });
    case EOperator::kLessEqual: return ScalarCompare(a, b, [](auto x, auto y) { return !(x > y); });
    case EOperator::kGreater: return ScalarCompare(a, b, [](auto x, auto y) { return x > y; });
    case EOperator::kGreaterEqual: return ScalarCompare(a, b, [](auto x, auto y) { return x >= y; });
    case EOperator::kEqual: return ScalarBoolean(ScalarEquals(a, b));
    case EOperator::kNotEqual: return ScalarBoolean(!ScalarEquals(a, b));
    case EOperator::kLogicalAnd: return ScalarBoolean(ScalarAsBoolean(a) && ScalarAsBoolean(b));
    case EOperator::kLogicalOr: return ScalarBoolean(ScalarAsBoolean(a) || ScalarAsBoolean(b));
    default: return ApplyScalar(OperationOf(Kind), a, b);
  }
}

template <EOperator Kind>
Scalar TOpNode_Internal<Kind>::EvaluateScalar(CEvaluationContext& context, uint32_t depth) const {
  if constexpr (!HasScalarRule(Kind)) {
    return kNoScalar;
  } else {
    if (depth >= kMaxScalarDepth || right == nullptr) return kNoScalar;
    const Scalar rightValue = right->EvaluateScalar(context, depth + 1);
    if (rightValue == kNoScalar) return kNoScalar;
    if constexpr (Kind == EOperator::kNot || Kind == EOperator::kBitNot) {
      if (left != nullptr) return kNoScalar;  // the general evaluation raises
      return Kind == EOperator::kNot ? ScalarLogicalNot(rightValue) : ApplyScalar(BitNot, rightValue);
    } else {
      if (left == nullptr) {
        return Kind == EOperator::kSubtract ? ApplyScalar(Negate, rightValue) : kNoScalar;
      }
      const Scalar leftValue = left->EvaluateScalar(context, depth + 1);
      if (leftValue == kNoScalar) return kNoScalar;
      return ScalarBinary<Kind>(leftValue, rightValue);
    }
  }
}

constexpr uint32_t kNodePool = Memory::PoolForAlignment(alignof(INode_Internal));

using NodeFactory = INode_Internal* (*)();

template <EOperator Kind>
INode_Internal* MakeOperatorNode() {
  return Memory::New<TOpNode_Internal<Kind>>(kNodePool);
}

template <size_t... Kinds>
constexpr auto MakeFactories(std::index_sequence<Kinds...>) {
  return std::array<NodeFactory, sizeof...(Kinds)>{&MakeOperatorNode<static_cast<EOperator>(Kinds)>...};
}

// ORDER SPRIG_OP
constexpr auto kOperatorFactories = MakeFactories(std::make_index_sequence<kOperatorCount>());

}  // namespace

// ---- Shape errors ----

[[noreturn]] void RaiseMissing(EOperator kind, bool leftSide, uint32_t position) {
  CMutableString message;
  Bravik::Format(message,
                 CString(leftSide ? "Missing left hand side of \"a %1 b\"."
                                  : "Missing right hand side of \"a %1 b\"."),
                 CString(SpellingOf(kind)));
  throw CSprigException(message, leftSide ? kSprigErrorMissingLeft : kSprigErrorMissingRight,
                        position);
}

[[noreturn]] void RaiseMissingOperand(EOperator kind, uint32_t position) {
  CMutableString message;
  Bravik::Format(message, CString("Missing operant of \"%1a\"."), CString(SpellingOf(kind)));
  throw CSprigException(message, kSprigErrorMissingRight, position);
}

[[noreturn]] void RaiseUnaryOnly(EOperator kind, uint32_t position) {
  CMutableString message;
  Bravik::Format(message, CString("operator \"%1\" is unary."), CString(SpellingOf(kind)));
  throw CSprigException(message, kSprigErrorUnaryOnly, position);
}

[[noreturn]] void RaiseNotAssignable(uint32_t position) {
  throw CSprigException("Trying to assign to a const value.", kSprigErrorAssignToConst, position);
}

void RequireOperands(const INode_Internal* node) {
  if (node->left == nullptr) RaiseMissing(node->op, true, node->position);
  if (node->right == nullptr) RaiseMissing(node->op, false, node->position);
}

// ---- Common node ----

INode_Internal::~INode_Internal() {
  // Children are detached before DestroyTree deletes a node; this covers direct deletion.
  DestroyTree(left);
  DestroyTree(right);
}

TlxSprigValue& INode_Internal::Assign(CEvaluationContext&, TlxSprigValue&,
                                      const TlxSprigValue&) const {
  RaiseNotAssignable(position);
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

INode_Internal* CreateOperatorNode(EOperator kind) { return kOperatorFactories[IndexOf(kind)](); }

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
  CEvaluator(context).Run(static_cast<const INode_Internal*>(root), out);
}

Scalar EvaluateScalarTree(CScriptState& state, const INode* root) {
  const auto* node = static_cast<const INode_Internal*>(root);
  if (node == nullptr || !node->IsOperator()) return kNoScalar;
  CEvaluationContext context{state};
  return node->EvaluateScalar(context, 0);
}

// ---- Variables ----

CVarNode_Internal::CVarNode_Internal(CMutableString&& name)
    : INode_Internal(ENodeKind::kVariable), m_name(std::move(name)) {
  m_parsed.Parse(m_name);
}

TlxSprigValue* CVarNode_Internal::Entry(CEvaluationContext& context, bool silent) const {
  const uint64_t generation = Bravik::StoreEntryGeneration();
  if (m_entry != nullptr && m_entryState == &context.state && m_entryGeneration == generation) {
    return m_entry;
  }
  TlxSprigValue* entry = context.state.VariableEntry(m_parsed, silent);
  // Looking up may create stores but frees no entry, so the generation read above still holds.
  m_entry = entry;
  m_entryState = &context.state;
  m_entryGeneration = generation;
  return entry;
}

void CVarNode_Internal::Read(CEvaluationContext& context, TlxSprigValue& out) const {
  try {
    if (IsMemberRead()) {
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
Scalar CVarNode_Internal::EvaluateScalar(CEvaluationContext& context, uint32_t) const {
  if (IsMemberRead()) return kNoScalar;
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
  TlxSprigValue* entry = IsMemberRead() ? nullptr : Entry(context, true);
  if (entry != nullptr) {
    MakeReference(out, entry);
  } else {
    SetInvalid(out);
  }
  Sprig::Assign(out, value);
  return out;
}

// ---- Function calls ----

CFuncNode_Internal::CFuncNode_Internal(CMutableString&& name)
    : INode_Internal(ENodeKind::kFunction), m_name(std::move(name)) {
  m_parsed.Parse(m_name);
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

}  // namespace Quorin::Sprig
