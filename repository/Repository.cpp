#include "repository/Repository.h"

#include "foundation/memory/Memory.h"
#include "foundation/system/Assert.h"
#include "repository/ScriptBinding.h"
#include "repository/TypeRegistry.h"

namespace Quorin {

namespace Memory = Bravik::Memory;

Repository* Repository::s_instance = nullptr;
bool Repository::s_containOutOfMemory = false;

namespace {

template <typename T, typename... Args>
T* NewRecord(Args&&... args) {
  return Memory::New<T>(Memory::PoolForAlignment(alignof(T)), std::forward<Args>(args)...);
}

constexpr uint32_t kNoRegion = 0x10000;  // no 16-bit region id

}  // namespace

void RepositoryIndex::Clear() {
  while (Bravik::TMapElement<uint32_t>* node = names.root) {
    names.Erase(node);
    Memory::Delete(static_cast<CMapableString_Internal*>(node));
  }
  for (Bravik::TMapTree<uint16_t>* tree : {&classes, &templates}) *tree = {};
  for (Bravik::TMapTree<uint32_t>* tree : {&prototypes, &instances, &texts, &listPrototypes, &listInstances, &blobs}) {
    *tree = {};
  }
  pendingClassMembers.Free();
  pendingTemplateMembers.Free();
  pendingFeatures.Free();
}

void Region::UnlinkAll(RepositoryIndex& index) {
  objects.UnlinkAll(index);
  types.UnlinkAll(index);
  lists.UnlinkAll(index);
  blobs.UnlinkAll(index);
  texts.UnlinkAll(index);
}

void Region::FreeAll() {
  BRAVIK_ASSERT(scriptValues == nullptr);
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
  s_containOutOfMemory = (flags & kContainOutOfMemoryFlag) != 0;
  s_instance = repository;
}

// A host function that a running script called cannot pull the Repository from under it.
void Repository::Shutdown() {
  Repository* repository = s_instance;
  if (repository == nullptr || repository->Scripts().IsRunning()) return;
  s_instance = nullptr;
  Memory::Delete(repository);
}

void Repository::Construct() {
  MakeCurrent(AddRegion(kDefaultRegion));
  m_index = NewRecord<RepositoryIndex>();
  m_scripts = NewRecord<CScriptBinding>(*this);
}

Repository::~Repository() {
  if (m_scripts != nullptr) ReleaseScriptsOfRegions();
  Memory::Delete(m_scripts);
  Memory::Delete(m_index);
  DestroyRegions(kNoRegion);
  m_regions.Free();
}

// Nothing runs, so nothing is deferred and nothing allocates.
void Repository::ReleaseScriptsOfRegions() {
  ForEachRegion(kAllRegions, [&](Region& region) { m_scripts->ReleaseRegion(region); });
}

void Repository::DestroyRegions(uint32_t kept) {
  for (uint32_t bucket = m_regions.kBucketCount; bucket-- > 0;) {
    for (uint64_t i = m_regions.GetBucket(bucket).Count(); i-- > 0;) {
      const auto& pair = m_regions.GetBucket(bucket)[i];
      if (pair.key == kept) continue;
      Region* region = pair.value;
      m_regions.Remove(pair.key);  // a region id is in the table once
      Memory::Delete(region);
    }
  }
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
  m_scripts->ReleaseRegion(*region);  // first: it may raise, before anything is gone
  region->UnlinkAll(*m_index);
  region->FreeAll();
}

// Region 0 and the index are emptied in place: clearing allocates nothing, so it cannot stop
// halfway.
void Repository::Clear() {
  if (m_scripts->IsRunning()) return;
  ReleaseScriptsOfRegions();
  m_scripts->Reset();
  DestroyRegions(kDefaultRegion);
  Region* region = FindRegion(kDefaultRegion);
  region->FreeAll();
  m_index->Clear();
  MakeCurrent(region);
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
