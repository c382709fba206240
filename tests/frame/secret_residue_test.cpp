// Nothing secret stays on the stack once an export returns: derived keys,
// key schedules, passwords, plain blocks and the short-input pad live in
// the frames of the export's work, which lie below the caller's frame and
// are dead but not cleared when it returns.
//
// Method: a harness paints the stack below its own frame with a pattern (so
// the pages exist and hold nothing from before), calls the export, and copies
// the region below its frame to the heap with volatile reads, calling
// nothing in between. The secrets are computed beforehand and kept on the
// heap, as are the caller's buffers, so the only copies the scan can find
// are those the call left behind. Each 8-byte secret is looked for in both
// byte orders, since the engines hold blocks and keys as 64-bit words.
//
// Controls: the same harness finds the derived key and key schedules that
// inner routines leave behind when nothing burns their frames, and finds
// nothing once the library's burn follows, so a clean scan of an export is
// not a blind one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "compatcrypt.h"
#include "des/dispatch/des_dispatch.h"
#include "des/modes/triple_des.h"
#include "digest_core/digest_dispatch.h"
#include "keys/password_key.h"
#include "support/stack_burn.h"
#include "support/test_support.h"

// Sanitizers change what the scan sees: AddressSanitizer moves frames to
// fake stacks, ThreadSanitizer's instrumentation deepens every frame and
// runs its own code in the dead ones.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define COMPATCRYPT_SANITIZED_STACK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define COMPATCRYPT_SANITIZED_STACK 1
#endif
#endif

