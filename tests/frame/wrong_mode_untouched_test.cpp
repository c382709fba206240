// A wrong mode returns -1 before any other argument is looked at: valid
// pointers to memory that cannot be read or written (a PROT_NONE page)
// passed as every pointer argument must not be touched, or the call faults.
#include <gtest/gtest.h>

#if defined(__unix__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <cstdint>

#include "compatcrypt.h"

namespace compatcrypt::test {
namespace {

#if defined(__unix__)
TEST(WrongMode, InaccessiblePointersAreNotTouched) {
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  void *mapping = ::mmap(nullptr, page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mapping, MAP_FAILED);
  auto *p = static_cast<unsigned char *>(mapping);
  auto *len = static_cast<int32_t *>(mapping);
  for (uint32_t mode : {0u, 2u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(mode);
    for (int32_t n : {16, 0, -1}) {
      SCOPED_TRACE(n);
      EXPECT_EQ(EncodeFunction(p, n, p, n, p, mode), -1);
      EXPECT_EQ(DecodeFunction(p, n, p, n, p, mode), -1);
      EXPECT_EQ(MessageDigest(p, n, p, len, mode), -1);
      EXPECT_EQ(FileDigest(p, n, p, len, mode), -1);
      EXPECT_EQ(KeyGenerating(p, n, p, len, mode), -1);
      EXPECT_EQ(EncodeKey(p, p, n, p, mode), -1);
      EXPECT_EQ(DecodeKey(p, p, n, p, mode), -1);
    }
  }
  ::munmap(mapping, page);
}
#endif

}  // namespace
}  // namespace compatcrypt::test
