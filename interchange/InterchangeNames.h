// What the text and binary interchange forms share: the section bits of the export
// configuration, the byte orders, and the names written for reference kinds.
#pragma once

#include <cstdint>

namespace Quorin {

// Section bits of TlxExportConfig::flags, in the order the sections are written.
constexpr uint32_t kSectionClasses = 1u << 0;
constexpr uint32_t kSectionTemplates = 1u << 1;
constexpr uint32_t kSectionPrototypes = 1u << 2;  // prototypes and list prototypes
constexpr uint32_t kSectionInstances = 1u << 3;   // instances and list instances
constexpr uint32_t kSectionTexts = 1u << 4;
constexpr uint32_t kSectionBlobs = 1u << 5;
constexpr uint32_t kSectionVariables = 1u << 6;       // global variables and namespaces
constexpr uint32_t kSectionBoundVariables = 1u << 7;  // variables bound to prototypes and instances
constexpr uint32_t kBackgroundExport = 1u << 31;

constexpr uint32_t kLittleEndian = 0;
constexpr uint32_t kBigEndian = 1;
constexpr const char* kByteOrderNames[] = {"LittleEndian", "BigEndian"};

constexpr uint32_t kInterchangeMajorVersion = 1;
constexpr uint32_t kInterchangeMinorVersion = 1;

// Kind names by member type (Reference and list entries, ListReference, ScriptReference), each
// indexed by the kind byte. ORDER REFERENCE_KIND, LIST_REFERENCE_KIND, SCRIPT_KIND
constexpr const char* kReferenceKindNames[] = {"NotSet", "Prototype", "Instance", "ListPrototype", "ListInstance",
                                               "Blob"};
constexpr const char* kListReferenceKindNames[] = {"NotSet", "Prototype", "Instance"};
constexpr const char* kScriptKindNames[] = {"NotSet", "TalvexSprig", "CustomScript"};
static_assert(sizeof(kReferenceKindNames) / sizeof(const char*) == 6);
static_assert(sizeof(kListReferenceKindNames) / sizeof(const char*) == 3);
static_assert(sizeof(kScriptKindNames) / sizeof(const char*) == 3);

// The name of a reference kind of a member type (16 Reference, 17 ListReference, 18
// ScriptReference; list entries use 16), or null for a kind the type does not name.
const char* ReferenceKindName(uint32_t memberType, uint8_t kind);
// The kind whose name is `name` (`length` bytes) for that member type; false when none is.
bool FindReferenceKind(uint32_t memberType, const char* name, uint32_t length, uint8_t& kind);

}  // namespace Quorin