namespace compatcrypt::test {
namespace {

// Scanned: 64 KiB below the harness's frame, far more than any export uses
// (FileDigest's read buffer is 16 KiB). Painted: a little more, so that the
// bottom of the scan is painted too.
constexpr std::size_t kScanBytes = 64 * 1024;
constexpr std::size_t kPaintBytes = kScanBytes + 8 * 1024;
constexpr unsigned char kPaint = 0xCD;

[[gnu::noinline]] void PaintStack() {
  unsigned char area[kPaintBytes];
  std::memset(area, kPaint, sizeof area);
  __asm__ __volatile__("" : : "r"(area) : "memory");
}

// What a call works on; all of it on the heap.
struct Inputs {
  std::string password;
  Bytes derivedKey;  // KeyGenerating of the password
  Bytes cipherKey;   // an unrelated 16-byte key
  Bytes plain;       // whole blocks and a tail
  Bytes shortPlain;  // 1 to 7 bytes: hidden by the zero block's encryption
  Bytes message;     // digested, from memory and from a file
  std::string file;
  Bytes in;  // what the call reads (plain or coded)
  Bytes out;
  int32_t outLen = 0;
  int32_t result = 0;
};

using Call = void (*)(Inputs &);

// Paints, calls, and copies the region below this frame to `snapshot`
// (kScanBytes / 8 words), with no call between the export's return and
// the copy.
[[gnu::noinline]] void RunAndSnapshot(Call call, Inputs &inputs, uint64_t *snapshot) {
  PaintStack();
  call(inputs);
  const auto top = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  const auto *words = reinterpret_cast<const volatile uint64_t *>((top - kScanBytes) & ~uintptr_t{7});
  for (std::size_t i = 0; i < kScanBytes / 8; ++i) snapshot[i] = words[i];
}

struct Secret {
  std::string what;
  Bytes bytes;
};

// Secrets as byte strings, 8-byte ones in both byte orders. Strings of one
// repeated byte are left out: the burn's zeros or the paint would match
// them.
class Secrets {
 public:
  void Add(const std::string &what, const Bytes &bytes) {
    if (std::all_of(bytes.begin(), bytes.end(), [&](unsigned char b) { return b == bytes[0]; })) return;
    list_.push_back({what, bytes});
  }
  void AddWord(const std::string &what, const Bytes &bytes) {
    Add(what, bytes);
    Add(what + " (reversed)", Bytes(bytes.rbegin(), bytes.rend()));
  }
  // The eight-byte groups of `bytes` (a tail of at least 5 bytes too).
  void AddBlocks(const std::string &what, const Bytes &bytes) {
    for (std::size_t at = 0; at < bytes.size(); at += 8) {
      const std::size_t n = std::min<std::size_t>(8, bytes.size() - at);
      if (n < 5) continue;
      const Bytes block(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                        bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
      AddWord(what + " bytes " + std::to_string(at) + ".." + std::to_string(at + n - 1), block);
    }
  }
  // Every 8-byte window: a copy may start anywhere.
  void AddWindows(const std::string &what, const Bytes &bytes) {
    for (std::size_t at = 0; at + 8 <= bytes.size(); ++at)
      Add(what + " at " + std::to_string(at), Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                                    bytes.begin() + static_cast<std::ptrdiff_t>(at + 8)));
  }
  // The data as the digest's block transform holds it: 32-bit words, each
  // loaded from four bytes first byte most significant (bytes below 0x80
  // pack unchanged), in pairs as they lie in memory.
  void AddDigestWords(const std::string &what, const Bytes &bytes) {
    for (std::size_t at = 0; at + 8 <= bytes.size(); at += 4) {
      Bytes pair(8);
      for (int i = 0; i < 4; ++i) {
        pair[i] = bytes[at + 3 - i];
        pair[4 + i] = bytes[at + 7 - i];
      }
      Add(what + " words at " + std::to_string(at), pair);
    }
  }
  // The 16 subkey words of a DES key (read by the key rule), as they lie
  // in memory.
  void AddSchedule(const std::string &what, const Bytes &desKey) {
    auto subkeys = std::make_unique<des::DesSchedule>();
    des::ActiveSerialEngine().schedule(des::ReadDesKey(desKey.data()), *subkeys);
    for (int k = 0; k < 16; ++k) {
      Bytes word(8);
      std::memcpy(word.data(), &subkeys->round[k], 8);
      Add(what + " subkey " + std::to_string(k + 1), word);
    }
  }
  // A 16-byte cipher key: its halves as stored, the outer (even bytes) and
  // middle (odd bytes) DES keys, and both key schedules.
  void AddCipherKey(const std::string &what, const Bytes &key, bool middleSchedule = true) {
    AddBlocks(what, key);
    Bytes outer(8), middle(8);
    for (int i = 0; i < 8; ++i) {
      outer[i] = key[2 * i];
      middle[i] = key[2 * i + 1];
    }
    AddWord(what + " outer", outer);
    AddWord(what + " middle", middle);
    AddSchedule(what + " outer", outer);
    if (middleSchedule) AddSchedule(what + " middle", middle);
  }
  const std::vector<Secret> &list() const { return list_; }

