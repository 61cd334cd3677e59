#pragma once

// The file entries of one extraction, written by a few worker threads, each with its own
// inflate stream, buffers and archive stream. The caller keeps everything that decides what
// happens in which order (checks, limits, folders, creating each file) and hands over the
// created file; the pool fills it. Of several failures it reports the earliest entry's, as
// writing the entries one by one would have.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <expected>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "archive/zip_reader.h"

namespace kestrivon::archive {

// The archive through one binary stream, positioned afresh for every read.
class ArchiveStream {
 public:
  explicit ArchiveStream(const std::filesystem::path& path);
  bool IsOpen() const { return stream_.is_open(); }
  size_t Read(uint64_t offset, void* buffer, size_t size);

 private:
  std::ifstream stream_;
};

struct FileJob {
  uint64_t sequence = 0;  // the entry's place in the extraction's list
  uint32_t index = 0;     // in the archive
  std::string entryPath;  // for messages
  std::filesystem::path target;
  uint64_t size = 0;  // declared uncompressed size
  std::ofstream out;  // created and truncated by the caller
};

class ExtractPool {
 public:
  // `workers` threads; with fewer than 2 every job runs at once on the caller's thread.
  // `onFinished` runs on the caller's thread, inside Submit and Finish, with the number of
  // files finished so far: once for every number, in order.
  ExtractPool(const ZipReader& reader, const std::filesystem::path& archive, unsigned workers,
              std::function<void(uint64_t finished)> onFinished);
  ~ExtractPool();  // stops and joins the workers; jobs not yet begun are dropped
  ExtractPool(const ExtractPool&) = delete;
  ExtractPool& operator=(const ExtractPool&) = delete;

  // Opens the workers' archive streams and starts them; false when a stream can't be opened.
  bool Start();
  // Blocks while the queue is full. False once a job has failed: hand out nothing more and
  // call Finish.
  bool Submit(FileJob job);
  // Waits until every job handed out has ended; the earliest failed job's error, if any.
  std::expected<void, std::string> Finish();

 private:
  struct Worker {
    explicit Worker(const std::filesystem::path& archive) : stream(archive) {}
    ArchiveStream stream;
    ZipExtractScratch scratch;
  };

  std::expected<void, std::string> Write(FileJob& job, Worker& worker) const;
  void Work(Worker& worker) noexcept;
  void Ended(uint64_t sequence, std::expected<void, std::string> result);
  void ReportProgress(std::unique_lock<std::mutex>& lock);

  const ZipReader& reader_;
  const std::filesystem::path& archive_;
  const unsigned threadCount_;
  const std::function<void(uint64_t)> onFinished_;
  std::vector<std::unique_ptr<Worker>> workers_;
  std::vector<std::thread> threads_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<FileJob> queue_;
  unsigned busy_ = 0;
  bool stopping_ = false;
  uint64_t finished_ = 0;
  uint64_t reported_ = 0;                                    // caller's thread only
  std::optional<std::pair<uint64_t, std::string>> failure_;  // the earliest so far
};

}  // namespace kestrivon::archive
