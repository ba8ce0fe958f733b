#include "app/SingleInstance_win.h"

#include "common/ScopedHandle_win.h"
#include "common/WinText_win.h"

#include <gtest/gtest.h>

namespace {

// A title of this test process alone, so parallel runs never meet.
std::string UniqueTitle(const char* what) {
  return std::string("QB single instance test ") + what + " " + std::to_string(::GetCurrentProcessId());
}

bool MutexExists(const std::string& title) {
  TScopedHandle h(::OpenMutexW(SYNCHRONIZE, FALSE, Utf8ToWide(title).c_str()));
  return h.valid();
}

}  // namespace

TEST(SingleInstance, CloseCommandWithNoInstanceEndsWithoutMakingTheMutex) {
  const std::string title = UniqueTitle("exit");
  EXPECT_TRUE(CheckSingleInstance(title, "QBNoSuchClass", true, {"exit"}, nullptr));
  EXPECT_FALSE(MutexExists(title));
}

TEST(SingleInstance, OnlyAnExactFirstArgumentIsTheCloseCommand) {
  const struct {
    std::vector<std::string> args;
  } cases[] = {{{"Exit"}}, {{"EXIT"}}, {{"other", "exit"}}, {{}}};
  int n = 0;
  for (const auto& c : cases) {
    const std::string title = UniqueTitle(("normal" + std::to_string(n++)).c_str());
    EXPECT_FALSE(CheckSingleInstance(title, "QBNoSuchClass", true, c.args, nullptr));
    EXPECT_TRUE(MutexExists(title));
  }
}

TEST(SingleInstance, ASecondCheckFindsTheMutexAndEndsQuietlyWithoutAnAppWindow) {
  const std::string title = UniqueTitle("second");
  ASSERT_FALSE(CheckSingleInstance(title, "QBNoSuchClass", true, {}, nullptr));
  EXPECT_TRUE(CheckSingleInstance(title, "QBNoSuchClass", false, {}, nullptr));
  EXPECT_TRUE(CheckSingleInstance(title, "QBNoSuchClass", true, {}, nullptr));
}

namespace {

// A window on a thread of its own that counts the WM_CLOSE it gets; while Hang is set the
// thread stops taking messages, as a hung program does.
struct TCloseTarget {
  HWND Window = nullptr;
  LONG Closes = 0;
  TScopedHandle Ready{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  TScopedHandle Hang{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  TScopedHandle Resume{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  TScopedHandle Thread;

  static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_CLOSE) {
      auto* self = reinterpret_cast<TCloseTarget*>(::GetWindowLongPtrW(wnd, GWLP_USERDATA));
      ::InterlockedIncrement(&self->Closes);
      return 0;
    }
    return ::DefWindowProcW(wnd, msg, wp, lp);
  }
  static DWORD WINAPI Run(void* p) {
    auto* self = static_cast<TCloseTarget*>(p);
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QBCloseTarget";
    ::RegisterClassW(&wc);
    self->Window = ::CreateWindowW(L"QBCloseTarget", L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                   nullptr, wc.hInstance, nullptr);
    ::SetWindowLongPtrW(self->Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    ::SetEvent(self->Ready.get());
    MSG msg;
    for (;;) {
      if (::WaitForSingleObject(self->Hang.get(), 0) == WAIT_OBJECT_0)
        ::WaitForSingleObject(self->Resume.get(), INFINITE);
      HANDLE hang = self->Hang.get();
      if (::MsgWaitForMultipleObjects(1, &hang, FALSE, 50, QS_ALLINPUT) == WAIT_FAILED)
        break;
      bool quit = false;
      while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) quit = true;
        ::DispatchMessageW(&msg);
      }
      if (quit) break;
    }
    ::DestroyWindow(self->Window);
    return 0;
  }
  TCloseTarget() {
    Thread.reset(::CreateThread(nullptr, 0, Run, this, 0, nullptr));
    ::WaitForSingleObject(Ready.get(), 10000);
  }
  ~TCloseTarget() {
    ::SetEvent(Resume.get());
    ::ResetEvent(Hang.get());
    ::PostMessageW(Window, WM_QUIT, 0, 0);
    ::PostThreadMessageW(::GetThreadId(Thread.get()), WM_QUIT, 0, 0);
    ::WaitForSingleObject(Thread.get(), 10000);
  }
};

}  // namespace

TEST(SingleInstance, TheCloseRequestIsHandledByARespondingWindowAndNeverWaitsOnAHungOne) {
  TCloseTarget target;
  ASSERT_NE(target.Window, nullptr);
  EXPECT_TRUE(SendCloseRequest(target.Window, 10000));
  EXPECT_EQ(target.Closes, 1);

  ::SetEvent(target.Hang.get());
  ::Sleep(200);  // the thread is now waiting on Resume and takes no messages
  // Returning at all is the point: a plain send would wait here for as long as the hang lasts.
  EXPECT_FALSE(SendCloseRequest(target.Window, 300));
  ::SetEvent(target.Resume.get());
}
