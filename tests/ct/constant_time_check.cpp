// Constant-time check, built two ways (taint_marks.h): run under valgrind
// memcheck, or built with MemorySanitizer and run natively.
//
// Both checkers track, bit by bit, which values come from uninitialised
// memory, and report a conditional jump or a memory address computed from
// such a value. Marking the secrets undefined turns that into a report of
// every branch and every address that depends on a secret: keys, passwords
// and plain data are marked; lengths, cipher blocks and digests are public.
// Outputs are marked defined again before this program looks at them, so
// its own checks report nothing.
//
// Every export runs on every engine this CPU runs, as the checker presents
// the CPU: memcheck hides AVX-512 and the SHA extensions, so the engines
// that need them are reached by the native build only. Cipher texts and
// digests must agree across engines and decoding must undo encoding, so a
// route that does no work cannot pass for a clean one.
//
//   constant_time_check            the check; the checker must report nothing
//   constant_time_check --control  a table lookup and a branch on a secret
//                                  byte; the checker must report both
// and in the native build, the controls inside each engine
// (support/taint_check.h):
//   constant_time_check --engine-controls               ROUTE FILE per engine
//   constant_time_check --engine-control branch|index ROUTE
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "compatcrypt.h"
#include "des/dispatch/des_dispatch.h"
#include "digest_core/digest_dispatch.h"
#include "support/taint_check.h"
#include "taint_marks.h"

namespace {

using Bytes = std::vector<unsigned char>;

using ct::Public;
using ct::Secret;

template <typename T>
T Declassify(T value) {
  Public(&value, sizeof value);
  return value;
}

// A NUL-terminated password: its length, like every length, is public, and
// finding it tests each byte against zero. Each byte before the terminator
// has its top bit set and known (the password fold drops that bit) and its
// low seven bits secret, so "not zero" is known and nothing else is; with
// --expensive-definedness-checks=yes memcheck sees that the test against
// zero depends on the known bit alone.
void SecretNonzeroBytes(const unsigned char *p, std::size_t n) {
  const Bytes unknownLowBits(n, 0x7F);
  ct::SecretBits(p, unknownLowBits.data(), n);
}

int failures = 0;

void Fail(const std::string &what) {
  std::fprintf(stderr, "FAIL: %s\n", what.c_str());
  ++failures;
}

// Deterministic bytes (xorshift64), so that a failure repeats.
Bytes Fill(std::size_t n, uint64_t seed) {
  Bytes out(n);
  uint64_t x = seed * 0x9E3779B97F4A7C15u + 1;
  for (unsigned char &b : out) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    b = static_cast<unsigned char>(x >> 24);
  }
  return out;
}

// Whole blocks, a length that is not a multiple of 8 and short inputs for
// the codec (1 to 7 bytes, a partial block after whole ones); the digest's
// one and two closing blocks; a few KiB; and enough blocks for every pass
// of the parallel decoder.
const std::vector<std::size_t> &Lengths() {
  static const std::vector<std::size_t> lengths = [] {
    std::vector<std::size_t> l;
    for (std::size_t n = 0; n <= 20; ++n) l.push_back(n);
    for (std::size_t n : {24, 55, 56, 57, 63, 64, 65, 100, 1000, 4099, 65536 + 5}) l.push_back(n);
    return l;
  }();
  return lengths;
}

// Inputs longer than this run under fewer keys and passwords: valgrind is
// slow, and what they add is the bulk paths, which do not change with the key.
constexpr std::size_t kLongInput = 4096;

// Cipher keys: one with no zero byte, and one whose outer and middle keys
// both end early (the key rule reads each up to its first zero byte).
const std::array<Bytes, 2> &CipherKeys() {
  static const std::array<Bytes, 2> keys = [] {
    std::array<Bytes, 2> k{Fill(16, 1), Fill(16, 2)};
    for (unsigned char &b : k[0]) b |= 1;
    k[1][6] = 0;   // outer key: bytes 0..2 count
    k[1][11] = 0;  // middle key: bytes 0..4 count
    return k;
  }();
  return keys;
}

