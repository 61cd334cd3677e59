// The main window under Wine, driven by real messages: creation, the buttons (a press must
// be released on the same button), keys in both views, every way of closing, status updates
// from another thread, the taskbar button and the log lines of the user's actions.

#include "win/ui/main_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "tests/support/ui_test_support.h"
#include "tests/support/wine_test_support.h"
#include "win/host/process_state.h"
#include "win/ui/paint.h"
#include "win/ui/ui_state.h"
#include "win/ui/ui_strings.h"

namespace kestrivon::win {
namespace {

using testing::MouseAt;
using testing::PumpUntil;

// What the process log gained since the object was made.
class LogTail {
 public:
  LogTail() : start_(testing::ReadFileBytes(Path()).size()) {}
  std::string Text() const { return testing::ReadFileBytes(Path()).substr(start_); }

 private:
  static std::filesystem::path Path() {
    return std::filesystem::path(ResolveInstallDir()) / L"logs\\Kestrivon_Updater.log";
  }
  size_t start_;
};

// Runs `body` on a worker thread while this (GUI) thread serves what the worker sends to its
// windows, leaving the posted taskbar messages queued for counting.
void OnWorker(const std::function<void()>& body) {
  std::atomic<bool> done = false;
  std::thread worker([&] {
    body();
    done = true;
  });
  while (!done) {
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, WM_TASKBAR_PROGRESS - 1, PM_REMOVE)) {
      DispatchMessageW(&message);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_SENDMESSAGE);
  }
  worker.join();
}

class MainWindowTest : public testing::MainWindowFixture {
 protected:
  bool Gone() {
    return PumpUntil([&] { return !IsWindow(window_); }, nullptr, std::chrono::seconds(3));
  }
  void Click(int pressX, int pressY, int releaseX, int releaseY) {
    SendMessageW(window_, WM_LBUTTONDOWN, MK_LBUTTON, MouseAt(pressX, pressY));
    SendMessageW(window_, WM_LBUTTONUP, 0, MouseAt(releaseX, releaseY));
  }
  void Key(WPARAM key) { SendMessageW(window_, WM_KEYDOWN, key, 0); }
};

TEST_F(MainWindowTest, OpensCentredWithTheClientSizeAndPreparing) {
  EXPECT_EQ(mainWindow.load(), window_);
  RECT client{};
  GetClientRect(window_, &client);
  EXPECT_EQ(client.right, 544);
  EXPECT_EQ(client.bottom, 222);
  wchar_t className[64] = {};
  GetClassNameW(window_, className, 64);
  EXPECT_STREQ(className, L"Kestrivon_Main_Frame");
  EXPECT_EQ(GetWindowLongW(window_, GWL_STYLE) & 0x00CF0000, 0x00CA0000);
  EXPECT_TRUE(IsWindowVisible(window_));
  EXPECT_EQ(DpiScale(window_), 1.0f);
  EXPECT_EQ(DpiScale(nullptr), 1.0f);
  {
    const std::lock_guard lock(uiStateMutex);
    EXPECT_EQ(uiState.statusLine, currentUiStrings->statusPreparing);
    EXPECT_EQ(uiState.progress, 0.0f);
  }
  RECT frame{};
  GetWindowRect(window_, &frame);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor);
  EXPECT_NEAR(frame.left - monitor.rcWork.left, monitor.rcWork.right - frame.right, 1);
  EXPECT_NEAR(frame.top - monitor.rcWork.top, monitor.rcWork.bottom - frame.bottom, 1);
}

TEST_F(MainWindowTest, CancelFiresOnlyWhenPressAndReleaseBothFallOnIt) {
  // Not offered: a click on its place does nothing.
  Click(459, 184, 459, 184);
  EXPECT_FALSE(cancelRequested.load());
  EnableCancel();
  Click(459, 184, 300, 100);  // released off the button
  Click(300, 100, 459, 184);  // pressed off the button
  PumpUntil([] { return false; }, nullptr, std::chrono::milliseconds(100));
  EXPECT_TRUE(IsWindow(window_));
  EXPECT_FALSE(cancelRequested.load());

  const LogTail log;
  Click(404, 166, 514, 202);  // the edges count
  EXPECT_TRUE(cancelRequested.load());
  EXPECT_TRUE(Gone());
  EXPECT_EQ(mainWindow.load(), nullptr);
  EXPECT_NE(log.Text().find("] [INFO] User cancelled the update\n"), std::string::npos)
      << log.Text();
}

