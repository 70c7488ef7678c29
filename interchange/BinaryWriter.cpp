#include "interchange/BinaryWriter.h"

#include <cstring>

#include "foundation/memory/Memory.h"
#include "foundation/system/Assert.h"
#include "interchange/BinaryFormat.h"
#include "interchange/ExportWalk.h"
#include "interchange/InterchangeNames.h"
#include "repository/ReferenceLists.h"
#include "repository/Texts.h"
#include "repository/TypeRegistry.h"
#include "sprig/Value.h"

namespace Quorin {

namespace {

// A growable run of bytes from the library allocator; room is reserved, then filled.
class CByteStage {
 public:
  CByteStage() = default;
  ~CByteStage() { Bravik::Memory::Free(m_bytes); }
  CByteStage(const CByteStage&) = delete;
  CByteStage& operator=(const CByteStage&) = delete;

  uint8_t* Extend(uint64_t count) {
    if (m_capacity - m_size < count) Grow(m_size + count);
    uint8_t* room = m_bytes + m_size;
    m_size += count;
    return room;
  }
  void Reserve(uint64_t capacity) {
    if (capacity > m_capacity) Grow(capacity);
  }
  void Clear() { m_size = 0; }
  const uint8_t* Bytes() const { return m_bytes; }
  uint64_t Size() const { return m_size; }

 private:
  void Grow(uint64_t wanted) {
    const uint64_t capacity = wanted > m_capacity * 2 ? wanted : m_capacity * 2;
    m_bytes = static_cast<uint8_t*>(Bravik::Memory::Reallocate(m_bytes, capacity, Bravik::Memory::kObjectPool));
    m_capacity = capacity;
  }

  uint8_t* m_bytes = nullptr;
  uint64_t m_size = 0;
  uint64_t m_capacity = 0;
};

// Swaps each item of packed member data in place along the type's layout; references swap
// only their 4-byte id. Bytes past the layout stay as they are.
void SwapMemberData(const CTypeInfo_Internal& type, uint8_t* data, uint64_t size) {
  uint64_t offset = 0;
  for (uint32_t i = 0; i < type.memberCount; ++i) {
    const uint32_t code = TypeCodeOf(type.members[i].typeWord);
    const uint32_t width = kMemberElementSizes[code];
    const uint32_t swapped = width == 5 ? 4 : width;
    for (uint32_t item = 0; item < ElementCountOf(type.members[i].typeWord); ++item, offset += width) {
      if (offset + width > size) return;
      for (uint32_t low = 0, high = swapped - 1; swapped > 1 && low < high; ++low, --high) {
        const uint8_t byte = data[offset + low];
        data[offset + low] = data[offset + high];
        data[offset + high] = byte;
      }
    }
  }
}

// The bytes of a text in its own encoding up to its terminator, and the terminator's width.
uint32_t MeasureText(const CText_Internal& text, uint32_t& unit) {
  unit = Bravik::kUtf8 == text.GetEncoding() ? 1 : text.GetEncoding() == Bravik::kUtf16 ? 2 : 4;
  const auto* bytes = static_cast<const uint8_t*>(text.GetBytes());
  const uint32_t capacity = bytes == nullptr ? 0 : text.GetCapacity();
  if (unit == 1) {
    const void* end = capacity == 0 ? nullptr : std::memchr(bytes, 0, capacity);
    return end != nullptr ? static_cast<uint32_t>(static_cast<const uint8_t*>(end) - bytes) : capacity;
  }
  uint32_t length = 0;
  for (; length + unit <= capacity; length += unit) {
    uint32_t codeUnit = 0;
    std::memcpy(&codeUnit, bytes + length, unit);
    if (codeUnit == 0) break;
  }
  return length;
}

class CBinaryExporter {
 public:
  CBinaryExporter(Repository& repository, const TlxExportConfig& config, IByteSink& sink,
                  CInterchangeProgress* progress)
      : m_walk(repository, config, progress),
        m_out(sink),
        m_swap(config.byteOrder == kBigEndian),
        m_blockSize(config.bufferSize != 0 ? config.bufferSize : kBinaryDefaultBlockSize),
        m_bundle(config.bundle) {}

  void Run();

 private:
  uint32_t U32(uint32_t value) const { return m_swap ? Swap32(value) : value; }
  static uint8_t* Put32(uint8_t* out, uint32_t value) {
    std::memcpy(out, &value, 4);
    return out + 4;
  }
  uint8_t* PutU32(uint8_t* out, uint32_t value) const { return Put32(out, U32(value)); }

