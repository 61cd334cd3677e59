// The update prompt under Wine: a worker asks, the GUI thread runs the prompt, and a third
// thread plays the user, with keys, the mouse, the close box or a quit message.

#include "win/ui/update_prompt.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "tests/support/ui_test_support.h"
#include "win/host/process_state.h"
#include "win/ui/main_window.h"

namespace kestrivon::win {
namespace {

using testing::MouseAt;
using testing::PumpUntil;

std::vector<PromptRow> Rows(size_t count) {
  std::vector<PromptRow> rows;
  for (size_t i = 0; i < count; ++i) rows.push_back({L"Java", L"21.0.4", L"21.0.5", 50644378});
  return rows;
}

HWND WaitForPrompt() {
  for (int i = 0; i < 1000; ++i) {
    // Shown only once its owner is disabled.
    const HWND prompt = FindWindowW(L"Kestrivon_Update_Dialog", nullptr);
    if (prompt != nullptr && IsWindowVisible(prompt)) return prompt;
    Sleep(10);
  }
  return nullptr;
}

// What the user's thread saw of the open prompt.
struct Seen {
  bool found = false;
  bool ownerDisabled = false;
  RECT client{};
  RECT frame{};
};

class UpdatePromptTest : public testing::MainWindowFixture {
 protected:
  // A worker asks about `rows`; the user's thread answers with `act` on the prompt. Returns
  // the worker's answer; the GUI thread (this one) pumps meanwhile.
  bool Ask(const std::vector<PromptRow>& rows, const std::function<void(HWND)>& act,
           Seen* seen = nullptr, int* quitCode = nullptr) {
    std::atomic<bool> done = false;
    bool answer = true;
    std::thread worker([&] {
      answer = AskConfirmation(rows);
      done = true;
    });
    std::thread user([&] {
      const HWND prompt = WaitForPrompt();
      if (prompt == nullptr) return;
      if (seen != nullptr) {
        seen->found = true;
        seen->ownerDisabled = !IsWindowEnabled(window_);
        GetClientRect(prompt, &seen->client);
        GetWindowRect(prompt, &seen->frame);
      }
      act(prompt);
    });
    EXPECT_TRUE(PumpUntil([&] { return done.load(); }, quitCode));
    user.join();
    worker.join();
    EXPECT_EQ(FindWindowW(L"Kestrivon_Update_Dialog", nullptr), nullptr);
    EXPECT_TRUE(IsWindowEnabled(window_));
    return answer;
  }
};

void PostKey(HWND prompt, WPARAM key) { PostMessageW(prompt, WM_KEYDOWN, key, 0); }
void PostClick(HWND prompt, int pressX, int releaseX, int y) {
  PostMessageW(prompt, WM_LBUTTONDOWN, MK_LBUTTON, MouseAt(pressX, y));
  PostMessageW(prompt, WM_LBUTTONUP, 0, MouseAt(releaseX, y));
}

TEST_F(UpdatePromptTest, TheUsersAnswerReachesTheWorker) {
  constexpr int kButtonY = 226 - 45;  // one row
  std::atomic<bool> stillOpen = false;
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
      {"press on Update, release on Cancel, another key, then Enter",
       [&](HWND p) {
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
    EXPECT_EQ(Ask(Rows(1), c.act), c.accepted);
  }
  EXPECT_TRUE(stillOpen.load());
}

TEST_F(UpdatePromptTest, HeightFollowsTheRowsUpToEight) {
  for (const auto& [rows, height] : {std::pair<size_t, int>{1, 226}, {8, 436}, {10, 436}}) {
    Seen seen;
    EXPECT_FALSE(Ask(
        Rows(rows), [](HWND p) { PostKey(p, VK_ESCAPE); }, &seen));
    ASSERT_TRUE(seen.found);
    EXPECT_TRUE(seen.ownerDisabled);
    EXPECT_EQ(seen.client.right, 624);
    EXPECT_EQ(seen.client.bottom, height) << rows;
  }
}

TEST_F(UpdatePromptTest, OpensInsideTheWorkAreaNearItsOwner) {
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT work = monitor.rcWork;
  // Owner hanging off the bottom-right corner, then off the top-left.
  for (const POINT at :
       {POINT{work.right - 100, work.bottom - 40}, POINT{work.left - 400, work.top - 200}}) {
    SetWindowPos(window_, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    Seen seen;
    Ask(
        Rows(3), [](HWND p) { PostKey(p, VK_ESCAPE); }, &seen);
    ASSERT_TRUE(seen.found);
    EXPECT_GE(seen.frame.left, work.left);
    EXPECT_GE(seen.frame.top, work.top);
    EXPECT_LE(seen.frame.right, work.right);
    EXPECT_LE(seen.frame.bottom, work.bottom);
  }
}

TEST_F(UpdatePromptTest, QuitMessageClosesThePromptAndIsPassedOn) {
  const DWORD guiThread = GetCurrentThreadId();
  int quitCode = -1;
  EXPECT_FALSE(Ask(
      Rows(2), [&](HWND) { PostThreadMessageW(guiThread, WM_QUIT, 7, 0); }, nullptr, &quitCode));
  EXPECT_EQ(quitCode, 7);
  EXPECT_TRUE(IsWindow(window_));
}

TEST_F(UpdatePromptTest, NoQuestionWithoutAWindowAfterACancelOrWithoutRows) {
  EXPECT_TRUE(ShowUpdatePrompt(window_, {}));
  cancelRequested = true;
  EXPECT_FALSE(AskConfirmation(Rows(1)));
  cancelRequested = false;
  DestroyWindow(window_);
  EXPECT_FALSE(AskConfirmation(Rows(1)));
}

}  // namespace
}  // namespace kestrivon::win
