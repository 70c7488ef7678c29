#include "interchange/XmlWriter.h"

#include <array>
#include <bit>
#include <cstring>

#include "foundation/container/WeakTypeStorage.h"
#include "foundation/string/NumberText.h"
#include "foundation/string/String.h"
#include "interchange/ExportWalk.h"
#include "interchange/InterchangeNames.h"
#include "repository/Objects.h"
#include "repository/ReferenceLists.h"
#include "repository/ScriptBinding.h"
#include "repository/Texts.h"
#include "repository/TypeRegistry.h"
#include "sprig/Value.h"

namespace Quorin {

namespace {

// Room reserved for one line: its fixed text and ids, plus the longest number text.
constexpr size_t kLineRoom = 512 + Bravik::kNumberAsciiCapacity;
// Blob digits go out in pieces of this many characters.
constexpr size_t kBlobPiece = 1024;
constexpr uint64_t kInvalidContent = 4294967295u;

constexpr char kHexDigits[] = "0123456789ABCDEF";

constexpr std::array<char, 200> MakeDigitPairs() {
  std::array<char, 200> pairs{};
  for (int i = 0; i < 100; ++i) {
    pairs[2 * i] = static_cast<char>('0' + i / 10);
    pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}
constexpr std::array<char, 200> kDigitPairs = MakeDigitPairs();

// Each byte as its two upper-case hexadecimal digits.
constexpr std::array<char, 512> MakeHexPairs() {
  std::array<char, 512> pairs{};
  for (int i = 0; i < 256; ++i) {
    pairs[2 * i] = kHexDigits[i >> 4];
    pairs[2 * i + 1] = kHexDigits[i & 15];
  }
  return pairs;
}
constexpr std::array<char, 512> kHexPairs = MakeHexPairs();

// ---- Pieces of a line, written into reserved room ---------------------------------------------

template <size_t N>
char* Put(char* out, const char (&literal)[N]) {
  std::memcpy(out, literal, N - 1);
  return out + N - 1;
}

char* Put(char* out, const char* text) {
  const size_t length = std::strlen(text);
  std::memcpy(out, text, length);
  return out + length;
}

// "0x" and upper-case digits without leading zeros, as the number text of the foundation.
char* PutHex(char* out, uint64_t value) {
  const int digits = value == 0 ? 1 : (67 - std::countl_zero(value)) / 4;
  out[0] = '0';
  out[1] = 'x';
  for (int i = digits + 1; i >= 2; --i) {
    out[i] = kHexDigits[value & 15];
    value >>= 4;
  }
  return out + digits + 2;
}

char* PutUnsigned(char* out, uint64_t value) {
  char digits[20];
  char* first = digits + sizeof(digits);
  while (value >= 100) {
    first -= 2;
    std::memcpy(first, &kDigitPairs[(value % 100) * 2], 2);
    value /= 100;
  }
  if (value >= 10) {
    first -= 2;
    std::memcpy(first, &kDigitPairs[value * 2], 2);
  } else {
    *--first = static_cast<char>('0' + value);
  }
  const size_t length = static_cast<size_t>(digits + sizeof(digits) - first);
  std::memcpy(out, first, length);
  return out + length;
}

char* PutSigned(char* out, int64_t value) {
  if (value >= 0) return PutUnsigned(out, static_cast<uint64_t>(value));
  *out++ = '-';
  return PutUnsigned(out, 0 - static_cast<uint64_t>(value));
}

// ---- Escaping ------------------------------------------------------------------------------------

struct SEscape {
  const char* text;
  uint8_t length;
};

// ORDER ESCAPE: index 0 means the byte stays as it is.
constexpr SEscape kEscapes[] = {{"", 0},      {"&amp;", 5},  {"&lt;", 4},  {"&gt;", 4},  {"&#10;", 5},
                                {"&#13;", 5}, {"&quot;", 6}, {"&apos;", 6}, {"&#32;", 5}, {"&#9;", 4}};
constexpr uint8_t kEscapeSpace = 8;
constexpr uint8_t kEscapeTab = 9;

// Escape index per byte: character data replaces & < > LF CR; attribute values also the quotes.
struct SEscapeTables {
  std::array<uint8_t, 256> text{};
  std::array<uint8_t, 256> attribute{};
};
constexpr SEscapeTables MakeEscapeTables() {
  SEscapeTables tables;
  const char text[] = {'&', '<', '>', '\n', '\r'};
  for (uint8_t i = 0; i < 5; ++i) {
    tables.text[static_cast<uint8_t>(text[i])] = static_cast<uint8_t>(i + 1);
    tables.attribute[static_cast<uint8_t>(text[i])] = static_cast<uint8_t>(i + 1);
  }
  tables.attribute['"'] = 6;
  tables.attribute['\''] = 7;
  return tables;
}
constexpr SEscapeTables kEscapeTables = MakeEscapeTables();

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// An element of packed member data; bytes past the attached block read as zero.
void LoadElement(const uint8_t* data, uint32_t size, uint64_t offset, uint32_t width, uint8_t* out) {
  std::memset(out, 0, 8);
  if (offset >= size) return;
  const uint64_t available = size - offset;
  std::memcpy(out, data + offset, available < width ? available : width);
}

template <typename T>
T Read(const uint8_t* element) {
  T value;
  std::memcpy(&value, element, sizeof(T));
  return value;
}

// A text in UTF-8: the text's own bytes, or a converted copy freed with this.
class CUtf8Text {
 public:
  explicit CUtf8Text(const CText_Internal& text) {
    const void* bytes = text.GetBytes();
    if (bytes == nullptr) return;
    if (text.GetEncoding() == Bravik::kUtf8) {
      m_bytes = static_cast<const char*>(bytes);
      const void* end = std::memchr(m_bytes, 0, text.GetCapacity());
      m_length = end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - m_bytes) : text.GetCapacity();
      return;
    }
    uint64_t length = 0;
    m_owned = static_cast<const char*>(Bravik::ConvertToNew(Bravik::kUtf8, text.text, length));
    if (m_owned != nullptr) {
      m_bytes = m_owned;
      m_length = static_cast<size_t>(length);
    }
  }
  ~CUtf8Text() { Bravik::Memory::Free(const_cast<char*>(m_owned)); }
  CUtf8Text(const CUtf8Text&) = delete;
  CUtf8Text& operator=(const CUtf8Text&) = delete;

  const char* Bytes() const { return m_bytes; }
  size_t Length() const { return m_length; }

 private:
  const char* m_bytes = "";
  const char* m_owned = nullptr;
  size_t m_length = 0;
};

class CXmlExporter {
 public:
  CXmlExporter(Repository& repository, const TlxExportConfig& config, IByteSink& sink,
               CInterchangeProgress* progress)
      : m_walk(repository, config, progress),
        m_repository(repository),
        m_index(repository.Index()),
        m_out(sink),
        m_bigEndian(config.byteOrder == kBigEndian),
        m_bundle(config.bundle) {}

