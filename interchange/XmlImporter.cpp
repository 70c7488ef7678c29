#include "interchange/XmlImporter.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <cstring>

#include "foundation/container/Array.h"
#include "foundation/memory/Memory.h"
#include "foundation/string/NumberText.h"
#include "foundation/string/String.h"
#include "interchange/ImportBuilder.h"
#include "interchange/InterchangeNames.h"
#include "interchange/XmlReader.h"

namespace Quorin {
namespace {

// Element codes. ORDER IMPORT_ELEMENT
enum EElement : uint8_t {
  kRoot, kHeader, kClasses, kTemplates, kPrototypes, kInstances, kListPrototypes, kListInstances, kTexts, kBlobs,
  kMajorVersion, kMinorVersion, kBundle, kHexEncoding, kClass, kTemplate, kMemberDeclaration, kFeature, kObject,
  kList, kReference, kClassData, kTemplateData, kClassValue, kTemplateValue, kClassItem, kTemplateItem, kPart,
  kText, kBlob, kVariables, kGlobals, kNamespace, kPrototypeBound, kInstanceBound, kVariable,
  kDocument,  // outside the root
  kSkipped,   // an element not accepted where it stands, with everything inside it
};

struct SAccepted {
  uint8_t parent;
  uint8_t code;
  const char* name;
};

// Which element may stand under which, searched in this order.
constexpr SAccepted kAccepted[] = {
    {kDocument, kRoot, "talvex"},
    {kRoot, kHeader, "header"}, {kRoot, kClasses, "classes"}, {kRoot, kTemplates, "templates"},
    {kRoot, kPrototypes, "prototypes"}, {kRoot, kInstances, "instances"},
    {kRoot, kListPrototypes, "listprototypes"}, {kRoot, kListInstances, "listinstances"},
    {kRoot, kTexts, "texts"}, {kRoot, kBlobs, "blobs"}, {kRoot, kVariables, "variables"},
    {kHeader, kMajorVersion, "majorversion"}, {kHeader, kMinorVersion, "minorversion"},
    {kHeader, kBundle, "bundle"}, {kHeader, kHexEncoding, "hexencoding"},
    {kClasses, kClass, "class"}, {kTemplates, kTemplate, "template"},
    {kPrototypes, kObject, "object"}, {kInstances, kObject, "object"},
    {kListPrototypes, kList, "list"}, {kListInstances, kList, "list"},
    {kTexts, kText, "text"}, {kBlobs, kBlob, "blob"},
    {kClass, kMemberDeclaration, "member"},
    {kTemplate, kMemberDeclaration, "member"}, {kTemplate, kFeature, "feature"},
    {kObject, kClassData, "cdata"}, {kObject, kTemplateData, "tdata"},
    {kList, kReference, "reference"},
    {kClassData, kClassValue, "member"}, {kTemplateData, kTemplateValue, "member"},
    {kClassValue, kClassItem, "a"}, {kClassValue, kPart, "p"},
    {kTemplateValue, kTemplateItem, "a"}, {kTemplateValue, kPart, "p"},
    {kClassItem, kPart, "p"}, {kTemplateItem, kPart, "p"},
    {kVariables, kGlobals, "globals"}, {kVariables, kNamespace, "namespace"},
    {kVariables, kPrototypeBound, "prototypebound"}, {kVariables, kInstanceBound, "instancebound"},
    {kGlobals, kVariable, "variable"}, {kNamespace, kVariable, "variable"},
    {kPrototypeBound, kVariable, "variable"}, {kInstanceBound, kVariable, "variable"},
};

constexpr uint32_t kMaxDepth = 1024;
constexpr uint32_t kDefaultBufferSize = 8192;
// The fewest bytes a list entry takes in the file: what bounds a list's declared size.
constexpr uint64_t kMinReferenceBytes = 16;
// Bound on declared sizes when the file's size is unknown.
constexpr uint64_t kUnknownSizeBound = 1u << 24;

template <size_t N>
bool Is(const char* name, size_t length, const char (&literal)[N]) {
  return length == N - 1 && std::memcmp(name, literal, N - 1) == 0;
}

uint32_t MemberTypeCodeOf(const char* name, size_t length) {
  for (uint32_t code = 0; code < kMemberTypeCount; ++code) {
    if (std::strlen(kMemberTypeNames[code]) == length && std::memcmp(kMemberTypeNames[code], name, length) == 0) {
      return code;
    }
  }
  return 0;  // an unknown name counts as "Byte"
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decimal, or hexadecimal after "0x"; a leading "-" negates. Reads as far as digits go; wraps.
uint64_t ParseNumber(const char* text, size_t length) {
  size_t i = 0;
  const bool negative = length != 0 && text[0] == '-';
  if (negative) ++i;
  uint64_t value = 0;
  if (length - i >= 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    for (i += 2; i < length && HexDigit(text[i]) >= 0; ++i) value = value * 16 + static_cast<uint64_t>(HexDigit(text[i]));
  } else {
    for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) value = value * 10 + static_cast<uint64_t>(text[i] - '0');
  }
  return negative ? 0 - value : value;
}

// A size: plain decimal digits, else 0; saturates.
uint64_t ParseSize(const char* text, size_t length) {
  if (length == 0) return 0;
  uint64_t value = 0;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return 0;
    const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    value = value > (UINT64_MAX - digit) / 10 ? UINT64_MAX : value * 10 + digit;
  }
  return value;
}

double ParseDouble(const char* text, size_t length) {
  double value = 0;
  const auto [end, error] = std::from_chars(text, text + length, value);
  if (error == std::errc{} && end == text + length) return value;
  if (error == std::errc::result_out_of_range) return value;
  return Bravik::ToFloat(Bravik::CString(text));  // "1,5" and other forms the number text reads
}

// The number whose text, as the writer makes it, is the given text. The writer truncates, so the
// nearest value may print one digit lower (or "-0.0" print as "0.0"): the neighbours are tried.
template <typename T, size_t (*Format)(T, char*)>
T ExactNumber(const char* text, size_t length) {
  const T value = static_cast<T>(ParseDouble(text, length));
  char out[Bravik::kNumberAsciiCapacity];
  const auto same = [&](T candidate) {
    return Format(candidate, out) == length && std::memcmp(out, text, length) == 0;
  };
  if (same(value) || length >= Bravik::kNumberAsciiCapacity) return value;
  const T away = text[0] == '-' ? -std::numeric_limits<T>::infinity() : std::numeric_limits<T>::infinity();
  T up = value;
  T down = value;
  for (int step = 0; step < 16; ++step) {
    up = std::nextafter(up, away);
    if (same(up)) return up;
    down = std::nextafter(down, -away);
    if (same(down)) return down;
  }
  return value;
}

float ParseFloat(const char* text, size_t length) { return ExactNumber<float, Bravik::FloatToAscii>(text, length); }
double ParseDoubleExact(const char* text, size_t length) {
  return ExactNumber<double, Bravik::DoubleToAscii>(text, length);
}

uint32_t Swap32(uint32_t value) {
  return (value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) | (value << 24);
}

// A growable, always terminated text of the library allocator.
struct CContent {
  CContent() = default;
  CContent(const CContent&) = delete;
  CContent& operator=(const CContent&) = delete;
  ~CContent() { Bravik::Memory::Free(data); }