TEST_F(MainWindowTest, RunViewKeys) {
  Key(VK_RETURN);
  Key(VK_ESCAPE);  // Cancel not offered
  Key('A');
  PumpUntil([] { return false; }, nullptr, std::chrono::milliseconds(100));
  EXPECT_TRUE(IsWindow(window_));
  EXPECT_FALSE(cancelRequested.load());
  EnableCancel();
  Key(VK_RETURN);
  EXPECT_FALSE(cancelRequested.load());
  Key(VK_ESCAPE);
  EXPECT_TRUE(cancelRequested.load());
  EXPECT_TRUE(Gone());
}

TEST_F(MainWindowTest, CaptionCloseBoxRequestsACancel) {
  PostMessageW(window_, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_TRUE(Gone());
  EXPECT_TRUE(cancelRequested.load());
}

// Each way out of the error view, on a window of its own.
TEST(MainWindowErrorView, EveryWayOfClosingWorksAndOpenLogKeepsTheWindow) {
  static std::wstring opened;
  openFolderForTests = [](const std::wstring& folder) { opened = folder; };
  struct Case {
    const char* name;
    std::function<void(HWND)> act;
  } cases[] = {
      {"Escape", [](HWND w) { SendMessageW(w, WM_KEYDOWN, VK_ESCAPE, 0); }},
      {"Enter", [](HWND w) { SendMessageW(w, WM_KEYDOWN, VK_RETURN, 0); }},
      {"Close button",
       [](HWND w) {
         SendMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, MouseAt(459, 184));
         SendMessageW(w, WM_LBUTTONUP, 0, MouseAt(459, 184));
       }},
      {"close box", [](HWND w) { PostMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::ScopedWindowState state;
    const HWND window = CreateMainWindow(GetModuleHandleW(nullptr));
    ASSERT_NE(window, nullptr);
    EnableCancel();
    ShowError(L"Something failed.");
    EXPECT_FALSE(cancelAvailable.load());
    SetStatus(L"Ignored\nnow", 50);  // the error view keeps its texts
    {
      const std::lock_guard lock(uiStateMutex);
      EXPECT_EQ(uiState.statusLine, currentUiStrings->labelError);
      EXPECT_EQ(uiState.detailLine, L"Something failed.");
    }
    if (c.name == std::string("Escape")) {
      // Open log leaves the window as it is.
      const LogTail log;
      SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MouseAt(300, 184));
      SendMessageW(window, WM_LBUTTONUP, 0, MouseAt(300, 184));
      PumpUntil([] { return false; }, nullptr, std::chrono::milliseconds(100));
      EXPECT_TRUE(IsWindow(window));
      EXPECT_EQ(opened, ResolveInstallDir() + L"\\logs");
      EXPECT_FALSE(cancelRequested.load());
      EXPECT_NE(
          log.Text().find("] [INFO] Opening the log folder: " +
                          std::filesystem::path(ResolveInstallDir() + L"\\logs").string() + "\n"),
          std::string::npos)
          << log.Text();
    }
    c.act(window);
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(window); }));
    EXPECT_TRUE(cancelRequested.load());
    testing::AwaitNoMainWindow();
  }
  openFolderForTests = nullptr;
}

