// Serial DES engines: one block at a time, for everything that cannot run
// in parallel (CBC encoding of one buffer, the password derivation's
// self-keyed steps, short buffers). Every engine runs in constant time. The
// dispatch (dispatch/des_dispatch.h) picks one from the CPU's features.
#pragma once

#include <cstddef>
#include <cstdint>

#include "des/block/des_schedule.h"

namespace compatcrypt::des {

struct SerialDesEngine {
  const char *name;
  // The 16 subkeys of `key` as ReadDesKey returns it (the lowest bit of
  // every key byte is ignored).
  void (*schedule)(uint64_t key, DesSchedule &schedule);
  // One DES operation on a block held as a big-endian word.
  uint64_t (*crypt)(const DesSchedule &schedule, uint64_t block, bool decrypt);
  // Two-key triple DES (encrypt outer, decrypt middle, encrypt outer) in CBC
  // mode over whole 8-byte blocks. `chain` enters as the cipher block before
  // the first one and leaves as the last cipher block, a memory-order word
  // (block_order.h) like every chain value. `out` may equal `in`,
  // or trail it by up to 7 bytes: every block is read before it is written.
  void (*cbcEncrypt)(const TripleDesSchedule &keys, uint64_t &chain, const uint8_t *in, std::size_t blocks,
                     uint8_t *out);
  void (*cbcDecrypt)(const TripleDesSchedule &keys, uint64_t &chain, const uint8_t *in, std::size_t blocks,
                     uint8_t *out);
  // The count of independent blocks from which one bitsliced pass (which
  // costs the same however few of its lanes carry blocks) beats this
  // engine; measured, see dispatch/des_dispatch.cpp.
  std::size_t bitsliceCrossover;
};

// General-purpose registers only: the S-boxes as 64-bit truth tables, read
// by bit tests on x86-64 and by rotates elsewhere. Runs everywhere.
extern const SerialDesEngine kSerialPortable;
#if defined(__x86_64__)
// The same engine reading by rotates, as it runs elsewhere: slower here,
// never chosen by default, but run by the tests and the constant-time check.
extern const SerialDesEngine kSerialRotates;
#endif
#if COMPATCRYPT_ENGINE_VBMI
// AVX-512 VBMI and BITALG: byte permutes for the S-boxes, bit gathers for
// the expansion and the key schedule; two shapes of the round, each the
// faster on some machines. `vbmi_planes` gathers the index bytes plane by
// plane and looks up in 256-bit halves; `vbmi_broadcast` keeps the key off
// the chain, gathers a box pair's index by one mask broadcast (AVX-512 CD)
// and looks up in one 512-bit register.
extern const SerialDesEngine kSerialVbmiPlanes;
extern const SerialDesEngine kSerialVbmiBroadcast;
#endif

}  // namespace compatcrypt::des
