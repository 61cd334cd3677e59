#include "core/read_ahead.h"

#include <system_error>

#include "core/no_throw.h"

namespace kestrivon::core {

ReadAhead::ReadAhead(std::istream& stream, size_t chunkSize)
    : stream_(stream), chunkSize_(chunkSize) {
  for (Slot& slot : slots_) slot.data = std::make_unique_for_overwrite<uint8_t[]>(chunkSize);
  try {
    reader_ = std::thread([this] {
      if (CallNoThrow("Read-ahead thread", [this] { Produce(); })) return;
      // The consumer may be waiting for a chunk that will never come: hand it a hard error.
      const std::lock_guard lock(mutex_);
      for (Slot& slot : slots_) {
        if (slot.full) continue;
        slot.chunk = {slot.data.get(), 0, true, true};
        slot.full = true;
      }
      changed_.notify_all();
    });
  } catch (const std::system_error&) {
    // No second thread: Next() reads in the caller's thread instead.
  }
}

ReadAhead::~ReadAhead() {
  if (!reader_.joinable()) return;
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  reader_.join();
}

void ReadAhead::ReadInto(Slot& slot) {
  stream_.read(reinterpret_cast<char*>(slot.data.get()), static_cast<std::streamsize>(chunkSize_));
  slot.chunk = {slot.data.get(), static_cast<size_t>(stream_.gcount()), stream_.fail(),
                stream_.bad()};
}

// Reader thread only.
void ReadAhead::Produce() {
  for (size_t index = 0;; index ^= 1) {
    Slot& slot = slots_[index];
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return stop_ || !slot.full; });
      if (stop_) return;
    }
    // The consumer touches neither the stream nor an empty slot, so no lock is held here.
    ReadInto(slot);
    const bool last = slot.chunk.failed;
    {
      const std::lock_guard lock(mutex_);
      slot.full = true;
    }
    changed_.notify_all();
    if (last) return;
  }
}

ReadAhead::Chunk ReadAhead::Next() {
  if (!reader_.joinable()) {
    ReadInto(slots_[0]);
    return slots_[0].chunk;
  }
  std::unique_lock lock(mutex_);
  if (holding_) {
    slots_[consumed_].full = false;  // hand the chunk just used back to the reader
    consumed_ ^= 1;
    changed_.notify_all();
  }
  Slot& slot = slots_[consumed_];
  changed_.wait(lock, [&] { return slot.full; });
  holding_ = true;
  return slot.chunk;
}

}  // namespace kestrivon::core
