#include "interchange/InterchangeNames.h"

#include <cstring>

#include "repository/TypeRegistry.h"

namespace Quorin {

namespace {

struct SKindNames {
  const char* const* names;
  uint32_t count;
};

SKindNames KindNamesOf(uint32_t memberType) {
  if (memberType == kTypeListReference) return {kListReferenceKindNames, 3};
  if (memberType == kTypeScriptReference) return {kScriptKindNames, 3};
  return {kReferenceKindNames, 6};
}

}  // namespace

const char* ReferenceKindName(uint32_t memberType, uint8_t kind) {
  const SKindNames table = KindNamesOf(memberType);
  return kind < table.count ? table.names[kind] : nullptr;
}

bool FindReferenceKind(uint32_t memberType, const char* name, uint32_t length, uint8_t& kind) {
  const SKindNames table = KindNamesOf(memberType);
  for (uint32_t i = 0; i < table.count; ++i) {
    if (std::strlen(table.names[i]) == length && std::memcmp(table.names[i], name, length) == 0) {
      kind = static_cast<uint8_t>(i);
      return true;
    }
  }
  return false;
}

}  // namespace Quorin