  void Append(const char* text, size_t count) {
    if (length + count + 1 > capacity) {
      const size_t wanted = length + count + 1;
      const size_t grown = capacity * 2 > wanted ? capacity * 2 : wanted;
      data = static_cast<char*>(Bravik::Memory::Reallocate(data, grown < 64 ? 64 : grown, Bravik::Memory::kObjectPool));
      capacity = grown < 64 ? 64 : grown;
    }
    std::memcpy(data + length, text, count);
    length += count;
    data[length] = '\0';
  }

  char* data = nullptr;
  size_t length = 0;
  size_t capacity = 0;
};

// The attributes and content an element collects until it ends; one per element kind, since a
// kind never nests inside itself.
struct SRecords {
  struct {
    uint16_t id = 0;
    uint32_t nameId = 0;
  } type;
  struct {
    uint32_t id = 0, typeCode = 0, items = 0;
  } declaration;
  uint32_t featureId = 0;
  struct {
    uint32_t id = 0, prototypeId = kNoId32;
    uint16_t classId = kNoId16, templateId = kNoId16;
    uint64_t classSize = 0, templateSize = 0;
    bool prototype = true;
    bool begun = false;
  } object;
  struct SParts {
    uint32_t count = 0;
    uint32_t id = 0;
    uint8_t kind = 0;
  };
  struct {
    uint32_t id = 0, typeCode = 0;
    SMemberSlot slot;
    bool located = false;
    bool items = false;
    SParts parts;
  } value;
  SParts itemParts;
  struct {
    uint32_t id = 0, prototype = kNoId32;
    uint64_t items = 0;
    bool instance = false;
    bool begun = false;
  } list;
  uint32_t textId = 0;
  uint8_t referenceKind = 0;
  struct {
    uint32_t id = 0;
    uint64_t size = 0;
    bool begun = false;
    int carry = -1;  // a high nibble waiting for its pair
  } blob;
  uint32_t namespaceId = kNoId32;
  struct {
    uint32_t id = 0, binding = 0;
    bool bound = false;
    uint8_t kind = 0xFF;
    EVariableStore targetStore = EVariableStore::kGlobal;
    uint32_t targetStoreId = kNoId32;
    bool target = false;
  } variable;
  uint8_t byteOrder = kLittleEndian;
};

class CXmlImporter final : public IXmlHandler {
 public:
  CXmlImporter(Repository& repository, uint64_t fileSize) : m_builder(repository), m_fileSize(fileSize) {
    m_stack.Append(kDocument);
  }