// EncodeFunction and DecodeFunction on every length under every key; the
// cipher text is checked against `reference` (filled on the first run) and
// decoded back to the plain text.
void CheckCodec(const std::string &route, std::vector<Bytes> &reference) {
  std::size_t index = 0;
  for (const Bytes &key : CipherKeys()) {
    for (std::size_t n : Lengths()) {
      const std::string what =
          route + " codec key " + std::to_string(&key - CipherKeys().data()) + " length " + std::to_string(n);
      const Bytes plain = Fill(n, 100 + n);
      Bytes cipher(n + 1);
      Bytes back(n + 1);
      const int32_t len = static_cast<int32_t>(n);

      Secret(key.data(), key.size());
      Secret(plain.data(), n);
      int32_t rc =
          Declassify(EncodeFunction(plain.data(), len, key.data(), 16, cipher.data(), COMPATCRYPT_MODE));
      Public(cipher.data(), n);  // cipher blocks are public
      if (rc != COMPATCRYPT_OK) Fail(what + ": EncodeFunction returned " + std::to_string(rc));

      Secret(key.data(), key.size());
      rc = Declassify(DecodeFunction(cipher.data(), len, key.data(), 16, back.data(), COMPATCRYPT_MODE));
      Public(back.data(), n);
      Public(plain.data(), n);
      if (rc != COMPATCRYPT_OK) Fail(what + ": DecodeFunction returned " + std::to_string(rc));
      if (std::memcmp(back.data(), plain.data(), n) != 0) Fail(what + ": decoding does not undo encoding");

      cipher.resize(n);
      if (index == reference.size())
        reference.push_back(cipher);
      else if (reference[index] != cipher)
        Fail(what + ": cipher text differs from the first route's");
      ++index;
    }
  }
  Public(CipherKeys()[0].data(), 16);
  Public(CipherKeys()[1].data(), 16);
}

// KeyGenerating on passwords of every length class (filled, seven bytes,
// folded) with any byte values; EncodeKey and DecodeKey on NUL-terminated
// passwords, against EncodeFunction under the derived key.
void CheckPasswords(const std::string &route) {
  for (std::size_t length : {0, 1, 6, 7, 8, 9, 16, 33}) {
    const std::string what = route + " KeyGenerating length " + std::to_string(length);
    const Bytes password = Fill(length + 1, 200 + length);
    unsigned char key[16];
    int32_t keyLen = 0;
    Secret(password.data(), length);
    const int32_t rc = Declassify(
        KeyGenerating(password.data(), static_cast<int32_t>(length), key, &keyLen, COMPATCRYPT_MODE));
    Public(key, sizeof key);
    Public(&keyLen, sizeof keyLen);
    if (rc != COMPATCRYPT_OK || keyLen != 16) Fail(what + ": returned " + std::to_string(rc));
  }

  for (std::size_t length : {0, 3, 7, 12}) {
    Bytes password = Fill(length + 1, 300 + length);
    for (unsigned char &b : password) b |= 0x80;
    password[length] = 0;
    unsigned char key[16];
    int32_t keyLen = 0;
    KeyGenerating(password.data(), static_cast<int32_t>(length), key, &keyLen, COMPATCRYPT_MODE);

    for (std::size_t n : Lengths()) {
      // The codec's own check runs the long inputs; here the longest
      // password takes them, which is enough to show the derived key in use.
      if (n > kLongInput && length != 12) continue;
      const std::string what =
          route + " password length " + std::to_string(length) + " data length " + std::to_string(n);
      const Bytes plain = Fill(n, 400 + n);
      Bytes cipher(n + 1);
      Bytes expected(n + 1);
      Bytes back(n + 1);
      const int32_t len = static_cast<int32_t>(n);
      EncodeFunction(plain.data(), len, key, 16, expected.data(), COMPATCRYPT_MODE);

      SecretNonzeroBytes(password.data(), length);
      Secret(plain.data(), n);
      int32_t rc = Declassify(EncodeKey(password.data(), plain.data(), len, cipher.data(), COMPATCRYPT_MODE));
      Public(cipher.data(), n);
      if (rc != COMPATCRYPT_OK) Fail(what + ": EncodeKey returned " + std::to_string(rc));
      if (std::memcmp(cipher.data(), expected.data(), n) != 0)
        Fail(what + ": EncodeKey differs from EncodeFunction under the derived key");

      SecretNonzeroBytes(password.data(), length);
      rc = Declassify(DecodeKey(password.data(), cipher.data(), len, back.data(), COMPATCRYPT_MODE));
      Public(back.data(), n);
      Public(plain.data(), n);
      if (rc != COMPATCRYPT_OK) Fail(what + ": DecodeKey returned " + std::to_string(rc));
      if (std::memcmp(back.data(), plain.data(), n) != 0) Fail(what + ": DecodeKey does not undo EncodeKey");
    }
    Public(password.data(), length);
  }
}