  void Run();

 private:
  uint64_t Id32(uint32_t id) const { return m_bigEndian ? Swap32(id) : id; }
  uint64_t Id16(uint16_t id) const { return m_bigEndian ? Swap16(id) : id; }
  bool Has(uint32_t section) const { return m_walk.Has(section); }
  void Advance() { m_walk.Advance(); }
  template <typename TItem, typename K, typename F>
  void ForEachItem(const Bravik::TMapTree<K>& tree, F&& visit) {
    m_walk.ForEachItem<TItem>(tree, visit);
  }

  void AppendEscaped(const char* text, size_t length, const std::array<uint8_t, 256>& table);
  char* PutNameAttribute(char* out, uint32_t hash, bool nameIdOtherwise);

  void WriteHeader();
  void WriteTypes(ETypeKind kind);
  void WriteMemberDeclarations(const CTypeInfo_Internal& type);
  void WriteObject(const CObject_Internal& object);
  void WriteData(bool templateData, const CTypeInfo_Internal& type, const uint8_t* data, uint32_t size);
  char* PutElement(char* out, uint32_t code, const uint8_t* element);
  void WriteList(const CReferenceList_Internal& list);
  void WriteText(const CText_Internal& text);
  void WriteBlob(const CBlob_Internal& blob);
  void WriteVariables();
  void WriteBoundVariables(bool prototypes);
  void WriteVariable(uint32_t id, const TlxSprigValue& value, const char* indent, const uint64_t* binding);
  char* PutValue(char* out, const TlxSprigValue& value);
  void WriteString(const char* text);

