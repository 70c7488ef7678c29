// Builds story graphs of the default catalogue through the exports: nodes, connection parts,
// connections (list prototypes of parts), hubs and jumps. Tests name everything by id.
#pragma once

#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

#include "capi/QuorinCAPI.h"

namespace QuorinTest {

constexpr uint16_t kConnectionPart = 0xFFC0, kFlowFragment = 0xFFF1, kDialogFragment = 0xFFDF, kHub = 0xFF0F,
                   kJump = 0xFFF0, kEntity = 0xFFEE;
constexpr uint8_t kSprig = 1, kCustomScript = 2;

inline TlxReference PrototypeRef(uint32_t id) { return TlxReference{id, 1}; }
inline TlxReference ListRef(uint32_t id) { return TlxReference{id, 3}; }

// The list object the connection functions take: one pointer before the handle.
inline void* ListObject(TlxReferenceList* list) { return reinterpret_cast<char*>(list) - sizeof(void*); }
inline TlxReferenceList* PathHandle(void* path) {
  return reinterpret_cast<TlxReferenceList*>(static_cast<char*>(path) + sizeof(void*));
}

using EntryList = std::vector<std::pair<uint32_t, uint8_t>>;

// The entries of a list as (id, kind) pairs, for comparisons.
inline EntryList Entries(const TlxReferenceList* list) {
  EntryList out;
  for (uint32_t i = 0; i < list->count; ++i) {
    const TlxReference entry = list->entries[i];  // packed: copy before taking references
    out.emplace_back(entry.id, entry.kind);
  }
  return out;
}

// Needs a started library with the default classes registered.
class StoryBuilder {
 public:
  // A prototype of the class with zeroed class data in which `fill` may write first.
  template <typename Fill>
  uint32_t Object(uint16_t classId, Fill&& fill) {
    const uint32_t id = m_nextObject++;
    TlxCreatePrototype(id, classId, 0xFFFF);
    std::vector<uint8_t> data(TlxGetClassSizeByte(classId));
    fill(data.data());
    TlxStorePrototypeClassData(id, data.data(), static_cast<uint32_t>(data.size()));
    return id;
  }
  uint32_t Node(uint16_t classId = kDialogFragment) {
    return Object(classId, [](uint8_t*) {});
  }

  // A connection part targeting `target`, with optional scripts (text, kind).
  uint32_t Part(TlxReference target, const char* condition = nullptr, uint8_t conditionKind = kSprig,
                const char* outcome = nullptr, uint8_t outcomeKind = kSprig) {
    const TlxScriptReference cond{Text(condition), condition ? conditionKind : uint8_t{0}};
    const TlxScriptReference out{Text(outcome), outcome ? outcomeKind : uint8_t{0}};
    return Object(kConnectionPart, [&](uint8_t* d) {
      std::memcpy(d + 4, &out, 5);
      std::memcpy(d + 9, &cond, 5);
      std::memcpy(d + 14, &target, 5);
    });
  }

  // A list prototype of the given entries (under a reserved id when one is given).
  uint32_t List(const std::vector<TlxReference>& entries, uint32_t id = 0) {
    if (id == 0) id = m_nextList++;
    TlxCreateListPrototype(id, entries.data(), static_cast<uint32_t>(entries.size()));
    return id;
  }
  // A connection: a list of parts, the last one carrying the target.
  uint32_t Connection(std::initializer_list<uint32_t> parts) {
    std::vector<TlxReference> entries;
    for (uint32_t part : parts) entries.push_back(PrototypeRef(part));
    return List(entries);
  }
  // A connection of one part that targets the object.
  uint32_t To(uint32_t object) { return Connection({Part(PrototypeRef(object))}); }

  // A hub whose "Connections" names a list of the given connections (or the list id given, to
  // be filled later for cycles).
  uint32_t Hub(std::initializer_list<uint32_t> connections) {
    std::vector<TlxReference> entries;
    for (uint32_t c : connections) entries.push_back(ListRef(c));
    return HubWithList(List(entries));
  }
  uint32_t HubWithList(uint32_t listId) {
    const TlxListReference reference{listId, 1};
    return Object(kHub, [&](uint8_t* d) { std::memcpy(d, &reference, 5); });
  }
  uint32_t ReserveListId() { return m_nextList++; }

  // A jump whose "Connection" names the part.
  uint32_t Jump(uint32_t part) {
    const TlxReference reference = PrototypeRef(part);
    return Object(kJump, [&](uint8_t* d) { std::memcpy(d + 5, &reference, 5); });
  }

 private:
  uint32_t Text(const char* text) {
    if (text == nullptr) return 0xFFFFFFFF;
    TlxCreateText(m_nextText, text);
    return m_nextText++;
  }

  uint32_t m_nextObject = 1;
  uint32_t m_nextList = 1;
  uint32_t m_nextText = 1;
};

}  // namespace QuorinTest
