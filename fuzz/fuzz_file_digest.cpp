// Differential file-digest target: the input's first three bytes choose an
// offset (past the end included; a negative one when the first byte's top
// bit is set) and the rest is written to a file, one path reused for every
// run. FileDigest from that offset must equal the model's digest of the
// bytes from there to the end; a negative offset fails.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "compatcrypt.h"
#include "fuzz_input.h"
#include "support/openssl_models.h"

namespace {

using compatcrypt::fuzz::FuzzInput;
using Bytes = std::vector<unsigned char>;

// One file for the process, removed at exit.
class ScratchFile {
 public:
  ScratchFile() {
    const char *dir = std::getenv("TMPDIR");
    path_ = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/compatcrypt_fuzz_XXXXXX";
    fd_ = mkstemp(path_.data());
    if (fd_ < 0) {
      std::perror("mkstemp");
      std::abort();
    }
  }
  ~ScratchFile() {
    close(fd_);
    unlink(path_.c_str());
  }

  void Write(const Bytes &bytes) {
    if (ftruncate(fd_, 0) != 0) std::abort();
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
      if (n <= 0) std::abort();
      done += static_cast<std::size_t>(n);
    }
  }

  const unsigned char *Path() const { return reinterpret_cast<const unsigned char *>(path_.c_str()); }

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static ScratchFile file;
  FuzzInput in(data, size);
  const uint8_t flags = in.Byte();
  const uint32_t raw = in.Word16();
  const Bytes contents = in.Rest();
  file.Write(contents);

  unsigned char out[21];
  out[20] = 0xEE;
  int32_t outLen = 0;
  if (flags & 128) {
    const int32_t negative = -1 - static_cast<int32_t>(raw);
    COMPATCRYPT_FUZZ_CHECK(FileDigest(file.Path(), negative, out, &outLen, COMPATCRYPT_MODE) ==
                           COMPATCRYPT_FAILED);
    COMPATCRYPT_FUZZ_CHECK(outLen == 0 && out[20] == 0xEE);
    return 0;
  }
  // Offsets reach up to 64 bytes past the end.
  const std::size_t offset = (raw | (static_cast<uint32_t>(flags) << 16)) % (contents.size() + 65);
  const Bytes rest(contents.begin() + static_cast<std::ptrdiff_t>(std::min(offset, contents.size())),
                   contents.end());
  COMPATCRYPT_FUZZ_CHECK(FileDigest(file.Path(), static_cast<int32_t>(offset), out, &outLen,
                                    COMPATCRYPT_MODE) == COMPATCRYPT_OK);
  COMPATCRYPT_FUZZ_CHECK(outLen == 20 && out[20] == 0xEE);
  COMPATCRYPT_FUZZ_CHECK(Bytes(out, out + 20) == compatcrypt::test::ModelDigest(rest));
  return 0;
}
