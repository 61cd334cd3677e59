#pragma once

// Every text the user sees, in English and Russian, and the choice of language at start.
// Log lines never come from here.

#include <cstdint>
#include <string_view>

namespace kestrivon::win {

enum class UiLanguage : uint8_t {
  English = 0,
  Russian = 1,
};

// One language's texts, each a NUL-terminated wide string that stays valid
// until the process exits. Read an entry when it is needed (currentUiStrings->buttonClose)
// and copy it to keep or extend it.
struct UiStrings {
  const wchar_t* windowTitle = L"";
  const wchar_t* statusPreparing = L"";
  const wchar_t* statusStartingLauncher = L"";
  const wchar_t* statusCheckingUpdates = L"";
  const wchar_t* statusUpdateDataReceived = L"";
  const wchar_t* statusCheckFailedStartingInstalled = L"";
  const wchar_t* statusCheckingComponents = L"";
  const wchar_t* statusDownloadingUpdate = L"";
  const wchar_t* statusInstallingUpdate = L"";
  const wchar_t* statusApplyingUpdate = L"";
  const wchar_t* statusRemovingTempFiles = L"";
  const wchar_t* statusDownloadingLauncher = L"";
  const wchar_t* statusInstallingLauncher = L"";
  const wchar_t* statusRemovingOldLauncherFiles = L"";
  const wchar_t* statusDownloadingJava = L"";
  const wchar_t* statusInstallingJava = L"";
  const wchar_t* statusNoUpdatesRequired = L"";
  const wchar_t* errorLauncherStartFailed = L"";
  const wchar_t* errorLauncherNotFound = L"";
  const wchar_t* errorDownloadFailed = L"";
  const wchar_t* errorIntegrityFailed = L"";
  const wchar_t* errorExtractFailed = L"";
  const wchar_t* errorNotEnoughSpace = L"";
  const wchar_t* errorCheckFailedNoLauncher = L"";
  const wchar_t* errorPathNotRepresentable = L"";
  const wchar_t* errorCreateFolderFailed = L"";
  const wchar_t* errorNoSymlinkFileSystem = L"";
  const wchar_t* errorNoexecMount = L"";
  const wchar_t* errorJavaNotFound = L"";
  const wchar_t* errorLauncherRunning = L"";
  const wchar_t* errorInstallPathRefused = L"";
  const wchar_t* errorUnexpected = L"";
  const wchar_t* labelStatus = L"";
  const wchar_t* labelError = L"";
  const wchar_t* unitMegabytes = L"";
  const wchar_t* componentLauncher = L"";
  const wchar_t* componentJava = L"";
  const wchar_t* componentUpdater = L"";
  const wchar_t* versionNotInstalled = L"";
  const wchar_t* promptTitleSingle = L"";
  const wchar_t* promptTitleMultiple = L"";
  const wchar_t* promptIntro = L"";
  const wchar_t* promptCancel = L"";
  const wchar_t* promptUpdate = L"";
  const wchar_t* consoleInstallQuestion = L"";
  const wchar_t* consoleUpdateCancelled = L"";
  const wchar_t* consolePressEnter = L"";
  const wchar_t* buttonCancel = L"";
  const wchar_t* buttonClose = L"";
  const wchar_t* buttonOpenLog = L"";
};

// The catalogue of `language`; any value other than Russian selects English. The first call
// builds both catalogues, once for the process (thread-safe).
const UiStrings& GetUiStrings(UiLanguage language);

// The catalogue of the chosen language: English from static initialisation on, set once more
// by ChooseUiLanguage on the main thread before any other thread starts; read freely after.
extern const UiStrings* currentUiStrings;

// Chooses the language from the system's default locale name and logs the choice. Main
// thread, once, after the log's first line and before the main window and the worker exist.
void ChooseUiLanguage();

// True for "ru" alone or followed by '-', '.' or '_', in any letter case.
bool IsRussianLocaleName(std::string_view name);

}  // namespace kestrivon::win
