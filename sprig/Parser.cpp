#include "sprig/Parser.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <optional>
#include <utility>

#include "foundation/memory/Memory.h"
#include "sprig/InlineStack.h"
#include "sprig/SprigException.h"

namespace Quorin::Sprig {

using Bravik::CMutableString;
using Bravik::CString;
using Bravik::TArray;
namespace Memory = Bravik::Memory;

namespace {

// Character classes of the tokenizer. The operator characters include neither the quote nor
// the backslash, which have classes of their own.
enum class EChar : uint8_t { kOther, kBlank, kOperator, kNumber, kQuote, kBackslash, kEnd };

constexpr std::array<EChar, 128> kCharClasses = [] {
  std::array<EChar, 128> classes{};
  for (char c : {' ', '\t', '\n', '\r'}) classes[static_cast<uint8_t>(c)] = EChar::kBlank;
  for (char c : {'+', '-', '*', '/', '%', '(', ')', ',', '&', '|', '^', '~', '=', '<', '>', '!',
                 '{', '}'}) {
    classes[static_cast<uint8_t>(c)] = EChar::kOperator;
  }
  for (char c = '0'; c <= '9'; ++c) classes[static_cast<uint8_t>(c)] = EChar::kNumber;
  classes['.'] = EChar::kNumber;
  classes['"'] = EChar::kQuote;
  classes['\\'] = EChar::kBackslash;
  return classes;
}();

constexpr uint32_t kEndOfText = 0xFFFFFFFF;  // no code point has this value
constexpr uint32_t kLongestSpelling = 3;

// For each ASCII character, the operator kinds whose spelling starts with it: a look-up compares
// only those few. ORDER SPRIG_OP
static_assert(kOperatorCount <= 64);
constexpr auto kKindsByFirstCharacter = [] {
  std::array<uint64_t, 128> kinds{};
  for (uint32_t kind = 0; kind < kOperatorCount; ++kind) {
    kinds[static_cast<uint8_t>(kOperators[kind].spelling[0])] |= uint64_t{1} << kind;
  }
  return kinds;
}();

// The kind spelled exactly by the first `length` characters of `candidate`.
std::optional<EOperator> FindOperator(const uint32_t* candidate, uint32_t length) {
  if (candidate[0] >= kKindsByFirstCharacter.size()) return std::nullopt;
  for (uint64_t kinds = kKindsByFirstCharacter[candidate[0]]; kinds != 0; kinds &= kinds - 1) {
    const uint32_t kind = static_cast<uint32_t>(std::countr_zero(kinds));
    const char* spelling = kOperators[kind].spelling;
    uint32_t i = 1;
    while (i < length && static_cast<uint32_t>(static_cast<uint8_t>(spelling[i])) == candidate[i]) {
      ++i;
    }
    if (i == length && spelling[i] == '\0') return static_cast<EOperator>(kind);
  }
  return std::nullopt;
}

// A node stands for an operand on a right spine when it is a value or a step operator: a
// unary-capable operator after it is binary (or postfix).
bool IsOperand(const INode_Internal* node) {
  return node->GetPriority() == 0 || node->IsStepOperator();
}

constexpr uint32_t kNodePool = Memory::PoolForAlignment(alignof(INode_Internal));

class CParser {
 public:
  CParser(const Bravik::IString& text, bool lenient)
      : m_base(static_cast<const uint8_t*>(text.GetData())),
        m_encoding(text.GetEncoding()),
        m_lenient(lenient),
        m_it(m_base, m_encoding) {
    Read();
  }
  ~CParser();
  CParser(const CParser&) = delete;
  CParser& operator=(const CParser&) = delete;

  INode_Internal* Run();

 private:
  struct SMark {
    uint64_t index;       // character index
    uint64_t byteOffset;
  };
  // A subtree under construction: the whole expression, an open bracket group or an argument
  // of an open call. Inserting by priority searches the right spine from its lower end, over
  // entries that each spine node keeps in m_spine, so every insertion costs amortized O(1).
  struct SSlot {
    INode_Internal* root;
    INode_Internal* bottom;  // last node of the right spine
    uint64_t spineBase;      // first entry of the slot in m_spine
    bool hasOperand;         // an operand stands somewhere on the right spine
  };
  // A node of the right spine, down to the first closed group only (an insertion never goes
  // below one), with what the spine holds from the root down to it.
  struct SSpineEntry {
    INode_Internal* node;
    uint8_t lowest;  // lowest priority; a closed group counts as 0
    bool operand;    // an operand stands among them
  };
  // An open function block: its node once it has a name, and its first slot and bracket.
  struct SBlock {
    CFuncNode_Internal* function;
    uint64_t firstSlot;
    uint64_t firstBracket;
  };

