// Builds story graphs of the default catalogue through the exports: nodes, connection parts,
// connections (list prototypes of parts), hubs and jumps. Tests name everything by id.
#pragma once

#include <cstring>
#include <initializer_list>
#include <vector>

#include "capi/QuorinCAPI.h"

namespace QuorinTest {

constexpr uint16_t kConnectionPart = 0xFFC0, kFlowFragment = 0xFFF1, kDialogFragment = 0xFFDF, kHub = 0xFF0F,
                   kJump = 0xFFF0, kEntity = 0xFFEE;
constexpr uint8_t kSprig = 1, kCustomScript = 2;

inline TlxReference PrototypeRef(uint32_t id) { return TlxReference{id, 1}; }
inline TlxReference InstanceRef(uint32_t id) { return TlxReference{id, 2}; }
inline TlxReference ListRef(uint32_t id) { return TlxReference{id, 3}; }

// The list object the connection functions take: one pointer before the handle.
inline void* ListObject(TlxReferenceList* list) { return reinterpret_cast<char*>(list) - sizeof(void*); }
inline TlxReferenceList* PathHandle(void* path) {
  return reinterpret_cast<TlxReferenceList*>(static_cast<char*>(path) + sizeof(void*));
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

  uint32_t Text(const char* text) {
    const uint32_t id = m_nextText++;
    TlxCreateText(id, text);
    return id;
  }

  // A connection part targeting `target`, with optional scripts (text, kind).
  uint32_t Part(TlxReference target, const char* condition = nullptr, uint8_t conditionKind = kSprig,
                const char* outcome = nullptr, uint8_t outcomeKind = kSprig) {
    const TlxScriptReference cond{condition ? Text(condition) : 0xFFFFFFFFu, condition ? conditionKind : uint8_t{0}};
    const TlxScriptReference out{outcome ? Text(outcome) : 0xFFFFFFFFu, outcome ? outcomeKind : uint8_t{0}};
    return Object(kConnectionPart, [&](uint8_t* d) {
      std::memcpy(d + 4, &out, 5);
      std::memcpy(d + 9, &cond, 5);
      std::memcpy(d + 14, &target, 5);
    });
  }

  // A list prototype of the given entries; returns its id.
  uint32_t List(std::initializer_list<TlxReference> entries) {
    const uint32_t id = m_nextList++;
    std::vector<TlxReference> copy(entries);
    TlxCreateListPrototype(id, copy.data(), static_cast<uint32_t>(copy.size()));
    return id;
  }
  // A connection: a list of parts, the last one carrying the target.
  uint32_t Connection(std::initializer_list<uint32_t> parts) {
    std::vector<TlxReference> entries;
    for (uint32_t part : parts) entries.push_back(PrototypeRef(part));
    const uint32_t id = m_nextList++;
    TlxCreateListPrototype(id, entries.data(), static_cast<uint32_t>(entries.size()));
    return id;
  }

  // A hub whose "Connections" names a list of the given connections.
  uint32_t Hub(std::initializer_list<uint32_t> connections) {
    std::vector<TlxReference> entries;
    for (uint32_t c : connections) entries.push_back(ListRef(c));
    const uint32_t list = m_nextList++;
    TlxCreateListPrototype(list, entries.data(), static_cast<uint32_t>(entries.size()));
    const TlxListReference reference{list, 1};
    return Object(kHub, [&](uint8_t* d) { std::memcpy(d, &reference, 5); });
  }
  // A hub prototype whose connections list is filled later (for cycles).
  uint32_t HubWithList(uint32_t listId) {
    const TlxListReference reference{listId, 1};
    return Object(kHub, [&](uint8_t* d) { std::memcpy(d, &reference, 5); });
  }
  uint32_t NextListId() const { return m_nextList; }
  uint32_t ReserveListId() { return m_nextList++; }

  // A jump whose "Connection" names the part.
  uint32_t Jump(uint32_t part) {
    const TlxReference reference = PrototypeRef(part);
    return Object(kJump, [&](uint8_t* d) { std::memcpy(d + 5, &reference, 5); });
  }

  static TlxReferenceList* ListOf(uint32_t id) { return TlxGetListPrototype(id); }

  // The entries of a path as (id, kind) pairs, for comparisons.
  static std::vector<std::pair<uint32_t, uint8_t>> Entries(const TlxReferenceList* list) {
    std::vector<std::pair<uint32_t, uint8_t>> out;
    for (uint32_t i = 0; i < list->count; ++i) {
      const TlxReference entry = list->entries[i];  // packed: copy before taking references
      out.emplace_back(entry.id, entry.kind);
    }
    return out;
  }

 private:
  uint32_t m_nextObject = 1;
  uint32_t m_nextList = 1;
  uint32_t m_nextText = 1;
};

}  // namespace QuorinTest
