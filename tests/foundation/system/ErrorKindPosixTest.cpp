#include <cerrno>

#include <gtest/gtest.h>

#include "foundation/system/Platform.h"

TEST(FileErrorKind, ErrnoTable) {
  struct Case { int code; uint32_t kind; };
  const Case cases[] = {
      {ENOENT, 1},       {EBADMSG, 2},   {EUCLEAN, 2},   {ENAMETOOLONG, 3}, {EFBIG, 3},
      {EOVERFLOW, 3},    {EOPNOTSUPP, 3}, {EEXIST, 4},    {ENOTEMPTY, 4},    {EBUSY, 4},
      {ETXTBSY, 4},      {EROFS, 4},      {EACCES, 0},    {EIO, 0},          {EINVAL, 0},
      {0, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(Bravik::System::FileErrorKind(static_cast<uint32_t>(c.code)), c.kind) << c.code;
}
