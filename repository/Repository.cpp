#include "repository/Repository.h"

#include "foundation/memory/Memory.h"
#include "repository/TypeRegistry.h"
#include "sprig/ParsedScripts.h"

namespace Quorin {

namespace Memory = Bravik::Memory;

Repository* Repository::s_instance = nullptr;

ScriptHooks& GetScriptHooks() {
  static ScriptHooks hooks;
  return hooks;
}

namespace {

template <typename T, typename... Args>
T* NewRecord(Args&&... args) {
  return Memory::New<T>(Memory::PoolForAlignment(alignof(T)), std::forward<Args>(args)...);
}

void FreeBoundFunctions() {
  if (ScriptHooks& hooks = GetScriptHooks(); hooks.freeBoundFunctions != nullptr) {
    hooks.freeBoundFunctions();
  }
}

}  // namespace

RepositoryIndex::~RepositoryIndex() {
  while (Bravik::TMapElement<uint32_t>* node = names.root) {
    names.Erase(node);
    Memory::Delete(static_cast<CMapableString_Internal*>(node));
  }
  Sprig::DestroyParsedScripts(parsedScripts);
  if (scriptState != nullptr && GetScriptHooks().destroyScriptState != nullptr) {
    GetScriptHooks().destroyScriptState(scriptState);
  }
}

void Region::UnlinkAll(RepositoryIndex& index) {
  objects.UnlinkAll(index);
  types.UnlinkAll(index);
  lists.UnlinkAll(index);
  blobs.UnlinkAll(index);
  texts.UnlinkAll(index);
}

void Region::FreeAll() {
  // Values first: they may refer to the region's objects.
  if (scriptValues != nullptr && GetScriptHooks().destroyRegionValues != nullptr) {
    GetScriptHooks().destroyRegionValues(scriptValues);
  }
  scriptValues = nullptr;
  // Items before the pools their destructors may give blocks back to.
  objects.Clear();
  lists.Clear();
  blobs.Clear();
  texts.Clear();
  types.Clear();
  members.Clear();
  features.Clear();
  dataBlocks.Clear();
  bytes.Clear();
}

void Repository::Start(uint8_t flags) {
  if (s_instance != nullptr) return;
  Repository* repository = NewRecord<Repository>();
  try {
    repository->Construct();
  } catch (...) {
    Memory::Delete(repository);
    throw;
  }
  repository->m_recordNames = (flags & kRecordNamesFlag) != 0;
  s_instance = repository;
}

void Repository::Shutdown() {
  Repository* repository = s_instance;
  s_instance = nullptr;
  Memory::Delete(repository);
  FreeBoundFunctions();
}

void Repository::Construct() {
  MakeCurrent(AddRegion(kDefaultRegion));
  m_index = NewRecord<RepositoryIndex>();
}

Repository::~Repository() {
  Memory::Delete(m_index);
  m_index = nullptr;
  DestroyRegions();
}

void Repository::DestroyRegions() {
  // The last region of the highest non-empty bucket each time, until none is left.
  for (uint32_t bucket = m_regions.kBucketCount; bucket-- > 0;) {
    while (!m_regions.GetBucket(bucket).IsEmpty()) {
      const auto& pairs = m_regions.GetBucket(bucket);
      Region* region = pairs[pairs.Count() - 1].value;
      m_regions.Remove(pairs[pairs.Count() - 1].key);  // a region id is in the table once
      Memory::Delete(region);
    }
  }
  m_regions.Free();
  m_currentRegion = nullptr;
  m_currentRegionId = kDefaultRegion;
}

Region* Repository::AddRegion(uint16_t regionId) {
  Region* region = NewRecord<Region>(regionId);
  try {
    m_regions.Add(regionId, region);
  } catch (...) {
    Memory::Delete(region);
    throw;
  }
  return region;
}

void Repository::MakeCurrent(Region* region) {
  m_currentRegion = region;
  m_currentRegionId = region->id;
}

Region* Repository::FindRegion(uint16_t regionId) const {
  Region* const* region = m_regions.Lookup(regionId);
  return region != nullptr ? *region : nullptr;
}

uint16_t Repository::BeginRegion() {
  if (m_currentRegionId != kDefaultRegion) return m_currentRegionId;  // regions do not nest
  // The region count is the first candidate; 65536 candidates cover every id.
  uint16_t candidate = static_cast<uint16_t>(m_regions.Count());
  for (uint32_t tries = 0; tries <= 0xFFFF; ++tries, ++candidate) {
    if (FindRegion(candidate) == nullptr) {
      MakeCurrent(AddRegion(candidate));
      return candidate;
    }
  }
  return kDefaultRegion;  // every id is taken
}

void Repository::BeginRegionWithId(uint16_t regionId) {
  if (m_currentRegionId != kDefaultRegion) return;
  Region* region = FindRegion(regionId);
  MakeCurrent(region != nullptr ? region : AddRegion(regionId));
}

void Repository::CreateRegion(uint16_t regionId) {
  if (FindRegion(regionId) == nullptr) AddRegion(regionId);
}

uint16_t Repository::EndRegion() {
  MakeCurrent(FindRegion(kDefaultRegion));
  return kDefaultRegion;
}

void Repository::DropRegionData(uint16_t regionId) {
  Region* region = FindRegion(regionId);
  if (region == nullptr) return;
  region->UnlinkAll(*m_index);
  region->FreeAll();
}

void Repository::Clear() {
  Memory::Delete(m_index);
  m_index = nullptr;
  DestroyRegions();
  // If this runs out of memory the Repository is unusable; shut it down rather than leave a
  // Repository without region 0 or index behind.
  try {
    Construct();
  } catch (...) {
    Shutdown();
    throw;
  }
  FreeBoundFunctions();
}

uint32_t Repository::RecordName(const Bravik::IString& name) {
  if (!m_recordNames) return kNoId32;
  const uint32_t hash = Bravik::CalculateHash(name);
  if (name.IsNull() || m_index->names.Find(hash) != nullptr) return hash;
  auto* copy = NewRecord<CMapableString_Internal>(name);
  m_index->names.Insert(copy, hash);
  return hash;
}

uint32_t Repository::HashAndRecordName(const char* name) {
  const Bravik::CString text(name);
  RecordName(text);
  return Bravik::CalculateHash(text);
}

const char* Repository::FindRecordedName(uint32_t hash) const {
  Bravik::TMapElement<uint32_t>* node = m_index->names.Find(hash);
  if (node == nullptr) return nullptr;
  return static_cast<const char*>(static_cast<CMapableString_Internal*>(node)->GetData());
}

bool StartLibrary(uint16_t version, uint8_t flags, TlxAllocateFunction allocate,
                  TlxReallocateFunction reallocate, TlxFreeFunction release, uint64_t limit) noexcept {
  try {
    if (version != kLibraryVersion) return false;
    if (!Memory::InitializeMemory(allocate, reallocate, release, limit)) return false;
    Repository::Start(flags);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace Quorin
