// The one-shot interface where it adds to the C functions: file digests with
// their error reporting, and the error type.
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "cxx_test_support.h"

namespace {

using namespace compatcrypt_test;
namespace fs = std::filesystem;

class FileDigestTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(testing::TempDir()) /
           ("compatcrypt_cxx_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path Write(const std::string &name, const Bytes &content) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(content.data()), static_cast<std::streamsize>(content.size()));
    return path;
  }

  fs::path dir_;
};

TEST_F(FileDigestTest, EqualsFileDigestAndDigestOfTheRestAtEveryOffsetKind) {
  std::mt19937 rng(11);
  const Bytes content = RandomBytes(200, rng);
  const fs::path path = Write("data.bin", content);
  for (const int32_t offset : {0, 1, 63, 64, 143, 199, 200, 201, 100000}) {
    SCOPED_TRACE("offset " + std::to_string(offset));
    compatcrypt::DigestValue expected{};
    int32_t expectedLen = 0;
    ASSERT_EQ(FileDigest(reinterpret_cast<const unsigned char *>(path.c_str()), offset, U(expected),
                         &expectedLen, COMPATCRYPT_MODE),
              COMPATCRYPT_OK);
    EXPECT_EQ(compatcrypt::file_digest(path, offset), expected);
    const std::size_t start = std::min<std::size_t>(static_cast<std::size_t>(offset), content.size());
    EXPECT_EQ(compatcrypt::digest(std::span(content).subspan(start)), expected);
  }
}

TEST_F(FileDigestTest, FailuresThrowWithCodeAndFileName) {
  const fs::path present = Write("present.bin", AsBytes("abc"));
  struct Case {
    const char *what;
    fs::path path;
    int32_t offset;
    const char *cause;  // expected in the message; empty: any
  };
  const Case cases[] = {
      {"missing file", dir_ / "missing.bin", 0, "No such file or directory"},
      {"directory", dir_, 0, "Is a directory"},
      {"negative offset", present, -1, "negative offset"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    try {
      compatcrypt::file_digest(c.path, c.offset);
      ADD_FAILURE() << "no error";
    } catch (const compatcrypt::Error &error) {
      EXPECT_EQ(error.code(), COMPATCRYPT_FAILED);
      EXPECT_THAT(error.what(), testing::HasSubstr(c.path.string()));
      EXPECT_THAT(error.what(), testing::HasSubstr(c.cause));
    }
  }
}

TEST(ErrorTest, IsARuntimeErrorWithCodeAndMessage) {
  const compatcrypt::Error error(COMPATCRYPT_ERROR, "what happened");
  const std::runtime_error &base = error;
  EXPECT_STREQ(base.what(), "what happened");
  EXPECT_EQ(error.code(), COMPATCRYPT_ERROR);
}

}  // namespace
