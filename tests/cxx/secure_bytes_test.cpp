// SecureBytes and WipingAllocator: memory goes back to the heap only after
// it was zeroed, on destruction and on reallocation alike.
//
// This program replaces the global allocation functions (a replacement the
// language allows) with a thin layer over malloc and free that, when armed
// with a block, records what that block held at the moment it was freed.
// The bytes are read before free() runs, while the storage is still
// allocated.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "compatcrypt.hpp"
#include "support/test_support.h"

namespace {

// One watched block at a time; the tests run on one thread.
struct Watch {
  const void *block = nullptr;
  std::size_t size = 0;
  bool freed = false;
  bool zero = false;
};
Watch watch;

void *Allocate(std::size_t size) {
  if (void *p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

void Free(void *p) noexcept {
  if (p != nullptr && p == watch.block) {
    const auto *bytes = static_cast<const unsigned char *>(p);
    watch.freed = true;
    watch.zero = std::all_of(bytes, bytes + watch.size, [](unsigned char b) { return b == 0; });
    watch.block = nullptr;
  }
  std::free(p);
}

}  // namespace

void *operator new(std::size_t size) { return Allocate(size); }
void *operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void *p) noexcept { Free(p); }
void operator delete[](void *p) noexcept { Free(p); }
void operator delete(void *p, std::size_t) noexcept { Free(p); }
void operator delete[](void *p, std::size_t) noexcept { Free(p); }

namespace compatcrypt::test {
namespace {

constexpr std::byte kSecret{0x5A};

template <typename Vector>
void Arm(const Vector &v) {
  watch = Watch{v.data(), v.capacity() * sizeof(typename Vector::value_type)};
}

// The watch itself: a block freed with its bytes in place is seen as such,
// so a passing wipe check is not a blind one.
TEST(WipingAllocatorTest, WatchSeesABlockFreedUnwiped) {
  void *block = ::operator new(32);
  std::memset(block, 0x5A, 32);
  watch = Watch{block, 32};
  ::operator delete(block);
  EXPECT_TRUE(watch.freed);
  EXPECT_FALSE(watch.zero);
}

TEST(WipingAllocatorTest, DestroyedBufferIsZeroBeforeItIsFreed) {
  {
    SecureBytes secret(100, kSecret);
    Arm(secret);
  }
  EXPECT_TRUE(watch.freed);
  EXPECT_TRUE(watch.zero);
}

// Growth moves the bytes to a new block: the old one is wiped too.
TEST(WipingAllocatorTest, ReallocationWipesTheOldBlock) {
  SecureBytes secret(16, kSecret);
  secret.shrink_to_fit();
  Arm(secret);
  const void *before = secret.data();
  secret.resize(secret.capacity() + 1000, kSecret);
  ASSERT_NE(secret.data(), before);
  EXPECT_TRUE(watch.freed);
  EXPECT_TRUE(watch.zero);
}

// The whole block is wiped for elements wider than a byte: n elements are
// n * sizeof(T) bytes.
TEST(WipingAllocatorTest, WipesEveryByteOfWideElements) {
  {
    std::vector<uint64_t, WipingAllocator<uint64_t>> words(40, 0x0123456789ABCDEFull);
    Arm(words);
  }
  EXPECT_TRUE(watch.freed);
  EXPECT_TRUE(watch.zero);
}

// What decode() returns wipes itself when the caller lets it go.
TEST(WipingAllocatorTest, DecodedDataIsWipedWhenReleased) {
  const Key key = Key::from_hex("0123456789abcdeffedcba9876543210");
  const ByteVector plain(77, kSecret);
  const std::vector<std::byte> coded = encode(plain, key);
  {
    const SecureBytes decoded = decode(coded, key);
    ASSERT_EQ(ToBytes(decoded), ToBytes(plain));
    Arm(decoded);
  }
  EXPECT_TRUE(watch.freed);
  EXPECT_TRUE(watch.zero);
}

}  // namespace
}  // namespace compatcrypt::test
