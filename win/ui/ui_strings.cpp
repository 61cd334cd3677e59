#include "win/ui/ui_strings.h"

#include <windows.h>

#include <cstddef>
#include <deque>
#include <iterator>
#include <string>

#include "win/base/text_encoding.h"
#include "win/log/log_file.h"

namespace kestrivon::win {
namespace {

// One row per entry: the field it fills, then its English and Russian text (UTF-8).
struct Row {
  const wchar_t* UiStrings::*field;
  const char* english;
  const char* russian;
};

// clang-format off
constexpr Row kRows[] = {
    {&UiStrings::windowTitle,
     "Kestrivon Updater",
     "Kestrivon Updater"},
    {&UiStrings::statusPreparing,
     "Preparing Kestrivon...",
     "Готовим к запуску..."},
    {&UiStrings::statusStartingLauncher,
     "Starting the launcher...",
     "Запускаем лаунчер..."},
    {&UiStrings::statusCheckingUpdates,
     "Checking for updates...",
     "Проверяем обновления..."},
    {&UiStrings::statusUpdateDataReceived,
     "Checking for updates...\nUpdate data received",
     "Проверяем обновления...\nДанные получены"},
    {&UiStrings::statusCheckFailedStartingInstalled,
     "Could not check for updates\nTrying to start the installed version",
     "Не удалось проверить обновления\nПробуем запустить установленную версию"},
    {&UiStrings::statusCheckingComponents,
     "Checking the launcher and Java...",
     "Проверяем лаунчер и Java..."},
    {&UiStrings::statusDownloadingUpdate,
     "Downloading an update...",
     "Загружаем обновление..."},
    {&UiStrings::statusInstallingUpdate,
     "Installing an update...",
     "Устанавливаем обновление..."},
    {&UiStrings::statusApplyingUpdate,
     "Applying update...",
     "Применяем обновление..."},
    {&UiStrings::statusRemovingTempFiles,
     "Removing temporary files...",
     "Удаляем временные файлы..."},
    {&UiStrings::statusDownloadingLauncher,
     "Downloading the launcher...",
     "Загружаем лаунчер..."},
    {&UiStrings::statusInstallingLauncher,
     "Installing the launcher...",
     "Устанавливаем лаунчер..."},
    {&UiStrings::statusRemovingOldLauncherFiles,
     "Removing old launcher files...",
     "Удаляем старые файлы..."},
    {&UiStrings::statusDownloadingJava,
     "Downloading Java...",
     "Загружаем Java..."},
    {&UiStrings::statusInstallingJava,
     "Installing Java...",
     "Устанавливаем Java..."},
    {&UiStrings::statusNoUpdatesRequired,
     "No updates required",
     "Обновление не требуется"},
    {&UiStrings::errorLauncherStartFailed,
     "Failed to start Kestrivon Launcher.",
     "Не удалось запустить Kestrivon Launcher."},
    {&UiStrings::errorLauncherNotFound,
     "Kestrivon Launcher was not found.",
     "Kestrivon Launcher не найден."},
    {&UiStrings::errorDownloadFailed,
     "Failed to download update files.",
     "Не удалось загрузить файлы обновления."},
    {&UiStrings::errorIntegrityFailed,
     "Failed to verify file integrity.",
     "Не удалось проверить целостность файлов."},
    {&UiStrings::errorExtractFailed,
     "Failed to extract files.\n\nPath: ",
     "Не удалось распаковать файлы.\n\nПуть: "},
    {&UiStrings::errorNotEnoughSpace,
     "There is not enough free disk space for the update.\nFree some space and start Kestrivon again.\n\nPath: ",
     "Недостаточно свободного места на диске для обновления.\nОсвободите место и снова запустите Kestrivon.\n\nПуть: "},
    {&UiStrings::errorCheckFailedNoLauncher,
     "Failed to check for updates and the installed Kestrivon Launcher was not found.\nPlease check your internet connection.",
     "Не удалось проверить обновления, а установленная версия Kestrivon Launcher не найдена.\nПроверьте подключение к интернету."},
    {&UiStrings::errorPathNotRepresentable,
     "The install path contains characters Java can't handle on this system.\n\nPlease reinstall Kestrivon into another folder, e.g. D:\\Games.\n\nPath: ",
     "Путь установки содержит символы, которые не поддерживает Java на этой системе.\n\nПереустановите Kestrivon в другую папку, например D:\\Games.\n\nПуть: "},
    {&UiStrings::errorCreateFolderFailed,
     "Failed to create the Kestrivon folder.\n\nPath: ",
     "Не удалось создать папку Kestrivon.\n\nПуть: "},
    {&UiStrings::errorNoSymlinkFileSystem,
     "This drive can't hold Kestrivon: its file system (FAT/exFAT) has no symbolic links, which Java needs.\n\nPlease reinstall Kestrivon into your home folder or onto a drive with another file system.\n\nPath: ",
     "Этот диск не подходит для Kestrivon: его файловая система (FAT/exFAT) не поддерживает символьные ссылки, нужные Java.\n\nПереустановите Kestrivon в домашнюю папку или на диск с другой файловой системой.\n\nПуть: "},
    {&UiStrings::errorNoexecMount,
     "This drive is mounted with programs disabled (noexec), so Java and Kestrivon Launcher can't run from it.\n\nPlease reinstall Kestrivon into your home folder or mount the drive without noexec.\n\nPath: ",
     "Этот диск подключён с запретом запуска программ (noexec), поэтому Java и Kestrivon Launcher не запустятся.\n\nПереустановите Kestrivon в домашнюю папку или подключите диск без noexec.\n\nПуть: "},
    {&UiStrings::errorJavaNotFound,
     "Java was not found. Delete this folder and start Kestrivon again:\n",
     "Java не найдена. Удалите эту папку и запустите Kestrivon снова:\n"},
    {&UiStrings::errorLauncherRunning,
     "Kestrivon Launcher is already running.\nClose it before updating.",
     "Kestrivon Launcher уже запущен.\nЗакройте его перед обновлением."},
    {&UiStrings::errorInstallPathRefused,
     "Kestrivon can't be installed here: the folder is a drive, a network share, a system folder, or not a full path.\n\nPlease reinstall Kestrivon into a folder of its own, e.g. D:\\Games\\Kestrivon.\n\nPath: ",
     "Kestrivon нельзя установить сюда: это диск, сетевая папка, системная папка или неполный путь.\n\nПереустановите Kestrivon в отдельную папку, например D:\\Games\\Kestrivon.\n\nПуть: "},
    {&UiStrings::errorUnexpected,
     "An unexpected error stopped the update.\n\nThe log has the details.",
     "Обновление остановлено непредвиденной ошибкой.\n\nПодробности — в журнале."},
    {&UiStrings::labelStatus,
     "Status: ",
     "Статус: "},
    {&UiStrings::labelError,
     "Error",
     "Ошибка"},
    {&UiStrings::unitMegabytes,
     " MB",
     " МБ"},
    {&UiStrings::componentLauncher,
     "Kestrivon Launcher",
     "Kestrivon Launcher"},
    {&UiStrings::componentJava,
     "Java",
     "Java"},
    {&UiStrings::componentUpdater,
     "Kestrivon Updater",
     "Kestrivon Updater"},
    {&UiStrings::versionNotInstalled,
     "not installed",
     "не установлен"},
    {&UiStrings::promptTitleSingle,
     "Update Available",
     "Доступно обновление"},
    {&UiStrings::promptTitleMultiple,
     "Updates Available",
     "Доступны обновления"},
    {&UiStrings::promptIntro,
     "The following updates are required before launch:",
     "Перед запуском нужно обновить:"},
    {&UiStrings::promptCancel,
     "Cancel",
     "Отмена"},
    {&UiStrings::promptUpdate,
     "Update",
     "Обновить"},
    {&UiStrings::consoleInstallQuestion,
     "Install updates? [Y/n]: ",
     "Установить обновления? [Д/н]: "},
    {&UiStrings::consoleUpdateCancelled,
     "Update cancelled.",
     "Обновление отменено."},
    {&UiStrings::consolePressEnter,
     "Press Enter to exit...",
     "Нажмите Enter, чтобы выйти..."},
    {&UiStrings::buttonCancel,
     "Cancel",
     "Отмена"},
    {&UiStrings::buttonClose,
     "Close",
     "Закрыть"},
    {&UiStrings::buttonOpenLog,
     "Open log",
     "Открыть журнал"},
};
// clang-format on

// Every field has exactly one row, and no text is empty.
constexpr bool RowsAreComplete() {
  if (std::size(kRows) * sizeof(const wchar_t*) != sizeof(UiStrings)) return false;
  for (std::size_t a = 0; a < std::size(kRows); ++a) {
    if (kRows[a].english[0] == '\0' || kRows[a].russian[0] == '\0') return false;
    for (std::size_t b = a + 1; b < std::size(kRows); ++b) {
      if (kRows[a].field == kRows[b].field) return false;
    }
  }
  return true;
}
static_assert(RowsAreComplete(), "every UiStrings field needs exactly one row with two texts");

// One language in its run-time form. The deque never moves a stored string, so the record's
// pointers stay valid for the life of the object.
class Catalogue {
 public:
  explicit Catalogue(const char* Row::*language) {
    for (const Row& row : kRows) {
      texts_.push_back(WideFromUtf8(row.*language));
      record_.*row.field = texts_.back().c_str();
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
  Catalogue english{&Row::english};
  Catalogue russian{&Row::russian};
};

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
  currentUiStrings = &GetUiStrings(russian ? UiLanguage::Russian : UiLanguage::English);
  WriteLogLine(std::wstring(L"[INFO] Locale: ") + name +
               (russian ? L" -> Russian UI" : L" -> English UI"));
}

bool IsRussianLocaleName(std::string_view name) {
  if (name.size() < 2) return false;
  if (AsciiLower(name[0]) != 'r' || AsciiLower(name[1]) != 'u') return false;
  if (name.size() == 2) return true;
  return name[2] == '-' || name[2] == '.' || name[2] == '_';
}

}  // namespace kestrivon::win
