// The main window under Wine, driven by real messages: creation, every way out of both views
// (a button fires only when pressed and released on it), status updates from another thread,
// the taskbar button and the log lines of the user's actions.

#include "win/ui/main_window.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <string>
#include <utility>

#include "tests/support/process_log.h"
#include "tests/support/ui_test_support.h"
#include "win/host/process_state.h"
#include "win/ui/download_status.h"
#include "win/ui/ui_state.h"
#include "win/ui/ui_strings.h"

namespace kestrivon::win {
namespace {

using testing::PumpUntil;

bool Has(const std::string& text, const std::string& line) {
  return text.find(line) != std::string::npos;
}

UiState Shown() {
  const std::lock_guard lock(uiStateMutex);
  return uiState;
}

// Runs `body` on a worker thread while this (GUI) thread serves what the worker sends to its
// windows, leaving the posted taskbar messages queued for counting.
void OnWorker(void (*body)()) {
  std::future<void> worker = std::async(std::launch::async, body);
  const auto done = [&] {
    return worker.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
  };
  EXPECT_TRUE(PumpUntil(done, nullptr, std::chrono::seconds(10), WM_TASKBAR_PROGRESS - 1));
}

void Click(HWND window, int pressX, int pressY, int releaseX, int releaseY) {
  SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(pressX, pressY));
  SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(releaseX, releaseY));
}
void Key(HWND window, WPARAM key) { SendMessageW(window, WM_KEYDOWN, key, 0); }
void CloseBox(HWND window) { PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0); }
// Gives posted messages time to arrive.
void Settle() {
  PumpUntil([] { return false; }, nullptr, std::chrono::milliseconds(100));
}

using MainWindowTest = testing::MainWindowFixture;

// Centred, fixed in size, and nothing but Escape or a click on an offered Cancel cancels.
TEST_F(MainWindowTest, OpensCentredAndCancelsOnlyThroughAnOfferedCancel) {
  EXPECT_EQ(mainWindow.load(), window_);
  EXPECT_EQ(Shown().statusLine, currentUiStrings->statusPreparing);
  RECT client{}, frame{};
  GetClientRect(window_, &client);
  EXPECT_EQ(client.right, 544);
  EXPECT_EQ(client.bottom, 222);
  EXPECT_EQ(GetWindowLongW(window_, GWL_STYLE) & 0x00CF0000, 0x00CA0000);
  GetWindowRect(window_, &frame);
  MONITORINFO monitor{sizeof(MONITORINFO), {}, {}, 0};
  GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor);
  EXPECT_NEAR(frame.left - monitor.rcWork.left, monitor.rcWork.right - frame.right, 1);
  EXPECT_NEAR(frame.top - monitor.rcWork.top, monitor.rcWork.bottom - frame.bottom, 1);

  Key(window_, VK_ESCAPE);  // not offered
  Click(window_, 459, 184, 459, 184);
  EnableCancel();
  Key(window_, VK_RETURN);
  Key(window_, 'A');
  Click(window_, 459, 184, 300, 100);  // released off the button
  Click(window_, 300, 100, 459, 184);  // pressed off the button
  Settle();
  EXPECT_TRUE(IsWindow(window_));
  EXPECT_FALSE(cancelRequested.load());
}

// Each way out of either view, on a window of its own: the window goes and the run is
// cancelled. In the error view Open log first leaves the window as it is.
TEST(MainWindowExit, EveryWayOutOfBothViews) {
  static std::wstring opened;
  openFolderForTests = [](const std::wstring& folder) { opened = folder; };
  struct Case {
    const char* name;
    bool errorView;
    void (*act)(HWND);
    bool logsCancel;
  } cases[] = {
      {"Escape", false, [](HWND w) { Key(w, VK_ESCAPE); }, true},
      {"Cancel, at its edges", false, [](HWND w) { Click(w, 404, 166, 514, 202); }, true},
      {"close box", false, CloseBox, false},
      {"error view: Escape", true, [](HWND w) { Key(w, VK_ESCAPE); }, false},
      {"error view: Close", true, [](HWND w) { Click(w, 459, 184, 459, 184); }, false},
      {"error view: close box", true, CloseBox, false},
  };
  const std::wstring logs = ResolveInstallDir() + L"\\logs";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::ScopedWindowState state;
    const HWND window = CreateMainWindow(GetModuleHandleW(nullptr));
    ASSERT_NE(window, nullptr);
    EnableCancel();
    const testing::ProcessLogTail log;
    if (c.errorView) {
      ShowError(L"Something failed.");
      EXPECT_FALSE(cancelAvailable.load());
      SetStatus(L"Ignored\nnow", 50);  // the error view keeps its texts
      EXPECT_EQ(Shown().statusLine, currentUiStrings->labelError);
      EXPECT_EQ(Shown().detailLine, L"Something failed.");
      Click(window, 300, 184, 300, 184);
      Settle();
      EXPECT_TRUE(IsWindow(window));
      EXPECT_FALSE(cancelRequested.load());
      EXPECT_EQ(opened, logs);
      EXPECT_TRUE(Has(log.Text(), "] [INFO] Opening the log folder: " +
                                      std::filesystem::path(logs).string() + "\n"));
    }
    c.act(window);
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(window); }));
    EXPECT_TRUE(cancelRequested.load());
    EXPECT_EQ(Has(log.Text(), "] [INFO] User cancelled the update\n"), c.logsCancel);
    testing::AwaitNoMainWindow();
  }
  openFolderForTests = nullptr;
}

