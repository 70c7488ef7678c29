// Classes and templates: 16-bit ids, a name hash and an ordered list of typed members laid out
// packed in declaration order; templates also carry feature hashes. Member records live in the
// member pool of the region current at registration, contiguously per type.
#pragma once

#include <cstdint>

#include "repository/Items.h"
#include "repository/Repository.h"

namespace Quorin {

// Member type codes, ORDER MEMBER_TYPE. A type word holds the code in bits 0-4 and the element
// count in bits 5-31.
constexpr uint32_t kTypeCodeBits = 5;
constexpr uint32_t kTypeCodeMask = (1u << kTypeCodeBits) - 1;
constexpr uint32_t kMemberTypeCount = 19;
constexpr uint32_t kTypeReference = 16;
constexpr uint32_t kTypeListReference = 17;
constexpr uint32_t kTypeScriptReference = 18;

// Element size of each code; codes 19-31 are unused and take no room. ORDER MEMBER_TYPE
constexpr uint8_t kMemberElementSizes[32] = {1, 1, 2, 2, 4, 4, 8, 8, 4, 8, 4, 4, 4, 4, 4, 4, 5, 5, 5};
static_assert(kMemberElementSizes[kTypeScriptReference] == 5 && kMemberElementSizes[kMemberTypeCount] == 0);
// Spellings of the codes when written as text; unused codes write as "Byte". ORDER MEMBER_TYPE
extern const char* const kMemberTypeNames[kMemberTypeCount];
const char* MemberTypeName(uint32_t code);

// The largest type that registers: sizes and offsets stay below 2^31.
constexpr uint64_t kMaximumTypeSize = 0x7FFFFFFF;

constexpr uint32_t kMaxElementCount = 0xFFFFFFFFu >> kTypeCodeBits;  // 2^27 - 1

constexpr uint32_t TypeCodeOf(uint32_t typeWord) { return typeWord & kTypeCodeMask; }
constexpr uint32_t ElementCountOf(uint32_t typeWord) { return typeWord >> kTypeCodeBits; }
constexpr uint32_t MakeTypeWord(uint32_t code, uint32_t count) { return (count << kTypeCodeBits) | code; }
// Bytes a member takes: element size times count (64-bit, the product may pass 32 bits).
constexpr uint64_t MemberSize(const TlxMember& member) {
  return uint64_t{kMemberElementSizes[TypeCodeOf(member.typeWord)]} * ElementCountOf(member.typeWord);
}

enum class ETypeKind : uint8_t { kClass = 0, kTemplate = 1 };

// The first id of the default catalogue's reserved range: ids above it register once.
constexpr uint16_t kReservedClassIds = 0xFF00;

class CTypeInfo_Internal final : public ITypeInfo, public TRepositoryItem<uint16_t> {
 public:
  CTypeInfo_Internal(ETypeKind typeKind, uint16_t region) : kind(typeKind) { regionId = region; }

  uint16_t GetId() const override { return key; }
  void EraseFromIndex(RepositoryIndex& index);

  ETypeKind kind;
  TlxMember* members = nullptr;  // memberCount records in the region's member pool
  uint32_t* features = nullptr;  // featureCount hashes in the region's feature pool
};

inline CTypeInfo_Internal* TypeOfHandle(TlxTypeInfo* handle) {
  return static_cast<CTypeInfo_Internal*>(InterfaceOf(handle));
}

// ---- Look-up (null, 0, false or kNoOffset when absent) ---------------------------------------
CTypeInfo_Internal* FindType(const Repository& repository, ETypeKind kind, uint16_t id);
uint32_t GetTypeSize(const Repository& repository, ETypeKind kind, uint16_t id);
// Offset of the first member with this name hash.
uint32_t FindMemberOffset(const CTypeInfo_Internal& type, uint32_t nameHash);
// The first member with this name hash; offset (if given) receives its offset.
const TlxMember* FindMember(const CTypeInfo_Internal& type, uint32_t nameHash, uint32_t* offset = nullptr);
const TlxMember* FindMemberByIndex(const CTypeInfo_Internal& type, uint32_t index);
// The member starting exactly at offset (not inside a member).
const TlxMember* FindMemberByOffset(const CTypeInfo_Internal& type, uint32_t offset);
bool HasFeature(const CTypeInfo_Internal& type, uint32_t featureHash);
// Copies up to maxRecords member records (or feature hashes) of a type into out and gives the
// type's member (feature) count; 0 for an unknown type. out may be null when maxRecords is 0.
uint32_t CopyMemberRecords(const Repository& repository, ETypeKind kind, uint16_t id, TlxMember* out,
                           uint32_t maxRecords);
uint32_t CopyFeatureHashes(const Repository& repository, uint16_t templateId, uint32_t* out,
                           uint32_t maxHashes);

// ---- Registration ----------------------------------------------------------------------------
// Registers a type in the current region from copies of the records. Null (nothing registered)
// when a class id of the reserved range is taken, when the size would pass kMaximumTypeSize, or
// when records are missing (null pointer with a count). Ids outside the reserved range may be
// registered twice; look-ups then find either.
CTypeInfo_Internal* RegisterType(Repository& repository, ETypeKind kind, uint32_t nameHash, uint16_t id,
                                 const TlxMember* members, uint32_t memberCount,
                                 const uint32_t* features = nullptr, uint32_t featureCount = 0);
// Empties the pending lists of the kind (a template's features too) and starts them with the
// base type's records when the base is registered.
void BeginType(Repository& repository, ETypeKind kind, uint16_t baseId);
// A code above 31 or a count above kMaxElementCount would spill into the other field of the
// type word: such a member is refused (false) and not added.
bool AddPendingMember(Repository& repository, ETypeKind kind, uint32_t nameHash, uint32_t typeCode,
                      uint32_t count);
void AddPendingFeature(Repository& repository, uint32_t featureHash);
// Registers from the pending lists, which stay as they are until the next Begin.
CTypeInfo_Internal* EndType(Repository& repository, ETypeKind kind, uint32_t nameHash, uint16_t id);

// Visits the classes or templates of one region or all (kAllRegions) in pool order; visit
// returning false ends the current region.
template <typename F>
void WalkTypes(Repository& repository, uint16_t regionId, ETypeKind kind, F&& visit) {
  repository.WalkItems(regionId, &Region::types, [&](CTypeInfo_Internal& type) {
    return type.kind != kind || visit(type);
  });
}

// ---- Export bodies taking names (UTF-8, hashed and recorded) ----------------------------------
void RegisterTypeNamed(Repository& repository, ETypeKind kind, const char* name, uint16_t id,
                       const TlxMember* members, uint32_t memberCount, const uint32_t* features,
                       uint32_t featureCount);
void AddMemberNamed(Repository& repository, ETypeKind kind, const char* name, uint32_t typeCode,
                    uint32_t count);
void AddFeatureNamed(Repository& repository, const char* name);
void EndTypeNamed(Repository& repository, ETypeKind kind, const char* name, uint16_t id);
uint32_t GetMemberOffsetNamed(const Repository& repository, ETypeKind kind, uint16_t id, const char* name);
TlxMember* GetMemberNamed(const Repository& repository, ETypeKind kind, uint16_t id, const char* name);
TlxMember* GetMemberByIndex(const Repository& repository, ETypeKind kind, uint16_t id, uint32_t index);
TlxMember* GetMemberByOffset(const Repository& repository, ETypeKind kind, uint16_t id, uint32_t offset);
bool HasFeatureNamed(TlxTypeInfo* templateType, const char* name);

}  // namespace Quorin
