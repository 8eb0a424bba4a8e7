// The rows of a document as they were when a filter began, kept only for
// the rows the filter has overwritten since.
//
// The filter reads the document as it was when its start selector began
// and writes the result in place, so a row's original samples are saved the
// first time a write reaches it. The saved rows go to a scratch file (an
// unnamed file in TMPDIR, or /tmp), as an editor's scratch disk holds what
// it cannot keep in memory: the host then holds one copy of the document
// however large it is. Where no scratch file can be had, or a write to it
// fails, the rows are kept in memory instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace standin {

class RowBackup {
 public:
  RowBackup() = default;
  ~RowBackup();
  RowBackup(const RowBackup&) = delete;
  RowBackup& operator=(const RowBackup&) = delete;

  // Forgets every saved row: rows of `rowSamples` samples, `rows` of them.
  void Reset(int32_t rows, std::size_t rowSamples);
  bool Saved(int32_t row) const {
    return row >= 0 && static_cast<std::size_t>(row) < saved_.size() && saved_[static_cast<std::size_t>(row)] != 0;
  }
  // Saves row `row` (its samples at `samples`) unless it is saved already.
  void Save(int32_t row, const uint16_t* samples);
  // The saved samples of a saved row into `out` (rowSamples of them). False
  // when the scratch file could not be read.
  bool Load(int32_t row, uint16_t* out) const;
  // Rows saved in memory rather than in the scratch file.
  std::size_t RowsInMemory() const { return memory_.size(); }

 private:
  enum : uint8_t { kNone = 0, kInFile = 1, kInMemory = 2 };
  bool OpenFile();

  std::vector<uint8_t> saved_;
  std::size_t rowSamples_ = 0;
  int fd_ = -1;
  bool fileTried_ = false;
  std::map<int32_t, std::vector<uint16_t>> memory_;
};

}  // namespace standin
