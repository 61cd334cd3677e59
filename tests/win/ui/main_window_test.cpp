// The main window and its update prompt under Wine, driven by real messages: every way out of
// both views (a button fires only when pressed and released on it), the reported status, the
// taskbar button, the user's log lines, and the prompt answered from another thread.

#include "win/ui/main_window.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/process_log.h"
#include "win/base/process_state.h"
#include "win/base/test_seam.h"
#include "win/net/winhttp_downloader.h"
#include "win/ui/graphics_owners.h"
#include "win/ui/ui_state.h"
#include "win/ui/ui_strings.h"
#include "win/ui/update_prompt.h"

namespace kestrivon::win {

// GDI+ for every window, font and picture test of this executable: the process owns it for its
// whole life, as the program entry does.
const UniqueGdiplusSession gdiplusSession = StartGdiplus();

namespace {

// Dispatches every message in this thread's queue, those posted on the way included, and drops
// the quit message a window's destruction posts.
void DispatchQueued() {
  MSG message{};
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message != WM_QUIT) DispatchMessageW(&message);
  }
}

UiState Shown() {
  const std::lock_guard lock(uiStateMutex);
  return uiState;
}

void Click(HWND window, int pressX, int pressY, int releaseX, int releaseY) {
  SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(pressX, pressY));
  SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(releaseX, releaseY));
}
void Key(HWND window, WPARAM key) { SendMessageW(window, WM_KEYDOWN, key, 0); }
void CloseBox(HWND window) { PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0); }

// A real main window for the life of a test. The queue, and the flags and texts the window
// calls share, are cleared before and after each window.
class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { Reopen(); }
  void TearDown() override { Close(); }
  void Close() {
    owner_.reset();
    DispatchQueued();
    errorShown = false;
    cancelAvailable = false;
    cancelRequested = false;
    const std::lock_guard lock(uiStateMutex);
    uiState = {};
  }
  void Reopen() {
    Close();
    owner_ = CreateMainWindow(GetModuleHandleW(nullptr), &RequestCancel);
    ASSERT_NE(owner_, nullptr);
    window_ = MainWindowHandle(*owner_);
  }

  MainWindowOwner owner_;
  HWND window_ = nullptr;
};

// Every input on either view, each on a window of its own, and what follows from it.
TEST_F(MainWindowTest, EveryWayOutOfBothViews) {
  static std::wstring opened;
  testSeam.openFolder = [](const std::wstring& folder) { opened = folder; };
  const auto escape = [](HWND w) { Key(w, VK_ESCAPE); };
  const auto onButton = [](HWND w) { Click(w, 459, 184, 459, 184); };
  enum Outcome { kStays, kOpensLog, kCloses, kClosesLogged };  // closing cancels the run
  struct Case {
    const char* name;
    bool cancelOffered, errorView;
    void (*act)(HWND);
    Outcome outcome;
  } cases[] = {
      {"Escape, no Cancel offered", false, false, escape, kStays},
      {"Cancel not offered", false, false, onButton, kStays},
      {"Enter", true, false, [](HWND w) { Key(w, VK_RETURN); }, kStays},
      {"error view: another key", true, true, [](HWND w) { Key(w, 'A'); }, kStays},
      {"Cancel released off it", true, false, [](HWND w) { Click(w, 459, 184, 300, 100); }, kStays},
      {"Cancel pressed off it", true, false, [](HWND w) { Click(w, 300, 100, 459, 184); }, kStays},
      {"Escape", true, false, escape, kClosesLogged},
      {"Cancel's edges", true, false, [](HWND w) { Click(w, 404, 166, 514, 202); }, kClosesLogged},
      {"close box", true, false, CloseBox, kCloses},
      {"error view: Close", true, true, onButton, kCloses},
      {"error view: Open log", true, true, [](HWND w) { Click(w, 300, 184, 300, 184); }, kOpensLog},
  };
  const std::wstring logs = ResolveInstallDir() + L"\\logs";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.cancelOffered) EnableCancel();
    if (c.errorView) ShowError(L"Something failed.");
    opened.clear();
    const testing::ProcessLogTail log;
    c.act(window_);
    const bool closes = c.outcome >= kCloses;
    DispatchQueued();
    EXPECT_EQ(!IsWindow(window_), closes);
    EXPECT_EQ(cancelRequested.load(), closes);
    EXPECT_EQ(log.Text().contains("] [INFO] User cancelled the update\n"),
              c.outcome == kClosesLogged);
    EXPECT_EQ(opened, c.outcome == kOpensLog ? logs : L"");
    EXPECT_EQ(log.Text().contains("] [INFO] Opening the log folder: " +
                                  std::filesystem::path(logs).string() + "\n"),
              c.outcome == kOpensLog);
    Reopen();
  }
  testSeam.openFolder = nullptr;
}