  void WriteHeader();
  void OpenBlock(EBinaryBlock kind);
  // Room for one record of recordSize bytes (and stagedSize bytes of class and template data),
  // in a new block when the current one cannot take it.
  uint8_t* BeginRecord(uint64_t recordSize, uint64_t stagedSize = 0) {
    const uint64_t size = recordSize + stagedSize;
    if (m_count != 0 && (m_count == kBinaryMaxRecordsPerBlock || m_used + size > m_blockSize)) StartNextBlock();
    ++m_count;
    m_used += size;
    return m_records.Extend(recordSize);
  }
  void StartNextBlock();
  void CloseBlock();

  void WriteTypes(ETypeKind kind);
  void WriteObjects(bool prototypes);
  void StageData(CByteStage& stage, const CTypeInfo_Internal* type, const void* data, uint32_t size);
  void WriteLists(bool prototypes);
  void WriteTexts();
  void WriteBlobs();
  void WriteVariables();
  void WriteVariable(uint32_t id, const TlxSprigValue& value, uint32_t binding);

  CExportWalk m_walk;
  CBufferedOutput m_out;
  bool m_swap;
  uint32_t m_blockSize;
  uint16_t m_bundle;
  EBinaryBlock m_kind = EBinaryBlock::kClasses;
  uint32_t m_count = 0;
  uint64_t m_used = 0;  // bytes of the open block: records, class and template data
  CByteStage m_records;
  CByteStage m_classData;
  CByteStage m_templateData;
};

void CBinaryExporter::Run() {
  m_walk.BeginProgress();
  WriteHeader();
  m_records.Reserve(m_blockSize);
  if (m_walk.Has(kSectionClasses)) WriteTypes(ETypeKind::kClass);
  if (m_walk.Has(kSectionTemplates)) WriteTypes(ETypeKind::kTemplate);
  for (const bool prototypes : {true, false}) {
    if (!m_walk.Has(prototypes ? kSectionPrototypes : kSectionInstances)) continue;
    WriteObjects(prototypes);
    WriteLists(prototypes);
  }
  if (m_walk.Has(kSectionTexts)) WriteTexts();
  if (m_walk.Has(kSectionBlobs)) WriteBlobs();
  WriteVariables();
  m_out.Flush();
  m_walk.FinishProgress();
}

void CBinaryExporter::WriteHeader() {
  uint8_t header[kBinaryFileHeaderSize];
  for (uint32_t i = 0; i < 4; ++i) header[i] = kBinaryMagic[m_swap ? 3 - i : i];
  header[4] = kBinaryMajorVersion;
  header[5] = kBinaryMinorVersion;
  const uint16_t bundle = m_swap ? Swap16(m_bundle) : m_bundle;
  std::memcpy(header + 6, &bundle, 2);
  PutU32(header + 8, m_blockSize);
  m_out.Append(header, sizeof header);
}

void CBinaryExporter::OpenBlock(EBinaryBlock kind) {
  m_kind = kind;
  m_count = 0;
  m_used = 0;
  m_records.Clear();
  m_classData.Clear();
  m_templateData.Clear();
}

void CBinaryExporter::StartNextBlock() {
  CloseBlock();
  OpenBlock(m_kind);
}

void CBinaryExporter::CloseBlock() {
  const uint64_t size = m_used;
  BRAVIK_ASSERT(size == m_records.Size() + m_classData.Size() + m_templateData.Size());
  uint8_t header[kBinaryBlockHeaderSize] = {static_cast<uint8_t>(m_kind), 0};
  const uint16_t count = static_cast<uint16_t>(m_swap ? Swap16(static_cast<uint16_t>(m_count)) : m_count);
  std::memcpy(header + 2, &count, 2);
  PutU32(header + 4, static_cast<uint32_t>(size));
  m_out.Append(header, sizeof header);
  for (const CByteStage* stage : {&m_records, &m_classData, &m_templateData}) {
    if (stage->Size() != 0) m_out.Append(stage->Bytes(), stage->Size());
  }
}

void CBinaryExporter::WriteTypes(ETypeKind kind) {
  const bool isClass = kind == ETypeKind::kClass;
  OpenBlock(isClass ? EBinaryBlock::kClasses : EBinaryBlock::kTemplates);
  m_walk.ForEachItem<CTypeInfo_Internal>(isClass ? m_walk.index.classes : m_walk.index.templates,
                                         [&](const CTypeInfo_Internal& type) {
    uint8_t* out = BeginRecord(kBinaryTypeRecordSize + uint64_t{kBinaryFeatureSize} * type.featureCount +
                               uint64_t{kBinaryMemberSize} * type.memberCount);
    out = PutU32(out, type.GetId());
    out = PutU32(out, type.nameHash);
    out = PutU32(out, type.memberCount);
    out = PutU32(out, type.featureCount);
    for (uint32_t i = 0; i < type.featureCount; ++i) out = PutU32(out, type.features[i]);
    for (uint32_t i = 0; i < type.memberCount; ++i) {
      out = PutU32(out, type.members[i].nameHash);
      out = PutU32(out, type.members[i].typeWord);
    }
    m_walk.Advance();
  });
  CloseBlock();
}

void CBinaryExporter::WriteObjects(bool prototypes) {
  OpenBlock(prototypes ? EBinaryBlock::kPrototypes : EBinaryBlock::kInstances);
  Repository& repository = m_walk.repository;
  m_walk.ForEachItem<CObject_Internal>(prototypes ? m_walk.index.prototypes : m_walk.index.instances,
                                       [&](const CObject_Internal& object) {
    const CTypeInfo_Internal* classType = FindType(repository, ETypeKind::kClass, object.classId);
    const CTypeInfo_Internal* templateType = FindType(repository, ETypeKind::kTemplate, object.templateId);
    const uint64_t staged = uint64_t{classType != nullptr ? classType->sizeByte : 0u} +
                            (templateType != nullptr ? templateType->sizeByte : 0u);
    uint8_t* out = BeginRecord(kBinaryObjectRecordSize, staged);
    out = PutU32(out, object.GetId());
    out = PutU32(out, object.prototypeId);
    out = PutU32(out, object.classId);
    PutU32(out, object.templateId);
    StageData(m_classData, classType, object.classData, object.DataSize(EDataKind::kClass));
    StageData(m_templateData, templateType, object.templateData, object.DataSize(EDataKind::kTemplate));
    m_walk.Advance();
  });
  CloseBlock();
}

// The type's size in bytes of the object's data: what is attached, zeros for the rest.
void CBinaryExporter::StageData(CByteStage& stage, const CTypeInfo_Internal* type, const void* data, uint32_t size) {
  if (type == nullptr || type->sizeByte == 0) return;
  uint8_t* out = stage.Extend(type->sizeByte);
  const uint32_t copied = data == nullptr ? 0 : size < type->sizeByte ? size : type->sizeByte;
  if (copied != 0) std::memcpy(out, data, copied);
  std::memset(out + copied, 0, type->sizeByte - copied);
  if (m_swap) SwapMemberData(*type, out, type->sizeByte);
}

void CBinaryExporter::WriteLists(bool prototypes) {
  OpenBlock(prototypes ? EBinaryBlock::kListPrototypes : EBinaryBlock::kListInstances);
  m_walk.ForEachItem<CReferenceList_Internal>(prototypes ? m_walk.index.listPrototypes : m_walk.index.listInstances,
                                              [&](const CReferenceList_Internal& list) {
    uint8_t* out = BeginRecord(kBinaryListRecordSize + uint64_t{kBinaryListEntrySize} * list.count);
    out = PutU32(out, list.GetId());
    out = PutU32(out, list.prototypeListId);
    out = PutU32(out, list.count);
    const auto* entries = reinterpret_cast<const uint8_t*>(list.entries);
    for (uint32_t i = 0; i < list.count; ++i, out += kBinaryListEntrySize) {
      std::memcpy(out, entries + uint64_t{i} * kBinaryListEntrySize, kBinaryListEntrySize);
      if (m_swap) {
        uint32_t id;
        std::memcpy(&id, out, 4);
        Put32(out, Swap32(id));
      }
    }
    m_walk.Advance();
  });
  CloseBlock();
}

void CBinaryExporter::WriteTexts() {
  OpenBlock(EBinaryBlock::kTexts);
  m_walk.ForEachItem<CText_Internal>(m_walk.index.texts, [&](const CText_Internal& text) {
    uint32_t unit = 1;
    const uint32_t length = MeasureText(text, unit);
    const uint32_t size = length + unit;
    uint8_t* out = BeginRecord(kBinaryTextRecordSize + uint64_t{size});
    out = PutU32(out, text.GetId());
    out = PutU32(out, size << kBinaryTextEncodingBits | static_cast<uint32_t>(text.GetEncoding()));
    if (length != 0) std::memcpy(out, text.GetBytes(), length);
    std::memset(out + length, 0, unit);
    for (uint32_t at = 0; m_swap && unit > 1 && at < length; at += unit) {
      for (uint32_t low = at, high = at + unit - 1; low < high; ++low, --high) {
        const uint8_t byte = out[low];
        out[low] = out[high];
        out[high] = byte;
      }
    }
    m_walk.Advance();
  });
  CloseBlock();
}

// Bytes not yet written to an unfilled blob are undefined; they are written as 0.
void CBinaryExporter::WriteBlobs() {
  OpenBlock(EBinaryBlock::kBlobs);
  m_walk.ForEachItem<CBlob_Internal>(m_walk.index.blobs, [&](const CBlob_Internal& blob) {
    uint8_t* out = BeginRecord(kBinaryBlobRecordSize + uint64_t{blob.size});
    out = PutU32(out, blob.GetId());
    out = PutU32(out, blob.size);
    const uint32_t written = blob.size - blob.GetRemaining();
    if (written != 0) std::memcpy(out, blob.data, written);
    std::memset(out + written, 0, blob.size - written);
    m_walk.Advance();
  });
  CloseBlock();
}

void CBinaryExporter::WriteVariables() {
  Repository& repository = m_walk.repository;
  if (m_walk.Has(kSectionVariables)) {
    OpenBlock(EBinaryBlock::kGlobalVariables);
    WalkGlobalVariables(repository, [&](uint32_t id, TlxSprigValue& value) {
      WriteVariable(id, value, 0);
      return true;
    });
    CloseBlock();
    OpenBlock(EBinaryBlock::kNamespaceVariables);
    WalkNamespaces(repository, [&](uint32_t hash, Sprig::CNamespace& space) {
      WalkStoreVariables(space.variables, [&](uint32_t id, TlxSprigValue& value) {
        WriteVariable(id, value, hash);
        return true;
      });
      return true;
    });
    CloseBlock();
  }
  if (!m_walk.Has(kSectionBoundVariables)) return;
  for (const bool prototypes : {true, false}) {
    OpenBlock(prototypes ? EBinaryBlock::kPrototypeVariables : EBinaryBlock::kInstanceVariables);
    m_walk.ForEachBoundVariable(prototypes, [&](uint32_t id, TlxSprigValue& value, uint32_t binding) {
      WriteVariable(id, value, binding);
    });
    CloseBlock();
  }
}

// A String carries its characters and terminator behind the record, in the same block.
void CBinaryExporter::WriteVariable(uint32_t id, const TlxSprigValue& value, uint32_t binding) {
  uint32_t content = 0xFFFFFFFFu;
  uint32_t target = 0;
  uint8_t targetKind = 0;
  uint8_t kind = Sprig::kSprigInvalid;
  const char* text = nullptr;
  SReferenceTarget reference;
  switch (value.kind) {
    case Sprig::kSprigBoolean: content = Sprig::AsBoolean(value) ? 1 : 0, kind = value.kind; break;
    case Sprig::kSprigInteger: content = static_cast<uint32_t>(Sprig::IntegerOf(value)), kind = value.kind; break;
    case Sprig::kSprigFloat: {
      const float number = Sprig::FloatOf(value);
      std::memcpy(&content, &number, 4);
      kind = value.kind;
      break;
    }
    case Sprig::kSprigString:
      text = Sprig::TextOf(value);
      content = static_cast<uint32_t>(std::strlen(text) + 1);
      kind = value.kind;
      break;
    case Sprig::kSprigReference:
      if (!FindReferenceTarget(m_walk.repository, value, reference)) break;
      content = reference.variableId, target = reference.storeId;
      targetKind = static_cast<uint8_t>(reference.storeKind), kind = value.kind;
      break;
    default: break;
  }
  uint8_t* out = BeginRecord(kBinaryVariableRecordSize + (text != nullptr ? uint64_t{content} : 0));
  out = PutU32(out, id);
  out = PutU32(out, content);
  out = PutU32(out, binding);
  out = PutU32(out, target);
  out[0] = targetKind;
  out[1] = kind;
  if (text != nullptr) std::memcpy(out + 2, text, content);
  m_walk.Advance();
}

}  // namespace

void WriteBinaryInterchange(Repository& repository, const TlxExportConfig& config, IByteSink& sink,
                            CInterchangeProgress* progress) {
  CBinaryExporter exporter(repository, config, sink, progress);
  exporter.Run();
}

}  // namespace Quorin
