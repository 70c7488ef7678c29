#include "interchange/BinaryReader.h"

#include <cstring>

#include "foundation/container/Array.h"
#include "foundation/memory/Memory.h"
#include "interchange/ImportBuilder.h"
#include "repository/ReferenceLists.h"
#include "repository/Texts.h"

namespace Quorin {

namespace {

constexpr uint64_t kReadChunk = 64 * 1024;

uint32_t Load32(const uint8_t* bytes) {
  uint32_t value;
  std::memcpy(&value, bytes, 4);
  return value;
}

uint16_t Load16(const uint8_t* bytes) {
  uint16_t value;
  std::memcpy(&value, bytes, 2);
  return value;
}

// The source's bytes through one buffer: whatever a step needs is made contiguous, the buffer
// growing for a block larger than it (the caller has checked that the file holds it).
class CInput {
 public:
  explicit CInput(IByteSource& source) : m_source(source), m_size(source.GetSize()) {}
  ~CInput() { Bravik::Memory::Free(m_buffer); }
  CInput(const CInput&) = delete;
  CInput& operator=(const CInput&) = delete;

  uint64_t GetOffset() const { return m_offset; }
  uint64_t GetRemaining() const { return m_size - m_offset; }
  // count contiguous bytes at the current offset (count at most GetRemaining()); null when the
  // source ends early.
  const uint8_t* Need(uint64_t count);
  void Consume(uint64_t count) {
    m_begin += count;
    m_offset += count;
  }

 private:
  IByteSource& m_source;
  uint64_t m_size;
  uint64_t m_offset = 0;
  uint8_t* m_buffer = nullptr;
  uint64_t m_capacity = 0;
  uint64_t m_begin = 0;
  uint64_t m_end = 0;
};

const uint8_t* CInput::Need(uint64_t count) {
  if (m_end - m_begin >= count) return m_buffer + m_begin;
  const uint64_t held = m_end - m_begin;
  if (count > m_capacity) {
    const uint64_t capacity = count > kReadChunk ? count : kReadChunk;
    auto* grown = static_cast<uint8_t*>(Bravik::Memory::Allocate(capacity, Bravik::Memory::kObjectPool));
    if (held != 0) std::memcpy(grown, m_buffer + m_begin, held);
    Bravik::Memory::Free(m_buffer);
    m_buffer = grown;
    m_capacity = capacity;
  } else if (held != 0) {
    std::memmove(m_buffer, m_buffer + m_begin, held);
  }
  m_begin = 0;
  m_end = held;
  while (m_end < count) {
    const uint64_t wanted = m_capacity - m_end < GetRemaining() - m_end ? m_capacity - m_end : GetRemaining() - m_end;
    const uint64_t read = wanted == 0 ? 0 : m_source.Read(m_buffer + m_end, static_cast<size_t>(wanted));
    if (read == 0) return nullptr;
    m_end += read;
  }
  return m_buffer;
}

// A walk over one block's bytes; every take is checked against what is left of the block.
struct SCursor {
  const uint8_t* at;
  const uint8_t* end;
  bool Take(uint64_t count, const uint8_t*& out) {
    if (count > static_cast<uint64_t>(end - at)) return false;
    out = at;
    at += count;
    return true;
  }
};

class CDecoder {
 public:
  CDecoder(IByteSource& source, IBinaryRecordHandler& handler, CInterchangeProgress* progress)
      : m_input(source), m_handler(handler), m_progress(progress) {}

  SBinaryReadResult Run();

 private:
  bool ReadHeader();
  void Fail(uint64_t offset, const char* expected) {
    m_result.code = 4;
    m_result.offset = offset;
    m_result.expected = expected;
  }
  // Checks (apply false) or hands on (apply true) the records of one block; false with
  // m_expected and the cursor at the fault when a record does not fit or holds a bad code.
  bool DecodeBlock(EBinaryBlock kind, uint32_t count, SCursor& cursor, bool apply);
  bool DecodeTypes(ETypeKind kind, uint32_t count, SCursor& cursor, bool apply);
  bool DecodeObjects(bool prototypes, uint32_t count, SCursor& cursor, bool apply);
  bool DecodeLists(bool prototypes, uint32_t count, SCursor& cursor, bool apply);
  bool DecodeTexts(uint32_t count, SCursor& cursor, bool apply);
  bool DecodeBlobs(uint32_t count, SCursor& cursor, bool apply);
  bool DecodeVariables(EBinaryBlock kind, uint32_t count, SCursor& cursor, bool apply);
  bool Refuse(const char* expected) {
    m_expected = expected;
    return false;
  }