// MessageDigest on every length; digests are checked against `reference`.
void CheckDigest(const std::string &route, std::vector<Bytes> &reference) {
  std::size_t index = 0;
  for (std::size_t n : Lengths()) {
    const std::string what = route + " MessageDigest length " + std::to_string(n);
    const Bytes data = Fill(n, 500 + n);
    Bytes digest(20);
    int32_t digestLen = 0;
    Secret(data.data(), n);
    const int32_t rc = Declassify(
        MessageDigest(data.data(), static_cast<int32_t>(n), digest.data(), &digestLen, COMPATCRYPT_MODE));
    Public(digest.data(), digest.size());
    Public(&digestLen, sizeof digestLen);
    Public(data.data(), n);
    if (rc != COMPATCRYPT_OK || digestLen != 20) Fail(what + ": returned " + std::to_string(rc));
    if (index == reference.size())
      reference.push_back(digest);
    else if (reference[index] != digest)
      Fail(what + ": digest differs from the first engine's");
    ++index;
  }
}

// FileDigest, for completeness: the file's bytes come from read(2), which
// memcheck marks defined, and nothing outside the library can mark them
// otherwise. What this run checks is that the file path handles no secret
// and reads nothing uninitialised; the digest of the same bytes in memory
// is what MessageDigest's check covers.
void CheckFileDigest(const std::string &route) {
  char path[] = "/tmp/compatcrypt_ct_XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) {
    Fail(route + " FileDigest: cannot create a temporary file");
    return;
  }
  close(fd);
  for (std::size_t n : {0, 100, 65536 + 5}) {
    const std::string what = route + " FileDigest length " + std::to_string(n);
    const Bytes data = Fill(n, 600 + n);
    std::FILE *file = std::fopen(path, "wb");
    if (file == nullptr || std::fwrite(data.data(), 1, n, file) != n || std::fclose(file) != 0) {
      Fail(what + ": cannot write the file");
      continue;
    }
    for (int32_t offset : {0, 7}) {
      unsigned char fromFile[20];
      unsigned char fromMemory[20];
      int32_t fileLen = 0;
      int32_t memoryLen = 0;
      const std::size_t skip = std::min<std::size_t>(static_cast<std::size_t>(offset), n);
      const int32_t rc = Declassify(FileDigest(reinterpret_cast<const unsigned char *>(path), offset,
                                               fromFile, &fileLen, COMPATCRYPT_MODE));
      Public(fromFile, sizeof fromFile);
      MessageDigest(data.data() + skip, static_cast<int32_t>(n - skip), fromMemory, &memoryLen,
                    COMPATCRYPT_MODE);
      if (rc != COMPATCRYPT_OK || std::memcmp(fromFile, fromMemory, 20) != 0)
        Fail(what + " offset " + std::to_string(offset) + ": differs from MessageDigest");
    }
  }
  unlink(path);
}

// Whether the checker can follow a serial engine. Memcheck models a bit
// test of a register (BT) as a load at an address formed from the bit
// number, so it would report the x86-64 "portable" engine, made of such bit
// tests, for an access that engine never makes. The native check follows
// it; here its twin "rotates" (the same tables, read by rotates) runs in
// its place.
bool CheckerFollows([[maybe_unused]] const compatcrypt::des::SerialDesEngine &engine) {
#if defined(__x86_64__) && !defined(CT_NATIVE)
  return std::strcmp(engine.name, "portable") != 0;
#else
  return true;
#endif
}