TEST_F(MainWindowTest, StatusFromAnotherThread) {
  const auto taskbarMessages = [&] {
    int count = 0;
    MSG message{};
    while (PeekMessageW(&message, window_, WM_TASKBAR_PROGRESS, WM_TASKBAR_PROGRESS, PM_REMOVE)) {
      ++count;
    }
    return count;
  };
  taskbarMessages();
  struct Case {
    const wchar_t* text;
    int percent;
    const wchar_t* status;
    const wchar_t* detail;
    float progress;
    int posted;
  } cases[] = {
      {L"Checking for updates...\nUpdate data received", 150, L"Checking for updates...",
       L"Update data received", 1.0f, 1},
      {L"One line", 100, L"One line", L"", 1.0f, 0},  // same percent: no taskbar message
      {L"A\nB\nC", -1, L"A", L"B\nC", 1.0f, 0},       // -1 keeps the progress
      {L"", 20, L"", L"", 0.2f, 1},
  };
  for (const Case& c : cases) {
    OnWorker([&] { SetStatus(c.text, c.percent); });
    {
      const std::lock_guard lock(uiStateMutex);
      EXPECT_EQ(uiState.statusLine, c.status);
      EXPECT_EQ(uiState.detailLine, c.detail);
      EXPECT_FLOAT_EQ(uiState.progress, c.progress);
    }
    EXPECT_EQ(taskbarMessages(), c.posted) << c.percent;
  }

  // After a cancel no error is shown and nothing is logged.
  const LogTail log;
  cancelRequested = true;
  OnWorker([] { ShowError(L"Too late"); });
  EXPECT_FALSE(errorShown.load());
  EXPECT_EQ(taskbarMessages(), 0);
  EXPECT_EQ(log.Text(), "");
  cancelRequested = false;
  OnWorker([] { ShowError(L"Shown"); });
  EXPECT_TRUE(errorShown.load());
  EXPECT_EQ(taskbarMessages(), 1);
  EXPECT_NE(log.Text().find("] [ERROR] Shown\n"), std::string::npos);
}

// Records what the window tells the taskbar button.
class FakeTaskbar : public ITaskbarList3 {
 public:
  std::vector<std::pair<TBPFLAG, ULONGLONG>> calls;  // state, then value of 100

  HRESULT STDMETHODCALLTYPE SetProgressState(HWND, TBPFLAG state) override {
    calls.emplace_back(state, 0);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetProgressValue(HWND, ULONGLONG done, ULONGLONG total) override {
    if (!calls.empty() && total == 100) calls.back().second = done;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE HrInit() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE AddTab(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DeleteTab(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ActivateTab(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND, WINBOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RegisterTab(HWND, HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE UnregisterTab(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetTabOrder(HWND, HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetTabActive(HWND, HWND, DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ThumbBarAddButtons(HWND, UINT, LPTHUMBBUTTON) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ThumbBarUpdateButtons(HWND, UINT, LPTHUMBBUTTON) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ThumbBarSetImageList(HWND, HIMAGELIST) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetOverlayIcon(HWND, HICON, LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetThumbnailTooltip(HWND, LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetThumbnailClip(HWND, RECT*) override { return S_OK; }
};

TEST_F(MainWindowTest, TaskbarButtonShowsProgressThenTheError) {
  FakeTaskbar taskbar;
  RefreshTaskbarProgress(&taskbar, window_);
  SetStatus(L"Downloading", 45);
  RefreshTaskbarProgress(&taskbar, window_);
  ShowError(L"Failed");
  RefreshTaskbarProgress(&taskbar, window_);
  RefreshTaskbarProgress(nullptr, window_);
  const std::vector<std::pair<TBPFLAG, ULONGLONG>> expected{
      {TBPF_NOPROGRESS, 0}, {TBPF_NORMAL, 45}, {TBPF_ERROR, 100}};
  EXPECT_EQ(taskbar.calls, expected);

  // The shell's announcement makes the window create its own taskbar object, as far as Wine
  // has one; either way nothing breaks.
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  SendMessageW(window_, RegisterWindowMessageW(L"TaskbarButtonCreated"), 0, 0);
  SendMessageW(window_, WM_TASKBAR_PROGRESS, 0, 0);
  DestroyWindow(window_);
  CoUninitialize();
}

}  // namespace
}  // namespace kestrivon::win
