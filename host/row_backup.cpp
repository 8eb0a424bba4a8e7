#include "host/row_backup.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace standin {
namespace {

// Writes or reads all of `bytes` at `offset`, through interruptions and
// short transfers.
template <class Op>
bool Whole(Op op, uint8_t* data, std::size_t bytes, off_t offset) {
  while (bytes > 0) {
    const ssize_t n = op(data, bytes, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    bytes -= static_cast<std::size_t>(n);
    offset += n;
  }
  return true;
}

}  // namespace

RowBackup::~RowBackup() {
  if (fd_ >= 0) close(fd_);
}

bool RowBackup::OpenFile() {
  if (fileTried_) return fd_ >= 0;
  fileTried_ = true;
  const char* env = std::getenv("TMPDIR");
  const std::string dir = env != nullptr && *env != '\0' ? env : "/tmp";
  fd_ = open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    // A file system without unnamed files: a named one, unlinked at once.
    std::string name = dir + "/ovra-scratch-XXXXXX";
    fd_ = mkostemp(name.data(), O_CLOEXEC);
    if (fd_ >= 0) unlink(name.c_str());
  }
  return fd_ >= 0;
}

void RowBackup::Reset(int32_t rows, std::size_t rowSamples) {
  saved_.assign(static_cast<std::size_t>(rows > 0 ? rows : 0), kNone);
  rowSamples_ = rowSamples;
  memory_.clear();
  if (fd_ >= 0 && ftruncate(fd_, 0) != 0) {
    close(fd_);
    fd_ = -1;
  }
}

void RowBackup::Save(int32_t row, const uint16_t* samples) {
  if (row < 0 || static_cast<std::size_t>(row) >= saved_.size() || saved_[static_cast<std::size_t>(row)] != kNone)
    return;
  const std::size_t bytes = rowSamples_ * sizeof(uint16_t);
  const off_t offset = static_cast<off_t>(row) * static_cast<off_t>(bytes);
  if (OpenFile() &&
      Whole([this](uint8_t* d, std::size_t n, off_t at) { return pwrite(fd_, d, n, at); },
            const_cast<uint8_t*>(reinterpret_cast<const uint8_t*>(samples)), bytes, offset)) {
    saved_[static_cast<std::size_t>(row)] = kInFile;
    return;
  }
  // A full disk or no scratch file: memory it is.
  memory_[row].assign(samples, samples + rowSamples_);
  saved_[static_cast<std::size_t>(row)] = kInMemory;
}

bool RowBackup::Load(int32_t row, uint16_t* out) const {
  if (!Saved(row)) return false;
  if (saved_[static_cast<std::size_t>(row)] == kInMemory) {
    const std::vector<uint16_t>& kept = memory_.at(row);
    std::memcpy(out, kept.data(), kept.size() * sizeof(uint16_t));
    return true;
  }
  const std::size_t bytes = rowSamples_ * sizeof(uint16_t);
  return Whole([this](uint8_t* d, std::size_t n, off_t at) { return pread(fd_, d, n, at); },
               reinterpret_cast<uint8_t*>(out), bytes, static_cast<off_t>(row) * static_cast<off_t>(bytes));
}

}  // namespace standin
