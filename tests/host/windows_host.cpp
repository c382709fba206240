// A Windows host: loads compatcrypt.dll by name, resolves the seven
// functions by their undecorated names and checks a known answer for each.
// Prints one success line and exits 0 only if all of them hold.
//
// The pointer types carry the header's calling convention, as a host's own
// declarations must: on 32-bit x86 a __cdecl call into the __stdcall
// functions pops their arguments twice and the checks below fail.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "compatcrypt.h"

namespace {

using CoderFn = int32_t(COMPATCRYPT_CALL *)(const unsigned char *, int32_t, const unsigned char *, int32_t,
                                            unsigned char *, uint32_t);
using DigestFn = int32_t(COMPATCRYPT_CALL *)(const unsigned char *, int32_t, unsigned char *, int32_t *,
                                             uint32_t);
using PasswordFn = int32_t(COMPATCRYPT_CALL *)(const unsigned char *, const unsigned char *, int32_t,
                                               unsigned char *, uint32_t);

int failures = 0;

void Check(bool ok, const char *what) {
  if (!ok) {
    std::printf("FAILED: %s\n", what);
    ++failures;
  }
}

bool HexEquals(const unsigned char *bytes, std::size_t size, const char *hex) {
  char text[2 * 64 + 1] = {};
  for (std::size_t i = 0; i < size; ++i) std::snprintf(text + 2 * i, 3, "%02x", bytes[i]);
  return std::strcmp(text, hex) == 0;
}

}  // namespace

int main(int argc, char **argv) {
  const char *name = argc > 1 ? argv[1] : "compatcrypt.dll";
  HMODULE dll = LoadLibraryA(name);
  if (dll == nullptr) {
    std::printf("cannot load %s: error %lu\n", name, GetLastError());
    return 3;
  }
  auto resolve = [&](const char *symbol) {
    FARPROC address = GetProcAddress(dll, symbol);
    Check(address != nullptr, symbol);
    // void (*)() is the generic function pointer type: casting through it
    // states that the signature comes from the header, not from FARPROC.
    return reinterpret_cast<void (*)()>(address);
  };
  const auto encodeFunction = reinterpret_cast<CoderFn>(resolve("EncodeFunction"));
  const auto decodeFunction = reinterpret_cast<CoderFn>(resolve("DecodeFunction"));
  const auto messageDigest = reinterpret_cast<DigestFn>(resolve("MessageDigest"));
  const auto fileDigest = reinterpret_cast<DigestFn>(resolve("FileDigest"));
  const auto keyGenerating = reinterpret_cast<DigestFn>(resolve("KeyGenerating"));
  const auto encodeKey = reinterpret_cast<PasswordFn>(resolve("EncodeKey"));
  const auto decodeKey = reinterpret_cast<PasswordFn>(resolve("DecodeKey"));
  if (failures != 0) return 1;

  unsigned char out[64];
  int32_t outLen = 0;
  const auto *abc = reinterpret_cast<const unsigned char *>("abc");
  Check(messageDigest(abc, 3, out, &outLen, 1) == 1 && outLen == 20 &&
            HexEquals(out, 20, "cf094cf0e4f3001a04da7f2bfbcba247ddf92d2c"),
        "MessageDigest abc");
  Check(messageDigest(abc, 3, out, &outLen, 2) == -1, "MessageDigest mode 2");

  char path[MAX_PATH];
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  GetTempFileNameA(dir, "cc", 0, path);
  if (std::FILE *f = std::fopen(path, "wb")) {
    std::fwrite("xxabc", 1, 5, f);
    std::fclose(f);
  }
  Check(fileDigest(reinterpret_cast<const unsigned char *>(path), 2, out, &outLen, 1) == 1 &&
            HexEquals(out, 20, "cf094cf0e4f3001a04da7f2bfbcba247ddf92d2c"),
        "FileDigest from offset 2");
  DeleteFileA(path);
  Check(fileDigest(reinterpret_cast<const unsigned char *>(path), 0, out, &outLen, 1) == -2,
        "FileDigest of a missing file");

  // NIST TECBMMT2 COUNT=0 (one block): outer key ad192fd064b5579e and
  // middle key 7a4fb3c8f794f22a interleaved.
  const unsigned char key[16] = {0xad, 0x7a, 0x19, 0x4f, 0x2f, 0xb3, 0xd0, 0xc8,
                                 0x64, 0xf7, 0xb5, 0x94, 0x57, 0xf2, 0x9e, 0x2a};
  const unsigned char plain[8] = {0x13, 0xba, 0xd5, 0x42, 0xf3, 0x65, 0x2d, 0x67};
  unsigned char cipher[8], back[8];
  Check(encodeFunction(plain, 8, key, 16, cipher, 1) == 1 && HexEquals(cipher, 8, "908e543cf2cb254f"),
        "EncodeFunction NIST block");
  Check(decodeFunction(cipher, 8, key, 16, back, 1) == 1 && std::memcmp(back, plain, 8) == 0,
        "DecodeFunction NIST block");
  Check(encodeFunction(plain, 8, key, 15, cipher, 1) == -2, "EncodeFunction short key");

  // The empty password is eight fill letters 'l'.
  unsigned char derived[16], filled[16];
  Check(keyGenerating(abc, 0, derived, &outLen, 1) == 1 && outLen == 16, "KeyGenerating empty");
  Check(keyGenerating(reinterpret_cast<const unsigned char *>("llllllll"), 8, filled, &outLen, 1) == 1 &&
            std::memcmp(derived, filled, 16) == 0,
        "KeyGenerating fill rule");

  const auto *password = reinterpret_cast<const unsigned char *>("password");
  const unsigned char data[13] = "hello, world";
  unsigned char viaKey[13], viaPassword[13], decoded[13];
  Check(keyGenerating(password, 8, derived, &outLen, 1) == 1, "KeyGenerating password");
  Check(encodeFunction(data, 13, derived, 16, viaKey, 1) == 1, "EncodeFunction under derived key");
  Check(encodeKey(password, data, 13, viaPassword, 1) == 1 && std::memcmp(viaKey, viaPassword, 13) == 0,
        "EncodeKey equals EncodeFunction");
  Check(decodeKey(password, viaPassword, 13, decoded, 1) == 1 && std::memcmp(decoded, data, 13) == 0,
        "DecodeKey round trip");

  FreeLibrary(dll);
  if (failures != 0) return 1;
  std::printf("compatcrypt.dll: all seven functions loaded by name and checked\n");
  return 0;
}
