#pragma once

// The engine's host on Windows: paths, the progress window, the prompts, failure messages,
// the manifest fetch, the downloader, and installation through the on-disk toolkit. One
// instance serves one run; worker thread only.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/updater_host.h"
#include "win/base/ecdsa_bcrypt.h"
#include "win/base/unique_handle.h"
#include "win/net/winhttp_downloader.h"
#include "win/ui/ui_state.h"

namespace kestrivon::win {

// Offers the window's Cancel button for exactly its own life.
class CancelButtonScope {
 public:
  CancelButtonScope() noexcept;
  ~CancelButtonScope();
  CancelButtonScope(const CancelButtonScope&) = delete;
  CancelButtonScope& operator=(const CancelButtonScope&) = delete;
};

class WinUpdaterHost final : public core::UpdaterHost {
 public:
  // `instanceMutex` is the program's owner of the single-instance mutex; the updater's
  // self-replacement closes and re-creates it. Not owned.
  WinUpdaterHost(std::wstring installDir, UniqueHandle* instanceMutex);
  ~WinUpdaterHost() override;

  std::filesystem::path InstallDir() override;
  void SetStage(core::Stage stage, std::optional<core::Component> component, int percent) override;
  core::ProgressCallback MakeDownloadProgress(std::optional<core::Component> component,
                                              int basePercent, int spanPercent) override;
  void ShowFailure(core::Failure failure, std::optional<core::Component> component) override;
  bool ConfirmComponentUpdates(const std::vector<core::PendingUpdate>& updates) override;
  bool ConfirmUpdaterUpdate(const core::UpdateInfo& updater) override;
  std::expected<std::string, std::string> FetchManifestText() override;
  std::expected<std::string, std::string> FetchManifestSignatureText() override;
  core::ManifestTrust GetManifestTrust() override;
  core::Downloader& GetDownloader() override;
  bool IsInstalled(core::Component component) override;
  std::expected<void, std::string> InstallComponent(core::Component component,
                                                    const std::filesystem::path& archive,
                                                    int basePercent, int spanPercent) override;
  std::string DeltaFormat() override;
  std::expected<void, std::string> InstallComponentFromDelta(core::Component component,
                                                             const std::filesystem::path& delta,
                                                             int basePercent,
                                                             int spanPercent) override;
  bool ApplyUpdaterUpdate(const std::filesystem::path& package) override;

 private:
  std::wstring installDir_;
  UniqueHandle* instanceMutex_;
  WinHttpDownloader downloader_;
  BCryptVerifier verifier_;
  std::optional<CancelButtonScope> cancelScope_;
};

}  // namespace kestrivon::win