// Records what the window tells the taskbar button: the last state and value of 100.
class FakeTaskbar : public ITaskbarList3 {
 public:
  std::pair<TBPFLAG, ULONGLONG> shown{TBPF_INDETERMINATE, 0};

  HRESULT SetProgressState(HWND, TBPFLAG state) override {
    shown = {state, 0};
    return S_OK;
  }
  HRESULT SetProgressValue(HWND, ULONGLONG done, ULONGLONG total) override {
    if (total == 100) shown.second = done;
    return S_OK;
  }
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return 1; }
  ULONG Release() override { return 1; }
  HRESULT HrInit() override { return S_OK; }
  HRESULT AddTab(HWND) override { return S_OK; }
  HRESULT DeleteTab(HWND) override { return S_OK; }
  HRESULT ActivateTab(HWND) override { return S_OK; }
  HRESULT SetActiveAlt(HWND) override { return S_OK; }
  HRESULT MarkFullscreenWindow(HWND, WINBOOL) override { return S_OK; }
  HRESULT RegisterTab(HWND, HWND) override { return S_OK; }
  HRESULT UnregisterTab(HWND) override { return S_OK; }
  HRESULT SetTabOrder(HWND, HWND) override { return S_OK; }
  HRESULT SetTabActive(HWND, HWND, DWORD) override { return S_OK; }
  HRESULT ThumbBarAddButtons(HWND, UINT, LPTHUMBBUTTON) override { return S_OK; }
  HRESULT ThumbBarUpdateButtons(HWND, UINT, LPTHUMBBUTTON) override { return S_OK; }
  HRESULT ThumbBarSetImageList(HWND, HIMAGELIST) override { return S_OK; }
  HRESULT SetOverlayIcon(HWND, HICON, LPCWSTR) override { return S_OK; }
  HRESULT SetThumbnailTooltip(HWND, LPCWSTR) override { return S_OK; }
  HRESULT SetThumbnailClip(HWND, RECT*) override { return S_OK; }
};

// The texts, the progress, the taskbar messages and the taskbar button each report leaves, in
// order. (The end-to-end runs make these calls from the worker thread.)
TEST_F(MainWindowTest, ShowsWhatTheWorkerReports) {
  const auto taskbarMessages = [&] {
    int count = 0;
    for (MSG m{}; PeekMessageW(&m, window_, WM_TASKBAR_PROGRESS, WM_TASKBAR_PROGRESS, PM_REMOVE);) {
      ++count;
    }
    return count;
  };
  taskbarMessages();
  ValidateRect(window_, nullptr);
  // Client pixels at 96 DPI.
  constexpr RECT kNone{}, kWhole{0, 0, 544, 222}, kDetail{83, 55, 515, 137},
      kBar{29, 137, 515, 145};
  // An error after a cancel is neither shown nor logged: the first status still shows.
  const testing::ProcessLogTail log;
  cancelRequested = true;
  ShowError(L"Too late");
  cancelRequested = false;
  struct Case {
    void (*report)();
    const wchar_t* status;
    std::wstring detail;
    float progress;
    int posted;
    TBPFLAG state;  // and value, of the taskbar button
    ULONGLONG value;
    RECT repainted;  // what the report invalidated
  } cases[] = {
      {[] { SetStatus(L"Checking for updates...\nUpdate data received", 54); },
       L"Checking for updates...", L"Update data received", 0.54f, 1, TBPF_NORMAL, 54, kWhole},
      // A repeated report repaints nothing; a new detail line or bar repaints only its area.
      {[] { SetStatus(L"Checking for updates...\nUpdate data received", 54); },
       L"Checking for updates...", L"Update data received", 0.54f, 0, TBPF_NORMAL, 54, kNone},
      {[] { SetStatus(L"Checking for updates...\n1.2 MB", 54); }, L"Checking for updates...",
       L"1.2 MB", 0.54f, 0, TBPF_NORMAL, 54, kDetail},
      {[] { SetStatus(L"Checking for updates...\n1.2 MB", 55); }, L"Checking for updates...",
       L"1.2 MB", 0.55f, 1, TBPF_NORMAL, 55, kBar},
      {[] { SetStatus(L"Clamped", 150); }, L"Clamped", L"", 1.0f, 1, TBPF_NORMAL, 100, kWhole},
      // The same percent posts no taskbar message; -1 keeps the progress.
      {[] { SetStatus(L"One line", 100); }, L"One line", L"", 1.0f, 0, TBPF_NORMAL, 100, kWhole},
      {[] { SetStatus(L"A\nB\nC", -1); }, L"A", L"B\nC", 1.0f, 0, TBPF_NORMAL, 100, kWhole},
      {[] { SetStatus(L"", 0); }, L"", L"", 0, 1, TBPF_NOPROGRESS, 0, kWhole},
      // Below 2 % the bar shows no fill: the taskbar moves, the window stays.
      {[] { SetStatus(L"", 1); }, L"", L"", 0.01f, 1, TBPF_NORMAL, 1, kNone},
      {[] { ShowError(L"Shown"); }, currentUiStrings->labelError, L"Shown", 0, 1, TBPF_ERROR, 100,
       kWhole},
      // The error view keeps its texts.
      {[] { SetStatus(L"Ignored", 50); }, currentUiStrings->labelError, L"Shown", 0, 0, TBPF_ERROR,
       100, kNone},
  };
  FakeTaskbar taskbar;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    c.report();
    const UiState shown = Shown();
    EXPECT_EQ(shown.statusLine, c.status);
    EXPECT_EQ(shown.detailLine, c.detail);
    EXPECT_FLOAT_EQ(shown.progress, c.progress);
    EXPECT_EQ(taskbarMessages(), c.posted);
    RefreshTaskbarProgress(&taskbar, window_);
    EXPECT_EQ(taskbar.shown, std::pair(c.state, c.value));
    RECT repainted{};
    GetUpdateRect(window_, &repainted, FALSE);
    ValidateRect(window_, nullptr);
    EXPECT_TRUE(EqualRect(&repainted, &c.repainted))
        << repainted.left << "," << repainted.top << "," << repainted.right << ","
        << repainted.bottom;
  }
  EXPECT_FALSE(log.Text().contains("Too late"));
}