  void OnElementStart(const char* name, size_t length) override;
  void OnElementEnd(const char* name, size_t length) override;
  void OnAttribute(const char* name, size_t nameLength, char* value, size_t valueLength) override;
  size_t OnText(char* text, size_t length, EXmlText kind) override;

  void SetPosition(uint64_t position) { m_position = position; }
  bool SawRoot() const { return m_sawRoot; }
  bool RootOpen() const { return m_stack.Count() > 1 && m_stack[1] == kRoot; }
  uint32_t GetSkipped() const { return m_builder.GetSkipped(); }

 private:
  uint8_t Top() const { return m_stack[m_stack.Count() - 1]; }
  uint8_t Parent() const { return m_stack.Count() >= 2 ? m_stack[m_stack.Count() - 2] : uint8_t{kDocument}; }
  uint8_t Accepted(const char* name, size_t length) const;
  void Start(uint8_t code);
  void End(uint8_t code);
  void AttributeOfObject(const char* name, size_t nameLength, const char* value, size_t valueLength);
  void AttributeOfVariable(const char* name, size_t nameLength, const char* value, size_t valueLength);
  void AttributeOfType(uint8_t code, const char* name, size_t nameLength, const char* value, size_t valueLength);

  uint32_t Id32(const char* text, size_t length) const {
    const uint32_t value = static_cast<uint32_t>(ParseNumber(text, length));
    return m_bigEndian ? Swap32(value) : value;
  }
  uint16_t Id16(const char* text, size_t length) const {
    const uint16_t value = static_cast<uint16_t>(ParseNumber(text, length));
    return m_bigEndian ? static_cast<uint16_t>((value >> 8) | (value << 8)) : value;
  }
  uint64_t Remaining() const { return m_fileSize > m_position ? m_fileSize - m_position : 0; }
  uint64_t Bound(uint64_t size, uint64_t bytesEach) const {
    const uint64_t bound = m_fileSize != 0 ? Remaining() / bytesEach + 1 : kUnknownSizeBound;
    return size < bound ? size : bound;
  }

  // Content of the element that is ending, terminated.
  const char* Content() const { return m_content.length != 0 ? m_content.data : ""; }
  size_t ContentLength() const { return m_content.length; }
  void AppendContent(const char* text, size_t length, bool raw);
  void EndRawContent(bool cdata);
  void BlobDigits(const char* text, size_t length);

  EDataKind DataKind(uint8_t code) const {
    return code == kClassValue || code == kClassItem || code == kClassData ? EDataKind::kClass : EDataKind::kTemplate;
  }
  void BeginObject();
  void LocateValue(EDataKind kind);
  void StoreValue(EDataKind kind, const char* text, size_t length);
  void StoreReference(EDataKind kind, const SRecords::SParts& parts);
  void EndPart();
  void BeginList();
  void EndReference();
  void BeginBlob();
  void EndVariable();