// The digest first and the password keys before the codec: memcheck stops
// reporting after ten million errors, and a leaking DES engine alone can
// reach that.
int RunCheck() {
  using namespace compatcrypt;
  std::vector<Bytes> digestReference;
  std::vector<Bytes> cipherReference;
  int routes = 0;

  // Every digest engine alone, then the default route (short runs may go
  // to another engine).
  for (const digest_core::DigestEngine *engine : digest_core::AvailableDigestEngines()) {
    if (!digest_core::UseDigestEngine(engine->name)) {
      Fail(std::string("cannot select digest engine ") + engine->name);
      continue;
    }
    std::printf("digest engine %s\n", engine->name);
    CheckDigest(engine->name, digestReference);
    ++routes;
  }
  digest_core::UseDigestEngine("");
  std::printf("digest default route\n");
  CheckDigest("default", digestReference);
  CheckFileDigest("default");
  ++routes;

  // Every serial engine with each bitsliced engine (one chosen by name
  // takes every run of independent blocks) and decoding alone ("serial"),
  // then the default route with its crossover between the two.
  auto runDes = [&](const std::string &route) {
    std::printf("DES %s\n", route.c_str());
    CheckPasswords(route);
    CheckCodec(route, cipherReference);
    ++routes;
  };
  for (const des::SerialDesEngine *serial : des::AvailableSerialEngines()) {
    if (!CheckerFollows(*serial)) {
      std::printf("DES serial %s: not run under %s (see CheckerFollows)\n", serial->name, ct::kChecker);
      continue;
    }
    std::vector<std::string> decoders = {"serial"};  // every run of blocks decoded serially
    for (const des::BitsliceDesEngine *bitslice : des::AvailableBitsliceEngines())
      decoders.push_back(bitslice->name);
    for (const std::string &decoder : decoders) {
      if (!des::UseSerialEngine(serial->name) || !des::UseBitsliceEngine(decoder)) {
        Fail(std::string("cannot select ") + serial->name + " / " + decoder);
        continue;
      }
      runDes(std::string("serial ") + serial->name + ", decoding by " + decoder);
    }
  }
  des::UseSerialEngine("");
  des::UseBitsliceEngine("");
  if (CheckerFollows(des::ActiveSerialEngine())) {
    runDes("default route");
  } else {
    des::UseSerialEngine("rotates");
    runDes("default route, serial rotates in place of portable");
  }

  std::printf("%d routes run, %d failures\n", routes, failures);
  return failures == 0 ? 0 : 1;
}

// The control: the two faults the check is there to find. The checker must
// report both, or the marking or the checker itself is not working.
constexpr std::array<unsigned char, 256> kControlTable = [] {
  std::array<unsigned char, 256> t{};
  for (std::size_t i = 0; i < t.size(); ++i) t[i] = static_cast<unsigned char>(i * 167 + 13);
  return t;
}();

volatile int controlSink;

[[gnu::noinline]] unsigned char ControlSecretIndex(const unsigned char *secret) {
  return kControlTable[*secret];
}

[[gnu::noinline]] void ControlSecretBranch(const unsigned char *secret) {
  // A store to a volatile on one path only: no compiler may make it
  // unconditional, so this stays a real branch.
  if (*secret & 1) controlSink = 1;
}

int RunControl() {
  unsigned char secret = 0x5A;
  Secret(&secret, 1);
  ControlSecretBranch(&secret);
  const unsigned char looked = Declassify(ControlSecretIndex(&secret));
  std::printf("control ran (%u)\n", looked);
  return 0;
}

#if defined(CT_NATIVE)
// The engines' controls, in the native build only: each engine hands a
// secret value to a hook once a call (support/taint_check.h), which makes a
// branch or a table lookup on it when asked. One route per engine this CPU
// runs, with the source file whose code must be on the report's stack.
struct EngineRoute {
  std::string name;
  std::string file;
};

