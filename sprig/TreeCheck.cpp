// The check of a tree before it runs: the evaluator's walk (same order, same depth limit, same
// errors) with every value left out, so a content pipeline sees what running would raise from
// the tree's shape.
#include "foundation/string/Format.h"
#include "sprig/InlineStack.h"
#include "sprig/Node.h"
#include "sprig/SprigException.h"

namespace Quorin::Sprig {

namespace {

bool IsAssignment(EOperator kind) {
  return IndexOf(kind) >= IndexOf(EOperator::kAssign) && IndexOf(kind) <= IndexOf(EOperator::kBitOrAssign);
}

[[noreturn]] void RaiseUnbound(const CFuncNode_Internal& call) {
  Bravik::CMutableString message;
  Bravik::Format(message, Bravik::CString("Function %1 is not bound."), call.GetNameText());
  throw CSprigException(message, kSprigErrorNotFound, call.position);
}

class CTreeCheck {
 public:
  explicit CTreeCheck(const CScriptState& state) : m_state(state) {}

  void Run(const INode_Internal* root) {
    Enter(root);
    while (m_frames.Count() != 0) {
      SFrame& top = m_frames.Top();
      const INode_Internal* child = Next(top.node, top.step);
      if (child == nullptr) {
        m_frames.Drop(1);
      } else {
        Enter(child);
      }
    }
  }

 private:
  struct SFrame {
    const INode_Internal* node;
    uint32_t step;  // how far the node has got
  };

  void Enter(const INode_Internal* node) {
    if (m_frames.Count() >= kMaxEvaluationDepth) {
      throw CSprigException("Expression is nested too deeply.", kSprigErrorNothing, node->position);
    }
    m_frames.Push(SFrame{node, 0});
  }

  // The next child the evaluation enters (the step moves past it), or null when the node is done.
  const INode_Internal* Next(const INode_Internal* node, uint32_t& step) const {
    if (node->nodeKind == ENodeKind::kFunction) return NextSlot(static_cast<const CFuncNode_Internal&>(*node), step);
    if (!node->IsOperator()) return nullptr;
    switch (node->op) {
      case EOperator::kOpenGroup:
      case EOperator::kCloseGroup:
      case EOperator::kOpenFunction:
      case EOperator::kCloseFunction: return nullptr;
      case EOperator::kIncrement:
      case EOperator::kDecrement: return NextOfStep(node, step++);
      case EOperator::kNot:
      case EOperator::kBitNot: return NextOfUnary(node, step++);
      case EOperator::kSubtract: return NextOfMinus(node, step);
      case EOperator::kComma: return NextOfComma(node, step);
      default: return IsAssignment(node->op) ? NextOfAssign(node, step++) : NextOfBinary(node, step++);
    }
  }

  // The slots in order (empty ones give no value), then the call.
  const INode_Internal* NextSlot(const CFuncNode_Internal& call, uint32_t& step) const {
    while (step < call.slots.Count()) {
      if (const INode_Internal* slot = call.slots[step++]) return slot;
    }
    if (!m_state.IsFunctionBound(call.GetName())) RaiseUnbound(call);
    return nullptr;
  }

  static const INode_Internal* NextOfStep(const INode_Internal* node, uint32_t step) {
    if (step != 0) return nullptr;
    if (node->left != nullptr) return node->left;
    if (node->right == nullptr) RaiseMissingOperand(node->op, node->position);
    return node->right;
  }

  static const INode_Internal* NextOfUnary(const INode_Internal* node, uint32_t step) {
    if (step != 0) return nullptr;
    if (node->left != nullptr) RaiseUnaryOnly(node->op, node->position);
    if (node->right == nullptr) RaiseMissingOperand(node->op, node->position);
    return node->right;
  }

  // The right operand, then the left one when there is one.
  static const INode_Internal* NextOfMinus(const INode_Internal* node, uint32_t& step) {
    const uint32_t at = step++;
    if (at == 0 && node->right == nullptr) RaiseMissing(node->op, false, node->position);
    return at == 0 ? node->right : at == 1 ? node->left : nullptr;
  }

  // The left operand when there is one, then the right one.
  static const INode_Internal* NextOfComma(const INode_Internal* node, uint32_t& step) {
    if (step == 0) {
      step = 1;
      if (node->left != nullptr) return node->left;
    }
    if (step != 1) return nullptr;
    step = 2;
    if (node->right == nullptr) RaiseMissing(node->op, false, node->position);
    return node->right;
  }

  static const INode_Internal* NextOfBinary(const INode_Internal* node, uint32_t step) {
    if (step == 0) RequireOperands(node);
    return step == 0 ? node->right : step == 1 ? node->left : nullptr;
  }

  // The right value, the left one for a compound assignment, then the store into the left side.
  static const INode_Internal* NextOfAssign(const INode_Internal* node, uint32_t step) {
    if (step == 0) RequireOperands(node);
    if (step == 0) return node->right;
    if (step == 1 && node->op != EOperator::kAssign) return node->left;
    if (node->left->nodeKind != ENodeKind::kVariable) RaiseNotAssignable(node->left->position);
    return nullptr;
  }

  const CScriptState& m_state;
  TInlineStack<SFrame, 24> m_frames;
};

}  // namespace

void CheckTree(const CScriptState& state, const INode* root) {
  if (root != nullptr) CTreeCheck(state).Run(static_cast<const INode_Internal*>(root));
}

}  // namespace Quorin::Sprig
