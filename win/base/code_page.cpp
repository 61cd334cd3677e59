#include "win/base/code_page.h"

#include <windows.h>

#include <climits>

namespace kestrivon::win {

namespace {

constexpr wchar_t kCodePageKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage";
constexpr wchar_t kAnsiCodePageValue[] = L"ACP";

// The leading decimal digits; 0 when there are none or the number does not fit.
uint32_t ParseLeadingNumber(std::wstring_view text) {
  uint64_t number = 0;
  for (const wchar_t c : text) {
    if (c < L'0' || c > L'9') break;
    number = number * 10 + static_cast<uint64_t>(c - L'0');
    if (number > UINT32_MAX) return 0;
  }
  return static_cast<uint32_t>(number);
}

// The exact conversion of the other code pages: no best fit and no default character.
std::optional<std::string> WideToExactCodePage(std::wstring_view text, uint32_t codePage) {
  if (text.empty() || text.size() > INT_MAX) return std::nullopt;
  const int inputSize = static_cast<int>(text.size());
  BOOL usedDefault = FALSE;
  const int size = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text.data(), inputSize,
                                       nullptr, 0, nullptr, &usedDefault);
  if (size <= 0 || usedDefault) return std::nullopt;
  std::string out(static_cast<size_t>(size), '\0');
  if (WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text.data(), inputSize, out.data(), size,
                          nullptr, &usedDefault) != size ||
      usedDefault) {
    return std::nullopt;
  }
  return out;
}

}  // namespace

uint32_t SystemAnsiCodePage() {
  wchar_t text[16] = {};
  DWORD bytes = sizeof(text);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kCodePageKey, kAnsiCodePageValue, RRF_RT_REG_SZ, nullptr,
                   text, &bytes) == ERROR_SUCCESS) {
    text[std::size(text) - 1] = L'\0';
    if (const uint32_t codePage = ParseLeadingNumber(text); codePage != 0) return codePage;
  }
  // The system default locale by its real name: Wine refuses the "!x-sys-default-locale"
  // alias, which names the same locale on Windows.
  wchar_t locale[LOCALE_NAME_MAX_LENGTH] = {};
  DWORD number = 0;
  if (GetSystemDefaultLocaleName(locale, LOCALE_NAME_MAX_LENGTH) < 1 ||
      GetLocaleInfoEx(locale, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                      reinterpret_cast<LPWSTR>(&number), sizeof(number) / sizeof(wchar_t)) < 1 ||
      number == 0) {
    return kCodePageUtf8;
  }
  return number;
}

bool IsRepresentableInCodePage(std::wstring_view path, uint32_t codePage) {
  if (path.empty() || codePage == kCodePageUtf7 || codePage == kCodePageUtf8) return true;
  return WideToExactCodePage(path, codePage).has_value();
}

std::optional<std::string> Utf8ToAnsi(std::string_view text) {
  return Utf8ToCodePage(text, GetACP());
}

std::optional<std::string> Utf8ToCodePage(std::string_view text, uint32_t codePage) {
  if (text.empty() || text.size() > INT_MAX) return std::nullopt;
  const int inputSize = static_cast<int>(text.size());
  const int wideSize =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), inputSize, nullptr, 0);
  if (wideSize <= 0) return std::nullopt;
  if (codePage == kCodePageUtf8) return std::string(text);
  std::wstring wide(static_cast<size_t>(wideSize), L'\0');
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), inputSize, wide.data(),
                          wideSize) != wideSize) {
    return std::nullopt;
  }
  return WideToExactCodePage(wide, codePage);
}

}  // namespace kestrivon::win