std::vector<EngineRoute> EngineRoutes() {
  using namespace compatcrypt;
  std::vector<EngineRoute> routes;
  for (const digest_core::DigestEngine *engine : digest_core::AvailableDigestEngines()) {
    const std::string name = engine->name;
    const bool lanes = name == "avx2" || name == "avx512";
    routes.push_back({"digest:" + name, lanes ? "digest_lanes.h" : "digest_" + name + ".cpp"});
  }
  for (const des::SerialDesEngine *engine : des::AvailableSerialEngines()) {
    // The VBMI shapes' files are named after them (serial_vbmi_planes.cpp),
    // and share the decryption of independent blocks.
    const std::string name = engine->name;
    const bool vbmi = name.starts_with("vbmi");
    routes.push_back(
        {"serial:" + name + ":encode", vbmi ? "serial_" + name + ".cpp" : "serial_portable.cpp"});
    routes.push_back({"serial:" + name + ":decode", vbmi ? "serial_vbmi_lanes.cpp" : "serial_portable.cpp"});
  }
  for (const des::BitsliceDesEngine *engine : des::AvailableBitsliceEngines())
    routes.push_back({std::string("bitsliced:") + engine->name, "bitslice_rounds.h"});
  return routes;
}

// Runs one route with the control armed; the sanitizer is to stop the
// program at the hook. Returning means the check did not see it.
int RunEngineControl(const std::string &kind, const std::string &route) {
  using namespace compatcrypt;
  const auto split = [&](std::size_t field) {
    std::size_t begin = 0;
    for (std::size_t i = 0; i < field && begin != std::string::npos; ++i) {
      begin = route.find(':', begin);
      if (begin != std::string::npos) ++begin;
    }
    if (begin == std::string::npos) return std::string();
    return route.substr(begin, route.find(':', begin) - begin);
  };
  const std::string family = split(0);
  const std::string engine = split(1);
  const std::string call = split(2);
  bool selected = false;
  if (family == "digest")
    selected = digest_core::UseDigestEngine(engine);
  else if (family == "serial")
    selected = des::UseSerialEngine(engine) && des::UseBitsliceEngine("serial") &&
               (call == "encode" || call == "decode");
  else if (family == "bitsliced")
    selected = des::UseBitsliceEngine(engine);
  if (!selected || (kind != "branch" && kind != "index")) {
    std::fprintf(stderr, "constant_time_check: no such control: %s %s\n", kind.c_str(), route.c_str());
    return 2;
  }

  taint::control = kind == "branch" ? taint::ControlKind::kBranch : taint::ControlKind::kIndex;
  const Bytes key = Fill(16, 1);
  const Bytes data = Fill(family == "digest" ? 65536 + 5 : family == "bitsliced" ? 4096 : 64, 2);
  Bytes out(data.size());
  int32_t outLen = 0;
  Secret(key.data(), key.size());
  Secret(data.data(), data.size());
  const int32_t len = static_cast<int32_t>(data.size());
  if (family == "digest")
    MessageDigest(data.data(), len, out.data(), &outLen, COMPATCRYPT_MODE);
  else if (call == "encode")
    EncodeFunction(data.data(), len, key.data(), 16, out.data(), COMPATCRYPT_MODE);
  else
    DecodeFunction(data.data(), len, key.data(), 16, out.data(), COMPATCRYPT_MODE);
  std::printf("control %s %s: not reported\n", kind.c_str(), route.c_str());
  return 1;
}
#endif

const char kUsage[] =
    "usage: constant_time_check            the check: the checker must report nothing\n"
    "       constant_time_check --control  a secret branch and a secret table index in this program\n"
#if defined(CT_NATIVE)
    "       constant_time_check --engine-controls          the engines' control routes: ROUTE FILE\n"
    "       constant_time_check --engine-control KIND ROUTE  KIND branch or index, inside an engine\n"
#endif
    ;

}  // namespace

int main(int argc, char **argv) {
  if (!ct::UnderChecker()) {
    std::fprintf(stderr,
                 "constant_time_check: run me under valgrind (memcheck), or build me with MemorySanitizer\n");
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // in step with the checker's reports
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return RunCheck();
  if (args.size() == 1 && args[0] == "--control") return RunControl();
#if defined(CT_NATIVE)
  if (args.size() == 1 && args[0] == "--engine-controls") {
    for (const EngineRoute &route : EngineRoutes())
      std::printf("%s %s\n", route.name.c_str(), route.file.c_str());
    return 0;
  }
  if (args.size() == 3 && args[0] == "--engine-control") return RunEngineControl(args[1], args[2]);
#endif
  std::fputs(kUsage, stderr);
  return 2;
}