  // ---- Tokenizer ----
  void Read() {
    m_current = m_it.Current();
    if (m_current == 0 && m_it.AtEnd()) m_current = kEndOfText;  // a code point 0 may stand inside
  }
  void Next() {
    m_it.Next();
    Read();
  }
  EChar Class() const {
    if (m_current < kCharClasses.size()) return kCharClasses[m_current];
    return m_current == kEndOfText ? EChar::kEnd : EChar::kOther;
  }
  SMark Mark() const { return SMark{m_it.GetIndex(), m_it.GetByteOffset()}; }
  bool Tokenize();
  void ReadString();
  bool ReadOperators();
  bool ReadWord(const SMark& start, bool numeric);
  void EmitWord(const SMark& start, bool numeric, bool dotted);
  void EmitOperators(const SMark& start);
  CMutableString Slice(const SMark& start) const;

  // ---- Tree building ----
  void Act(EOperator kind);
  void OpenBlock() { m_blocks.Push(SBlock{nullptr, m_slots.Count(), m_brackets.Count()}); }
  void NameBlock(CMutableString&& name);
  void OpenBracket();
  void CloseBracket();
  void CloseFunction();
  void Comma();
  void PushNode(INode_Internal* node);
  void PushConstant(const TlxSprigValue& value);
  void OpenSlot() { m_slots.Push(SSlot{nullptr, nullptr, m_spine.Count(), false}); }
  SSlot PopSlot();
  void DiscardBlocks();
  void AppendSpine(const SSlot& slot, INode_Internal* node);
  bool SpineEndsClosed(const SSlot& slot) const {
    return m_spine.Count() > slot.spineBase && m_spine.Top().node->closedGroup;
  }
  void AttachAtEnd(SSlot& slot, CNodeHolder& node);
  void InsertByPriority(SSlot& slot, CNodeHolder& node);
  void AttachClosed(const SSlot& group);
  SSlot& CurrentSlot() { return m_slots.Top(); }
  bool InUnnamedBlock() const {
    return !m_blocks.IsEmpty() && m_blocks.Top().function == nullptr;
  }
  // Strict mode raises; lenient mode returns and the caller drops what it was handling.
  void Fail(const char* message, uint32_t code) const {
    if (!m_lenient) throw CSprigException(message, code, static_cast<uint32_t>(m_tokenStart));
  }

