// The instructions the native constant-time check (support/taint_check.h)
// takes as they are: MemorySanitizer handles them strictly, reporting any
// secret operand, although none of them takes a time or touches an address
// that depends on its operands. Each is used through the wrapper here and
// nowhere directly, so this file is the whole list; in every build but the
// checking one a wrapper is the instruction itself.
//
// Each group of instructions is there only in files built for its
// instruction set.
#pragma once

#include <cstdint>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "support/taint_check.h"

namespace compatcrypt::declared {

// An empty asm statement that claims to change a register: it emits no
// instruction at all, and only keeps the compiler from merging the
// arithmetic around it.
inline void Pin(uint64_t &x) {
  x = taint::Declared(
      [](uint64_t v) {
        __asm__("" : "+r"(v));
        return v;
      },
      x);
}

#if defined(__x86_64__)
// BT of a register by a register, then ADC: the table's bit at `count`
// (mod 64) shifted into the low end of `chain`. A bit test of a register
// reads no memory; the table itself is read from a fixed address.
inline uint64_t ShiftInTableBit(uint64_t chain, const uint64_t &table, uint64_t count) {
  return taint::Declared(
      [&table](uint64_t c, uint64_t n) {
        uint64_t t;
        __asm__(
            "movq %[table], %[t]\n\t"
            "btq %[count], %[t]\n\t"
            "adcl %k[chain], %k[chain]"
            : [chain] "+r"(c), [t] "=&r"(t)
            : [table] "m"(table), [count] "r"(n)
            : "cc");
        return c;
      },
      chain, count);
}
#endif

#if defined(__AVX512F__)
// The same for one vector register: the compiler no longer knows the
// value, so a constant stays in the register it was loaded into instead of
// being folded into the instructions that use it.
inline void Pin(__m512i &x) {
  x = taint::Declared(
      [](__m512i v) {
        __asm__("" : "+v"(v));
        return v;
      },
      x);
}

// The same over four vector registers at once: no instruction that reads
// one of them is moved in among the instructions that write them.
inline void Pin(__m512i (&v)[4]) {
  struct Four {
    __m512i v[4];
  };
  const Four pinned = taint::Declared(
      [](Four f) {
        __asm__("" : "+v"(f.v[0]), "+v"(f.v[1]), "+v"(f.v[2]), "+v"(f.v[3]));
        return f;
      },
      Four{{v[0], v[1], v[2], v[3]}});
  for (int i = 0; i < 4; ++i) v[i] = pinned.v[i];
}
#endif

#if defined(__SHA__)
// The SHA-1 instructions: fixed-latency arithmetic on registers.
template <int Functions>
inline __m128i Sha1Rounds4(__m128i abcd, __m128i we) {
  return taint::Declared([](__m128i a, __m128i w) { return _mm_sha1rnds4_epu32(a, w, Functions); }, abcd, we);
}
inline __m128i Sha1NextE(__m128i a, __m128i w) {
  return taint::Declared([](__m128i x, __m128i y) { return _mm_sha1nexte_epu32(x, y); }, a, w);
}
inline __m128i Sha1Msg1(__m128i a, __m128i b) {
  return taint::Declared([](__m128i x, __m128i y) { return _mm_sha1msg1_epu32(x, y); }, a, b);
}
inline __m128i Sha1Msg2(__m128i a, __m128i b) {
  return taint::Declared([](__m128i x, __m128i y) { return _mm_sha1msg2_epu32(x, y); }, a, b);
}
#endif

#if defined(__AVX512F__)
// VPTERNLOGQ and VPTERNLOGD: a bitwise function of three registers, chosen
// by a constant. Bit for bit the two are one function; compilers schedule
// them differently, so each engine keeps the form it was measured with
// (the digest's 32-bit lanes take the D form).
template <int Table>
inline __m512i TernaryLogic(__m512i a, __m512i b, __m512i c) {
  return taint::Declared(
      [](__m512i x, __m512i y, __m512i z) { return _mm512_ternarylogic_epi64(x, y, z, Table); }, a, b, c);
}
template <int Table>
inline __m512i TernaryLogic32(__m512i a, __m512i b, __m512i c) {
  return taint::Declared(
      [](__m512i x, __m512i y, __m512i z) { return _mm512_ternarylogic_epi32(x, y, z, Table); }, a, b, c);
}
#endif
#if defined(__AVX512VL__)
template <int Table>
inline __m128i TernaryLogic(__m128i a, __m128i b, __m128i c) {
  return taint::Declared(
      [](__m128i x, __m128i y, __m128i z) { return _mm_ternarylogic_epi64(x, y, z, Table); }, a, b, c);
}
#endif

#if defined(__AVX512BITALG__) && defined(__AVX512VL__)
// VPSHUFBITQMB: for each byte of `control`, the bit of the same 64-bit lane
// of `source` that the byte's low six bits name, into a mask. A register
// permute of bits; the bit numbers select no address.
inline __mmask16 BitGather(__m128i source, __m128i control) {
  return taint::Declared([](__m128i s, __m128i c) { return _mm_bitshuffle_epi64_mask(s, c); }, source,
                         control);
}
inline __mmask64 BitGather(__mmask64 keep, __m512i source, __m512i control) {
  return taint::Declared(
      [](__mmask64 k, __m512i s, __m512i c) { return _mm512_mask_bitshuffle_epi64_mask(k, s, c); }, keep,
      source, control);
}
#endif

#if defined(__AVX512CD__)
// VPBROADCASTMW2D: a 16-bit mask into every 32-bit lane.
inline __m512i BroadcastMask(__mmask16 mask) {
  return taint::Declared([](__mmask16 m) { return _mm512_broadcastmw_epi32(m); }, mask);
}
#endif

#if defined(__AVX512VBMI__) && defined(__AVX512VL__)
// VPERMB and VPERMI2B (256 and 512 bits): bytes of a table held in registers, chosen by the
// index bytes, with the lanes outside `keep` zeroed. The index selects a
// register byte, not an address.
inline __m512i PermuteBytes(__mmask64 keep, __m512i index, __m512i table) {
  return taint::Declared(
      [](__mmask64 k, __m512i i, __m512i t) { return _mm512_maskz_permutexvar_epi8(k, i, t); }, keep, index,
      table);
}
inline __m256i PermuteBytes(__mmask32 keep, __m256i low, __m256i index, __m256i high) {
  return taint::Declared(
      [](__mmask32 k, __m256i a, __m256i i, __m256i b) { return _mm256_maskz_permutex2var_epi8(k, a, i, b); },
      keep, low, index, high);
}
inline __m512i PermuteBytes(__mmask64 keep, __m512i low, __m512i index, __m512i high) {
  return taint::Declared(
      [](__mmask64 k, __m512i a, __m512i i, __m512i b) { return _mm512_maskz_permutex2var_epi8(k, a, i, b); },
      keep, low, index, high);
}
#endif

}  // namespace compatcrypt::declared
