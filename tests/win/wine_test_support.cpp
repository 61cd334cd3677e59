#include "tests/win/wine_test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace kestrivon::win::testing {
namespace {

constexpr wchar_t kKey[] = L"Software\\Kestrivon";
constexpr wchar_t kValue[] = L"InstallPath";

}  // namespace

TempFolder::TempFolder(std::wstring_view tag) {
  static int counter = 0;
  std::wstring base = std::filesystem::temp_directory_path().wstring();
  if (!base.empty() && base.back() == L'\\') base.pop_back();
  path_ = base + L"\\kestrivon-" + std::wstring(tag) + L"-" +
          std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
  std::error_code error;
  std::filesystem::remove_all(path_, error);
  std::filesystem::create_directories(path_, error);
}

TempFolder::~TempFolder() {
  std::error_code error;
  std::filesystem::remove_all(path_, error);
}

ScopedInstallPathValue::ScopedInstallPathValue(std::wstring_view text)
    : ScopedInstallPathValue(REG_SZ, std::wstring(text).c_str(),
                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) {}

ScopedInstallPathValue::ScopedInstallPathValue(DWORD type, const void* data, DWORD bytes) {
  ok_ = RegSetKeyValueW(HKEY_CURRENT_USER, kKey, kValue, type, data, bytes) == ERROR_SUCCESS;
}

ScopedInstallPathValue::~ScopedInstallPathValue() { DeleteInstallPathValue(); }

void DeleteInstallPathValue() { RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, kValue); }

std::string ReadFileBytes(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  if (!in) return {};
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::wstring& path, std::string_view bytes) {
  std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool FileExists(const std::wstring& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(std::filesystem::path(path), error);
}

uint64_t FileSize(const std::wstring& path) {
  std::error_code error;
  const uintmax_t size = std::filesystem::file_size(std::filesystem::path(path), error);
  return error ? 0 : static_cast<uint64_t>(size);
}

std::wstring ExecutableFolder() {
  std::wstring buffer(32768, L'\0');
  const DWORD length =
      GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  buffer.resize(length);
  return buffer.substr(0, buffer.find_last_of(L"\\/"));
}

bool RunsInOwnProcess() {
  const char* flag = std::getenv("KESTRIVON_OWN_PROCESS");
  return flag != nullptr && flag[0] == '1';
}

}  // namespace kestrivon::win::testing