  CInput m_input;
  IBinaryRecordHandler& m_handler;
  CInterchangeProgress* m_progress;
  SBinaryReadResult m_result;
  const char* m_expected = "";
  Bravik::TArray<TlxMember> m_members;
  Bravik::TArray<uint32_t> m_features;
};

SBinaryReadResult CDecoder::Run() {
  if (m_progress != nullptr) m_progress->Begin(static_cast<float>(m_input.GetRemaining()));
  if (ReadHeader()) {
    while (m_input.GetRemaining() != 0) {
      const uint64_t at = m_input.GetOffset();
      const uint8_t* header = m_input.GetRemaining() >= kBinaryBlockHeaderSize ? m_input.Need(kBinaryBlockHeaderSize) : nullptr;
      if (header == nullptr) {
        Fail(at, "a block header of 8 bytes");
        break;
      }
      const uint32_t size = Load32(header + 4);
      if (size > m_input.GetRemaining() - kBinaryBlockHeaderSize) {
        Fail(at, "a block no longer than the rest of the file");
        break;
      }
      const uint8_t* block = m_input.Need(kBinaryBlockHeaderSize + uint64_t{size});
      if (block == nullptr) {
        Fail(at, "the block's bytes");
        break;
      }
      if (block[0] >= kBinaryBlockKindCount) {
        ++m_result.skipped;
      } else {
        const auto kind = static_cast<EBinaryBlock>(block[0]);
        SCursor check{block + kBinaryBlockHeaderSize, block + kBinaryBlockHeaderSize + size};
        if (!DecodeBlock(kind, Load16(block + 2), check, false)) {
          Fail(at + static_cast<uint64_t>(check.at - block), m_expected);
          break;
        }
        SCursor records{block + kBinaryBlockHeaderSize, block + kBinaryBlockHeaderSize + size};
        DecodeBlock(kind, Load16(block + 2), records, true);
      }
      m_input.Consume(kBinaryBlockHeaderSize + uint64_t{size});
      if (m_progress != nullptr) m_progress->SetCounter(static_cast<float>(m_input.GetOffset()));
    }
  }
  m_result.bytes = m_input.GetOffset();
  if (m_progress != nullptr) m_progress->Finish();
  return m_result;
}

// True when blocks follow: the magic in byte order 0 and version 1.0 or 1.1. Version 0 holds
// nothing to read.
bool CDecoder::ReadHeader() {
  const uint8_t* header = m_input.GetRemaining() >= kBinaryFileHeaderSize ? m_input.Need(kBinaryFileHeaderSize) : nullptr;
  if (header == nullptr) {
    Fail(0, "a binary interchange header of 12 bytes");
    return false;
  }
  const uint8_t swapped[4] = {kBinaryMagic[3], kBinaryMagic[2], kBinaryMagic[1], kBinaryMagic[0]};
  if (std::memcmp(header, swapped, 4) == 0) {
    Fail(0, "a file in byte order LittleEndian (this one is BigEndian)");
    return false;
  }
  if (std::memcmp(header, kBinaryMagic, 4) != 0) {
    Fail(0, "the binary interchange magic \"TLXC\"");
    return false;
  }
  const bool known = header[4] == 0 || (header[4] == kBinaryMajorVersion && header[5] <= kBinaryMinorVersion);
  if (!known) {
    Fail(4, "version 1.0 or 1.1");
    return false;
  }
  m_input.Consume(kBinaryFileHeaderSize);
  if (header[4] != 0) return true;
  m_input.Consume(m_input.GetRemaining());  // nothing of version 0 is read
  return false;
}

bool CDecoder::DecodeBlock(EBinaryBlock kind, uint32_t count, SCursor& cursor, bool apply) {
  bool fits = false;
  switch (kind) {
    case EBinaryBlock::kClasses: fits = DecodeTypes(ETypeKind::kClass, count, cursor, apply); break;
    case EBinaryBlock::kTemplates: fits = DecodeTypes(ETypeKind::kTemplate, count, cursor, apply); break;
    case EBinaryBlock::kPrototypes: fits = DecodeObjects(true, count, cursor, apply); break;
    case EBinaryBlock::kInstances: fits = DecodeObjects(false, count, cursor, apply); break;
    case EBinaryBlock::kListPrototypes: fits = DecodeLists(true, count, cursor, apply); break;
    case EBinaryBlock::kListInstances: fits = DecodeLists(false, count, cursor, apply); break;
    case EBinaryBlock::kTexts: fits = DecodeTexts(count, cursor, apply); break;
    case EBinaryBlock::kBlobs: fits = DecodeBlobs(count, cursor, apply); break;
    default: fits = DecodeVariables(kind, count, cursor, apply); break;
  }
  if (fits && cursor.at != cursor.end) return Refuse("no bytes after the block's records");
  return fits;
}

bool CDecoder::DecodeTypes(ETypeKind kind, uint32_t count, SCursor& cursor, bool apply) {
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* record = nullptr;
    if (!cursor.Take(kBinaryTypeRecordSize, record)) return Refuse("a type record of 16 bytes");
    const uint32_t id = Load32(record);
    if (id > 0xFFFFu) return Refuse("a 16-bit type id");
    const uint32_t memberCount = Load32(record + 8);
    const uint32_t featureCount = Load32(record + 12);
    const uint8_t* features = nullptr;
    const uint8_t* members = nullptr;
    if (!cursor.Take(uint64_t{featureCount} * kBinaryFeatureSize, features) ||
        !cursor.Take(uint64_t{memberCount} * kBinaryMemberSize, members)) {
      return Refuse("the type's features and members within the block");
    }
    if (!apply) continue;
    m_features.Clear();
    m_members.Clear();
    m_features.Reserve(featureCount);
    m_members.Reserve(memberCount);
    for (uint32_t f = 0; f < featureCount; ++f) m_features.Append(Load32(features + 4 * uint64_t{f}));
    for (uint32_t m = 0; m < memberCount; ++m) {
      m_members.Append(TlxMember{Load32(members + 8 * uint64_t{m}), Load32(members + 8 * uint64_t{m} + 4)});
    }
    m_handler.OnType(kind, static_cast<uint16_t>(id), Load32(record + 4), m_members.Data(), memberCount,
                     m_features.Data(), featureCount);
  }
  return true;
}

// Records first, then the class data of every object in record order, then their template data.
bool CDecoder::DecodeObjects(bool prototypes, uint32_t count, SCursor& cursor, bool apply) {
  const uint8_t* records = nullptr;
  if (!cursor.Take(uint64_t{count} * kBinaryObjectRecordSize, records)) return Refuse("object records of 16 bytes");
  uint64_t classBytes = 0;
  uint64_t templateBytes = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* record = records + uint64_t{i} * kBinaryObjectRecordSize;
    if (Load32(record + 8) > 0xFFFFu || Load32(record + 12) > 0xFFFFu) {
      cursor.at = record;
      return Refuse("16-bit class and template ids");
    }
    classBytes += m_handler.GetTypeSize(ETypeKind::kClass, static_cast<uint16_t>(Load32(record + 8)));
    templateBytes += m_handler.GetTypeSize(ETypeKind::kTemplate, static_cast<uint16_t>(Load32(record + 12)));
  }
  const uint8_t* classData = nullptr;
  const uint8_t* templateData = nullptr;
  if (!cursor.Take(classBytes, classData) || !cursor.Take(templateBytes, templateData)) {
    return Refuse("the class and template data of the block's objects");
  }
  if (!apply) return true;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* record = records + uint64_t{i} * kBinaryObjectRecordSize;
    const auto classId = static_cast<uint16_t>(Load32(record + 8));
    const auto templateId = static_cast<uint16_t>(Load32(record + 12));
    const uint32_t classSize = m_handler.GetTypeSize(ETypeKind::kClass, classId);
    const uint32_t templateSize = m_handler.GetTypeSize(ETypeKind::kTemplate, templateId);
    m_handler.OnObject(prototypes, Load32(record), Load32(record + 4), classId, templateId, classData, classSize,
                       templateData, templateSize);
    classData += classSize;
    templateData += templateSize;
  }
  return true;
}

