// The default class catalogue: the story classes every host can rely on, with fixed ids in the
// reserved range above 0xFF00.
#pragma once

#include <cstdint>

#include "repository/Repository.h"

namespace Quorin {

struct DefaultMember {
  const char* name;
  uint32_t typeCode;  // element count is always 1
};

struct DefaultClass {
  const char* name;
  uint16_t id;
  const DefaultMember* members;
  uint32_t memberCount;
};

constexpr uint32_t kDefaultClassCount = 13;
// In registration order.
extern const DefaultClass kDefaultClasses[kDefaultClassCount];

constexpr uint16_t kConnectionPartClass = 0xFFC0;
constexpr uint16_t kFlowFragmentClass = 0xFFF1;
constexpr uint16_t kDialogClass = 0xFFD1;
constexpr uint16_t kDialogFragmentClass = 0xFFDF;
constexpr uint16_t kEntityClass = 0xFFEE;
constexpr uint16_t kHubClass = 0xFF0F;
constexpr uint16_t kJumpClass = 0xFFF0;
constexpr uint16_t kAssetClass = 0xFFA5;
constexpr uint16_t kLocationClass = 0xFF10;
constexpr uint16_t kZoneClass = 0xFF70;
constexpr uint16_t kPathClass = 0xFF9A;
constexpr uint16_t kSpotClass = 0xFF59;
constexpr uint16_t kLinkClass = 0xFF11;

// Registers the catalogue in the current region, recording every name; classes whose ids are
// taken stay as they are, so a second call registers nothing new.
void RegisterDefaultClasses(Repository& repository);

}  // namespace Quorin