 private:
  std::vector<Secret> list_;
};

// The secrets found in the region below the harness after `call`, with
// their distance below the harness's frame.
std::vector<std::string> Residue(Call call, Inputs &inputs, const Secrets &secrets) {
  std::vector<uint64_t> snapshot(kScanBytes / 8);
  RunAndSnapshot(call, inputs, snapshot.data());
  const auto *begin = reinterpret_cast<const unsigned char *>(snapshot.data());
  const auto *end = begin + kScanBytes;
  // Every 8-byte window of the region, so that most secrets cost a look-up.
  std::unordered_set<uint64_t> windows;
  for (const unsigned char *p = begin; p + 8 <= end; ++p) {
    uint64_t window;
    std::memcpy(&window, p, 8);
    windows.insert(window);
  }
  std::vector<std::string> found;
  for (const Secret &s : secrets.list()) {
    if (s.bytes.size() == 8) {
      uint64_t value;
      std::memcpy(&value, s.bytes.data(), 8);
      if (!windows.contains(value)) continue;
    }
    const auto *at = std::search(begin, end, s.bytes.begin(), s.bytes.end());
    if (at != end) found.push_back(s.what + " at " + std::to_string(end - at) + " bytes below the caller");
  }
  return found;
}

// The pad of inputs of 1 to 7 bytes: the encryption of the zero block.
Bytes ZeroBlockPad(const Bytes &key) {
  auto keys = std::make_unique<des::TripleDesSchedule>();
  des::ScheduleTripleDesKeys(key.data(), *keys);
  Bytes pad(8);
  des::StoreBlock(des::TripleDesEncrypt(0, *keys), pad.data());
  return pad;
}

class SecretResidue : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(COMPATCRYPT_SANITIZED_STACK)
    GTEST_SKIP() << "a sanitizer build: its stack frames are not those of the library as shipped";
#endif
    inputs_ = std::make_unique<Inputs>();
    Inputs &in = *inputs_;
    // Long enough to fold over several times; no 8-byte window repeats.
    in.password = "Residue-Check: 7 quick zebras jump over 9 lazy foxes!";
    in.derivedKey = CKey(in.password);
    in.cipherKey = FromHex("3b3898371520f75e922fb510c71f436e");
    std::mt19937_64 rng(71);
    in.plain = RandomBytes(rng, 5 * 8 + 6);
    in.shortPlain = RandomBytes(rng, 6);
    // Bytes below 0x80 pack into the digest's words unchanged.
    in.message = RandomBytes(rng, 40 * 64 + 40);
    for (auto &b : in.message) b &= 0x7F;
    in.file = dir_.Write("message.bin", in.message).string();
  }

  // Runs `call`, expects it to succeed, and returns what it left behind.
  std::vector<std::string> After(Call call, const Bytes &in, const Secrets &secrets) {
    inputs_->in = in;
    inputs_->out.assign(std::max<std::size_t>(in.size(), 20), 0);
    const std::vector<std::string> found = Residue(call, *inputs_, secrets);
    EXPECT_EQ(inputs_->result, 1);
    return found;
  }

  TempDir dir_;
  std::unique_ptr<Inputs> inputs_;
};

const unsigned char *Pw(const Inputs &in) {
  return reinterpret_cast<const unsigned char *>(in.password.c_str());
}
int32_t Size(const Bytes &b) { return static_cast<int32_t>(b.size()); }

void CallKeyGenerating(Inputs &in) {
  in.result = KeyGenerating(Pw(in), static_cast<int32_t>(in.password.size()), in.out.data(), &in.outLen, 1);
}
void CallEncodeKey(Inputs &in) { in.result = EncodeKey(Pw(in), in.in.data(), Size(in.in), in.out.data(), 1); }
void CallDecodeKey(Inputs &in) { in.result = DecodeKey(Pw(in), in.in.data(), Size(in.in), in.out.data(), 1); }
void CallEncodeFunction(Inputs &in) {
  in.result = EncodeFunction(in.in.data(), Size(in.in), in.cipherKey.data(), 16, in.out.data(), 1);
}
void CallDecodeFunction(Inputs &in) {
  in.result = DecodeFunction(in.in.data(), Size(in.in), in.cipherKey.data(), 16, in.out.data(), 1);
}
void CallMessageDigest(Inputs &in) {
  in.result = MessageDigest(in.in.data(), Size(in.in), in.out.data(), &in.outLen, 1);
}
void CallFileDigest(Inputs &in) {
  in.result =
      FileDigest(reinterpret_cast<const unsigned char *>(in.file.c_str()), 0, in.out.data(), &in.outLen, 1);
}

