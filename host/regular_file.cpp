#include "host/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace standin {

FileRead ReadRegularFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
  bytes.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return FileRead::kMissing;
    error = path + ": cannot read";
    return FileRead::kFailed;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    error = path + ": not a regular file";
    return FileRead::kFailed;
  }
  uint8_t chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      error = path + ": cannot read";
      return FileRead::kFailed;
    }
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  ::close(fd);
  return FileRead::kRead;
}

bool RegularOrMissing(const std::string& path, std::string& error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return true;
  error = path + ": not a regular file";
  return false;
}

}  // namespace standin
