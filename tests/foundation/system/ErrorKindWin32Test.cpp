#include <gtest/gtest.h>

#include "foundation/system/Platform.h"

TEST(FileErrorKind, WindowsCodeTable) {
  struct Case { uint32_t code, kind; };
  const Case cases[] = {
      {2, 1},   {1921, 1}, {4350, 1}, {276, 2},  {1392, 2}, {1393, 2}, {206, 3},  {222, 3},
      {223, 3}, {665, 3},  {1006, 3}, {32, 4},   {80, 4},   {145, 4},  {183, 4},  {1920, 4},
      {6002, 4}, {6009, 4}, {5, 0},   {3, 0},    {0, 0},    {87, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(Bravik::System::FileErrorKind(c.code), c.kind) << c.code;
}