bool CDecoder::DecodeLists(bool prototypes, uint32_t count, SCursor& cursor, bool apply) {
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* record = nullptr;
    const uint8_t* entries = nullptr;
    if (!cursor.Take(kBinaryListRecordSize, record)) return Refuse("a list record of 12 bytes");
    const uint32_t entryCount = Load32(record + 8);
    if (!cursor.Take(uint64_t{entryCount} * kBinaryListEntrySize, entries)) {
      return Refuse("the list's entries within the block");
    }
    if (apply) {
      m_handler.OnList(prototypes, Load32(record), Load32(record + 4), reinterpret_cast<const TlxReference*>(entries),
                       entryCount);
    }
  }
  return true;
}

bool CDecoder::DecodeTexts(uint32_t count, SCursor& cursor, bool apply) {
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* record = nullptr;
    const uint8_t* bytes = nullptr;
    if (!cursor.Take(kBinaryTextRecordSize, record)) return Refuse("a text record of 8 bytes");
    const uint32_t word = Load32(record + 4);
    const uint32_t encoding = word & kBinaryTextEncodingMask;
    const uint32_t size = word >> kBinaryTextEncodingBits;
    const uint32_t unit = 1u << encoding;  // 1, 2 or 4 bytes for encodings 0 to 2
    if (encoding > 2 || size < unit || (size & (unit - 1)) != 0) {
      cursor.at = record;
      return Refuse("a text encoding of 0, 1 or 2 and a size in whole code units, terminator included");
    }
    if (!cursor.Take(size, bytes)) return Refuse("the text's bytes within the block");
    bool terminated = true;
    for (uint32_t at = size - unit; at < size; ++at) terminated &= bytes[at] == 0;
    if (!terminated) {
      cursor.at = bytes + size - unit;
      return Refuse("a terminated text");
    }
    if (apply) m_handler.OnText(Load32(record), encoding, bytes, size);
  }
  return true;
}

