#include "digest_core/digest_stream.h"

#include <cstring>

#include "digest_core/digest_closing.h"
#include "digest_core/digest_dispatch.h"
#include "support/secure_wipe.h"

namespace compatcrypt::digest_core {

DigestStream::~DigestStream() { SecureWipe(pending_); }

void DigestStream::Update(std::span<const uint8_t> data) {
  const uint8_t *p = data.data();
  std::size_t n = data.size();
  byteCount_ += static_cast<uint32_t>(n);  // the count wraps; so does its low word
  if (pendingLen_ != 0) {
    const std::size_t take = n < kBlockSize - pendingLen_ ? n : kBlockSize - pendingLen_;
    if (take != 0) std::memcpy(pending_ + pendingLen_, p, take);
    pendingLen_ += static_cast<uint32_t>(take);
    p += take;
    n -= take;
    if (pendingLen_ < kBlockSize) return;
    DigestBlocks(pending_, 1, sums_);
    pendingLen_ = 0;
  }
  const std::size_t whole = n / kBlockSize;
  DigestBlocks(p, whole, sums_);
  pendingLen_ = static_cast<uint32_t>(n % kBlockSize);
  if (pendingLen_ != 0) std::memcpy(pending_, p + whole * kBlockSize, pendingLen_);
}

bool DigestStream::Append(const DigestStream &later) {
  if (pendingLen_ != 0) return false;
  for (std::size_t i = 0; i < 5; ++i) sums_[i] += later.sums_[i];
  byteCount_ += later.byteCount_;
  pendingLen_ = later.pendingLen_;
  std::memcpy(pending_, later.pending_, sizeof pending_);
  return true;
}

void DigestStream::Finish(std::span<uint8_t, kDigestBytes> out) {
  // A short message that filled its last block: its closing block's words
  // come from the table (the count is public, as every length is).
  const std::size_t blocks = byteCount_ / kBlockSize;
  if (pendingLen_ == 0 && byteCount_ % kBlockSize == 0 && blocks >= 1 && blocks <= kClosingTableBlocks) {
    for (std::size_t i = 0; i < 5; ++i) sums_[i] += kClosingTable[blocks - 1][i];
    Write(out);
    return;
  }
  uint8_t closing[2 * kBlockSize] = {};
  if (pendingLen_ != 0) std::memcpy(closing, pending_, pendingLen_);
  const std::size_t closingBlocks = pendingLen_ > kMaxTailWithLength ? 2 : 1;
  uint8_t *length = closing + closingBlocks * kBlockSize - 4;
  length[0] = static_cast<uint8_t>(byteCount_ >> 24);
  length[1] = static_cast<uint8_t>(byteCount_ >> 16);
  length[2] = static_cast<uint8_t>(byteCount_ >> 8);
  length[3] = static_cast<uint8_t>(byteCount_);
  DigestBlocks(closing, closingBlocks, sums_);
  SecureWipe(closing);
  Write(out);
}

void DigestStream::Write(std::span<uint8_t, kDigestBytes> out) {
  for (std::size_t i = 0; i < 5; ++i) {
    out[4 * i + 0] = static_cast<uint8_t>(sums_[i]);
    out[4 * i + 1] = static_cast<uint8_t>(sums_[i] >> 8);
    out[4 * i + 2] = static_cast<uint8_t>(sums_[i] >> 16);
    out[4 * i + 3] = static_cast<uint8_t>(sums_[i] >> 24);
  }
  SecureWipe(pending_);
  for (uint32_t &sum : sums_) sum = 0;
  byteCount_ = 0;
  pendingLen_ = 0;
}

}  // namespace compatcrypt::digest_core