  CImportBuilder m_builder;
  Bravik::TArray<uint8_t> m_stack;
  SRecords m_records;
  CContent m_content;
  size_t m_rawStart = SIZE_MAX;    // where joined raw pieces begin in m_content
  uint64_t m_fileSize;
  uint64_t m_position = 0;
  bool m_bigEndian = false;
  bool m_sawRoot = false;
};

uint8_t CXmlImporter::Accepted(const char* name, size_t length) const {
  const uint8_t top = Top();
  if (top == kSkipped || m_stack.Count() > kMaxDepth) return kSkipped;
  for (const SAccepted& entry : kAccepted) {
    if (entry.parent == top && std::strlen(entry.name) == length && std::memcmp(entry.name, name, length) == 0) {
      return entry.code;
    }
  }
  return kSkipped;
}

void CXmlImporter::OnElementStart(const char* name, size_t length) {
  const uint8_t code = Accepted(name, length);
  if (code == kSkipped && Top() != kSkipped) m_builder.CountSkipped();
  m_stack.Append(code);
  m_content.length = 0;
  m_rawStart = SIZE_MAX;
  Start(code);
}

// The name an accepted element code stands for.
const char* NameOf(uint8_t code) {
  for (const SAccepted& entry : kAccepted) {
    if (entry.code == code) return entry.name;
  }
  return nullptr;
}

void CXmlImporter::OnElementEnd(const char* name, size_t length) {
  if (m_stack.Count() <= 1) return;  // a stray end tag never closes the document
  const uint8_t code = Top();
  // A stray end tag of another name does not close the element either.
  const char* open = code != kSkipped ? NameOf(code) : nullptr;
  if (name != nullptr && open != nullptr && (std::strlen(open) != length || std::memcmp(open, name, length) != 0)) {
    return;
  }
  End(code);
  m_stack.RemoveAt(m_stack.Count() - 1);
  m_content.length = 0;
  m_rawStart = SIZE_MAX;
}

void CXmlImporter::Start(uint8_t code) {
  switch (code) {
    case kRoot: m_sawRoot = true; break;
    case kClass: m_records.type = {}; m_builder.BeginType(ETypeKind::kClass); break;
    case kTemplate: m_records.type = {}; m_builder.BeginType(ETypeKind::kTemplate); break;
    case kMemberDeclaration: m_records.declaration = {}; break;
    case kFeature: m_records.featureId = 0; break;
    case kObject:
      m_records.object = {};
      m_records.object.prototype = Parent() == kPrototypes;
      break;
    case kClassData:
    case kTemplateData:
      BeginObject();
      m_builder.MarkData(DataKind(code));
      break;
    case kClassValue:
    case kTemplateValue: m_records.value = {}; break;
    case kClassItem:
    case kTemplateItem:
      m_records.value.items = true;
      m_records.itemParts = {};
      LocateValue(DataKind(code));
      break;
    case kList:
      m_records.list = {};
      m_records.list.instance = Parent() == kListInstances;
      break;
    case kText: m_records.textId = 0; break;
    case kReference: m_records.referenceKind = 0; break;
    case kBlob: m_records.blob = {}; break;
    case kNamespace: m_records.namespaceId = kNoId32; break;
    case kVariable: m_records.variable = {}; break;
    default: break;
  }
}

void CXmlImporter::End(uint8_t code) {
  switch (code) {
    case kHeader: m_bigEndian = m_records.byteOrder == kBigEndian; break;
    case kHexEncoding:
      if (Is(Content(), ContentLength(), "BigEndian")) m_records.byteOrder = kBigEndian;
      if (Is(Content(), ContentLength(), "LittleEndian")) m_records.byteOrder = kLittleEndian;
      break;
    case kClass: m_builder.EndType(ETypeKind::kClass, m_records.type.nameId, m_records.type.id); break;
    case kTemplate: m_builder.EndType(ETypeKind::kTemplate, m_records.type.nameId, m_records.type.id); break;
    case kMemberDeclaration:
      m_builder.AddMember(Parent() == kClass ? ETypeKind::kClass : ETypeKind::kTemplate, m_records.declaration.id,
                          m_records.declaration.typeCode, m_records.declaration.items);
      break;
    case kFeature: m_builder.AddFeature(m_records.featureId); break;
    case kObject:
      BeginObject();
      m_builder.EndObject();
      break;
    case kClassValue:
    case kTemplateValue:
      LocateValue(DataKind(code));
      if (m_records.value.items) break;
      if (m_records.value.parts.count != 0) {
        StoreReference(DataKind(code), m_records.value.parts);
      } else if (ContentLength() != 0) {
        StoreValue(DataKind(code), Content(), ContentLength());
      }
      break;
    case kClassItem:
    case kTemplateItem:
      if (m_records.itemParts.count != 0) {
        StoreReference(DataKind(code), m_records.itemParts);
      } else {
        StoreValue(DataKind(code), Content(), ContentLength());
      }
      break;
    case kPart: EndPart(); break;
    case kList:
      BeginList();
      m_builder.EndList();
      break;
    case kReference: EndReference(); break;
    case kText: m_builder.AddText(m_records.textId, Content(), static_cast<uint32_t>(ContentLength())); break;
    case kBlob:
      BeginBlob();
      m_builder.EndBlob();
      break;
    case kVariable: EndVariable(); break;
    default: break;
  }
}

// ---- Attributes ------------------------------------------------------------------------------

void CXmlImporter::OnAttribute(const char* name, size_t nameLength, char* value, size_t valueLength) {
  const uint8_t code = Top();
  switch (code) {
    case kClass:
    case kTemplate:
    case kMemberDeclaration:
    case kFeature:
    case kNamespace: AttributeOfType(code, name, nameLength, value, valueLength); break;
    case kObject: AttributeOfObject(name, nameLength, value, valueLength); break;
    case kClassValue:
    case kTemplateValue:
      if (Is(name, nameLength, "id")) m_records.value.id = Id32(value, valueLength);
      if (Is(name, nameLength, "type")) m_records.value.typeCode = MemberTypeCodeOf(value, valueLength);
      break;
    case kList:
      if (Is(name, nameLength, "id")) m_records.list.id = Id32(value, valueLength);
      if (Is(name, nameLength, "prototype")) m_records.list.prototype = Id32(value, valueLength);
      if (Is(name, nameLength, "items")) m_records.list.items = ParseSize(value, valueLength);
      break;
    case kReference:
      if (Is(name, nameLength, "type") &&
          !FindReferenceKind(kTypeReference, value, static_cast<uint32_t>(valueLength), m_records.referenceKind)) {
        m_records.referenceKind = static_cast<uint8_t>(ParseNumber(value, valueLength));
      }
      break;
    case kText:
      if (Is(name, nameLength, "id")) m_records.textId = Id32(value, valueLength);
      break;
    case kBlob:
      if (Is(name, nameLength, "id")) m_records.blob.id = Id32(value, valueLength);
      if (Is(name, nameLength, "size")) m_records.blob.size = ParseSize(value, valueLength);
      break;
    case kVariable: AttributeOfVariable(name, nameLength, value, valueLength); break;
    default: break;
  }
}

void CXmlImporter::AttributeOfType(uint8_t code, const char* name, size_t nameLength, const char* value,
                                   size_t valueLength) {
  if (Is(name, nameLength, "name")) {
    const uint32_t hash = m_builder.RecordName(value);
    if ((code == kClass || code == kTemplate) && m_records.type.nameId == 0) m_records.type.nameId = hash;
    return;
  }
  const bool id = Is(name, nameLength, "id");
  switch (code) {
    case kClass:
    case kTemplate:
      if (id) m_records.type.id = Id16(value, valueLength);
      // A name id given outright wins over a name.
      if (Is(name, nameLength, "nameId")) m_records.type.nameId = Id32(value, valueLength);
      break;
    case kMemberDeclaration:
      if (id) m_records.declaration.id = Id32(value, valueLength);
      if (Is(name, nameLength, "type")) m_records.declaration.typeCode = MemberTypeCodeOf(value, valueLength);
      if (Is(name, nameLength, "items")) {
        const uint64_t items = ParseSize(value, valueLength);
        m_records.declaration.items = items > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(items);
      }
      break;
    case kFeature:
      if (id) m_records.featureId = Id32(value, valueLength);
      break;
    default:
      if (id) m_records.namespaceId = Id32(value, valueLength);
      break;
  }
}

void CXmlImporter::AttributeOfObject(const char* name, size_t nameLength, const char* value, size_t valueLength) {
  auto& object = m_records.object;
  if (Is(name, nameLength, "id")) object.id = Id32(value, valueLength);
  if (Is(name, nameLength, "prototype")) object.prototypeId = Id32(value, valueLength);
  if (Is(name, nameLength, "class")) object.classId = Id16(value, valueLength);
  if (Is(name, nameLength, "template")) object.templateId = Id16(value, valueLength);
  if (Is(name, nameLength, "csize")) object.classSize = ParseSize(value, valueLength);
  if (Is(name, nameLength, "tsize")) object.templateSize = ParseSize(value, valueLength);
}

void CXmlImporter::AttributeOfVariable(const char* name, size_t nameLength, const char* value,
                                       size_t valueLength) {
  auto& variable = m_records.variable;
  const auto target = [&](EVariableStore store) {
    variable.target = true;
    variable.targetStore = store;
    variable.targetStoreId = static_cast<uint32_t>(ParseNumber(value, valueLength));
  };
  if (Is(name, nameLength, "id")) variable.id = static_cast<uint32_t>(ParseNumber(value, valueLength));
  if (Is(name, nameLength, "name")) m_builder.RecordName(value);
  if (Is(name, nameLength, "binding")) {
    variable.bound = true;
    variable.binding = static_cast<uint32_t>(ParseNumber(value, valueLength));
  }
  if (Is(name, nameLength, "type")) {
    for (uint8_t kind = 0; kind < Sprig::kSprigKindCount; ++kind) {
      if (std::strlen(Sprig::kSprigKindNames[kind]) == valueLength &&
          std::memcmp(Sprig::kSprigKindNames[kind], value, valueLength) == 0) {
        variable.kind = kind;
      }
    }
  }
  if (Is(name, nameLength, "prototype")) target(EVariableStore::kPrototype);
  if (Is(name, nameLength, "instance")) target(EVariableStore::kInstance);
  if (Is(name, nameLength, "namespace")) target(EVariableStore::kNamespace);
}

// ---- Character data --------------------------------------------------------------------------

size_t CXmlImporter::OnText(char* text, size_t length, EXmlText kind) {
  const uint8_t code = Top();
  if (code == kBlob) {
    BlobDigits(text, length);
    return length;
  }
  const bool leaf = code == kText || code == kVariable || code == kPart || code == kReference ||
                    code == kClassValue || code == kTemplateValue || code == kClassItem ||
                    code == kTemplateItem || (code >= kMajorVersion && code <= kHexEncoding);
  if (!leaf) return length;
  switch (kind) {
    case EXmlText::kText:
    case EXmlText::kCData: AppendContent(text, length, false); break;
    case EXmlText::kTextPiece:
    case EXmlText::kCDataPiece: AppendContent(text, length, true); break;
    case EXmlText::kTextLast:
    case EXmlText::kCDataLast:
      AppendContent(text, length, true);
      EndRawContent(kind == EXmlText::kCDataLast);
      break;
    default: break;
  }
  return length;
}

void CXmlImporter::AppendContent(const char* text, size_t length, bool raw) {
  if (raw && m_rawStart == SIZE_MAX) m_rawStart = m_content.length;
  m_content.Append(text, length);
}

// Joined raw pieces are trimmed and (character data) resolved once, as one text would be.
void CXmlImporter::EndRawContent(bool cdata) {
  if (m_rawStart == SIZE_MAX) return;
  char* begin = m_content.data + m_rawStart;
  size_t length = m_content.length - m_rawStart;
  const char* decoded = cdata ? CXmlReader::TrimBlanks(begin, length) : CXmlReader::DecodeText(begin, length);
  std::memmove(begin, decoded, length);
  begin[length] = '\0';
  m_content.length = m_rawStart + length;
  m_rawStart = SIZE_MAX;
}

void CXmlImporter::BlobDigits(const char* text, size_t length) {
  BeginBlob();
  uint8_t bytes[512];
  uint32_t count = 0;
  int carry = m_records.blob.carry;
  for (size_t i = 0; i < length; ++i) {
    const int digit = HexDigit(text[i]);
    if (digit < 0) continue;
    if (carry < 0) {
      carry = digit;
      continue;
    }
    bytes[count++] = static_cast<uint8_t>(carry << 4 | digit);
    carry = -1;
    if (count == sizeof bytes) {
      m_builder.WriteBlob(bytes, count);
      count = 0;
    }
  }
  m_builder.WriteBlob(bytes, count);
  m_records.blob.carry = carry;
}

// ---- Objects, lists, blobs, variables --------------------------------------------------------

void CXmlImporter::BeginObject() {
  auto& object = m_records.object;
  if (object.begun) return;
  object.begun = true;
  m_builder.BeginObject(object.prototype, object.id, object.prototypeId, object.classId, object.templateId, object.classSize,
                        object.templateSize);
}

void CXmlImporter::LocateValue(EDataKind kind) {
  auto& value = m_records.value;
  if (value.located) return;
  value.located = true;
  value.slot = m_builder.LocateMember(kind, value.id, value.typeCode);
}

void CXmlImporter::StoreValue(EDataKind kind, const char* text, size_t length) {
  uint8_t element[8] = {};
  const auto put = [&](auto number) { std::memcpy(element, &number, sizeof number); };
  const uint64_t number = ParseNumber(text, length);
  switch (m_records.value.slot.typeCode) {  // ORDER MEMBER_TYPE
    case 0: put(static_cast<int8_t>(number)); break;
    case 1: put(static_cast<uint8_t>(number)); break;
    case 2: put(static_cast<int16_t>(number)); break;
    case 3: put(static_cast<uint16_t>(number)); break;
    case 4: put(static_cast<int32_t>(number)); break;
    case 5: put(static_cast<uint32_t>(number)); break;
    case 6:
    case 7: put(number); break;
    case 8: put(ParseFloat(text, length)); break;
    case 9: put(ParseDoubleExact(text, length)); break;
    case kTypeReference:
    case kTypeListReference:
    case kTypeScriptReference: put(static_cast<uint32_t>(number)); break;
    default: put(Id32(text, length)); break;  // the six id types
  }
  m_builder.StoreItem(kind, m_records.value.slot, element);
}

void CXmlImporter::StoreReference(EDataKind kind, const SRecords::SParts& parts) {
  uint8_t element[8] = {};
  std::memcpy(element, &parts.id, 4);
  element[4] = parts.kind;
  m_builder.StoreItem(kind, m_records.value.slot, element);
}

// The first part of a reference value is its id, the second its kind.
void CXmlImporter::EndPart() {
  const uint8_t parent = Parent();
  SRecords::SParts& parts =
      parent == kClassItem || parent == kTemplateItem ? m_records.itemParts : m_records.value.parts;
  if (parent == kClassValue || parent == kTemplateValue) LocateValue(DataKind(parent));
  if (parts.count == 0) {
    parts.id = Id32(Content(), ContentLength());
  } else if (parts.count == 1) {
    const uint32_t type = m_records.value.slot.typeCode;
    const uint32_t kindType = type >= kTypeReference && type <= kTypeScriptReference ? type : kTypeReference;
    if (!FindReferenceKind(kindType, Content(), static_cast<uint32_t>(ContentLength()), parts.kind)) {
      parts.kind = static_cast<uint8_t>(ParseNumber(Content(), ContentLength()));
    }
  }
  ++parts.count;
}

void CXmlImporter::BeginList() {
  auto& list = m_records.list;
  if (list.begun) return;
  list.begun = true;
  const uint64_t items = Bound(list.items, kMinReferenceBytes);
  m_builder.BeginList(list.instance, list.id, list.prototype, static_cast<uint32_t>(items > UINT32_MAX ? UINT32_MAX : items));
}

void CXmlImporter::EndReference() {
  BeginList();
  TlxReference entry{};
  entry.id = Id32(Content(), ContentLength());
  entry.kind = m_records.referenceKind;
  m_builder.AddListEntry(entry);
}

void CXmlImporter::BeginBlob() {
  auto& blob = m_records.blob;
  if (blob.begun) return;
  blob.begun = true;
  const uint64_t size = Bound(blob.size, 2);
  m_builder.BeginBlob(blob.id, static_cast<uint32_t>(size > UINT32_MAX ? UINT32_MAX : size));
}

void CXmlImporter::EndVariable() {
  const auto& record = m_records.variable;
  SVariableValue value;
  value.kind = record.kind;
  switch (record.kind) {
    case Sprig::kSprigBoolean: value.flag = Is(Content(), ContentLength(), "true"); break;
    case Sprig::kSprigInteger: value.integer = static_cast<int32_t>(ParseNumber(Content(), ContentLength())); break;
    case Sprig::kSprigFloat: value.number = ParseFloat(Content(), ContentLength()); break;
    case Sprig::kSprigString: value.text = Content(); break;
    case Sprig::kSprigReference:
      if (!record.target) value.kind = Sprig::kSprigInvalid;
      value.targetStore = record.targetStore;
      value.targetStoreId = record.targetStoreId;
      value.targetId = static_cast<uint32_t>(ParseNumber(Content(), ContentLength()));
      break;
    case Sprig::kSprigInvalid: break;
    default: m_builder.CountSkipped(); return;
  }
  const uint8_t parent = Parent();
  if ((parent == kPrototypeBound || parent == kInstanceBound) && !record.bound) {
    m_builder.CountSkipped();
    return;
  }
  // ORDER VARIABLE_STORE
  const EVariableStore store = parent == kGlobals      ? EVariableStore::kGlobal
                               : parent == kNamespace  ? EVariableStore::kNamespace
                               : parent == kPrototypeBound ? EVariableStore::kPrototype
                                                           : EVariableStore::kInstance;
  const uint32_t storeId = store == EVariableStore::kNamespace ? m_records.namespaceId : record.binding;
  m_builder.SetVariable(store, storeId, record.id, value);
}

// ---- The read loop ---------------------------------------------------------------------------

// A buffer of the library allocator, one byte longer than its usable size (the reader
// terminates tokens one past the bytes it is given).
class CReadBuffer {
 public:
  explicit CReadBuffer(size_t usable) { Resize(usable); }
  ~CReadBuffer() { Bravik::Memory::Free(m_bytes); }
  CReadBuffer(const CReadBuffer&) = delete;
  CReadBuffer& operator=(const CReadBuffer&) = delete;

