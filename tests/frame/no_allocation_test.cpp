// No export allocates: every call of the seven functions, at sizes that
// take every path (empty, short, a tail, the bitsliced passes, a file read
// in many requests), on every DES engine pair, makes no heap allocation,
// counted by malloc itself.
//
// This program replaces malloc and its relatives (glibc lets a program do
// so) with a layer that counts calls while armed and forwards to glibc's
// own allocator. Allocations inside the C library on the library's behalf
// (a stdio stream, say) are counted too.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "compatcrypt.h"
#include "des/dispatch/des_dispatch.h"
#include "support/test_support.h"

#if defined(__GLIBC__)

extern "C" {
void *__libc_malloc(std::size_t);
void *__libc_calloc(std::size_t, std::size_t);
void *__libc_realloc(void *, std::size_t);
void *__libc_memalign(std::size_t, std::size_t);
void __libc_free(void *);
}

namespace {
thread_local bool armed = false;
thread_local int allocations = 0;
void Count() {
  if (armed) ++allocations;
}
}  // namespace

extern "C" {
void *malloc(std::size_t size) {
  Count();
  return __libc_malloc(size);
}
void *calloc(std::size_t count, std::size_t size) {
  Count();
  return __libc_calloc(count, size);
}
void *realloc(void *p, std::size_t size) {
  Count();
  return __libc_realloc(p, size);
}
void *memalign(std::size_t alignment, std::size_t size) {
  Count();
  return __libc_memalign(alignment, size);
}
void *aligned_alloc(std::size_t alignment, std::size_t size) {
  Count();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void **out, std::size_t alignment, std::size_t size) {
  Count();
  *out = __libc_memalign(alignment, size);
  return *out == nullptr ? 12 /* ENOMEM */ : 0;
}
void free(void *p) { __libc_free(p); }
}

namespace compatcrypt::test {
namespace {

// The allocations `call` makes.
int AllocationsOf(const std::function<void()> &call) {
  allocations = 0;
  armed = true;
  call();
  armed = false;
  return allocations;
}

struct Call {
  std::string what;
  std::function<void()> run;
};

TEST(NoAllocation, AllocationsAreCounted) {
  // The counter itself works: a plain malloc through it is seen, and so is
  // one the C library makes inside (a stdio stream's).
  EXPECT_EQ(AllocationsOf([] { free(malloc(16)); }), 1);
  EXPECT_GE(AllocationsOf([] {
              if (std::FILE *f = std::fopen("/dev/null", "rb")) std::fclose(f);
            }),
            1);
}

TEST(NoAllocation, NoExportAllocatesOnAnyEngine) {
  std::mt19937_64 rng(51);
  const Bytes key = RandomBytes(rng, 16);
  const std::string password = "correct horse";
  TempDir dir;
  const Bytes fileContent = RandomBytes(rng, (1 << 20) + 77);
  const std::string path = dir.Write("data.bin", fileContent).string();

  std::vector<Call> calls;
  for (std::size_t size : {0, 5, 8, 21, 1000, 70000, 1 << 20}) {
    auto data = std::make_shared<Bytes>(RandomBytes(rng, size));
    auto out = std::make_shared<Bytes>(size + 20);
    const std::string n = std::to_string(size);
    const int32_t len = static_cast<int32_t>(size);
    calls.push_back({"EncodeFunction " + n, [=] {
                       EncodeFunction(data->data(), len, key.data(), 16, out->data(), COMPATCRYPT_MODE);
                     }});
    calls.push_back({"DecodeFunction " + n, [=] {
                       DecodeFunction(data->data(), len, key.data(), 16, out->data(), COMPATCRYPT_MODE);
                     }});
    calls.push_back({"MessageDigest " + n, [=] {
                       int32_t outLen = 0;
                       MessageDigest(data->data(), len, out->data(), &outLen, COMPATCRYPT_MODE);
                     }});
    calls.push_back({"EncodeKey " + n,
                     [=] { EncodeKey(U(password), data->data(), len, out->data(), COMPATCRYPT_MODE); }});
    calls.push_back({"DecodeKey " + n,
                     [=] { DecodeKey(U(password), data->data(), len, out->data(), COMPATCRYPT_MODE); }});
  }
  calls.push_back({"KeyGenerating", [=] {
                     unsigned char out[16];
                     int32_t outLen = 0;
                     KeyGenerating(U(password), Len(password), out, &outLen, COMPATCRYPT_MODE);
                   }});
  calls.push_back({"FileDigest", [=] {
                     unsigned char out[20];
                     int32_t outLen = 0;
                     EXPECT_EQ(FileDigest(U(path), 3, out, &outLen, COMPATCRYPT_MODE), COMPATCRYPT_OK);
                   }});
  const std::string missing = path + ".missing";
  calls.push_back({"FileDigest, missing file", [=] {
                     unsigned char out[20];
                     int32_t outLen = 0;
                     EXPECT_EQ(FileDigest(U(missing), 0, out, &outLen, COMPATCRYPT_MODE), COMPATCRYPT_FAILED);
                   }});

  // Each call once before counting: first calls set up the dispatch.
  for (const Call &call : calls) call.run();
  for (const des::SerialDesEngine *serial : des::AvailableSerialEngines()) {
    for (const des::BitsliceDesEngine *bitslice : des::AvailableBitsliceEngines()) {
      ASSERT_TRUE(des::UseSerialEngine(serial->name));
      ASSERT_TRUE(des::UseBitsliceEngine(bitslice->name));
      for (const Call &call : calls)
        EXPECT_EQ(AllocationsOf(call.run), 0)
            << call.what << " on " << serial->name << " / " << bitslice->name;
    }
  }
  des::UseSerialEngine("");
  des::UseBitsliceEngine("");
}

}  // namespace
}  // namespace compatcrypt::test

#else

TEST(NoAllocation, NeedsGlibc) { GTEST_SKIP() << "counting allocations needs glibc's allocator"; }

#endif