  CExportWalk m_walk;
  Repository& m_repository;
  RepositoryIndex& m_index;
  CBufferedOutput m_out;
  bool m_bigEndian;
  uint16_t m_bundle;
};

void CXmlExporter::Run() {
  m_walk.BeginProgress();
  WriteHeader();
  if (Has(kSectionClasses)) WriteTypes(ETypeKind::kClass);
  if (Has(kSectionTemplates)) WriteTypes(ETypeKind::kTemplate);
  for (const bool prototypes : {true, false}) {
    if (!Has(prototypes ? kSectionPrototypes : kSectionInstances)) continue;
    m_out.AppendString(prototypes ? "\t<prototypes>\n" : "\t<instances>\n");
    ForEachItem<CObject_Internal>(prototypes ? m_index.prototypes : m_index.instances,
                                  [&](const CObject_Internal& object) { WriteObject(object); });
    m_out.AppendString(prototypes ? "\t</prototypes>\n\t<listprototypes>\n" : "\t</instances>\n\t<listinstances>\n");
    ForEachItem<CReferenceList_Internal>(prototypes ? m_index.listPrototypes : m_index.listInstances,
                                         [&](const CReferenceList_Internal& list) { WriteList(list); });
    m_out.AppendString(prototypes ? "\t</listprototypes>\n" : "\t</listinstances>\n");
  }
  if (Has(kSectionTexts)) {
    m_out.Append("\t<texts>\n");
    ForEachItem<CText_Internal>(m_index.texts, [&](const CText_Internal& text) { WriteText(text); });
    m_out.Append("\t</texts>\n");
  }
  if (Has(kSectionBlobs)) {
    m_out.Append("\t<blobs>\n");
    ForEachItem<CBlob_Internal>(m_index.blobs, [&](const CBlob_Internal& blob) { WriteBlob(blob); });
    m_out.Append("\t</blobs>\n");
  }
  if (Has(kSectionVariables | kSectionBoundVariables)) WriteVariables();
  m_out.Append("</talvex>");
  m_out.Flush();
  m_walk.FinishProgress();
}

void CXmlExporter::WriteHeader() {
  char* out = m_out.Reserve(kLineRoom);
  out = Put(out,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<!-- All node names and attributes are case sensitive -->\n"
            "<talvex>\n\t<header>\n\t\t<majorversion>");
  out = PutUnsigned(out, kInterchangeMajorVersion);
  out = Put(out, "</majorversion>\n\t\t<minorversion>");
  out = PutUnsigned(out, kInterchangeMinorVersion);
  out = Put(out, "</minorversion>\n\t\t<bundle>");
  out = PutUnsigned(out, m_bundle);
  out = Put(out, "</bundle>\n\t\t<hexencoding>");
  out = Put(out, kByteOrderNames[m_bigEndian ? kBigEndian : kLittleEndian]);
  out = Put(out, "</hexencoding>\n\t</header>\n");
  m_out.Commit(out);
}

// Text through the escape table, in runs; a blank first or last character is written as a
// character reference, so that trimming on import keeps it.
void CXmlExporter::AppendEscaped(const char* text, size_t length, const std::array<uint8_t, 256>& table) {
  size_t run = 0;
  for (size_t i = 0; i < length; ++i) {
    uint8_t escape = table[static_cast<uint8_t>(text[i])];
    if (escape == 0 && (i == 0 || i + 1 == length) && IsBlank(text[i])) {
      escape = text[i] == ' ' ? kEscapeSpace : kEscapeTab;
    }
    if (escape == 0) continue;
    m_out.Append(text + run, i - run);
    m_out.Append(kEscapes[escape].text, kEscapes[escape].length);
    run = i + 1;
  }
  m_out.Append(text + run, length - run);
}

// ` name="..."` when the name of this hash is recorded, else ` nameId="0x..."` (types) or
// nothing. Gives where the line continues, in fresh room.
char* CXmlExporter::PutNameAttribute(char* out, uint32_t hash, bool nameIdOtherwise) {
  const char* name = m_repository.FindRecordedName(hash);
  if (name == nullptr) {
    if (!nameIdOtherwise) return out;
    out = Put(out, " nameId=\"");
    out = PutHex(out, Id32(hash));
    return Put(out, "\"");
  }
  out = Put(out, " name=\"");
  m_out.Commit(out);
  AppendEscaped(name, std::strlen(name), kEscapeTables.attribute);
  out = m_out.Reserve(kLineRoom);
  return Put(out, "\"");
}

// ---- Types -----------------------------------------------------------------------------------

void CXmlExporter::WriteTypes(ETypeKind kind) {
  const bool isClass = kind == ETypeKind::kClass;
  m_out.AppendString(isClass ? "\t<classes>\n" : "\t<templates>\n");
  ForEachItem<CTypeInfo_Internal>(isClass ? m_index.classes : m_index.templates, [&](const CTypeInfo_Internal& type) {
    char* out = m_out.Reserve(kLineRoom);
    out = Put(out, isClass ? "\t\t<class id=\"" : "\t\t<template id=\"");
    out = PutHex(out, Id16(type.GetId()));
    out = Put(out, "\"");
    out = PutNameAttribute(out, type.nameHash, true);
    out = Put(out, ">\n\t\t\t<!-- This block is order sensitive -->\n");
    m_out.Commit(out);
    for (uint32_t i = 0; i < type.featureCount; ++i) {
      out = m_out.Reserve(kLineRoom);
      out = Put(out, "\t\t\t<feature id=\"");
      out = PutHex(out, Id32(type.features[i]));
      out = Put(out, "\"");
      out = PutNameAttribute(out, type.features[i], false);
      m_out.Commit(Put(out, "/>\n"));
    }
    WriteMemberDeclarations(type);
    m_out.AppendString(isClass ? "\t\t</class>\n" : "\t\t</template>\n");
    Advance();
  });
  m_out.AppendString(isClass ? "\t</classes>\n" : "\t</templates>\n");
}

void CXmlExporter::WriteMemberDeclarations(const CTypeInfo_Internal& type) {
  for (uint32_t i = 0; i < type.memberCount; ++i) {
    const TlxMember& member = type.members[i];
    char* out = m_out.Reserve(kLineRoom);
    out = Put(out, "\t\t\t<member id=\"");
    out = PutHex(out, Id32(member.nameHash));
    out = Put(out, "\"");
    out = PutNameAttribute(out, member.nameHash, false);
    out = Put(out, " type=\"");
    out = Put(out, MemberTypeName(TypeCodeOf(member.typeWord)));
    out = Put(out, "\" items=\"");
    out = PutUnsigned(out, ElementCountOf(member.typeWord));
    m_out.Commit(Put(out, "\"/>\n"));
  }
}

// ---- Objects ---------------------------------------------------------------------------------

void CXmlExporter::WriteObject(const CObject_Internal& object) {
  const CTypeInfo_Internal* classType = FindType(m_repository, ETypeKind::kClass, object.classId);
  const CTypeInfo_Internal* templateType = FindType(m_repository, ETypeKind::kTemplate, object.templateId);
  char* out = m_out.Reserve(kLineRoom);
  out = Put(out, "\t\t<object id=\"");
  out = PutHex(out, Id32(object.GetId()));
  if (!object.IsPrototype()) {
    out = Put(out, "\" prototype=\"");
    out = PutHex(out, Id32(object.prototypeId));
  }
  out = Put(out, "\" class=\"");
  out = PutHex(out, Id16(object.classId));
  out = Put(out, "\" template=\"");
  out = PutHex(out, Id16(object.templateId));
  out = Put(out, "\" csize=\"");
  out = PutUnsigned(out, classType != nullptr ? classType->sizeByte : 0);
  out = Put(out, "\" tsize=\"");
  out = PutUnsigned(out, templateType != nullptr ? templateType->sizeByte : 0);
  m_out.Commit(Put(out, "\">\n"));
  if (classType != nullptr && object.classData != nullptr) {
    WriteData(false, *classType, static_cast<const uint8_t*>(object.classData), object.DataSize(EDataKind::kClass));
  }
  if (templateType != nullptr && object.templateData != nullptr) {
    WriteData(true, *templateType, static_cast<const uint8_t*>(object.templateData),
              object.DataSize(EDataKind::kTemplate));
  }
  m_out.Append("\t\t</object>\n");
  Advance();
}

// One value member per member that holds data, walked over the type's layout. Members without
// data (no items, or an unused type code) take no room and are not written.
void CXmlExporter::WriteData(bool templateData, const CTypeInfo_Internal& type, const uint8_t* data, uint32_t size) {
  m_out.AppendString(templateData ? "\t\t\t<tdata>\n" : "\t\t\t<cdata>\n");
  uint64_t offset = 0;
  for (uint32_t i = 0; i < type.memberCount; ++i) {
    const TlxMember& member = type.members[i];
    const uint32_t code = TypeCodeOf(member.typeWord);
    const uint32_t count = ElementCountOf(member.typeWord);
    const uint32_t width = kMemberElementSizes[code];
    if (width == 0 || count == 0) continue;
    char* out = m_out.Reserve(kLineRoom);
    out = Put(out, "\t\t\t\t<member id=\"");
    out = PutHex(out, Id32(member.nameHash));
    out = Put(out, "\" type=\"");
    out = Put(out, MemberTypeName(code));
    out = Put(out, "\">");
    uint8_t element[8];
    if (count == 1) {
      LoadElement(data, size, offset, width, element);
      out = PutElement(out, code, element);
    } else {
      m_out.Commit(Put(out, "\n"));
      for (uint32_t item = 0; item < count; ++item) {
        LoadElement(data, size, offset + uint64_t{item} * width, width, element);
        out = Put(m_out.Reserve(kLineRoom), "\t\t\t\t\t<a>");
        out = PutElement(out, code, element);
        m_out.Commit(Put(out, "</a>\n"));
      }
      out = Put(m_out.Reserve(kLineRoom), "\t\t\t\t");
    }
    m_out.Commit(Put(out, "</member>\n"));
    offset += uint64_t{width} * count;
  }
  m_out.AppendString(templateData ? "\t\t\t</tdata>\n" : "\t\t\t</cdata>\n");
}

// The content of one element of a member. ORDER MEMBER_TYPE
char* CXmlExporter::PutElement(char* out, uint32_t code, const uint8_t* element) {
  switch (code) {
    case 0: return PutSigned(out, Read<int8_t>(element));
    case 1: return PutUnsigned(out, Read<uint8_t>(element));
    case 2: return PutSigned(out, Read<int16_t>(element));
    case 3: return PutUnsigned(out, Read<uint16_t>(element));
    case 4: return PutSigned(out, Read<int32_t>(element));
    case 5: return PutUnsigned(out, Read<uint32_t>(element));
    case 6: return PutSigned(out, Read<int64_t>(element));
    case 7: return PutUnsigned(out, Read<uint64_t>(element));
    case 8: return out + Bravik::FloatToAscii(Read<float>(element), out);
    case 9: return out + Bravik::DoubleToAscii(Read<double>(element), out);
    case kTypeReference:
    case kTypeListReference:
    case kTypeScriptReference: {
      out = Put(out, "<p type=\"UnsignedDWord\">");
      out = PutHex(out, Id32(Read<uint32_t>(element)));
      out = Put(out, "</p><p type=\"");
      out = Put(out, MemberTypeName(code));
      out = Put(out, "\">");
      const char* kind = ReferenceKindName(code, element[4]);
      out = kind != nullptr ? Put(out, kind) : PutUnsigned(out, element[4]);
      return Put(out, "</p>");
    }
    default: return PutHex(out, Id32(Read<uint32_t>(element)));  // the six id types
  }
}

// ---- Lists, texts, blobs ---------------------------------------------------------------------

void CXmlExporter::WriteList(const CReferenceList_Internal& list) {
  char* out = m_out.Reserve(kLineRoom);
  out = Put(out, "\t\t<list id=\"");
  out = PutHex(out, Id32(list.GetId()));
  out = Put(out, "\" prototype=\"");
  out = PutHex(out, Id32(list.prototypeListId));
  out = Put(out, "\" items=\"");
  out = PutUnsigned(out, list.count);
  m_out.Commit(Put(out, "\">\n"));
  for (uint32_t i = 0; i < list.count; ++i) {
    TlxReference entry;
    std::memcpy(&entry, reinterpret_cast<const uint8_t*>(list.entries) + i * sizeof(TlxReference), sizeof entry);
    out = Put(m_out.Reserve(kLineRoom), "\t\t\t<reference type=\"");
    const char* kind = ReferenceKindName(kTypeReference, entry.kind);
    out = kind != nullptr ? Put(out, kind) : PutUnsigned(out, entry.kind);
    out = Put(out, "\">");
    out = PutHex(out, Id32(entry.id));
    m_out.Commit(Put(out, "</reference>\n"));
  }
  m_out.Append("\t\t</list>\n");
  Advance();
}

void CXmlExporter::WriteText(const CText_Internal& text) {
  const CUtf8Text utf8(text);
  char* out = m_out.Reserve(kLineRoom);
  out = Put(out, "\t\t<text id=\"");
  out = PutHex(out, Id32(text.GetId()));
  out = Put(out, "\" size=\"");
  out = PutUnsigned(out, uint64_t{utf8.Length()} + 1);
  m_out.Commit(Put(out, "\">"));
  AppendEscaped(utf8.Bytes(), utf8.Length(), kEscapeTables.text);
  m_out.Append("</text>\n");
  Advance();
}

// Bytes not yet written to an unfilled blob are undefined; they are written as 00.
void CXmlExporter::WriteBlob(const CBlob_Internal& blob) {
  char* out = m_out.Reserve(kLineRoom);
  out = Put(out, "\t\t<blob id=\"");
  out = PutHex(out, Id32(blob.GetId()));
  out = Put(out, "\" size=\"");
  out = PutUnsigned(out, blob.size);
  m_out.Commit(Put(out, "\"><![CDATA["));
  const uint32_t written = blob.size - blob.GetRemaining();
  for (uint32_t done = 0; done < blob.size;) {
    const uint32_t piece = blob.size - done < kBlobPiece / 2 ? blob.size - done : kBlobPiece / 2;
    out = m_out.Reserve(kBlobPiece);
    for (uint32_t i = done; i < done + piece; ++i) {
      std::memcpy(out, &kHexPairs[(i < written ? blob.data[i] : 0) * 2u], 2);
      out += 2;
    }
    m_out.Commit(out);
    done += piece;
  }
  m_out.Append("]]></blob>\n");
  Advance();
}

// ---- Variables -------------------------------------------------------------------------------

void CXmlExporter::WriteVariables() {
  m_out.Append("\t<variables>\n");
  if (Has(kSectionVariables)) {
    m_out.Append("\t\t<globals>\n");
    WalkGlobalVariables(m_repository, [&](uint32_t id, TlxSprigValue& value) {
      WriteVariable(id, value, "\t\t\t", nullptr);
      return true;
    });
    m_out.Append("\t\t</globals>\n");
    WalkNamespaces(m_repository, [&](uint32_t hash, Sprig::CNamespace& space) {
      char* out = Put(m_out.Reserve(kLineRoom), "\t\t<namespace id=\"");
      out = PutHex(out, Id32(hash));
      out = Put(out, "\"");
      out = PutNameAttribute(out, hash, false);
      m_out.Commit(Put(out, ">\n"));
      WalkStoreVariables(space.variables, [&](uint32_t id, TlxSprigValue& value) {
        WriteVariable(id, value, "\t\t\t", nullptr);
        return true;
      });
      m_out.Append("\t\t</namespace>\n");
      return true;
    });
  }
  if (Has(kSectionBoundVariables)) {
    WriteBoundVariables(true);
    WriteBoundVariables(false);
  }
  m_out.Append("\t</variables>\n");
}

// The variables bound to prototypes (or instances) of the listed regions; a store whose object
// no longer exists counts as written and is skipped.
void CXmlExporter::WriteBoundVariables(bool prototypes) {
  m_out.AppendString(prototypes ? "\t\t<prototypebound>\n" : "\t\t<instancebound>\n");
  m_walk.ForEachBoundVariable(prototypes, [&](uint32_t id, TlxSprigValue& value, uint64_t binding) {
    WriteVariable(id, value, "\t\t\t", &binding);
  });
  m_out.AppendString(prototypes ? "\t\t</prototypebound>\n" : "\t\t</instancebound>\n");
}

void CXmlExporter::WriteVariable(uint32_t id, const TlxSprigValue& value, const char* indent,
                                 const uint64_t* binding) {
  char* out = Put(m_out.Reserve(kLineRoom), indent);
  out = Put(out, "<variable id=\"");
  out = PutHex(out, id);
  out = Put(out, "\"");
  out = PutNameAttribute(out, id, false);
  if (binding != nullptr) {
    out = Put(out, " binding=\"");
    out = PutHex(out, *binding);
    out = Put(out, "\"");
  }
  if (value.kind == Sprig::kSprigString) {
    m_out.Commit(Put(out, " type=\"String\">"));
    WriteString(Sprig::TextOf(value));
    out = m_out.Reserve(kLineRoom);
  } else {
    out = PutValue(out, value);
  }
  m_out.Commit(Put(out, "</variable>\n"));
  Advance();
}

// ` type="..." [target]>content` of a value that is not a String.
char* CXmlExporter::PutValue(char* out, const TlxSprigValue& value) {
  switch (value.kind) {
    case Sprig::kSprigBoolean: return Put(out, Sprig::AsBoolean(value) ? " type=\"Boolean\">true" : " type=\"Boolean\">false");
    case Sprig::kSprigInteger: return PutSigned(Put(out, " type=\"Integer\">"), Sprig::IntegerOf(value));
    case Sprig::kSprigFloat: {
      out = Put(out, " type=\"Float\">");
      return out + Bravik::FloatToAscii(Sprig::FloatOf(value), out);
    }
    case Sprig::kSprigReference: {
      SReferenceTarget target;
      if (!FindReferenceTarget(m_repository, value, target)) break;
      out = Put(out, target.storeKind == Bravik::kStoragePrototype  ? " type=\"Reference\" prototype=\""
                     : target.storeKind == Bravik::kStorageInstance ? " type=\"Reference\" instance=\""
                                                                    : " type=\"Reference\" namespace=\"");
      out = PutHex(out, target.storeId);
      out = Put(out, "\">");
      return PutHex(out, target.variableId);
    }
    default: break;
  }
  return PutUnsigned(Put(out, " type=\"Invalid\">"), kInvalidContent);
}

// A String as one CDATA section, unless CDATA cannot carry it back: text holding "]]>" or
// ending in "]" (the reader would not see the section end), or with a blank at either edge
// (trimmed on import), is written as escaped character data instead.
void CXmlExporter::WriteString(const char* text) {
  const size_t length = std::strlen(text);
  const bool plain = length == 0 || (!IsBlank(text[0]) && !IsBlank(text[length - 1]) && text[length - 1] != ']' &&
                                     std::strstr(text, "]]>") == nullptr);
  if (!plain) {
    AppendEscaped(text, length, kEscapeTables.text);
    return;
  }
  m_out.Append("<![CDATA[");
  m_out.Append(text, length);
  m_out.Append("]]>");
}

}  // namespace

void WriteXmlInterchange(Repository& repository, const TlxExportConfig& config, IByteSink& sink,
                         CInterchangeProgress* progress) {
  CXmlExporter exporter(repository, config, sink, progress);
  exporter.Run();
}

}  // namespace Quorin