bool CDecoder::DecodeBlobs(uint32_t count, SCursor& cursor, bool apply) {
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* record = nullptr;
    const uint8_t* bytes = nullptr;
    if (!cursor.Take(kBinaryBlobRecordSize, record)) return Refuse("a blob record of 8 bytes");
    if (!cursor.Take(Load32(record + 4), bytes)) return Refuse("the blob's bytes within the block");
    if (apply) m_handler.OnBlob(Load32(record), bytes, Load32(record + 4));
  }
  return true;
}

bool CDecoder::DecodeVariables(EBinaryBlock kind, uint32_t count, SCursor& cursor, bool apply) {
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* record = nullptr;
    if (!cursor.Take(kBinaryVariableRecordSize, record)) return Refuse("a variable record of 18 bytes");
    SBinaryVariable variable{kind, Load32(record), Load32(record + 4), Load32(record + 8), Load32(record + 12),
                             record[16], record[17], nullptr};
    if (variable.targetKind > 2 || variable.valueKind > 5) {
      cursor.at = record + 16;
      return Refuse("a target kind of 0 to 2 and a value type of 0 to 5");
    }
    if (variable.valueKind == 4) {
      const uint8_t* text = nullptr;
      if (variable.value == 0 || !cursor.Take(variable.value, text)) return Refuse("the String's bytes within the block");
      if (text[variable.value - 1] != 0) {
        cursor.at = text + variable.value - 1;
        return Refuse("a terminated String");
      }
      variable.text = reinterpret_cast<const char*>(text);
    }
    if (apply) m_handler.OnVariable(variable);
  }
  return true;
}

