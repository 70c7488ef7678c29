#include "sprig/Parser.h"

#include <array>
#include <bit>
#include <cstring>
#include <utility>

#include "foundation/memory/Memory.h"
#include "sprig/SprigException.h"

namespace Quorin::Sprig {

using Bravik::CMutableString;
using Bravik::CString;
using Bravik::TArray;
namespace Memory = Bravik::Memory;

namespace {

constexpr uint8_t kClassBlank = 1;
constexpr uint8_t kClassOperator = 2;
constexpr uint8_t kClassNumber = 4;

constexpr std::array<uint8_t, 128> MakeCharacterClasses() {
  std::array<uint8_t, 128> classes{};
  for (char c : {' ', '\t', '\n', '\r'}) classes[static_cast<uint8_t>(c)] = kClassBlank;
  for (char c : {'+', '-', '*', '/', '%', '(', ')', ',', '&', '|', '^', '~', '=', '<', '>', '!',
                 '{', '}', '"', '\\'}) {
    classes[static_cast<uint8_t>(c)] = kClassOperator;
  }
  for (char c = '0'; c <= '9'; ++c) classes[static_cast<uint8_t>(c)] = kClassNumber;
  classes['.'] = kClassNumber;
  return classes;
}

constexpr std::array<uint8_t, 128> kCharacterClasses = MakeCharacterClasses();

bool HasClass(uint32_t c, uint8_t characterClass) {
  return c < kCharacterClasses.size() && (kCharacterClasses[c] & characterClass) != 0;
}

constexpr uint32_t kNoOperator = kOperatorCount;
constexpr uint32_t kLongestSpelling = 3;

// For each ASCII character, the operator kinds whose spelling starts with it: a look-up compares
// only those few.
static_assert(kOperatorCount <= 64);
constexpr auto kKindsByFirstCharacter = [] {
  std::array<uint64_t, 128> kinds{};
  for (uint32_t kind = 0; kind < kOperatorCount; ++kind) {
    kinds[static_cast<uint8_t>(kOperators[kind].spelling[0])] |= uint64_t{1} << kind;
  }
  return kinds;
}();

// The kind spelled exactly by the first `length` characters of `candidate`, or kNoOperator.
uint32_t FindOperator(const uint32_t* candidate, uint32_t length) {
  if (candidate[0] >= kKindsByFirstCharacter.size()) return kNoOperator;
  for (uint64_t kinds = kKindsByFirstCharacter[candidate[0]]; kinds != 0; kinds &= kinds - 1) {
    const uint32_t kind = static_cast<uint32_t>(std::countr_zero(kinds));
    const char* spelling = kOperators[kind].spelling;
    uint32_t i = 1;
    while (i < length && static_cast<uint32_t>(static_cast<uint8_t>(spelling[i])) == candidate[i]) {
      ++i;
    }
    if (i == length && spelling[i] == '\0') return kind;
  }
  return kNoOperator;
}

constexpr uint32_t kNodePool = Memory::PoolForAlignment(alignof(INode_Internal));

// A node owned until the parser has placed it.
class CNodeHolder {
 public:
  explicit CNodeHolder(INode_Internal* node) : m_node(node) {}
  ~CNodeHolder() { DestroyTree(m_node); }
  CNodeHolder(const CNodeHolder&) = delete;
  CNodeHolder& operator=(const CNodeHolder&) = delete;
  INode_Internal* Take() { return std::exchange(m_node, nullptr); }

 private:
  INode_Internal* m_node;
};

class CParser {
 public:
  CParser(const Bravik::IString& text, bool lenient)
      : m_base(static_cast<const uint8_t*>(text.GetData())),
        m_encoding(text.GetEncoding()),
        m_lenient(lenient) {}
  ~CParser();
  CParser(const CParser&) = delete;
  CParser& operator=(const CParser&) = delete;

  INode_Internal* Run();

 private:
  struct SToken {
    uint64_t index;       // character index of its first character
    uint64_t byteOffset;  // byte offset of its first character
  };

