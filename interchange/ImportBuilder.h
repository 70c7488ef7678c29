// The format-neutral half of an import: the text and binary readers decode records and hand them
// here, and the builder turns them into Repository items. It bounds every write by what the
// Repository registered, refuses what cannot be stored (and counts it as skipped), and creates an
// item only once its record is whole, so a file that stops halfway keeps everything completed
// before that point. Nothing is deleted or cleared: the file adds to the Repository.
//
// Every call may raise std::bad_alloc; what was stored before stays, and the builder's own
// buffers are freed by its destructor.
#pragma once

#include <cstdint>

#include "foundation/container/Array.h"
#include "repository/Objects.h"
#include "repository/ReferenceLists.h"
#include "repository/Repository.h"
#include "repository/Texts.h"
#include "repository/TypeRegistry.h"
#include "sprig/Value.h"
#include "sprig/ValueStores.h"

namespace Quorin {

// Largest data part an unregistered type may claim from a file's size attributes.
constexpr uint64_t kMaxUnregisteredPart = 1u << 20;

// Where a variable lives. ORDER VARIABLE_STORE
enum class EVariableStore : uint8_t { kGlobal, kNamespace, kPrototype, kInstance };

// A decoded variable value. `kind` is a script value kind (Sprig::kSprig...); for a Reference the
// target is the variable `targetId` of the store (`targetStore`, `targetStoreId`); a namespace
// target of kNoId32 is the global store.
struct SVariableValue {
  uint8_t kind = Sprig::kSprigInvalid;
  bool flag = false;
  int32_t integer = 0;
  float number = 0.0f;
  const char* text = nullptr;  // UTF-8, zero-terminated; null is the empty text
  EVariableStore targetStore = EVariableStore::kGlobal;
  uint32_t targetStoreId = kNoId32;
  uint32_t targetId = 0;
};

// Where one member value goes inside the object's data part.
struct SMemberSlot {
  uint64_t offset = 0;     // of the first item, within the part
  uint32_t typeCode = 0;   // member type code (element size from kMemberElementSizes)
  uint32_t maxItems = 0;   // items the member holds (known member) or UINT32_MAX (unknown)
  uint32_t written = 0;    // items stored so far
};

class CImportBuilder {
 public:
  explicit CImportBuilder(Repository& repository);
  ~CImportBuilder() = default;
  CImportBuilder(const CImportBuilder&) = delete;
  CImportBuilder& operator=(const CImportBuilder&) = delete;

  // Records or items refused so far (a refused member or type, a blob id in use, entries past a
  // list's size, a variable of a missing object). The readers add their own skips.
  uint32_t GetSkipped() const { return m_skipped; }
  void CountSkipped() { ++m_skipped; }

  // Keeps the text of a name read from the file when the Repository records names (it is then
  // written back by an export); nothing otherwise. Gives the name's hash.
  uint32_t RecordName(const char* utf8);

  // ---- Types: Begin, members (and features), End; nothing registers before End ----
  void BeginType(ETypeKind kind);
  // A type code above 31 or a count above 2^27 - 1 is refused (false, counted).
  bool AddMember(ETypeKind kind, uint32_t memberId, uint32_t typeCode, uint32_t items);
  void AddFeature(uint32_t featureId);
  // Registers the definition; false (counted) when the Repository refuses it (an id of the
  // default catalogue already taken, a type of 2^31 bytes or more).
  bool EndType(ETypeKind kind, uint32_t nameId, uint16_t typeId);