// Each export with the secrets it handles, from the password or key and
// the data of the call.
TEST_F(SecretResidue, ExportsLeaveNoSecretOnTheStack) {
  const Inputs &in = *inputs_;
  struct Case {
    std::string name;
    Call call;
    Bytes data;  // what the call reads
    Secrets secrets;
    std::string engine;    // the digest engine; empty: the default route
    std::string serial;    // the serial DES engine; empty: the default
    std::string bitslice;  // the bitsliced route; empty: the default
  };
  std::vector<Case> cases;
  std::string serial, bitslice;  // the DES engines of the cases added next
  const auto add = [&](const std::string &name, Call call, const Bytes &data, auto &&fill,
                       const std::string &engine = "") {
    const std::string on = serial.empty() && bitslice.empty() ? "" : " on " + serial + " / " + bitslice;
    Case c{name + on, call, data, {}, engine, serial, bitslice};
    fill(c.secrets);
    cases.push_back(std::move(c));
  };
  const auto passwordSecrets = [&](Secrets &s) {
    s.AddWindows("password", Bytes(in.password.begin(), in.password.end()));
    s.AddCipherKey("derived key", in.derivedKey);
  };
  const Bytes underPassword = CEncodeKey(in.password, in.plain);
  const Bytes underKey = CEncode(in.plain, in.cipherKey);
  const Bytes shortUnderKey = CEncode(in.shortPlain, in.cipherKey);

  // The DES cases on the default engines, then on every serial engine with
  // each bitsliced engine forced onto every run: their frames differ.
  std::vector<std::pair<std::string, std::string>> desEngines = {{"", ""}};
  for (const des::SerialDesEngine *s : des::AvailableSerialEngines())
    for (const des::BitsliceDesEngine *b : des::AvailableBitsliceEngines())
      desEngines.emplace_back(s->name, b->name);
  for (const auto &[serialName, bitsliceName] : desEngines) {
    serial = serialName;
    bitslice = bitsliceName;
    // KeyGenerating schedules only the first half (the outer key), to
    // encrypt it under itself.
    add("KeyGenerating", CallKeyGenerating, Bytes{}, [&](Secrets &s) {
      s.AddWindows("password", Bytes(in.password.begin(), in.password.end()));
      s.AddCipherKey("derived key", in.derivedKey, /*middleSchedule=*/false);
    });
    add("EncodeKey", CallEncodeKey, in.plain, [&](Secrets &s) {
      passwordSecrets(s);
      s.AddBlocks("plain", in.plain);
    });
    add("DecodeKey", CallDecodeKey, underPassword, [&](Secrets &s) {
      passwordSecrets(s);
      s.AddBlocks("plain", in.plain);
    });
    add("EncodeFunction", CallEncodeFunction, in.plain, [&](Secrets &s) {
      s.AddCipherKey("key", in.cipherKey);
      s.AddBlocks("plain", in.plain);
    });
    add("DecodeFunction", CallDecodeFunction, underKey, [&](Secrets &s) {
      s.AddCipherKey("key", in.cipherKey);
      s.AddBlocks("plain", in.plain);
    });
    add("EncodeFunction, short input", CallEncodeFunction, in.shortPlain, [&](Secrets &s) {
      s.AddCipherKey("key", in.cipherKey);
      s.Add("plain", in.shortPlain);
      s.AddWord("pad", ZeroBlockPad(in.cipherKey));
    });
    add("DecodeFunction, short input", CallDecodeFunction, shortUnderKey, [&](Secrets &s) {
      s.AddCipherKey("key", in.cipherKey);
      s.Add("plain", in.shortPlain);
      s.AddWord("pad", ZeroBlockPad(in.cipherKey));
    });
  }
  serial.clear();
  bitslice.clear();
  // The data the digest reads: the stream keeps a tail that does not fill
  // a block, the block transform expands every block into words. Each
  // engine has frames of its own, and the file's engines run below its read
  // buffer.
  std::vector<std::string> engines = {""};
  for (const auto *engine : digest_core::AvailableDigestEngines()) engines.emplace_back(engine->name);
  for (const std::string &engine : engines) {
    const std::string on = engine.empty() ? "" : " on " + engine;
    add(
        "MessageDigest" + on, CallMessageDigest, in.message,
        [&](Secrets &s) {
          s.AddWindows("message", in.message);
          s.AddDigestWords("message", in.message);
        },
        engine);
    add(
        "FileDigest" + on, CallFileDigest, Bytes{},
        [&](Secrets &s) {
          s.AddWindows("file bytes", in.message);
          s.AddDigestWords("file bytes", in.message);
        },
        engine);
  }

  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.secrets.list().empty());
    ASSERT_TRUE(digest_core::UseDigestEngine(c.engine));
    ASSERT_TRUE(des::UseSerialEngine(c.serial));
    ASSERT_TRUE(des::UseBitsliceEngine(c.bitslice));
    const std::vector<std::string> found = After(c.call, c.data, c.secrets);
    digest_core::UseDigestEngine("");
    des::UseSerialEngine("");
    des::UseBitsliceEngine("");
    EXPECT_TRUE(found.empty()) << c.name << " left " << found.size() << " secrets on the stack, first "
                               << found.front();
  }
}

