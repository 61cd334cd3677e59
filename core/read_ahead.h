#pragma once

// Reads a binary stream in fixed-size chunks on a second thread, one chunk ahead of its
// consumer, so that copying out of the system's file cache overlaps the consumer's work
// (hashing at SHA-extension speed would otherwise lose a sixth of its time to the copies).

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>
#include <mutex>
#include <thread>

namespace kestrivon::core {

class ReadAhead {
 public:
  // The result of one read of up to `chunkSize` bytes, as the stream reported it.
  struct Chunk {
    const uint8_t* data = nullptr;
    size_t size = 0;
    bool failed = false;  // the read left the stream failed: end of file or an error
    bool bad = false;     // a hard read error
  };

  // The stream must outlive this object and is read only by it from now on.
  ReadAhead(std::istream& stream, size_t chunkSize);
  // Stops the reader after its current read.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Blocks until the next chunk is read. Its bytes stay valid until the next call. Not to be
  // called again after a failed chunk.
  Chunk Next();

 private:
  struct Slot {
    std::unique_ptr<uint8_t[]> data;
    Chunk chunk;
    bool full = false;
  };

  void ReadInto(Slot& slot);
  void Produce();

  std::istream& stream_;
  const size_t chunkSize_;
  std::array<Slot, 2> slots_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stop_ = false;
  size_t consumed_ = 0;   // slot the consumer reads next
  bool holding_ = false;  // the consumer still uses the slot before `consumed_`
  std::thread reader_;    // not started when threads are unavailable: reads happen in Next()
};

}  // namespace kestrivon::core