  bool Tokenize();
  void EmitToken(const SToken& token, uint64_t endIndex, uint64_t endByte, bool operatorRun,
                 bool dotted, bool numeric);
  void EmitString(const SToken& token, uint64_t endByte);
  void EmitName(CMutableString&& name);
  void EmitNumber(const SToken& token, uint64_t endByte, bool dotted);
  void EmitOperators(const SToken& token, uint64_t length);
  void Act(uint32_t kind);
  void OpenBracket();
  void CloseBracket();
  void CloseFunction();
  void Comma();
  void PushNode(INode_Internal* node);
  void PushConstant(const TlxSprigValue& value);
  INode_Internal*& CurrentSlot();
  static void AttachClosed(INode_Internal*& slot, INode_Internal* group);
  CFuncNode_Internal* InnermostFunction() const {
    return m_functions.IsEmpty() ? nullptr : m_functions[m_functions.Count() - 1];
  }
  bool InUnnamedBlock() const { return !m_functions.IsEmpty() && InnermostFunction() == nullptr; }
  // Strict mode raises; lenient mode returns and the caller drops what it was handling.
  void Fail(const char* message, uint32_t code) const {
    if (!m_lenient) throw CSprigException(message, code, static_cast<uint32_t>(m_tokenStart));
  }
  CMutableString Slice(uint64_t beginByte, uint64_t endByte) const;

