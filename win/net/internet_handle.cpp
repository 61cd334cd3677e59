#include "win/net/internet_handle.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace kestrivon::win {
namespace {

// Held only to add, remove or copy entries, never across a WinHTTP call.
std::mutex registryMutex;
std::vector<std::shared_ptr<InternetHandle>> handleRegistry;

}  // namespace

void InternetHandle::Reset(HINTERNET handle) noexcept {
  if (HINTERNET previous = handle_.exchange(handle)) WinHttpCloseHandle(previous);
}

RegisteredHandle::RegisteredHandle() : handle_(std::make_shared<InternetHandle>()) {
  std::lock_guard lock(registryMutex);
  handleRegistry.push_back(handle_);
}

RegisteredHandle::~RegisteredHandle() {
  {
    std::lock_guard lock(registryMutex);
    std::erase(handleRegistry, handle_);
  }
  handle_.reset();
}

void AbortAllRequests() noexcept {
  std::vector<std::shared_ptr<InternetHandle>> copies;
  try {
    std::lock_guard lock(registryMutex);
    copies = handleRegistry;
  } catch (...) {
    return;  // no memory for the copy: nothing can be closed safely
  }
  // Requests were registered after their connections: close them first.
  for (auto it = copies.rbegin(); it != copies.rend(); ++it) (*it)->Close();
}

std::size_t RegisteredHandleCount() {
  std::lock_guard lock(registryMutex);
  return handleRegistry.size();
}

}  // namespace kestrivon::win
