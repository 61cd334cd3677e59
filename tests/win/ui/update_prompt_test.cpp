// The update prompt under Wine: a worker asks, the GUI thread runs the prompt, and a third
// thread plays the user.

#include "win/ui/update_prompt.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <thread>
#include <vector>

#include "tests/support/ui_test_support.h"
#include "win/host/process_state.h"
#include "win/ui/main_window.h"

namespace kestrivon::win {
namespace {

constexpr wchar_t kPromptClass[] = L"Kestrivon_Update_Dialog";

void PostKey(HWND prompt, WPARAM key) { PostMessageW(prompt, WM_KEYDOWN, key, 0); }
void PostClick(HWND prompt, int pressX, int releaseX, int y) {
  PostMessageW(prompt, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(pressX, y));
  PostMessageW(prompt, WM_LBUTTONUP, 0, MAKELPARAM(releaseX, y));
}

using UpdatePromptTest = testing::MainWindowFixture;

// Ten rows, of which eight are shown, with the owner off the work area's bottom-right corner:
// the prompt stays inside the work area and its owner is disabled while it is open. A quit
// message is passed on to the main loop. No rows ask nothing; after a cancel or without a
// window the answer is no.
TEST_F(UpdatePromptTest, TheUsersAnswerReachesTheWorker) {
  MONITORINFO monitor{sizeof(MONITORINFO), {}, {}, 0};
  GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT work = monitor.rcWork;
  SetWindowPos(window_, nullptr, work.right - 100, work.bottom - 40, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  constexpr int kButtonY = 436 - 45;
  const DWORD guiThread = GetCurrentThreadId();
  const std::vector<PromptRow> rows(10, {L"Java", L"21.0.4", L"21.0.5", 50644378});
  int quitCode = -1;
  bool stillOpen = false, ownerDisabled = false;
  RECT client{}, frame{}, inside{};
  struct Case {
    const char* name;
    std::function<void(HWND)> act;
    bool accepted;
  } cases[] = {
      {"Enter", [](HWND p) { PostKey(p, VK_RETURN); }, true},
      {"Escape", [](HWND p) { PostKey(p, VK_ESCAPE); }, false},
      {"close box", [](HWND p) { PostMessageW(p, WM_SYSCOMMAND, SC_CLOSE, 0); }, false},
      {"Update button", [](HWND p) { PostClick(p, 529, 529, kButtonY); }, true},
      {"Cancel button", [](HWND p) { PostClick(p, 389, 389, kButtonY); }, false},
      {"quit message", [&](HWND) { PostThreadMessageW(guiThread, WM_QUIT, 7, 0); }, false},
      {"press on Update, release on Cancel, another key, then Enter",
       [&](HWND p) {
         ownerDisabled = !IsWindowEnabled(window_);
         GetClientRect(p, &client);
         GetWindowRect(p, &frame);
         PostClick(p, 529, 389, kButtonY);
         PostKey(p, 'A');
         Sleep(100);
         stillOpen = IsWindow(p);
         PostKey(p, VK_RETURN);
       },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto worker = std::async(std::launch::async, [&] { return AskConfirmation(rows); });
    std::thread user([&] {
      for (int i = 0; i < 1000; ++i) {
        const HWND prompt = FindWindowW(kPromptClass, nullptr);
        if (prompt != nullptr && IsWindowVisible(prompt)) return c.act(prompt);
        Sleep(10);
      }
      ADD_FAILURE() << "no prompt shown";
    });
    EXPECT_TRUE(testing::PumpUntil(
        [&] { return worker.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
        &quitCode));
    user.join();
    EXPECT_EQ(FindWindowW(kPromptClass, nullptr), nullptr);
    EXPECT_TRUE(IsWindowEnabled(window_));
    EXPECT_EQ(worker.get(), c.accepted);
  }
  EXPECT_EQ(quitCode, 7);
  EXPECT_TRUE(stillOpen);
  EXPECT_TRUE(ownerDisabled);
  EXPECT_EQ(client.right, 624);
  EXPECT_EQ(client.bottom, 436);
  IntersectRect(&inside, &frame, &work);
  EXPECT_TRUE(EqualRect(&inside, &frame));

  EXPECT_TRUE(ShowUpdatePrompt(window_, {}));
  cancelRequested = true;
  EXPECT_FALSE(AskConfirmation(rows));
  cancelRequested = false;
  DestroyWindow(window_);
  EXPECT_FALSE(AskConfirmation(rows));
}

}  // namespace
}  // namespace kestrivon::win