// The window opens centred, fixed in size and showing "Preparing". The prompt (ten rows, eight
// shown, the owner off the work area's bottom-right corner) stays inside the work area and
// disables its owner while open; a quit message is passed on. No rows ask nothing; after a
// cancel or without a window the answer is no. The end-to-end runs answer by Enter and Escape.
TEST_F(MainWindowTest, OpensCentredAndAnswersThePrompt) {
  EXPECT_EQ(Shown().statusLine, currentUiStrings->statusPreparing);
  RECT client{}, frame{}, inside{};
  GetClientRect(window_, &client);
  EXPECT_EQ(std::pair(client.right, client.bottom), std::pair(544L, 222L));
  EXPECT_EQ(GetWindowLongW(window_, GWL_STYLE) & 0x00CF0000, 0x00CA0000);
  GetWindowRect(window_, &frame);
  MONITORINFO monitor{sizeof(MONITORINFO), {}, {}, 0};
  GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT work = monitor.rcWork;
  EXPECT_NEAR(frame.left - work.left, work.right - frame.right, 1);
  EXPECT_NEAR(frame.top - work.top, work.bottom - frame.bottom, 1);

  SetWindowPos(window_, nullptr, work.right - 100, work.bottom - 40, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  constexpr int kButtonY = 436 - 45;
  const DWORD guiThread = GetCurrentThreadId();
  const std::vector<PromptRow> rows(10, {L"Java", L"21.0.4", L"21.0.5", 50644378});
  bool stillOpen = false, ownerDisabled = false;
  struct Case {
    const char* name;
    std::function<void(HWND)> act;
    bool accepted;
  } cases[] = {
      {"close box", CloseBox, false},
      {"Update button", [](HWND p) { Click(p, 529, kButtonY, 529, kButtonY); }, true},
      {"Cancel button", [](HWND p) { Click(p, 389, kButtonY, 389, kButtonY); }, false},
      {"press on Update, release on Cancel, another key, then Enter",
       [&](HWND p) {
         ownerDisabled = !IsWindowEnabled(window_);
         GetClientRect(p, &client);
         GetWindowRect(p, &frame);
         Click(p, 529, kButtonY, 389, kButtonY);
         Key(p, 'A');
         Sleep(100);
         stillOpen = IsWindow(p);
         Key(p, VK_RETURN);
       },
       true},
      {"quit message", [&](HWND) { PostThreadMessageW(guiThread, WM_QUIT, 7, 0); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::thread user([&] {
      for (int i = 0; i < 1000; ++i) {
        const HWND prompt = FindWindowW(L"Kestrivon_Update_Dialog", nullptr);
        if (prompt != nullptr && IsWindowVisible(prompt)) return c.act(prompt);
        Sleep(10);
      }
      ADD_FAILURE() << "no prompt shown";
    });
    EXPECT_EQ(ShowUpdatePrompt(window_, rows), c.accepted);
    user.join();
    EXPECT_EQ(FindWindowW(L"Kestrivon_Update_Dialog", nullptr), nullptr);
    EXPECT_TRUE(IsWindowEnabled(window_));
  }
  MSG quit{};
  EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(quit.wParam, 7u);
  EXPECT_TRUE(stillOpen);
  EXPECT_TRUE(ownerDisabled);
  EXPECT_EQ(std::pair(client.right, client.bottom), std::pair(624L, 436L));
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
