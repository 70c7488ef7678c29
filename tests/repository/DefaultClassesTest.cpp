// The default catalogue: order, repeat registration, recorded names and the region it lives in.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "capi/QuorinCAPI.h"
#include "repository/DefaultClasses.h"
#include "repository/TypeRegistry.h"
#include "tests/repository/ItemTestSupport.h"

namespace {

using namespace QuorinTest;

class DefaultClasses : public testing::Test {
 protected:
  void TearDown() override { TlxShutdown(); }
};

// Sizes, members, offsets and names are checked against the story model document (DocExamplesTest);
// here the order of registration, which the interchange writer follows, and no templates.
TEST_F(DefaultClasses, RegisterClassesOnlyInCatalogueOrder) {
  ASSERT_TRUE(StartLibrary(0));
  TlxRegisterDefaultClasses();
  Quorin::Repository& repository = *Quorin::Repository::Get();
  std::vector<uint16_t> ids;
  Quorin::WalkTypes(repository, Quorin::kAllRegions, Quorin::ETypeKind::kClass,
                    [&](Quorin::CTypeInfo_Internal& type) { return ids.push_back(type.GetId()), true; });
  EXPECT_EQ(ids, (std::vector<uint16_t>{0xFFC0, 0xFFF1, 0xFFD1, 0xFFDF, 0xFFEE, 0xFF0F, 0xFFF0, 0xFFA5, 0xFF10,
                                        0xFF70, 0xFF9A, 0xFF59, 0xFF11}));
  EXPECT_EQ(repository.Index().templates.count, 0u);
}

// A second call registers nothing new, a host class under a reserved id keeps its place, the
// catalogue goes with its region and nothing is recorded when recording is off.
TEST_F(DefaultClasses, RegisterOnceBesideHostClassesAndGoWithTheirRegion) {
  ASSERT_TRUE(StartLibrary(0));
  const TlxMember member = Member("Own", kDWord);
  TlxRegisterClassType("HostHub", 0xFF0F, &member, 1);
  TlxBeginRegionWithId(2);
  TlxRegisterDefaultClasses();
  TlxRegisterDefaultClasses();
  TlxEndRegion();
  Quorin::Repository& repository = *Quorin::Repository::Get();
  EXPECT_EQ(repository.Index().classes.count, Quorin::kDefaultClassCount);
  EXPECT_EQ(TlxGetClassSizeByte(0xFF0F), 4u);
  EXPECT_EQ(TlxGetClassSizeByte(0xFFF0), 22u);
  EXPECT_EQ(repository.Index().names.count, 0u);
  TlxDropRegionData(2);
  EXPECT_EQ(repository.Index().classes.count, 1u);
  TlxRegisterDefaultClasses();  // after the drop the ids are free again
  EXPECT_EQ(TlxGetClassSizeByte(0xFFC0), 19u);
}

}  // namespace
