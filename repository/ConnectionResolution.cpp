#include "repository/ConnectionResolution.h"

#include <cstring>

#include "foundation/container/Array.h"
#include "foundation/memory/Memory.h"
#include "repository/Objects.h"
#include "repository/ScriptBinding.h"
#include "repository/Texts.h"
#include "sprig/ScriptState.h"
#include "sprig/SprigException.h"
#include "sprig/Value.h"

namespace Quorin {

namespace Memory = Bravik::Memory;

namespace {

constexpr uint8_t kSprigScript = 1;  // TlxScriptReference kind "TalvexSprig"

// A record of class data, or false when the data is absent or too short to hold it.
template <typename Record>
bool ReadClassMember(const CObject_Internal& object, uint32_t offset, Record& out) {
  const void* at = object.MemberAt(EDataKind::kClass, offset, sizeof(Record));
  if (at == nullptr) return false;
  std::memcpy(&out, at, sizeof(Record));
  return true;
}

// An existing prototype or instance of the part class with class data attached.
const CObject_Internal* PartOf(const Repository& repository, const TlxReference& entry) {
  const CObject_Internal* object = ResolveObjectReference(repository, entry);
  if (object == nullptr || object->classId != kConnectionPartClass) return nullptr;
  return object->Data(EDataKind::kClass) != nullptr ? object : nullptr;
}

CObject_Internal* TargetOf(const Repository& repository, const CObject_Internal& part) {
  TlxReference target;
  return ReadClassMember(part, kPartTargetOffset, target) ? ResolveObjectReference(repository, target) : nullptr;
}

const CObject_Internal* LastPart(const Repository& repository, const CReferenceList_Internal& list) {
  TlxReference last;
  if (list.count == 0 || !list.EntryAt(list.count - 1, last)) return nullptr;
  return PartOf(repository, last);
}

// Calls visit with every existing list (prototype or instance) that an entry of the named list
// names, in list order, until visit returns false; entries of other kinds are skipped.
template <typename F>
void ForEachListedConnection(const Repository& repository, const TlxListReference& listReference, F&& visit) {
  const CReferenceList_Internal* list = ResolveListReference(repository, listReference);
  TlxReference entry;
  for (uint32_t i = 0; list != nullptr && list->EntryAt(i, entry); ++i) {
    const CReferenceList_Internal* connection = ResolveListReference(repository, entry);
    if (connection != nullptr && !visit(*connection)) return;
  }
}

// A path under construction: the connection that extends its parent, and the jump reference
// followed after it, if any. Prefixes live on the stack of the resolving walk, so only paths
// that reach a result are ever allocated.
struct CPathPrefix {
  const CPathPrefix* parent;
  const CReferenceList_Internal* connection;
  TlxReference jump;
  bool followedJump;
  uint32_t count;  // entries of the whole path so far
};

// Collects the paths of one resolving call, depth first, straight into the result array.
class CResolver {
 public:
  explicit CResolver(Repository& repository) : m_repository(repository) { m_paths.Reserve(kInitialPaths); }
  ~CResolver() {
    for (void* path : m_paths) DestroyFreeStandingList(ListOfObject(path));
    m_paths.Free();
  }
  CResolver(const CResolver&) = delete;
  CResolver& operator=(const CResolver&) = delete;

  // False once the budget is spent: the walk then ends everywhere.
  bool ResolvePath(const CReferenceList_Internal& connection, const CPathPrefix* parent);
  void** TakeResult();

 private:
  static constexpr uint64_t kInitialPaths = 8;  // the array itself is the result block

  void AddPath(const CPathPrefix& prefix);
  CObject_Internal* FollowJump(CObject_Internal* jump, CPathPrefix& prefix);
  void FanOut(const CObject_Internal& hub, const CPathPrefix& prefix);
  bool OnPath(const CObject_Internal& hub) const;

