#include <windows.h>

#include <gtest/gtest.h>

#include "runner/flutter_window.h"
#include "runner/win32_window.h"
#include "tests/channel/fake_embedding.h"

namespace {

constexpr wchar_t kWindowClassName[] = L"FLUTTER_RUNNER_WIN32_WINDOW";

bool WindowClassIsRegistered() {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  return GetClassInfoExW(GetModuleHandleW(nullptr), kWindowClassName, &window_class) != FALSE;
}

// Records the geometry the window was created with: the system may clamp the real window to a
// screen smaller than the request, but the creation parameters are what the window asked for.
class RecordingWindow : public Win32Window {
 public:
  RECT requested{};

 protected:
  LRESULT MessageHandler(HWND window, UINT const message, WPARAM const wparam, LPARAM const lparam) noexcept override {
    if (message == WM_CREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
      requested = RECT{create->x, create->y, create->x + create->cx, create->y + create->cy};
    }
    return Win32Window::MessageHandler(window, message, wparam, lparam);
  }
};

class WindowTest : public testing::Test {
 protected:
  void SetUp() override { fake_embedding::Reset(); }
  void TearDown() override { fake_embedding::Reset(); }
};

struct DpiCase {
  UINT dpi;
  RECT expected;  // left, top, right, bottom in physical pixels
};

class WindowDpiTest : public WindowTest, public testing::WithParamInterface<DpiCase> {};

TEST_P(WindowDpiTest, CreatesTheWindowScaledToTheMonitorAndHidden) {
  fake_embedding::SetMonitorDpi(GetParam().dpi);
  RecordingWindow window;
  ASSERT_TRUE(window.Create(L"Pelmora", Win32Window::Point(10, 10), Win32Window::Size(1280, 800)));

  EXPECT_EQ(window.requested.left, GetParam().expected.left);
  EXPECT_EQ(window.requested.top, GetParam().expected.top);
  EXPECT_EQ(window.requested.right - window.requested.left, GetParam().expected.right - GetParam().expected.left);
  EXPECT_EQ(window.requested.bottom - window.requested.top, GetParam().expected.bottom - GetParam().expected.top);
  EXPECT_FALSE(IsWindowVisible(window.GetHandle()));
  wchar_t title[32] = {};
  GetWindowTextW(window.GetHandle(), title, 32);
  EXPECT_STREQ(title, L"Pelmora");
}

INSTANTIATE_TEST_SUITE_P(Dpi, WindowDpiTest,
                         testing::Values(DpiCase{96, RECT{10, 10, 10 + 1280, 10 + 800}},
                                         DpiCase{120, RECT{12, 12, 12 + 1600, 12 + 1000}},
                                         DpiCase{144, RECT{15, 15, 15 + 1920, 15 + 1200}}));

TEST_F(WindowTest, KeepsTheClassRegisteredWhileAnotherWindowObjectLives) {
  auto first = std::make_unique<Win32Window>();
  ASSERT_TRUE(first->Create(L"first", Win32Window::Point(0, 0), Win32Window::Size(200, 100)));
  Win32Window second;
  ASSERT_TRUE(second.Create(L"second", Win32Window::Point(0, 0), Win32Window::Size(200, 100)));

  first.reset();
  EXPECT_TRUE(WindowClassIsRegistered());

  // The class still serves new windows of the surviving object.
  EXPECT_TRUE(second.Create(L"again", Win32Window::Point(0, 0), Win32Window::Size(200, 100)));
}

TEST_F(WindowTest, UnregistersTheClassWithTheLastWindowObject) {
  {
    Win32Window window;
    ASSERT_TRUE(window.Create(L"only", Win32Window::Point(0, 0), Win32Window::Size(200, 100)));
    EXPECT_TRUE(WindowClassIsRegistered());
  }
  EXPECT_FALSE(WindowClassIsRegistered());
}

TEST_F(WindowTest, ChildContentFillsTheClientAreaAsTheWindowIsResized) {
  Win32Window window;
  ASSERT_TRUE(window.Create(L"host", Win32Window::Point(0, 0), Win32Window::Size(400, 300)));
  HWND child = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, window.GetHandle(), nullptr,
                               GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(child, nullptr);
  window.SetChildContent(child);

  for (const SIZE size : {SIZE{640, 480}, SIZE{320, 200}}) {
    SetWindowPos(window.GetHandle(), nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client{};
    GetClientRect(window.GetHandle(), &client);
    RECT child_rect{};
    GetWindowRect(child, &child_rect);
    MapWindowPoints(HWND_DESKTOP, window.GetHandle(), reinterpret_cast<POINT*>(&child_rect), 2);
    EXPECT_EQ(child_rect.left, client.left);
    EXPECT_EQ(child_rect.top, client.top);
    EXPECT_EQ(child_rect.right, client.right);
    EXPECT_EQ(child_rect.bottom, client.bottom);
  }
}

TEST_F(WindowTest, DestroyingTheWindowPostsQuitOnlyWhenAsked) {
  for (const bool quit_on_close : {false, true}) {
    SCOPED_TRACE(quit_on_close);
    Win32Window window;
    ASSERT_TRUE(window.Create(L"closing", Win32Window::Point(0, 0), Win32Window::Size(200, 100)));
    window.SetQuitOnClose(quit_on_close);
    SendMessageW(window.GetHandle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(window.GetHandle(), nullptr);
    MSG message{};
    const bool quit_posted = PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
    EXPECT_EQ(quit_posted, quit_on_close);
  }
}

flutter::EngineProject TestProject() {
  flutter::EngineProject project;
  project.assets_path = L"data\\flutter_assets";
  project.icu_data_path = L"data\\icudtl.dat";
  project.aot_library_path = L"data\\app.so";
  project.dart_entrypoint_arguments = {"one", "two words"};
  return project;
}

TEST_F(WindowTest, FlutterWindowShowsItselfWithTheFirstFrameAndRegistersThePlugins) {
  FlutterWindow window(TestProject());
  ASSERT_TRUE(window.Create(L"Pelmora", Win32Window::Point(10, 10), Win32Window::Size(1280, 800)));

  EXPECT_FALSE(IsWindowVisible(window.GetHandle()));
  EXPECT_EQ(fake_embedding::UrlLauncherRegistrations(), std::vector<std::string>{"UrlLauncherWindows"});
  // The plugin registers its two channels on the engine's messenger.
  std::vector<std::string> channels;
  for (const auto& registration : fake_embedding::Registrations()) {
    channels.push_back(registration.channel);
  }
  EXPECT_NE(std::find(channels.begin(), channels.end(), "com.pelmora.app/native"), channels.end());
  EXPECT_NE(std::find(channels.begin(), channels.end(), "com.pelmora.app/scan"), channels.end());
  EXPECT_GE(fake_embedding::ForceRedrawCalls(), 1);

  fake_embedding::DrawFrame(fake_embedding::LastEngine());
  EXPECT_TRUE(IsWindowVisible(window.GetHandle()));

  const auto creations = fake_embedding::EngineCreations();
  ASSERT_FALSE(creations.empty());
  EXPECT_EQ(creations.back().arguments, (std::vector<std::string>{"one", "two words"}));
}

TEST_F(WindowTest, FlutterWindowFailsWhenTheViewCannotBeCreated) {
  for (const bool engine_fails : {true, false}) {
    SCOPED_TRACE(engine_fails);
    fake_embedding::Reset();
    if (engine_fails) {
      fake_embedding::SetEngineCreationFails(true);
    } else {
      fake_embedding::SetViewControllerCreationFails(true);
    }
    FlutterWindow window(TestProject());
    EXPECT_FALSE(window.Create(L"Pelmora", Win32Window::Point(10, 10), Win32Window::Size(1280, 800)));
  }
}

TEST_F(WindowTest, FontChangeReloadsTheSystemFonts) {
  FlutterWindow window(TestProject());
  ASSERT_TRUE(window.Create(L"Pelmora", Win32Window::Point(10, 10), Win32Window::Size(1280, 800)));
  SendMessageW(window.GetHandle(), WM_FONTCHANGE, 0, 0);
  EXPECT_EQ(fake_embedding::ReloadSystemFontsCalls(), 1);
}

TEST_F(WindowTest, ClosingTheFlutterWindowEndsTheEngine) {
  FlutterWindow window(TestProject());
  ASSERT_TRUE(window.Create(L"Pelmora", Win32Window::Point(10, 10), Win32Window::Size(1280, 800)));
  window.SetQuitOnClose(true);
  SendMessageW(window.GetHandle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(fake_embedding::ViewControllerDestroyCalls(), 1);
  EXPECT_EQ(fake_embedding::LiveEngines(), 0);
  MSG message{};
  EXPECT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

}  // namespace