  const uint8_t* m_base;
  Bravik::StringEncoding m_encoding;
  bool m_lenient;
  uint64_t m_tokenStart = 0;
  TArray<INode_Internal*> m_groups;
  TArray<CFuncNode_Internal*> m_functions;  // null while a block has no name yet
};

CParser::~CParser() {
  for (INode_Internal* group : m_groups) DestroyTree(group);
  for (CFuncNode_Internal* function : m_functions) DestroyTree(function);
}

INode_Internal* CParser::Run() {
  m_groups.Append(nullptr);
  if (!Tokenize()) {
    TlxSprigValue always = MakeInvalidValue();
    SetBoolean(always, true);
    return Memory::New<CConstNode_Internal>(kNodePool, always);
  }
  while (m_groups.Count() > 1) {
    INode_Internal* group = m_groups[m_groups.Count() - 1];
    m_groups.RemoveAt(m_groups.Count() - 1);
    AttachClosed(m_groups[m_groups.Count() - 1], group);
  }
  return std::exchange(m_groups[0], nullptr);
}

// False when the text is blank or a comment: the expression is then the constant true.
bool CParser::Tokenize() {
  Bravik::CStringIterator it(m_base, m_encoding);
  while (!it.AtEnd() && HasClass(it.Current(), kClassBlank)) it.Next();
  if (it.AtEnd() || it.Current() == '#') return false;

  SToken token{it.GetIndex(), it.GetByteOffset()};
  bool inString = false, escape = false, operatorRun = false, numeric = true, dotted = false;
  for (;;) {
    const bool atEnd = it.AtEnd();
    const uint32_t c = atEnd ? 0 : it.Current();
    const uint64_t p = it.GetIndex();
    const bool blank = atEnd || HasClass(c, kClassBlank);
    const bool op = !blank && HasClass(c, kClassOperator);
    const bool quoteOrBackslash = c == '"' || c == '\\';
    const bool quote = c == '"';
    const bool boundary = blank || quote || op != operatorRun;
    bool startAfter = false;  // the next token starts at p + 1
    if (!boundary) {
      if (numeric && HasClass(c, kClassNumber)) {
        dotted = dotted || c == '.';
      } else {
        numeric = false;
      }
      operatorRun = op && !quoteOrBackslash;
    } else if (inString) {
      if (escape) {
        escape = false;
      } else if (!quote) {
        escape = c == '\\';
      } else {
        m_tokenStart = token.index;
        EmitString(token, it.GetByteOffset());
        startAfter = true;
        inString = escape = dotted = false;
        numeric = true;
      }
      operatorRun = op && !quoteOrBackslash;
    } else if (p == token.index) {
      startAfter = blank || quote;
      inString = quote;
      operatorRun = op && !quoteOrBackslash;
    } else {
      EmitToken(token, p, it.GetByteOffset(), operatorRun, dotted, numeric);
      if (blank || quoteOrBackslash) {
        startAfter = true;
      } else {
        token = SToken{p, it.GetByteOffset()};
      }
      numeric = blank ? true : quote ? false : HasClass(c, kClassNumber);
      dotted = c == '.';
      escape = false;
      inString = quote;
      operatorRun = op && !quoteOrBackslash;
    }
    if (atEnd) return true;
    it.Next();
    if (startAfter) token = SToken{it.GetIndex(), it.GetByteOffset()};
  }
}

CMutableString CParser::Slice(uint64_t beginByte, uint64_t endByte) const {
  const uint32_t unit = Bravik::UnitSize(m_encoding);
  const uint64_t size = endByte - beginByte;
  uint8_t* block = static_cast<uint8_t*>(Memory::Allocate(size + unit, Memory::kObjectPool));
  std::memcpy(block, m_base + beginByte, size);
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

void CParser::EmitToken(const SToken& token, uint64_t endIndex, uint64_t endByte,
                        bool operatorRun, bool dotted, bool numeric) {
  m_tokenStart = token.index;
  if (operatorRun) {
    EmitOperators(token, endIndex - token.index);
  } else if (dotted || numeric) {
    EmitNumber(token, endByte, dotted);
  } else {
    EmitName(Slice(token.byteOffset, endByte));
  }
}

// Only `\"` is an escape: it stands for a quote.
void CParser::EmitString(const SToken& token, uint64_t endByte) {
  CMutableString raw = Slice(token.byteOffset, endByte);
  CMutableString text = Bravik::Replace(raw, CString("\\\""), CString("\""));
  CTempValue value;
  SetString(value.Get(), text);
  PushConstant(value.Take());
}

void CParser::EmitNumber(const SToken& token, uint64_t endByte, bool dotted) {
  // The token alone: the number readers would go on into the next token ("0-5").
  CMutableString text = Slice(token.byteOffset, endByte);
  TlxSprigValue value = MakeInvalidValue();
  if (dotted) {
    SetFloat(value, static_cast<float>(Bravik::ToFloat(text)));
  } else {
    SetInteger(value, static_cast<int32_t>(static_cast<uint32_t>(Bravik::ToInteger(text))));
  }
  PushConstant(value);
}

void CParser::EmitName(CMutableString&& name) {
  if (!m_functions.IsEmpty() && InnermostFunction() == nullptr) {
    m_functions[m_functions.Count() - 1] =
        Memory::New<CFuncNode_Internal>(kNodePool, std::move(name));
    return;
  }
  const char* text = static_cast<const char*>(name.GetData());
  if (text != nullptr && (std::strcmp(text, "true") == 0 || std::strcmp(text, "false") == 0)) {
    TlxSprigValue value = MakeInvalidValue();
    SetBoolean(value, text[0] == 't');
    PushConstant(value);
    return;
  }
  PushNode(Memory::New<CVarNode_Internal>(kNodePool, std::move(name)));
}

void CParser::PushConstant(const TlxSprigValue& value) {
  CTempValue owned;
  owned.Get() = value;
  CConstNode_Internal* node = Memory::New<CConstNode_Internal>(kNodePool, owned.Get());
  owned.Take();
  PushNode(node);
}

// Cuts a run of operator characters greedily into the longest spellings.
void CParser::EmitOperators(const SToken& token, uint64_t length) {
  Bravik::CStringIterator it(m_base + token.byteOffset, m_encoding);
  uint32_t candidate[kLongestSpelling];
  uint32_t candidateLength = 0;
  uint32_t kind = kNoOperator;
  for (uint64_t i = 0; i <= length; ++i, it.Next()) {
    const bool atEnd = i == length;
    const uint32_t c = atEnd ? 0 : it.Current();
    if (!atEnd && candidateLength < kLongestSpelling) {
      candidate[candidateLength] = c;
      const uint32_t longer = FindOperator(candidate, candidateLength + 1);
      if (longer != kNoOperator) {
        ++candidateLength;
        kind = longer;
        continue;
      }
    }
    if (kind == kNoOperator) {
      Fail("Unknown operator.", kSprigErrorUnknownOperator);
    } else {
      Act(kind);
    }
    if (atEnd) return;
    candidate[0] = c;
    candidateLength = 1;
    kind = FindOperator(candidate, 1);
  }
}

void CParser::Act(uint32_t kind) {
  switch (kind) {
    case kOpOpenGroup: OpenBracket(); return;
    case kOpCloseGroup: CloseBracket(); return;
    case kOpOpenFunction: m_functions.Append(nullptr); return;
    case kOpCloseFunction: CloseFunction(); return;
    case kOpComma:
      if (!m_functions.IsEmpty()) {
        Comma();
        return;
      }
      break;
    default:
      break;
  }
  PushNode(CreateOperatorNode(kind));
}

void CParser::OpenBracket() {
  if (m_functions.IsEmpty()) {
    m_groups.Append(nullptr);
    return;
  }
  CFuncNode_Internal* function = InnermostFunction();
  if (function == nullptr) {
    Fail("Opening bracket in unnamed function block.", kSprigErrorFunctionBlock);
    return;
  }
  function->slots.Append(nullptr);
  function->brackets.Append(function->slots.Count() - 1);
}

void CParser::CloseBracket() {
  INode_Internal* group = nullptr;
  if (!m_functions.IsEmpty()) {
    CFuncNode_Internal* function = InnermostFunction();
    if (function == nullptr) {
      Fail("Closing bracket in unnamed function block.", kSprigErrorFunctionBlock);
      return;
    }
    TArray<INode_Internal*>& slots = function->slots;
    if (slots.Count() == 1) {
      Fail("Closing bracket without opening bracket.", kSprigErrorUnmatchedClose);
      return;
    }
    if (!function->brackets.IsEmpty()) {
      const uint64_t opened = function->brackets[function->brackets.Count() - 1];
      function->brackets.RemoveAt(function->brackets.Count() - 1);
      // `{F(a, b)}`: a bracket right after the name whose commas added slots is an argument
      // list; its slots stay as they are.
      if (opened == 1 && slots.Count() > 2 && slots[0] == nullptr) return;
    }
    group = slots[slots.Count() - 1];
    slots.RemoveAt(slots.Count() - 1);
    AttachClosed(slots[slots.Count() - 1], group);
    return;
  }
  if (m_groups.Count() < 2) {
    Fail("Closing bracket without opening bracket.", kSprigErrorUnmatchedClose);
    return;
  }
  group = m_groups[m_groups.Count() - 1];
  m_groups.RemoveAt(m_groups.Count() - 1);
  AttachClosed(m_groups[m_groups.Count() - 1], group);
}

// A closed group acts as one operand: it becomes the slot's root or hangs at the end of the
// slot's right spine.
void CParser::AttachClosed(INode_Internal*& slot, INode_Internal* group) {
  if (group == nullptr) return;
  group->closedGroup = 1;
  if (slot == nullptr) {
    slot = group;
    return;
  }
  INode_Internal* last = slot;
  while (last->right != nullptr) last = last->right;
  last->right = group;
}

void CParser::CloseFunction() {
  if (m_functions.IsEmpty()) {
    Fail("Function block to close does not exist.", kSprigErrorFunctionBlock);
    return;
  }
  CFuncNode_Internal* function = InnermostFunction();
  m_functions.RemoveAt(m_functions.Count() - 1);
  PushNode(function);
}

void CParser::Comma() {
  CFuncNode_Internal* function = InnermostFunction();
  if (function == nullptr || function->slots[function->slots.Count() - 1] == nullptr) {
    Fail("Parameter without function name.", kSprigErrorFunctionBlock);
    return;
  }
  function->slots.Append(nullptr);
}

INode_Internal*& CParser::CurrentSlot() {
  CFuncNode_Internal* function = InnermostFunction();
  if (function != nullptr) return function->slots[function->slots.Count() - 1];
  return m_groups[m_groups.Count() - 1];
}

// Inserts a node by priority into the current slot. A node that can be unary and finds no
// operand before it goes to the end of the right spine; otherwise it takes as its left operand
// the first node down the right spine that binds less tightly than itself, or a closed group.
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
  INode_Internal*& root = CurrentSlot();
  holder.Take();
  if (root == nullptr) {
    root = node;
    return;
  }
  INode_Internal* parent = nullptr;
  if (node->CanBeUnary()) {
    INode_Internal* current = root;
    while (current != nullptr && current->GetPriority() != 0 && !current->IsStepOperator()) {
      parent = current;
      current = current->right;
    }
    if (current == nullptr) {
      (parent->left == nullptr && !parent->CanBeUnary() ? parent->left : parent->right) = node;
      return;
    }
    parent = nullptr;
  }
  INode_Internal* current = root;
  while (!current->closedGroup && current->GetPriority() > node->GetPriority()) {
    parent = current;
    if (current->right == nullptr) {
      (current->left == nullptr && !current->CanBeUnary() ? current->left : current->right) = node;
      return;
    }
    current = current->right;
  }
  node->left = current;
  (parent != nullptr ? parent->right : root) = node;
}

}  // namespace

INode_Internal* Parse(const Bravik::IString& text, bool lenient) {
  CParser parser(text, lenient);
  return parser.Run();
}

}  // namespace Quorin::Sprig
