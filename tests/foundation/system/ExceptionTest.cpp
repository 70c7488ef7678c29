#include <cstring>

#include <gtest/gtest.h>

#include "foundation/system/Exception.h"
#include "foundation/system/Platform.h"

using namespace Bravik;

namespace {
const char* Text(const IString& s) { return static_cast<const char*>(s.GetData()); }
}  // namespace

TEST(Exceptions, CopiesOwnTheirMessage) {
  CException original("lost the thread");
  CException copy = original, assigned;
  assigned = original;
  for (const CException* e : {&copy, &assigned}) {
    EXPECT_STREQ(Text(e->GetMessage()), "lost the thread");
    EXPECT_NE(e->GetMessage().GetData(), original.GetMessage().GetData());
  }
}

// Success throws nothing; codes 2 and 5 mean "not found" and a plain I/O or access failure on
// both platforms.
TEST(ThrowFileError, CarriesTheSystemTextAndTheMappedKind) {
  EXPECT_NO_THROW(ThrowFileError(0));
  struct Case { uint32_t code, kind; };
  for (const Case& c : {Case{2, kFileErrorNotFound}, Case{5, kFileErrorOther}}) {
    try {
      ThrowFileError(c.code);
      ADD_FAILURE() << "code " << c.code << " did not throw";
    } catch (const CFileException& e) {
      EXPECT_EQ(e.GetKind(), c.kind) << "code " << c.code;
      EXPECT_GT(e.GetMessage().GetLength(), 0u) << "the system has a text for code " << c.code;
    }
  }
}

TEST(SystemErrorText, StaysInsideTheBuffer) {
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  const size_t length = System::SystemErrorText(2, buffer, sizeof buffer);
  EXPECT_LT(length, sizeof buffer);
  EXPECT_EQ(buffer[length], '\0');
  EXPECT_EQ(System::SystemErrorText(2, nullptr, 0), 0u);
}