// Records into the Repository through the import builder, which bounds and refuses as it does
// for the text form.
class CBuilderHandler final : public IBinaryRecordHandler {
 public:
  explicit CBuilderHandler(Repository& repository) : m_builder(repository) {}

  uint32_t GetSkipped() const { return m_builder.GetSkipped(); }

  void OnType(ETypeKind kind, uint16_t id, uint32_t nameHash, const TlxMember* members, uint32_t memberCount,
              const uint32_t* features, uint32_t featureCount) override {
    m_builder.BeginType(kind);
    for (uint32_t i = 0; i < featureCount; ++i) m_builder.AddFeature(features[i]);
    for (uint32_t i = 0; i < memberCount; ++i) {
      m_builder.AddMember(kind, members[i].nameHash, TypeCodeOf(members[i].typeWord),
                          ElementCountOf(members[i].typeWord));
    }
    m_builder.EndType(kind, nameHash, id);
  }
  uint32_t GetTypeSize(ETypeKind kind, uint16_t id) override {
    const CTypeInfo_Internal* type = id == kNoId16 ? nullptr : m_builder.TypeOf(kind, id);
    return type != nullptr ? type->sizeByte : 0;
  }
  void OnObject(bool prototype, uint32_t id, uint32_t prototypeId, uint16_t classId, uint16_t templateId,
                const uint8_t* classData, uint32_t classSize, const uint8_t* templateData,
                uint32_t templateSize) override {
    // The sizes are the registered ones (GetTypeSize), so the parts go in whole.
    m_builder.AddWholeObject(prototype, id, prototypeId, classId, templateId, classData, classSize, templateData,
                             templateSize);
  }
  void OnList(bool prototype, uint32_t id, uint32_t prototypeId, const TlxReference* entries, uint32_t count) override {
    m_builder.BeginList(!prototype, id, prototypeId, count);
    m_builder.AddListEntries(entries, count);
    m_builder.EndList();
  }
  void OnText(uint32_t id, uint32_t encoding, const void* bytes, uint32_t size) override {
    m_builder.AddTerminatedText(id, bytes, size, encoding);
  }
  void OnBlob(uint32_t id, const uint8_t* bytes, uint32_t size) override {
    if (!m_builder.BeginBlob(id, size)) return;
    m_builder.WriteBlob(bytes, size);
    m_builder.EndBlob();
  }
  void OnVariable(const SBinaryVariable& variable) override;

 private:
  CImportBuilder m_builder;
};

void CBuilderHandler::OnVariable(const SBinaryVariable& variable) {
  SVariableValue value;
  value.kind = variable.valueKind;
  value.flag = variable.value != 0;
  value.integer = static_cast<int32_t>(variable.value);
  std::memcpy(&value.number, &variable.value, 4);
  value.text = variable.text;
  constexpr EVariableStore kTargets[] = {EVariableStore::kNamespace, EVariableStore::kPrototype,
                                         EVariableStore::kInstance};
  value.targetStore = kTargets[variable.targetKind];
  value.targetStoreId = variable.target;
  value.targetId = variable.value;
  const auto store = static_cast<EVariableStore>(static_cast<uint8_t>(variable.block) -
                                                 static_cast<uint8_t>(EBinaryBlock::kGlobalVariables));
  m_builder.SetVariable(store, store == EVariableStore::kGlobal ? kNoId32 : variable.binding, variable.id, value);
}

}  // namespace

SBinaryReadResult DecodeBinaryInterchange(IByteSource& source, IBinaryRecordHandler& handler,
                                          CInterchangeProgress* progress) {
  CDecoder decoder(source, handler, progress);
  return decoder.Run();
}

SBinaryReadResult ReadBinaryInterchange(Repository& repository, IByteSource& source, CInterchangeProgress* progress) {
  CBuilderHandler handler(repository);
  SBinaryReadResult result = DecodeBinaryInterchange(source, handler, progress);
  result.skipped += handler.GetSkipped();
  return result;
}

}  // namespace Quorin
