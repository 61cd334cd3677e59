#include "win/install/kill_point.h"

#include <windows.h>

#include <atomic>
#include <cwchar>

namespace kestrivon::win {
namespace {

constexpr wchar_t kVariable[] = L"KESTRIVON_TEST_KILL_AT_STEP";

std::atomic<uint32_t> killAtStep{0};  // 0: never
std::atomic<uint32_t> stepsReached{0};

}  // namespace

void ArmKillPointFromEnvironment() noexcept {
  wchar_t value[16] = {};
  const DWORD length = GetEnvironmentVariableW(kVariable, value, 16);
  if (length == 0 || length >= 16) return;
  SetEnvironmentVariableW(kVariable, nullptr);
  killAtStep = static_cast<uint32_t>(std::wcstoul(value, nullptr, 10));
}

void InstallStep() noexcept {
  const uint32_t target = killAtStep.load();
  if (target != 0 && ++stepsReached == target) {
    TerminateProcess(GetCurrentProcess(), kKilledAtStepExitCode);
  }
}

}  // namespace kestrivon::win