  // ---- Objects: Begin, data, End; the object is created by End ----
  // Sizes the two data parts: a registered type's size, else the file's size capped at
  // kMaxUnregisteredPart; no template part for template id kNoId16. Zeroes them.
  void BeginObject(bool prototype, uint32_t id, uint32_t prototypeId, uint16_t classId, uint16_t templateId,
                   uint64_t classSize, uint64_t templateSize);
  // The object has this data block (its part is attached at End even when no value was written).
  void MarkData(EDataKind kind) { m_object.present[Index(kind)] = true; }
  // Where the value of member `memberId` goes: the member of the registered type, or, for a
  // member the type does not have, the running position with the file's type code.
  SMemberSlot LocateMember(EDataKind kind, uint32_t memberId, uint32_t fileTypeCode);
  // Stores the next item of the slot (its element size of bytes) and moves the running position
  // by one element. Items past a known member's count and bytes outside the part are dropped.
  void StoreItem(EDataKind kind, SMemberSlot& slot, const void* element);
  uint64_t GetPartSize(EDataKind kind) const { return m_object.size[Index(kind)]; }
  // The registered type (null when none), remembered for the rest of the import until the next
  // type is registered: the objects of a file name few types many times over.
  CTypeInfo_Internal* TypeOf(ETypeKind kind, uint16_t id);
  // Creates the prototype or instance with its marked data blocks.
  void EndObject();
  // An object whose data parts come whole, each exactly its type's size (0: none), as the
  // binary form stores them: created with copies of them at once.
  void AddWholeObject(bool prototype, uint32_t id, uint32_t prototypeId, uint16_t classId, uint16_t templateId,
                      const void* classData, uint32_t classSize, const void* templateData, uint32_t templateSize);

  // ---- Lists: Begin creates the list; entries past `items` are dropped (counted) ----
  void BeginList(bool instance, uint32_t id, uint32_t prototypeId, uint32_t items);
  void AddListEntry(const TlxReference& entry);
  // count entries at once, as count calls of AddListEntry.
  void AddListEntries(const TlxReference* entries, uint32_t count);
  void EndList() { m_list = nullptr; }

  // ---- Texts and blobs ----
  // A whole UTF-8 text of length bytes (no terminator needed).
  void AddText(uint32_t id, const char* bytes, uint32_t length);
  // A whole text of size bytes in its encoding, the last code unit its terminator.
  void AddTerminatedText(uint32_t id, const void* bytes, uint32_t size, Bravik::StringEncoding encoding);
  // A text filled in pieces: capacity bytes with its terminator; Append drops what does not fit.
  void BeginText(uint32_t id, uint32_t capacity, Bravik::StringEncoding encoding);
  void AppendText(const void* bytes, uint32_t count);
  void EndText();
  // False (counted) when a blob with this id exists: its bytes are then ignored.
  bool BeginBlob(uint32_t id, uint32_t size);
  // Drops what passes the blob's size.
  void WriteBlob(const void* bytes, uint32_t count);
  // Zeroes what the file did not fill.
  void EndBlob();

  // ---- Variables ----
  // Sets the variable `id` of the store (created when missing, with the store). False (counted)
  // when the store is bound to an object that does not exist.
  bool SetVariable(EVariableStore store, uint32_t storeId, uint32_t id, const SVariableValue& value);

 private:
  static uint32_t Index(EDataKind kind) { return static_cast<uint32_t>(kind); }
  TlxSprigValue* VariableEntry(EVariableStore store, uint32_t storeId, uint32_t id);
  void AssignValue(TlxSprigValue& entry, const SVariableValue& value);
  uint64_t UnregisteredPartSize(uint64_t fileSize) const;
  Sprig::IWeakTypeStorage* BoundStore(EVariableStore store, uint32_t storeId);

  // A small direct-mapped cache of registered types, per kind.
  static constexpr uint32_t kTypeCacheSlots = 32;
  struct STypeSlot {
    uint32_t id = UINT32_MAX;  // no 16-bit id matches
    CTypeInfo_Internal* type = nullptr;
  };
  STypeSlot m_types[2][kTypeCacheSlots];

  struct SObject {
    bool active = false;
    bool prototype = true;
    uint32_t id = 0;
    uint32_t prototypeId = kNoId32;
    uint16_t typeId[2] = {kNoId16, kNoId16};
    CTypeInfo_Internal* type[2] = {nullptr, nullptr};
    uint64_t size[2] = {0, 0};
    uint64_t running[2] = {0, 0};
    bool present[2] = {false, false};
  };

  Repository& m_repository;
  uint32_t m_skipped = 0;
  SObject m_object;
  Bravik::TArray<uint8_t> m_data;  // class part, then template part
  CReferenceList_Internal* m_list = nullptr;
  uint32_t m_listRoom = 0;
  CText_Internal* m_text = nullptr;
  CBlob_Internal* m_blob = nullptr;
  // The store the last variable went to: a file writes the variables of one store together.
  EVariableStore m_lastStore = EVariableStore::kGlobal;
  uint32_t m_lastStoreId = kNoId32;
  Sprig::IWeakTypeStorage* m_lastStorage = nullptr;
};

}  // namespace Quorin
