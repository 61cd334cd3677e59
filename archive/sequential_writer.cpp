#include "archive/sequential_writer.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace kestrivon::archive {

SequentialWriter::SequentialWriter(std::ofstream& out) : out_(out) {
  blocks_[0].reserve(kBlockSize);
  try {
    thread_ = std::thread([this] { Work(); });
    blocks_[1].reserve(kBlockSize);
  } catch (const std::system_error&) {
    // No thread: each full block is written inline.
  }
}

SequentialWriter::~SequentialWriter() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void SequentialWriter::Work() noexcept {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || pending_ >= 0; });
    if (pending_ < 0) return;
    std::vector<char>& block = blocks_[pending_];
    lock.unlock();
    const bool written =
        static_cast<bool>(out_.write(block.data(), static_cast<std::streamsize>(block.size())));
    lock.lock();
    failed_ = failed_ || !written;
    pending_ = -1;
    changed_.notify_all();
  }
}

bool SequentialWriter::HandOver() {
  std::vector<char>& full = blocks_[filling_];
  if (!thread_.joinable()) {
    const bool written =
        static_cast<bool>(out_.write(full.data(), static_cast<std::streamsize>(full.size())));
    full.clear();
    return written;
  }
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return pending_ < 0; });
  if (failed_) return false;
  pending_ = filling_;
  filling_ ^= 1;
  blocks_[filling_].clear();
  lock.unlock();
  changed_.notify_all();
  return true;
}

bool SequentialWriter::Add(const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    std::vector<char>& block = blocks_[filling_];
    const size_t taken = std::min(size, kBlockSize - block.size());
    block.insert(block.end(), bytes, bytes + taken);
    bytes += taken;
    size -= taken;
    if (block.size() == kBlockSize && !HandOver()) return false;
  }
  return true;
}

bool SequentialWriter::Finish() {
  if (!blocks_[filling_].empty() && !HandOver()) return false;
  if (!thread_.joinable()) return true;
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return pending_ < 0; });
  return !failed_;
}

}  // namespace kestrivon::archive