// Records what the window tells the taskbar button: the last state and value of 100.
class FakeTaskbar : public ITaskbarList3 {
 public:
  std::pair<TBPFLAG, ULONGLONG> shown{TBPF_INDETERMINATE, 0};

  HRESULT STDMETHODCALLTYPE SetProgressState(HWND, TBPFLAG state) override {
    shown = {state, 0};
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetProgressValue(HWND, ULONGLONG done, ULONGLONG total) override {
    if (total == 100) shown.second = done;
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

// The texts, the progress, the taskbar messages and the taskbar button each call leaves, in
// order. An error after a cancel is neither shown nor logged.
TEST_F(MainWindowTest, StatusAndErrorsFromAnotherThread) {
  const auto taskbarMessages = [&] {
    int count = 0;
    MSG message{};
    while (PeekMessageW(&message, window_, WM_TASKBAR_PROGRESS, WM_TASKBAR_PROGRESS, PM_REMOVE)) {
      ++count;
    }
    return count;
  };
  taskbarMessages();
  const std::wstring download =
      std::wstring(L"5.0 / 10.0") + currentUiStrings->unitMegabytes + L" (50%)";
  struct Case {
    void (*report)();
    const wchar_t* status;
    std::wstring detail;
    float progress;
    int posted;
    TBPFLAG state;  // and value, of the taskbar button
    ULONGLONG value;
  } cases[] = {
      {[] { SetStatus(L"Checking for updates...\nUpdate data received", 150); },
       L"Checking for updates...", L"Update data received", 1.0f, 1, TBPF_NORMAL, 100},
      // The same percent posts no taskbar message; -1 keeps the progress.
      {[] { SetStatus(L"One line", 100); }, L"One line", L"", 1.0f, 0, TBPF_NORMAL, 100},
      {[] { SetStatus(L"A\nB\nC", -1); }, L"A", L"B\nC", 1.0f, 0, TBPF_NORMAL, 100},
      {[] { SetStatus(L"", 0); }, L"", L"", 0, 1, TBPF_NOPROGRESS, 0},
      // A download's progress, in the window's form with the catalogue's unit.
      {[] { DownloadProgressReporter(L"Java", 40, 28)(5 * 1048576, 10 * 1048576); }, L"Java",
       download, 0.54f, 1, TBPF_NORMAL, 54},
      {[] {
         cancelRequested = true;
         ShowError(L"Too late");
         cancelRequested = false;
       },
       L"Java", download, 0.54f, 0, TBPF_NORMAL, 54},
      {[] { ShowError(L"Shown"); }, currentUiStrings->labelError, L"Shown", 0, 1, TBPF_ERROR, 100},
  };
  const testing::ProcessLogTail log;
  FakeTaskbar taskbar;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    OnWorker(c.report);
    const UiState shown = Shown();
    EXPECT_EQ(shown.statusLine, c.status);
    EXPECT_EQ(shown.detailLine, c.detail);
    EXPECT_FLOAT_EQ(shown.progress, c.progress);
    EXPECT_EQ(taskbarMessages(), c.posted);
    RefreshTaskbarProgress(&taskbar, window_);
    EXPECT_EQ(taskbar.shown, std::pair(c.state, c.value));
  }
  EXPECT_TRUE(errorShown.load());
  EXPECT_FALSE(Has(log.Text(), "Too late"));
  EXPECT_TRUE(Has(log.Text(), "] [ERROR] Shown\n"));
}

}  // namespace
}  // namespace kestrivon::win
