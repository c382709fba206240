#include "support/sparse_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/openssl_models.h"

namespace compatcrypt::test {

std::string WriteSparseFile(const std::string &path, uint64_t size, const std::vector<Segment> &segments) {
  const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) {
    ADD_FAILURE() << "cannot create " << path;
    return "cannot create the file";
  }
  if (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
    ::close(fd);
    return "the file system refuses a file of " + std::to_string(size) + " bytes";
  }
  for (const Segment &s : segments)
    EXPECT_EQ(::pwrite(fd, s.bytes.data(), s.bytes.size(), static_cast<off_t>(s.offset)),
              static_cast<ssize_t>(s.bytes.size()));
  ::close(fd);
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  if (static_cast<uint64_t>(st.st_blocks) * 512 > (uint64_t{1} << 30))
    return "the file system does not keep the holes sparse";
  return "";
}

Bytes ModelOfSparseFile(const std::vector<Segment> &segments, uint64_t size, uint64_t from) {
  ModelDigestStream model;
  uint64_t at = from;
  for (const Segment &s : segments) {
    const uint64_t end = s.offset + s.bytes.size();
    if (end <= at) continue;
    if (s.offset > at) model.UpdateZeros(s.offset - at), at = s.offset;
    model.Update(s.bytes.data() + (at - s.offset), end - at);
    at = end;
  }
  if (size > at) model.UpdateZeros(size - at);
  return model.Finish();
}

}  // namespace compatcrypt::test
