// The Repository: the one process-wide store behind the exports. It owns regions (the unit of
// memory ownership: item pools, data blocks, text bytes), the RepositoryIndex (id trees over all
// regions, recorded names, pending type lists) and the script binding (repository/ScriptBinding.h).
//
// Item kinds plug in through the region pools: a unit stores an item with
// `region.objects.Emplace(...)`, links it with `index.prototypes.Insert(item, id)`, and on
// release erases the item's own node and calls `region.objects.Release(item)`. Dropping a region
// erases every stored item from the index (EraseFromIndex) and destroys it; item destructors run
// before the region's data-block and byte pools are freed and must not touch the index.
#pragma once

#include <cstdint>

#include "capi/QuorinCAPI.h"
#include "foundation/container/Array.h"
#include "foundation/container/IdTable.h"
#include "foundation/container/MapTree.h"
#include "foundation/string/String.h"
#include "repository/ChunkArray.h"
#include "repository/DataBlockPool.h"
#include "repository/Items.h"

namespace Quorin {

class CRegionValues;   // variables bound to a region's prototypes and instances
class CScriptBinding;  // the script state and everything that ties scripts to the Repository

// An owning copy of a name, kept (when names are recorded) under its hash. Owned by the index,
// not by a region: dropping a region keeps it.
class CMapableString_Internal : public Bravik::CMutableString,
                                public Bravik::TMapElement<uint32_t> {
 public:
  explicit CMapableString_Internal(const Bravik::IString& name) : CMutableString(name) {}
};

// Trees over all regions, keyed by id; items are owned by their regions. The counts of the
// first eight are the item counts the interchange writer reports.
struct RepositoryIndex {
  RepositoryIndex() = default;
  RepositoryIndex(const RepositoryIndex&) = delete;
  RepositoryIndex& operator=(const RepositoryIndex&) = delete;
  ~RepositoryIndex() { Clear(); }
  // Frees the recorded names and the pending lists and forgets every item (the items are the
  // regions' to free, before).
  void Clear();

  Bravik::TMapTree<uint16_t> classes;         // CTypeInfo_Internal
  Bravik::TMapTree<uint16_t> templates;       // CTypeInfo_Internal
  Bravik::TMapTree<uint32_t> prototypes;      // CObject_Internal
  Bravik::TMapTree<uint32_t> instances;       // CObject_Internal
  Bravik::TMapTree<uint32_t> texts;           // CText_Internal
  Bravik::TMapTree<uint32_t> listPrototypes;  // CReferenceList_Internal
  Bravik::TMapTree<uint32_t> listInstances;   // CReferenceList_Internal
  Bravik::TMapTree<uint32_t> blobs;           // CBlob_Internal
  Bravik::TMapTree<uint32_t> names;           // CMapableString_Internal, keyed by name hash

  // Filled by the Begin/Add calls of type registration, read by End.
  Bravik::TArray<TlxMember> pendingClassMembers;
  Bravik::TArray<TlxMember> pendingTemplateMembers;
  Bravik::TArray<uint32_t> pendingFeatures;
};

// A unit of ownership. Items created while the region is current live in its pools.
struct Region {
  explicit Region(uint16_t regionId) : id(regionId) {}
  Region(const Region&) = delete;
  Region& operator=(const Region&) = delete;
  ~Region() { FreeAll(); }

  // Erases every stored item's node from the index (items stay stored).
  void UnlinkAll(RepositoryIndex& index);
  // Destroys every item, then frees all pools; the region stays usable. The script binding has
  // released the region's script values before.
  void FreeAll();

  uint16_t id;
  TChunkArray<CObject_Internal, 14> objects;
  TChunkArray<CTypeInfo_Internal, 14> types;
  TRecordPool<TlxMember, 16> members;  // member records of the region's types
  TRecordPool<uint32_t, 16> features;  // feature hashes of the region's templates
  TChunkArray<CReferenceList_Internal, 14> lists;
  TChunkArray<CBlob_Internal, 16> blobs;
  TChunkArray<CText_Internal, 12> texts;
  CDataBlockPool dataBlocks;  // object data blocks, by exact size
  CBytePool bytes;            // text bytes
  CRegionValues* scriptValues = nullptr;  // made and released by the script binding
};

class Repository {
 public:
  // The started Repository, or null before start-up and after shutdown.
  static Repository* Get() { return s_instance; }
  // Creates the Repository unless one exists (then the flags are ignored). Raises std::bad_alloc.
  static void Start(uint8_t flags);
  // Destroys the Repository (the pointer is cleared first) with its script binding. Refused
  // while a script runs.
  static void Shutdown();

