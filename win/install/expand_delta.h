#pragma once

// The Windows host's front to building a component from its installed copy and a delta: wide
// paths in, the user's cancellation and the window's progress wired in.

#include <expected>
#include <string>

namespace kestrivon::win {

// Builds the new version of the component installed at `installed` into the empty
// `destination` from the verified `delta`, showing `label` between `base` and `base + span`.
// Fails with the reason (for the log, escaped); whatever was written stays for the caller.
// May throw only what allocation throws: the caller's border catches it.
std::expected<void, std::string> ExpandDelta(const std::wstring& installed,
                                             const std::wstring& delta,
                                             const std::wstring& destination,
                                             const std::wstring& label, int base, int span);

}  // namespace kestrivon::win