  const uint8_t* m_base;
  Bravik::StringEncoding m_encoding;
  bool m_lenient;
  Bravik::CStringIterator m_it;
  uint32_t m_current = kEndOfText;  // the character at m_it
  uint64_t m_tokenStart = 0;
  TInlineStack<SSlot, 8> m_slots;  // group slots first, then the slots of the open calls
  TInlineStack<SSpineEntry, 16> m_spine;
  TInlineStack<SBlock, 4> m_blocks;
  TInlineStack<uint64_t, 8> m_brackets;  // for each bracket open in a call, the index of its slot
};

CParser::~CParser() {
  for (SSlot& slot : m_slots) DestroyTree(slot.root);
  for (SBlock& block : m_blocks) DestroyTree(block.function);
}

INode_Internal* CParser::Run() {
  OpenSlot();
  if (!Tokenize()) {
    TlxSprigValue always = MakeInvalidValue();
    SetBoolean(always, true);
    return Memory::New<CConstNode_Internal>(kNodePool, always);
  }
  DiscardBlocks();
  while (m_slots.Count() > 1) AttachClosed(PopSlot());
  return std::exchange(m_slots[0].root, nullptr);
}

// ---- Tokenizer ----

// Reads token by token: the class of the current character selects a short case that reads
// the token it starts. False when the text is blank or a comment: the expression is then the
// constant true.
bool CParser::Tokenize() {
  while (Class() == EChar::kBlank) Next();
  if (Class() == EChar::kEnd || m_current == '#') return false;
  bool numeric = true;  // a word starting here may be a number
  for (;;) {
    switch (Class()) {
      case EChar::kEnd: return true;
      case EChar::kBlank: Next(); break;
      case EChar::kQuote:
        Next();
        ReadString();
        numeric = true;
        break;
      case EChar::kOperator: numeric = ReadOperators(); break;
      case EChar::kBackslash: {
        const SMark start = Mark();
        Next();
        numeric = ReadWord(start, numeric);  // a word that starts with the backslash
        break;
      }
      default: numeric = ReadWord(Mark(), numeric); break;
    }
  }
}

// The characters up to a closing quote; only `\"` is an escape. The escape state changes only
// where the kind of character changes (blank, operator character or other), so a backslash right
// after another operator character escapes nothing. A string open at the end is dropped.
void CParser::ReadString() {
  const SMark start = Mark();
  bool escape = false;
  bool afterOperator = false;
  for (;; Next()) {
    const EChar c = Class();
    if (c == EChar::kEnd) return;
    const bool operatorLike = c == EChar::kOperator || c == EChar::kBackslash || c == EChar::kQuote;
    if (c == EChar::kBlank || c == EChar::kQuote || operatorLike != afterOperator) {
      if (escape) {
        escape = false;
      } else if (c != EChar::kQuote) {
        escape = c == EChar::kBackslash;
      } else {
        break;
      }
    }
    afterOperator = c == EChar::kOperator;
  }
  m_tokenStart = start.index;
  CMutableString text = Bravik::Replace(Slice(start), CString("\\\""), CString("\""));
  CTempValue value;
  SetString(value.Get(), text);
  PushConstant(value.Take());
  Next();  // the closing quote
}

// A run of operator characters, cut greedily into operators. A backslash in the run turns the
// run and the name characters after it into a name. Gives what ReadWord gives.
bool CParser::ReadOperators() {
  const SMark start = Mark();
  while (Class() == EChar::kOperator) Next();
  if (Class() == EChar::kBackslash) {
    Next();
    return ReadWord(start, false);
  }
  EmitOperators(start);
  return true;
}

// Name and number characters from the current one on, in a token from `start`. Gives whether
// the next word may be a number: a backslash that ends the word is dropped, and the next word
// is a name whatever its characters.
bool CParser::ReadWord(const SMark& start, bool numeric) {
  bool dotted = false;
  for (;; Next()) {
    const EChar c = Class();
    if (c != EChar::kOther && c != EChar::kNumber) break;
    if (numeric && c == EChar::kNumber) {
      dotted = dotted || m_current == '.';
    } else {
      numeric = false;
    }
  }
  EmitWord(start, numeric, dotted);
  if (Class() != EChar::kBackslash) return true;
  Next();
  return false;
}

// The text from `start` to the current character, as UTF-8.
CMutableString CParser::Slice(const SMark& start) const {
  const uint32_t unit = Bravik::UnitSize(m_encoding);
  const uint64_t size = m_it.GetByteOffset() - start.byteOffset;
  uint8_t* block = static_cast<uint8_t*>(Memory::Allocate(size + unit, Memory::kObjectPool));
  std::memcpy(block, m_base + start.byteOffset, size);
  std::memset(block + size, 0, unit);
  CMutableString text;
  if (m_encoding == Bravik::kUtf8) {
    text.Adopt(block, Bravik::kUtf8);
    return text;
  }
  try {
    text.Assign(block, m_encoding, Bravik::kUtf8);
  } catch (...) {
    Memory::Free(block);
    throw;
  }
  Memory::Free(block);
  return text;
}

// A Float when the word's leading number characters hold a `.` (read as far as they fit, so
// `1.5a` is 1.5), an Integer (low 32 bits) when all are digits, else a name.
void CParser::EmitWord(const SMark& start, bool numeric, bool dotted) {
  m_tokenStart = start.index;
  CMutableString text = Slice(start);
  TlxSprigValue value = MakeInvalidValue();
  if (dotted) {
    SetFloat(value, static_cast<float>(Bravik::ToFloat(text)));
  } else if (numeric) {
    SetInteger(value, static_cast<int32_t>(static_cast<uint32_t>(Bravik::ToInteger(text))));
  } else if (InUnnamedBlock()) {
    NameBlock(std::move(text));
    return;
  } else {
    const char* name = static_cast<const char*>(text.GetData());
    if (std::strcmp(name, "true") != 0 && std::strcmp(name, "false") != 0) {
      PushNode(Memory::New<CVarNode_Internal>(kNodePool, std::move(text)));
      return;
    }
    SetBoolean(value, name[0] == 't');
  }
  PushConstant(value);
}

void CParser::PushConstant(const TlxSprigValue& value) {
  CTempValue owned;
  owned.Get() = value;
  CConstNode_Internal* node = Memory::New<CConstNode_Internal>(kNodePool, owned.Get());
  owned.Take();
  PushNode(node);
}

// Cuts the run from `start` to the current character into the longest spellings, left to right.
void CParser::EmitOperators(const SMark& start) {
  m_tokenStart = start.index;
  Bravik::CStringIterator it(m_base + start.byteOffset, m_encoding);
  const uint64_t length = m_it.GetIndex() - start.index;
  uint32_t candidate[kLongestSpelling];
  uint32_t candidateLength = 0;
  std::optional<EOperator> kind;
  for (uint64_t i = 0; i <= length; ++i, it.Next()) {
    const bool atEnd = i == length;
    const uint32_t c = atEnd ? 0 : it.Current();
    if (!atEnd && candidateLength < kLongestSpelling) {
      candidate[candidateLength] = c;
      if (const auto longer = FindOperator(candidate, candidateLength + 1)) {
        ++candidateLength;
        kind = longer;
        continue;
      }
    }
    if (kind) {
      Act(*kind);
    } else {
      Fail("Unknown operator.", kSprigErrorUnknownOperator);
    }
    if (atEnd) return;
    candidate[0] = c;
    candidateLength = 1;
    kind = FindOperator(candidate, 1);
  }
}

// ---- Tree building ----

void CParser::Act(EOperator kind) {
  switch (kind) {
    case EOperator::kOpenGroup: OpenBracket(); return;
    case EOperator::kCloseGroup: CloseBracket(); return;
    case EOperator::kOpenFunction: OpenBlock(); return;
    case EOperator::kCloseFunction: CloseFunction(); return;
    case EOperator::kComma:
      if (!m_blocks.IsEmpty()) {
        Comma();
        return;
      }
      break;
    default:
      break;
  }
  PushNode(CreateOperatorNode(kind));
}

// The first name in a block names its function, whose first argument slot opens.
void CParser::NameBlock(CMutableString&& name) {
  m_blocks.Top().function =
      Memory::New<CFuncNode_Internal>(kNodePool, std::move(name));
  OpenSlot();
}

void CParser::OpenBracket() {
  if (m_blocks.IsEmpty()) {
    OpenSlot();
    return;
  }
  const SBlock& block = m_blocks.Top();
  if (block.function == nullptr) {
    Fail("Opening bracket in unnamed function block.", kSprigErrorFunctionBlock);
    return;
  }
  m_brackets.Push(m_slots.Count() - block.firstSlot);
  OpenSlot();
}

void CParser::CloseBracket() {
  if (m_blocks.IsEmpty()) {
    if (m_slots.Count() < 2) {
      Fail("Closing bracket without opening bracket.", kSprigErrorUnmatchedClose);
      return;
    }
    AttachClosed(PopSlot());
    return;
  }
  const SBlock& block = m_blocks.Top();
  if (block.function == nullptr) {
    Fail("Closing bracket in unnamed function block.", kSprigErrorFunctionBlock);
    return;
  }
  const uint64_t count = m_slots.Count() - block.firstSlot;
  if (count == 1) {
    Fail("Closing bracket without opening bracket.", kSprigErrorUnmatchedClose);
    return;
  }
  if (m_brackets.Count() > block.firstBracket) {
    const uint64_t opened = m_brackets.Top();
    m_brackets.Drop(1);
    // `{F(a, b)}`: a bracket right after the name whose commas added slots is an argument
    // list; its slots stay as they are.
    if (opened == 1 && count > 2 && m_slots[block.firstSlot].root == nullptr) return;
  }
  AttachClosed(PopSlot());
}

// The call's slots move into its node, which then goes into the slot around the block.
void CParser::CloseFunction() {
  if (m_blocks.IsEmpty()) {
    Fail("Function block to close does not exist.", kSprigErrorFunctionBlock);
    return;
  }
  const SBlock block = m_blocks.Top();
  if (block.function != nullptr) {
    TArray<INode_Internal*>& slots = block.function->slots;
    slots.Reserve(m_slots.Count() - block.firstSlot);
    for (uint64_t i = block.firstSlot; i < m_slots.Count(); ++i) slots.Append(m_slots[i].root);
    m_spine.Truncate(m_slots[block.firstSlot].spineBase);
    m_slots.Truncate(block.firstSlot);
    m_brackets.Truncate(block.firstBracket);
  }
  m_blocks.Drop(1);
  PushNode(block.function);
}

void CParser::Comma() {
  if (InUnnamedBlock() || CurrentSlot().root == nullptr) {
    Fail("Parameter without function name.", kSprigErrorFunctionBlock);
    return;
  }
  OpenSlot();
}

CParser::SSlot CParser::PopSlot() {
  const SSlot slot = CurrentSlot();
  m_spine.Truncate(slot.spineBase);
  m_slots.Drop(1);
  return slot;
}

// Function blocks still open at the end go, with everything inside them.
void CParser::DiscardBlocks() {
  if (m_blocks.IsEmpty()) return;
  while (m_slots.Count() > m_blocks[0].firstSlot) DestroyTree(PopSlot().root);
  for (SBlock& block : m_blocks) DestroyTree(std::exchange(block.function, nullptr));
  m_blocks.Truncate(0);
}

void CParser::AppendSpine(const SSlot& slot, INode_Internal* node) {
  SSpineEntry entry{node, node->closedGroup ? uint8_t{0} : node->GetPriority(), IsOperand(node)};
  if (m_spine.Count() > slot.spineBase) {
    const SSpineEntry& above = m_spine.Top();
    entry.lowest = std::min(entry.lowest, above.lowest);
    entry.operand = entry.operand || above.operand;
  }
  m_spine.Push(entry);
}

// Inserts a node by priority into the current slot. A node that can be unary and finds no
// operand on the right spine goes to its end; otherwise it takes as its left operand the first
// node down the right spine that binds less tightly than itself, or a closed group.
void CParser::PushNode(INode_Internal* node) {
  if (node == nullptr) {
    Fail("Passed node is a nullptr.", kSprigErrorNothing);
    return;
  }
  CNodeHolder holder(node);
  if (InUnnamedBlock()) {
    Fail("Variable used in unnamed function block.", kSprigErrorFunctionBlock);
    return;
  }
  node->position = static_cast<uint32_t>(m_tokenStart);
  SSlot& slot = CurrentSlot();
  if (slot.root == nullptr || (node->CanBeUnary() && !slot.hasOperand)) {
    AttachAtEnd(slot, holder);
  } else {
    InsertByPriority(slot, holder);
  }
}

// Below the last node of the right spine: as its left operand when it has none and cannot be
// unary, else as its right one.
void CParser::AttachAtEnd(SSlot& slot, CNodeHolder& holder) {
  INode_Internal* node = holder.Get();
  INode_Internal* last = slot.bottom;
  if (last != nullptr && last->left == nullptr && !last->CanBeUnary()) {
    last->left = holder.Take();
    return;
  }
  if (!SpineEndsClosed(slot)) AppendSpine(slot, node);
  (last != nullptr ? last->right : slot.root) = holder.Take();
  slot.bottom = node;
  slot.hasOperand = slot.hasOperand || IsOperand(node);
}

// Searches the spine from its lower end: the entries below the node found leave the spine, so
// the search costs what it removes.
void CParser::InsertByPriority(SSlot& slot, CNodeHolder& holder) {
  INode_Internal* node = holder.Get();
  const uint8_t priority = node->GetPriority();
  uint64_t at = m_spine.Count() - 1;
  if (m_spine[at].lowest > priority) {
    AttachAtEnd(slot, holder);
    return;
  }
  while (at > slot.spineBase && m_spine[at - 1].lowest <= priority) --at;
  m_spine.Truncate(at + 1);
  node->left = m_spine[at].node;
  (at > slot.spineBase ? m_spine[at - 1].node->right : slot.root) = holder.Take();
  SSpineEntry& entry = m_spine[at];
  entry = SSpineEntry{node, priority, IsOperand(node)};
  if (at > slot.spineBase) {
    entry.lowest = std::min(priority, m_spine[at - 1].lowest);
    entry.operand = entry.operand || m_spine[at - 1].operand;
  }
  slot.bottom = node;
  slot.hasOperand = entry.operand;
}

// A closed group acts as one operand: it becomes the current slot's root or hangs at the end
// of its right spine.
void CParser::AttachClosed(const SSlot& group) {
  if (group.root == nullptr) return;
  CNodeHolder holder(group.root);
  group.root->closedGroup = 1;
  SSlot& slot = CurrentSlot();
  if (!SpineEndsClosed(slot)) AppendSpine(slot, group.root);
  (slot.bottom != nullptr ? slot.bottom->right : slot.root) = holder.Take();
  slot.bottom = group.bottom;
  slot.hasOperand = slot.hasOperand || group.hasOperand;
}

}  // namespace

CNodeHolder Parse(const Bravik::IString& text, bool lenient) {
  CParser parser(text, lenient);
  return CNodeHolder(parser.Run());
}

}  // namespace Quorin::Sprig