  static constexpr uint8_t kRecordNamesFlag = 1;
  static constexpr uint8_t kContainOutOfMemoryFlag = 4;
  // Whether the host started the library with kContainOutOfMemoryFlag: out of memory then ends
  // an export with its absent result instead of leaving it as std::bad_alloc. Kept beside the
  // Repository, so the boundary can still ask while a call unwinds.
  static bool ContainsOutOfMemory() { return s_containOutOfMemory; }

  // Regions. Operations on an unknown region do nothing.
  uint16_t BeginRegion();
  void BeginRegionWithId(uint16_t regionId);
  void CreateRegion(uint16_t regionId);
  uint16_t EndRegion();
  void DropRegionData(uint16_t regionId);
  // Empties everything and starts over with region 0 current and an empty index. Refused while
  // a script runs; never raises.
  void Clear();

  Region* FindRegion(uint16_t regionId) const;
  // The region new items go to (region 0 when none has been begun); it always exists.
  Region& CurrentRegion() const { return *m_currentRegion; }
  uint16_t CurrentRegionId() const { return m_currentRegionId; }
  RepositoryIndex& Index() const { return *m_index; }
  CScriptBinding& Scripts() const { return *m_scripts; }
  uint64_t RegionCount() const { return m_regions.Count(); }
  bool RecordsNames() const { return m_recordNames; }

  // The hash of name; when names are recorded and the hash is new, keeps a copy of the text.
  // With recording off it stores nothing and gives kNoId32.
  uint32_t RecordName(const Bravik::IString& name);
  // As RecordName, but always gives the hash (what registration stores).
  uint32_t HashAndRecordName(const char* name);
  // The recorded text of a hash (UTF-8), or null.
  const char* FindRecordedName(uint32_t hash) const;

  // Calls visit(Region&) for one region (nothing if unknown) or, for kAllRegions, for every
  // region: bucket 0 to 63, insertion order within a bucket.
  template <typename F>
  void ForEachRegion(uint16_t regionId, F&& visit) {
    if (regionId != kAllRegions) {
      if (Region* region = FindRegion(regionId)) visit(*region);
      return;
    }
    m_regions.Walk([&](uint16_t, Region*& region) {
      visit(*region);
      return true;
    });
  }

  // Walks the stored items of one pool kind, region by region (see ForEachRegion), each region
  // in pool order. visit(T&) returning false ends the current region's walk; the next region
  // is still visited. Telling kinds apart inside a pool (prototype or instance, ...) is the
  // visitor's business.
  template <typename T, uint32_t N, typename F>
  void WalkItems(uint16_t regionId, TChunkArray<T, N> Region::*pool, F&& visit) {
    ForEachRegion(regionId, [&](Region& region) { (region.*pool).Walk(visit); });
  }

  // Only Start creates one and Shutdown destroys it; public for the allocator's New/Delete.
  Repository() = default;
  Repository(const Repository&) = delete;
  Repository& operator=(const Repository&) = delete;
  ~Repository();

 private:
  void Construct();
  Region* AddRegion(uint16_t regionId);
  void ReleaseScriptsOfRegions();
  // Destroys every region but `kept` (kNoRegion: all), the last of the highest bucket first.
  void DestroyRegions(uint32_t kept);
  void MakeCurrent(Region* region);

  static Repository* s_instance;
  static bool s_containOutOfMemory;

  uint16_t m_currentRegionId = kDefaultRegion;
  bool m_recordNames = false;
  RepositoryIndex* m_index = nullptr;
  CScriptBinding* m_scripts = nullptr;
  Bravik::TIdTable<uint16_t, Region*> m_regions;
  Region* m_currentRegion = nullptr;  // cached look-up of m_currentRegionId
};

// Library start-up behind TlxInitialize/TlxInitializeDetailed: false for a version other than 17
// or when anything inside throws (whatever was created stays).
bool StartLibrary(uint16_t version, uint8_t flags, TlxAllocateFunction allocate,
                  TlxReallocateFunction reallocate, TlxFreeFunction release, uint64_t limit) noexcept;

constexpr uint16_t kLibraryVersion = 17;

}  // namespace Quorin
