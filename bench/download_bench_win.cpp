// One download with WinHttpDownloader, timed inside the process (Wine's start-up excluded).
// Usage: kestrivon_download_bench CA.der URL DESTINATION   (DESTINATION may be NUL)
// Prints "bytes seconds progress-calls" on success; run by bench/download_bench.sh.

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "tests/support/test_root_certificate.h"
#include "win/base/text_encoding.h"
#include "win/net/winhttp_downloader.h"

int wmain(int argc, wchar_t** argv) {
  using namespace kestrivon;
  if (argc != 4) {
    std::fprintf(stderr, "usage: kestrivon_download_bench CA.der URL DESTINATION\n");
    return 2;
  }
  if (const std::string error = testing::InstallRootCertificate(argv[1]); !error.empty()) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  // The CDN source's limits, and a progress callback as cheap as the window's throttled one.
  const core::DownloadPolicy policy{4, 10, 1024, 60, "CDN"};
  uint64_t calls = 0;
  uint64_t bytes = 0;
  const core::ProgressCallback progress = [&](uint64_t done, uint64_t) {
    ++calls;
    bytes = done;
  };

  win::WinHttpDownloader downloader;
  const auto started = std::chrono::steady_clock::now();
  const auto result = downloader.Download(win::Utf8FromWide(argv[2]), argv[3], policy, progress);
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
  if (!result) {
    std::fprintf(stderr, "download failed: %s\n", result.error().message.c_str());
    return 1;
  }
  std::printf("%llu %.6f %llu\n", static_cast<unsigned long long>(bytes), seconds.count(),
              static_cast<unsigned long long>(calls));
  return 0;
}
