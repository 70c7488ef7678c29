// What the text and binary writers share: the sections and regions the export configuration
// selects, the walks over them in file order, and the progress counting.
#pragma once

#include <cstdint>

#include "capi/QuorinCAPI.h"
#include "interchange/InterchangeProgress.h"
#include "repository/Objects.h"
#include "repository/Repository.h"
#include "repository/ScriptBinding.h"

namespace Quorin {

constexpr uint32_t Swap32(uint32_t value) {
  return (value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) | (value << 24);
}
constexpr uint16_t Swap16(uint16_t value) { return static_cast<uint16_t>((value >> 8) | (value << 8)); }

// Where a Reference variable points: the kind of store (Bravik::kStorage...), its id and the
// target variable's id within it.
struct SReferenceTarget {
  uint32_t storeKind;
  uint32_t storeId;
  uint32_t variableId;
};

// False when the value points at nothing a file can name (a dropped store, a missing object).
bool FindReferenceTarget(const Repository& repository, const TlxSprigValue& value, SReferenceTarget& target);

class CExportWalk {
 public:
  CExportWalk(Repository& walked, const TlxExportConfig& config, CInterchangeProgress* progress)
      : repository(walked),
        index(walked.Index()),
        m_progress(progress),
        m_sections(config.flags),
        m_regions(config.regions),
        m_regionCount(config.regions != nullptr ? config.regionCount : 0) {}

  bool Has(uint32_t section) const { return (m_sections & section) != 0; }
  // Starts the progress at 0 of every item the selected sections hold.
  void BeginProgress();
  void FinishProgress() {
    if (m_progress != nullptr) m_progress->Finish();
  }
  void Advance() {
    ++m_done;
    if (m_progress != nullptr) m_progress->SetCounter(static_cast<float>(m_done));
  }

  // Items of an id tree in id order: all of them, or those of each listed region in turn.
  template <typename TItem, typename K, typename F>
  void ForEachItem(const Bravik::TMapTree<K>& tree, F&& visit) {
    if (m_regionCount == 0) {
      WalkAhead(tree, [&](Bravik::TMapElement<K>* node) { visit(*static_cast<TItem*>(node)); });
      return;
    }
    for (uint32_t i = 0; i < m_regionCount; ++i) {
      for (Bravik::TMapElement<K>* node : tree) {
        TItem& item = *static_cast<TItem*>(node);
        if (item.regionId == m_regions[i]) visit(item);
      }
    }
  }

  // visit(id, value, binding) over the variables bound to prototypes (or instances) of the
  // listed regions; a store whose object no longer exists counts as written and is skipped.
  template <typename F>
  void ForEachBoundVariable(bool prototypes, F&& visit) {
    const auto visitStore = [&](CBoundStore& store) {
      if (store.IsPrototype() != prototypes) return true;
      const uint32_t binding = store.GetId();
      const bool exists = prototypes ? FindPrototype(repository, binding) != nullptr
                                     : FindInstance(repository, binding) != nullptr;
      WalkStoreVariables(store, [&](uint32_t id, TlxSprigValue& value) {
        if (exists) {
          visit(id, value, binding);
        } else {
          Advance();
        }
        return true;
      });
      return true;
    };
    if (m_regionCount == 0) {
      WalkBoundStores(repository, kAllRegions, visitStore);
    } else {
      for (uint32_t i = 0; i < m_regionCount; ++i) WalkBoundStores(repository, m_regions[i], visitStore);
    }
  }

  Repository& repository;
  RepositoryIndex& index;

 private:
  // An id-order walk that finds the next node before visiting the current one and asks for the
  // nodes the step after it descends into: the cache misses of the step overlap the visit.
  template <typename K, typename F>
  static void WalkAhead(const Bravik::TMapTree<K>& tree, F&& visit) {
    using TTree = Bravik::TMapTree<K>;
    typename TTree::Node* node = tree.First();
    while (node != nullptr) {
      typename TTree::Node* next = TTree::Next(node);
      if (next != nullptr) {
        __builtin_prefetch(next->right);
        __builtin_prefetch(next->parent);
      }
      visit(node);
      node = next;
    }
  }

  uint64_t CountVariables() const;

  CInterchangeProgress* m_progress;
  uint32_t m_sections;
  const uint16_t* m_regions;
  uint32_t m_regionCount;
  uint64_t m_done = 0;
};

}  // namespace Quorin