// ---------------------------------------------------------------------------
// Controls: inner routines run with no burn after them.

// A frame that derives the key into a buffer of its own and leaves it there,
// as an export would that forgot both its wipe and its burn.
[[gnu::noinline]] uint8_t DeriveAndLeave(const std::string &password) {
  uint8_t key[des::kCipherKeyBytes];
  keys::DerivePasswordKey({reinterpret_cast<const uint8_t *>(password.data()), password.size()}, key);
  return key[0];
}

// A frame that schedules a cipher key and leaves the schedules there.
[[gnu::noinline]] uint64_t ScheduleAndLeave(const Bytes &key) {
  des::TripleDesSchedule keys;
  des::ScheduleTripleDesKeys(key.data(), keys);
  return des::TripleDesEncrypt(0, keys);
}

volatile uint64_t sink;

void CallDeriveIntoFrameUnburnt(Inputs &in) {
  sink = DeriveAndLeave(in.password);
  in.result = 1;
}
void CallDeriveIntoFrameBurnt(Inputs &in) {
  sink = RunAndBurn([&] { return DeriveAndLeave(in.password); });
  in.result = 1;
}
void CallScheduleUnburnt(Inputs &in) {
  sink = ScheduleAndLeave(in.cipherKey);
  in.result = 1;
}
void CallScheduleBurnt(Inputs &in) {
  sink = RunAndBurn([&] { return ScheduleAndLeave(in.cipherKey); });
  in.result = 1;
}

// Each unburnt call leaves secrets the scan must find (at least
// `unburntAtLeast` of them); with the library's burn after it, none.
TEST_F(SecretResidue, ScanFindsWhatAnUnburntInnerRoutineLeaves) {
  Secrets derived;
  derived.AddCipherKey("derived key", inputs_->derivedKey, /*middleSchedule=*/false);
  Secrets scheduled;
  scheduled.AddCipherKey("key", inputs_->cipherKey);
  const struct Case {
    const char *name;
    Call unburnt;
    Call burnt;
    const Secrets &secrets;
    std::size_t unburntAtLeast;
  } cases[] = {
      // Both halves of the key in the frame's buffer.
      {"DerivePasswordKey into a local buffer", CallDeriveIntoFrameUnburnt, CallDeriveIntoFrameBurnt, derived,
       2},
      // Every subkey of both schedules.
      {"ScheduleTripleDesKeys into a local schedule", CallScheduleUnburnt, CallScheduleBurnt, scheduled, 32},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::string> unburnt = After(c.unburnt, Bytes{}, c.secrets);
    EXPECT_GE(unburnt.size(), c.unburntAtLeast) << "the scan is blind to " << testing::PrintToString(unburnt);
    const std::vector<std::string> burnt = After(c.burnt, Bytes{}, c.secrets);
    EXPECT_TRUE(burnt.empty()) << "the burn missed " << testing::PrintToString(burnt);
  }
}

}  // namespace
}  // namespace compatcrypt::test
