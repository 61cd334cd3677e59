#pragma once

// One large extracted file written from a second thread, in large sequential blocks, so that
// inflating the next block overlaps writing the last one: on the entries that take longest,
// the write no longer waits for the inflater, nor the inflater for the disk. Two blocks of
// 2 MiB per file.

#include <condition_variable>
#include <cstddef>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

namespace kestrivon::archive {

class SequentialWriter {
 public:
  static constexpr size_t kBlockSize = 2 * 1024 * 1024;

  // Writes into `out`, which must outlive the writer. Without a thread it writes inline.
  explicit SequentialWriter(std::ofstream& out);
  ~SequentialWriter();  // waits for the thread; what is not yet written is dropped
  SequentialWriter(const SequentialWriter&) = delete;
  SequentialWriter& operator=(const SequentialWriter&) = delete;

  // Takes a copy of the bytes; false once a write has failed.
  bool Add(const void* data, size_t size);
  // Writes the rest and waits for it; false when any write failed.
  bool Finish();

 private:
  bool HandOver();  // the full block to the thread, once it has written the one before
  void Work() noexcept;

  std::ofstream& out_;
  std::vector<char> blocks_[2];
  int filling_ = 0;

  std::mutex mutex_;
  std::condition_variable changed_;
  int pending_ = -1;  // the block the thread is to write, or -1
  bool failed_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace kestrivon::archive
