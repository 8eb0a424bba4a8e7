// Reading a whole file the host was named, safely: the file is opened without
// blocking and checked on the open descriptor to be a regular file, so a
// FIFO, a device or a directory is an error rather than a hang or a throw.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace standin {

enum class FileRead { kRead, kMissing, kFailed };

// kMissing when no file of that name exists; kFailed with error set
// ("PATH: not a regular file", "PATH: cannot read") otherwise.
FileRead ReadRegularFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error);

// For a file the module will open by name: true when nothing of that name
// exists or it is a regular file; otherwise false with "PATH: not a regular
// file". Nothing is opened, so a FIFO is not touched.
bool RegularOrMissing(const std::string& path, std::string& error);

}  // namespace standin