  Repository& m_repository;
  Bravik::TArray<void*> m_paths;  // list objects; becomes the result array
  const CObject_Internal* m_hubs[kMaxHubDepth] = {};
  uint32_t m_hubDepth = 0;
  uint32_t m_hubsMet = 0;
  bool m_spent = false;
};

void AppendPrefix(CReferenceList_Internal& path, const CPathPrefix& prefix) {
  if (prefix.parent != nullptr) AppendPrefix(path, *prefix.parent);
  TlxReference entry;
  for (uint32_t i = 0; prefix.connection->EntryAt(i, entry); ++i) path.AddReference(entry);
  if (prefix.followedJump) path.AddReference(prefix.jump);
}

// The prefix's entries as a free-standing list sized exactly; a path that starts at the
// connection keeps its prototype list id, one continued through a hub has none.
void CResolver::AddPath(const CPathPrefix& prefix) {
  // Room for this path and the closing null first, so a made path always finds its slot.
  if (m_paths.Count() + 2 > m_paths.Capacity()) m_paths.Reserve(m_paths.Capacity() * 2);
  CReferenceList_Internal* path = CreateFreeStandingList(prefix.count);
  AppendPrefix(*path, prefix);
  path->prototypeListId = prefix.parent != nullptr ? kNoId32 : prefix.connection->prototypeListId;
  m_paths.Append(ObjectOfList(path));
  if (m_paths.Count() == kMaxResolvedPaths) m_spent = true;
}

// One jump is followed when its connection names a part with a target; the jump's reference
// then joins the path and the part's target replaces the jump.
CObject_Internal* CResolver::FollowJump(CObject_Internal* jump, CPathPrefix& prefix) {
  TlxReference connection;
  if (!ReadClassMember(*jump, kJumpConnectionOffset, connection)) return jump;
  const CObject_Internal* part = PartOf(m_repository, connection);
  CObject_Internal* target = part != nullptr ? TargetOf(m_repository, *part) : nullptr;
  if (target == nullptr) return jump;
  prefix.jump = connection;
  prefix.followedJump = true;
  ++prefix.count;
  return target;
}

bool CResolver::OnPath(const CObject_Internal& hub) const {
  for (uint32_t i = 0; i < m_hubDepth; ++i)
    if (m_hubs[i] == &hub) return true;
  return false;
}

// A hub is never a result itself: each connection of its list continues the path. A hub
// already on the path, or nested too deep, contributes nothing. Every hub met counts against
// the budget, cut or not, so that dense cycles of hubs cost a bounded number of steps.
void CResolver::FanOut(const CObject_Internal& hub, const CPathPrefix& prefix) {
  if (++m_hubsMet == kMaxHubExpansions) m_spent = true;
  if (m_spent || m_hubDepth == kMaxHubDepth || OnPath(hub)) return;
  TlxListReference connections;
  if (!ReadClassMember(hub, kHubConnectionsOffset, connections)) return;
  m_hubs[m_hubDepth++] = &hub;
  ForEachListedConnection(m_repository, connections,
                          [&](const CReferenceList_Internal& next) { return ResolvePath(next, &prefix); });
  --m_hubDepth;
}

bool CResolver::ResolvePath(const CReferenceList_Internal& connection, const CPathPrefix* parent) {
  if (m_spent) return false;
  const CObject_Internal* part = LastPart(m_repository, connection);
  if (part == nullptr) return true;
  CPathPrefix prefix{parent, &connection, {}, false, (parent != nullptr ? parent->count : 0) + connection.count};
  CObject_Internal* target = TargetOf(m_repository, *part);
  if (target != nullptr && target->classId == kJumpClass) target = FollowJump(target, prefix);
  if (target != nullptr && target->classId == kHubClass)
    FanOut(*target, prefix);
  else
    AddPath(prefix);
  return !m_spent;
}

// The collected paths followed by the null, in the array's own block.
void** CResolver::TakeResult() {
  m_paths.Append(nullptr);
  return m_paths.Release();
}

// ---- Scripts of parts ------------------------------------------------------------------------

// Evaluates the part's Sprig script at offset into value; false when the part has no Sprig
// script with an existing text (the value stays Invalid). Script errors propagate.
bool RunPartScript(Repository& repository, const CObject_Internal& part, uint32_t offset, TlxSprigValue& value) {
  TlxScriptReference script;
  if (!ReadClassMember(part, offset, script) || script.kind != kSprigScript) return false;
  CText_Internal* text = FindText(repository, script.textId);
  if (text == nullptr) return false;
  repository.Scripts().RunTextScript(*text, value);
  return true;
}

// A script value that releases its text however the evaluation ends.
struct CScopedValue {
  TlxSprigValue value{};
  CScopedValue() { value.kind = Sprig::kSprigInvalid; }
  ~CScopedValue() { Sprig::Release(value); }
  CScopedValue(const CScopedValue&) = delete;
  CScopedValue& operator=(const CScopedValue&) = delete;
};

// A condition that is not a Sprig script counts as true; one that fails counts as false.
bool ConditionHolds(Repository& repository, const CObject_Internal& part, Sprig::SScriptFault& fault) {
  CScopedValue result;
  try {
    return !RunPartScript(repository, part, kPartConditionOffset, result.value) || Sprig::AsBoolean(result.value);
  } catch (const CSprigException& error) {
    fault.Capture(error);
  } catch (const Bravik::CException&) {
  }
  return false;
}

void RunOutcome(Repository& repository, const CObject_Internal& part, Sprig::SScriptFault& fault) {
  CScopedValue result;
  try {
    RunPartScript(repository, part, kPartOutcomeOffset, result.value);
  } catch (const CSprigException& error) {
    fault.Capture(error);  // a failing outcome is skipped; the next part's still runs
  } catch (const Bravik::CException&) {
  }
}

}  // namespace

void** ResolveConnection(Repository& repository, CReferenceList_Internal& connection) {
  CResolver resolver(repository);
  resolver.ResolvePath(connection, nullptr);
  return resolver.TakeResult();
}

void** ResolveConnections(Repository& repository, const TlxListReference& connections) {
  CResolver resolver(repository);
  ForEachListedConnection(repository, connections,
                          [&](const CReferenceList_Internal& next) { return resolver.ResolvePath(next, nullptr); });
  return resolver.TakeResult();
}

uint32_t CountResolvedPaths(void* const* paths) {
  uint32_t count = 0;
  while (paths != nullptr && paths[count] != nullptr) ++count;
  return count;
}

void FreeResolvedPaths(void** paths) {
  if (paths == nullptr) return;
  for (void** path = paths; *path != nullptr; ++path) DestroyFreeStandingList(ListOfObject(*path));
  Memory::Free(paths);
}

CObject_Internal* ResolvePathTarget(const Repository& repository, const CReferenceList_Internal& path) {
  const CObject_Internal* part = LastPart(repository, path);
  return part != nullptr ? TargetOf(repository, *part) : nullptr;
}

// The entries of a path, copied before any of its scripts runs: a host function that a script
// calls may free the path or the list it is (the copy allocates only for long paths).
class CPathEntries {
 public:
  explicit CPathEntries(const CReferenceList_Internal& path) : m_count(path.count) {
    if (m_count > kInline) {
      m_heap.Reserve(m_count);
      m_entries = m_heap.Data();
    }
    for (uint32_t i = 0; i < m_count; ++i) path.EntryAt(i, m_entries[i]);
  }
  const TlxReference* begin() const { return m_entries; }
  const TlxReference* end() const { return m_entries + m_count; }

 private:
  static constexpr uint32_t kInline = 32;
  uint32_t m_count;
  TlxReference m_inline[kInline];
  TlxReference* m_entries = m_inline;
  Bravik::TArray<TlxReference> m_heap;
};

bool EvaluatePathConditions(Repository& repository, const CReferenceList_Internal* path, Sprig::SScriptFault& fault) {
  if (path == nullptr) return true;
  for (const TlxReference& entry : CPathEntries(*path)) {
    const CObject_Internal* part = PartOf(repository, entry);
    if (part != nullptr && !ConditionHolds(repository, *part, fault)) return false;
  }
  return true;
}

void ExecutePathOutcomes(Repository& repository, const CReferenceList_Internal* path, Sprig::SScriptFault& fault) {
  if (path == nullptr) return;
  for (const TlxReference& entry : CPathEntries(*path)) {
    if (const CObject_Internal* part = PartOf(repository, entry)) RunOutcome(repository, *part, fault);
  }
}

}  // namespace Quorin
