#include "repository/DefaultClasses.h"

#include "foundation/string/String.h"
#include "repository/TypeRegistry.h"

namespace Quorin {

namespace {

constexpr uint32_t kUByte = 1, kFloat = 8, kText = 10, kBlob = 11;
constexpr uint32_t kRef = kTypeReference, kListRef = kTypeListReference, kScript = kTypeScriptReference;

constexpr DefaultMember kConnectionPart[] = {
    {"Label", kText}, {"Outcome", kScript}, {"Condition", kScript}, {"Target", kRef}};
// FlowFragment and Dialog share their members.
constexpr DefaultMember kFlowNode[] = {
    {"Connections", kListRef}, {"Parent", kRef},   {"Children", kListRef},
    {"Attachments", kListRef}, {"Image", kRef},    {"Name", kText},
    {"TechnicalName", kText},  {"Description", kText}};
constexpr DefaultMember kDialogFragment[] = {
    {"Connections", kListRef}, {"Parent", kRef},         {"Actor", kRef},
    {"TechnicalName", kText},  {"StageDirections", kText}, {"Text", kText},
    {"PreviewText", kText}};
constexpr DefaultMember kEntity[] = {{"Attachments", kListRef}, {"Image", kRef}, {"Name", kText},
                                     {"TechnicalName", kText},  {"Description", kText}};
constexpr DefaultMember kHub[] = {{"Connections", kListRef}, {"Parent", kRef}, {"Name", kText},
                                  {"TechnicalName", kText},  {"Description", kText}};
constexpr DefaultMember kJump[] = {{"Parent", kRef},          {"Connection", kRef}, {"Name", kText},
                                   {"TechnicalName", kText}, {"Description", kText}};
constexpr DefaultMember kAsset[] = {{"Name", kText},     {"TechnicalName", kText}, {"Description", kText},
                                    {"MimeType", kText}, {"AssetType", kUByte},    {"Data", kBlob}};
constexpr DefaultMember kLocation[] = {{"ScaleX", kFloat},        {"ScaleY", kFloat},
                                       {"Image", kRef},           {"Name", kText},
                                       {"TechnicalName", kText},  {"Description", kText},
                                       {"Children", kListRef}};
constexpr DefaultMember kZone[] = {{"Image", kRef},          {"Name", kText},
                                   {"TechnicalName", kText}, {"Description", kText},
                                   {"Points", kBlob},        {"Children", kListRef},
                                   {"ShapeType", kUByte}};
constexpr DefaultMember kPath[] = {{"StartZone", kRef},      {"TargetZone", kRef},
                                   {"Image", kRef},          {"Name", kText},
                                   {"TechnicalName", kText}, {"Description", kText},
                                   {"Points", kBlob}};
constexpr DefaultMember kSpot[] = {
    {"Image", kRef}, {"Name", kText}, {"TechnicalName", kText}, {"Description", kText}};
constexpr DefaultMember kLink[] = {
    {"Target", kRef}, {"Name", kText}, {"TechnicalName", kText}, {"Description", kText}};

template <uint32_t N>
constexpr DefaultClass Class(const char* name, uint16_t id, const DefaultMember (&members)[N]) {
  return DefaultClass{name, id, members, N};
}

constexpr uint32_t kMostMembers = 8;

}  // namespace

const DefaultClass kDefaultClasses[kDefaultClassCount] = {
    Class("ConnectionPart", kConnectionPartClass, kConnectionPart),
    Class("FlowFragment", kFlowFragmentClass, kFlowNode),
    Class("Dialog", kDialogClass, kFlowNode),
    Class("DialogFragment", kDialogFragmentClass, kDialogFragment),
    Class("Entity", kEntityClass, kEntity),
    Class("Hub", kHubClass, kHub),
    Class("Jump", kJumpClass, kJump),
    Class("Asset", kAssetClass, kAsset),
    Class("Location", kLocationClass, kLocation),
    Class("Zone", kZoneClass, kZone),
    Class("Path", kPathClass, kPath),
    Class("Spot", kSpotClass, kSpot),
    Class("Link", kLinkClass, kLink),
};

void RegisterDefaultClasses(Repository& repository) {
  for (const DefaultClass& entry : kDefaultClasses) {
    TlxMember members[kMostMembers];
    for (uint32_t i = 0; i < entry.memberCount; ++i) {
      const uint32_t hash = repository.HashAndRecordName(entry.members[i].name);
      members[i] = TlxMember{hash, MakeTypeWord(entry.members[i].typeCode, 1)};
    }
    const uint32_t nameHash = repository.HashAndRecordName(entry.name);
    RegisterType(repository, ETypeKind::kClass, nameHash, entry.id, members, entry.memberCount);
  }
}

}  // namespace Quorin
