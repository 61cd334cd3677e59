#pragma once

// The commands of kestrivon-publish: build, verify, keygen, sample-runtime.

#include <ostream>
#include <string>
#include <vector>

namespace kestrivon::publish {

// Exit codes: 0 done, 1 refused or failed (the reason on `err`), 2 wrong usage.
// Summaries go to `out`, progress and errors to `err`.
int RunPublish(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               bool errIsTerminal = false);

}  // namespace kestrivon::publish
