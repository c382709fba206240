// Uses the installed C++ interface and checks one known answer.
#include <compatcrypt.hpp>

#include <cstdio>
#include <string_view>

int main() {
  constexpr std::string_view abc = "abc";
  const auto value = compatcrypt::digest(std::as_bytes(std::span(abc.data(), abc.size())));
  const unsigned char first = static_cast<unsigned char>(value[0]);
  if (first != 0xcf) return 1;
  std::printf("consumer_cxx: digest starts with %02x\n", first);
  return 0;
}
