#include "win/ui/ui_strings.h"

#include <windows.h>

#include <deque>
#include <string>

#include "win/host/text_encoding.h"
#include "win/log/log_file.h"

namespace kestrivon::win {
namespace {

using SourceTable = std::array<const char*, kUiStringCount>;

// The source texts, UTF-8, in entry order; each comment gives the entry's number and name.
// clang-format off
constexpr SourceTable kEnglishSource = {
    "Kestrivon Updater",  // 0 windowTitle
    "Preparing Kestrivon...",  // 1 statusPreparing
    "Starting the launcher...",  // 2 statusStartingLauncher
    "Checking for updates...",  // 3 statusCheckingUpdates
    "Checking for updates...\nUpdate data received",  // 4 statusUpdateDataReceived
    "Could not check for updates\nTrying to start the installed version",  // 5 statusCheckFailedStartingInstalled
    "Checking the launcher and Java...",  // 6 statusCheckingComponents
    "Downloading an update...",  // 7 statusDownloadingUpdate
    "Installing an update...",  // 8 statusInstallingUpdate
    "Applying update...",  // 9 statusApplyingUpdate
    "Removing temporary files...",  // 10 statusRemovingTempFiles
    "Downloading the launcher...",  // 11 statusDownloadingLauncher
    "Installing the launcher...",  // 12 statusInstallingLauncher
    "Removing old launcher files...",  // 13 statusRemovingOldLauncherFiles
    "Downloading Java...",  // 14 statusDownloadingJava
    "Installing Java...",  // 15 statusInstallingJava
    "No updates required",  // 16 statusNoUpdatesRequired
    "Failed to start Kestrivon Launcher.",  // 17 errorLauncherStartFailed
    "Kestrivon Launcher was not found.",  // 18 errorLauncherNotFound
    "Failed to download update files.",  // 19 errorDownloadFailed
    "Failed to verify file integrity.",  // 20 errorIntegrityFailed
    "Failed to extract files.\n\nPath: ",  // 21 errorExtractFailed
    "Failed to check for updates and the installed Kestrivon Launcher was not found.\nPlease check your internet connection.",  // 22 errorCheckFailedNoLauncher
    "The install path contains characters Java can't handle on this system.\n\nPlease reinstall Kestrivon into another folder, e.g. D:\\Games.\n\nPath: ",  // 23 errorPathNotRepresentable
    "Failed to create the Kestrivon folder.\n\nPath: ",  // 24 errorCreateFolderFailed
    "This drive can't hold Kestrivon: its file system (FAT/exFAT) has no symbolic links, which Java needs.\n\nPlease reinstall Kestrivon into your home folder or onto a drive with another file system.\n\nPath: ",  // 25 errorNoSymlinkFileSystem
    "This drive is mounted with programs disabled (noexec), so Java and Kestrivon Launcher can't run from it.\n\nPlease reinstall Kestrivon into your home folder or mount the drive without noexec.\n\nPath: ",  // 26 errorNoexecMount
    "Java was not found. Delete this folder and start Kestrivon again:\n",  // 27 errorJavaNotFound
    "Kestrivon Launcher is already running.\nClose it before updating.",  // 28 errorLauncherRunning
    "Status: ",  // 29 labelStatus
    "Error",  // 30 labelError
    " MB",  // 31 unitMegabytes
    "Kestrivon Launcher",  // 32 componentLauncher
    "Java",  // 33 componentJava
    "Kestrivon Updater",  // 34 componentUpdater
    "not installed",  // 35 versionNotInstalled
    "Update Available",  // 36 promptTitleSingle
    "Updates Available",  // 37 promptTitleMultiple
    "The following updates are required before launch:",  // 38 promptIntro
    "Cancel",  // 39 promptCancel
    "Update",  // 40 promptUpdate
    "Install updates? [Y/n]: ",  // 41 consoleInstallQuestion
    "Update cancelled.",  // 42 consoleUpdateCancelled
    "Press Enter to exit...",  // 43 consolePressEnter
    "Cancel",  // 44 buttonCancel
    "Close",  // 45 buttonClose
    "Open log",  // 46 buttonOpenLog
};

constexpr SourceTable kRussianSource = {
    "Kestrivon Updater",  // 0 windowTitle
    "Готовим к запуску...",  // 1 statusPreparing
    "Запускаем лаунчер...",  // 2 statusStartingLauncher
    "Проверяем обновления...",  // 3 statusCheckingUpdates
    "Проверяем обновления...\nДанные получены",  // 4 statusUpdateDataReceived
    "Не удалось проверить обновления\nПробуем запустить установленную версию",  // 5 statusCheckFailedStartingInstalled
    "Проверяем лаунчер и Java...",  // 6 statusCheckingComponents
    "Загружаем обновление...",  // 7 statusDownloadingUpdate
    "Устанавливаем обновление...",  // 8 statusInstallingUpdate
    "Применяем обновление...",  // 9 statusApplyingUpdate
    "Удаляем временные файлы...",  // 10 statusRemovingTempFiles
    "Загружаем лаунчер...",  // 11 statusDownloadingLauncher
    "Устанавливаем лаунчер...",  // 12 statusInstallingLauncher
    "Удаляем старые файлы...",  // 13 statusRemovingOldLauncherFiles
    "Загружаем Java...",  // 14 statusDownloadingJava
    "Устанавливаем Java...",  // 15 statusInstallingJava
    "Обновление не требуется",  // 16 statusNoUpdatesRequired
    "Не удалось запустить Kestrivon Launcher.",  // 17 errorLauncherStartFailed
    "Kestrivon Launcher не найден.",  // 18 errorLauncherNotFound
    "Не удалось загрузить файлы обновления.",  // 19 errorDownloadFailed
    "Не удалось проверить целостность файлов.",  // 20 errorIntegrityFailed
    "Не удалось распаковать файлы.\n\nПуть: ",  // 21 errorExtractFailed
    "Не удалось проверить обновления, а установленная версия Kestrivon Launcher не найдена.\nПроверьте подключение к интернету.",  // 22 errorCheckFailedNoLauncher
    "Путь установки содержит символы, которые не поддерживает Java на этой системе.\n\nПереустановите Kestrivon в другую папку, например D:\\Games.\n\nПуть: ",  // 23 errorPathNotRepresentable
    "Не удалось создать папку Kestrivon.\n\nПуть: ",  // 24 errorCreateFolderFailed
    "Этот диск не подходит для Kestrivon: его файловая система (FAT/exFAT) не поддерживает символьные ссылки, нужные Java.\n\nПереустановите Kestrivon в домашнюю папку или на диск с другой файловой системой.\n\nПуть: ",  // 25 errorNoSymlinkFileSystem
    "Этот диск подключён с запретом запуска программ (noexec), поэтому Java и Kestrivon Launcher не запустятся.\n\nПереустановите Kestrivon в домашнюю папку или подключите диск без noexec.\n\nПуть: ",  // 26 errorNoexecMount
    "Java не найдена. Удалите эту папку и запустите Kestrivon снова:\n",  // 27 errorJavaNotFound
    "Kestrivon Launcher уже запущен.\nЗакройте его перед обновлением.",  // 28 errorLauncherRunning
    "Статус: ",  // 29 labelStatus
    "Ошибка",  // 30 labelError
    " МБ",  // 31 unitMegabytes
    "Kestrivon Launcher",  // 32 componentLauncher
    "Java",  // 33 componentJava
    "Kestrivon Updater",  // 34 componentUpdater
    "не установлен",  // 35 versionNotInstalled
    "Доступно обновление",  // 36 promptTitleSingle
    "Доступны обновления",  // 37 promptTitleMultiple
    "Перед запуском нужно обновить:",  // 38 promptIntro
    "Отмена",  // 39 promptCancel
    "Обновить",  // 40 promptUpdate
    "Установить обновления? [Д/н]: ",  // 41 consoleInstallQuestion
    "Обновление отменено.",  // 42 consoleUpdateCancelled
    "Нажмите Enter, чтобы выйти...",  // 43 consolePressEnter
    "Отмена",  // 44 buttonCancel
    "Закрыть",  // 45 buttonClose
    "Открыть журнал",  // 46 buttonOpenLog
};
// clang-format on

// One language in its run-time form. The deque never moves a stored string, so the record's
// pointers stay valid for the life of the object.
class Catalogue {
 public:
  explicit Catalogue(const SourceTable& source) {
    for (size_t entry = 0; entry < kUiStringCount; ++entry) {
      texts_.push_back(WideFromUtf8(source[entry]));
      record_.*kUiStringEntries[entry] = texts_.back().c_str();
    }
  }
  Catalogue(const Catalogue&) = delete;
  Catalogue& operator=(const Catalogue&) = delete;

