// Links against the installed libcompatcrypt-cxx and checks known answers,
// in one call and streamed a byte at a time.
#include <compatcrypt.hpp>

#include <cstdio>
#include <span>
#include <string>
#include <string_view>

namespace {

struct Case {
  std::string_view data;
  std::string_view digest;
};

constexpr Case cases[] = {
    {"abc", "cf094cf0e4f3001a04da7f2bfbcba247ddf92d2c"},
    {"", "e4e16e2b64e18a6650f05fd3f2ead2aea3582446"},
};

}  // namespace

int main() {
  for (const Case &c : cases) {
    const auto bytes = std::as_bytes(std::span(c.data.data(), c.data.size()));
    const std::string whole = compatcrypt::to_hex(compatcrypt::digest(bytes));
    compatcrypt::Digest stream;
    for (std::size_t i = 0; i < bytes.size(); ++i) stream.update(bytes.subspan(i, 1));
    const std::string streamed = compatcrypt::to_hex(stream.finish());
    if (whole != c.digest || streamed != c.digest) {
      std::fprintf(stderr, "consumer_cxx: digest of \"%.*s\" is %s (streamed %s), expected %.*s\n",
                   static_cast<int>(c.data.size()), c.data.data(), whole.c_str(), streamed.c_str(),
                   static_cast<int>(c.digest.size()), c.digest.data());
      return 1;
    }
  }
  std::printf("consumer_cxx: ok\n");
  return 0;
}