  void Resize(size_t usable) {
    m_bytes = static_cast<char*>(Bravik::Memory::Reallocate(m_bytes, usable + 1, Bravik::Memory::kObjectPool));
    m_usable = usable;
  }
  char* Data() const { return m_bytes; }
  size_t Usable() const { return m_usable; }

 private:
  char* m_bytes = nullptr;
  size_t m_usable = 0;
};

uint32_t LineOf(IByteSource& source, uint64_t offset) {
  if (!source.Rewind()) return 0;
  uint32_t line = 1;
  char block[4096];
  uint64_t seen = 0;
  while (seen < offset) {
    const size_t want = offset - seen < sizeof block ? static_cast<size_t>(offset - seen) : sizeof block;
    const size_t got = source.Read(block, want);
    if (got == 0) break;
    for (size_t i = 0; i < got; ++i) line += block[i] == '\n' ? 1 : 0;
    seen += got;
  }
  return line;
}

// Reads the source through the reader until its end, or until the reader stops or the file ends
// inside a construct (the outcome then says where).
void Feed(IByteSource& source, CXmlReader& reader, CXmlImporter& importer, CReadBuffer& buffer,
          SImportOutcome& outcome, CInterchangeProgress* progress) {
  size_t held = 0;
  uint64_t base = 0;  // file offset of the buffer's first byte
  bool end = false;
  for (;;) {
    if (!end && held < buffer.Usable()) {
      const size_t got = source.Read(buffer.Data() + held, buffer.Usable() - held);
      end = got == 0;
      held += got;
      outcome.bytes += got;
      if (progress != nullptr) progress->SetCounter(static_cast<float>(outcome.bytes));
    }
    if (held == 0) return;
    importer.SetPosition(base);
    const size_t consumed = reader.Parse(buffer.Data(), held);
    if (reader.IsStopped() || (consumed == 0 && end)) {
      outcome.malformed = true;
      outcome.offset = base + (reader.IsStopped() ? reader.GetStopOffset() : 0);
      outcome.expected = reader.IsStopped() ? "a quoted attribute value before \">\"" : "the end of the markup begun here";
      return;
    }
    if (consumed == 0) {
      // The construct under way does not fit: grow until it does.
      if (held == buffer.Usable()) buffer.Resize(buffer.Usable() * 2 + 1);
      continue;
    }
    std::memmove(buffer.Data(), buffer.Data() + consumed, held - consumed);
    held -= consumed;
    base += consumed;
  }
}

}  // namespace

SImportOutcome ImportXmlInterchange(Repository& repository, IByteSource& source, uint32_t readBufferSize,
                                    CInterchangeProgress* progress) {
  SImportOutcome outcome;
  const uint64_t fileSize = source.GetSize();
  if (progress != nullptr) progress->Begin(static_cast<float>(fileSize));
  CXmlImporter importer(repository, fileSize);
  CXmlReader reader(importer);
  CReadBuffer buffer(readBufferSize != 0 ? readBufferSize : kDefaultBufferSize);
  Feed(source, reader, importer, buffer, outcome, progress);
  if (!outcome.malformed) {
    reader.Finish();
    if (!importer.SawRoot() || importer.RootOpen()) {
      outcome.malformed = true;
      outcome.offset = outcome.bytes;
      outcome.expected = importer.SawRoot() ? "\"</talvex>\"" : "the root element \"talvex\"";
    }
  }
  outcome.skipped = importer.GetSkipped();
  if (outcome.malformed) outcome.line = LineOf(source, outcome.offset);
  if (progress != nullptr) progress->Finish();
  return outcome;
}

}  // namespace Quorin