  const UiStrings& Record() const { return record_; }

 private:
  std::deque<std::wstring> texts_;
  UiStrings record_;
};

struct Catalogues {
  // English first; both are released at exit in reverse order.
  Catalogue english{kEnglishSource};
  Catalogue russian{kRussianSource};
};

UiLanguage chosenLanguage = UiLanguage::English;

constexpr char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

const UiStrings& GetUiStrings(UiLanguage language) {
  static const Catalogues catalogues;
  return language == UiLanguage::Russian ? catalogues.russian.Record()
                                         : catalogues.english.Record();
}

const UiStrings* currentUiStrings = &GetUiStrings(UiLanguage::English);

void ChooseUiLanguage() {
  // Only the system default locale counts, not the user's locale or display language.
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = L"(unknown)";
  GetSystemDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH);
  name[LOCALE_NAME_MAX_LENGTH - 1] = L'\0';

  const bool russian = IsRussianLocaleName(Utf8FromWide(name));
  chosenLanguage = russian ? UiLanguage::Russian : UiLanguage::English;
  currentUiStrings = &GetUiStrings(chosenLanguage);
  WriteLogLine(std::wstring(L"[INFO] Locale: ") + name +
               (russian ? L" -> Russian UI" : L" -> English UI"));
}

UiLanguage CurrentUiLanguage() { return chosenLanguage; }

bool IsRussianLocaleName(std::string_view name) {
  if (name.size() < 2) return false;
  if (AsciiLower(name[0]) != 'r' || AsciiLower(name[1]) != 'u') return false;
  if (name.size() == 2) return true;
  return name[2] == '-' || name[2] == '.' || name[2] == '_';
}

}  // namespace kestrivon::win
