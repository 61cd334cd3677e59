#include "archive/extract_pool.h"

#include <system_error>
#include <utility>

#include <fmt/format.h>

#include "archive/sequential_writer.h"
#include "core/long_path.h"

namespace kestrivon::archive {
namespace {

namespace fs = std::filesystem;

// Jobs waiting per worker: enough that no worker idles while the caller creates the next
// file, few enough that open files and memory stay small.
constexpr size_t kQueuedPerWorker = 2;
// From this size on a file is written from a thread of its own while it is inflated.
constexpr uint64_t kLargeFileSize = 8 * 1024 * 1024;

}  // namespace

ArchiveStream::ArchiveStream(const fs::path& path)
    : stream_(core::LongPath(path), std::ios::binary | std::ios::in) {}

size_t ArchiveStream::Read(uint64_t offset, void* buffer, size_t size) {
  stream_.clear();
  stream_.seekg(static_cast<std::streamoff>(offset));
  if (!stream_) return 0;
  stream_.read(static_cast<char*>(buffer), static_cast<std::streamsize>(size));
  return static_cast<size_t>(stream_.gcount());
}

ExtractPool::ExtractPool(const ZipReader& reader, const fs::path& archive, unsigned workers,
                         std::function<void(uint64_t)> onFinished)
    : reader_(reader),
      archive_(archive),
      threadCount_(workers < 2 ? 0 : workers),
      onFinished_(std::move(onFinished)) {}

ExtractPool::~ExtractPool() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

bool ExtractPool::Start() {
  // One worker for the caller's own thread when there are to be no threads.
  const unsigned count = threadCount_ == 0 ? 1 : threadCount_;
  for (unsigned i = 0; i < count; ++i) {
    workers_.push_back(std::make_unique<Worker>(archive_));
    if (!workers_.back()->stream.IsOpen()) return false;
  }
  if (threadCount_ == 0) return true;
  for (const auto& worker : workers_) {
    try {
      threads_.emplace_back([this, one = worker.get()] { Work(*one); });
    } catch (const std::system_error&) {
      break;  // fewer threads; none at all means the caller's thread does the work
    }
  }
  if (threads_.empty()) workers_.resize(1);
  return true;
}

std::expected<void, std::string> ExtractPool::Write(FileJob& job, Worker& worker) const {
  const auto read = [&stream = worker.stream](uint64_t offset, void* buffer, size_t size) {
    return stream.Read(offset, buffer, size);
  };
  std::ofstream& out = job.out;
  const auto extracted = reader_.Extract(
      job.index,
      [&out](const void* data, size_t size) {
        // Zero stops the reader as soon as the stream has failed.
        return out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size)) ? size
                                                                                             : 0;
      },
      worker.scratch, read);
  const bool flushed = static_cast<bool>(out.flush());
  out.close();
  if (!extracted || !flushed) {
    return std::unexpected(fmt::format("failed to extract {}", job.entryPath));
  }
  std::error_code error;
  const uintmax_t written = fs::file_size(core::LongPath(job.target), error);
  if (error || written != job.size) {
    return std::unexpected(fmt::format("extracted size mismatch for {}", job.entryPath));
  }
  return {};
}

void ExtractPool::Ended(uint64_t sequence, std::expected<void, std::string> result) {
  if (result) {
    ++finished_;
  } else if (!failure_ || sequence < failure_->first) {
    failure_.emplace(sequence, std::move(result.error()));
  }
}

void ExtractPool::Work(Worker& worker) noexcept {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;
    FileJob job = std::move(queue_.front());
    queue_.pop_front();
    // After a failure only earlier entries still count: one by one, later ones would never
    // have been written.
    if (failure_ && job.sequence > failure_->first) {
      changed_.notify_all();
      continue;
    }
    ++busy_;
    lock.unlock();
    std::expected<void, std::string> result;
    try {
      result = Write(job, worker);
    } catch (...) {
      result = std::unexpected(fmt::format("failed to extract {}", job.entryPath));
    }
    job.out = std::ofstream();  // closed outside the lock even after an exception
    lock.lock();
    --busy_;
    Ended(job.sequence, std::move(result));
    changed_.notify_all();
  }
}

void ExtractPool::ReportProgress(std::unique_lock<std::mutex>& lock) {
  while (reported_ < finished_) {
    const uint64_t next = ++reported_;
    lock.unlock();
    if (onFinished_) onFinished_(next);
    lock.lock();
  }
}

bool ExtractPool::Submit(FileJob job) {
  if (threads_.empty()) {
    const uint64_t sequence = job.sequence;
    auto result = Write(job, *workers_.front());
    std::unique_lock lock(mutex_);
    Ended(sequence, std::move(result));
    ReportProgress(lock);
    return !failure_;
  }
  std::unique_lock lock(mutex_);
  for (;;) {
    ReportProgress(lock);
    if (failure_) return false;
    if (queue_.size() < kQueuedPerWorker * threads_.size()) break;
    changed_.wait(lock);
  }
  queue_.push_back(std::move(job));
  lock.unlock();
  changed_.notify_all();
  return true;
}

std::expected<void, std::string> ExtractPool::Finish() {
  std::unique_lock lock(mutex_);
  for (;;) {
    ReportProgress(lock);
    if (queue_.empty() && busy_ == 0) break;
    changed_.wait(lock);
  }
  ReportProgress(lock);
  if (failure_) return std::unexpected(failure_->second);
  return {};
}

}  // namespace kestrivon::archive
