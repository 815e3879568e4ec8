// Single instance: the named semaphore across real processes, and the
// top-level window search against windows of a real X display.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "platform/top_window.h"
#include "temp_files.hpp"

#if defined(HAVE_X11)
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#endif

using test_support::ScopedEnv;
using test_support::TempDir;

namespace {

// What plat_semaphore_create says about name in a new process: 0 not
// existed, 1 existed, 2 failed.
int ExistedInChild(const char *name) {
  pid_t pid = fork();
  if (pid == 0) {
    int existed = 0;
    int h = plat_semaphore_create(name, &existed);
    _exit(h < 0 ? 2 : existed ? 1 : 0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 3;
}

class Semaphore : public ::testing::Test {
 protected:
  TempDir runtime_;
  ScopedEnv env_{"XDG_RUNTIME_DIR", runtime_.path()};
};

}  // namespace

TEST_F(Semaphore, FirstCreateFindsNoneExisting) {
  int existed = -1;
  int h = plat_semaphore_create("SemaphoreName2", &existed);
  ASSERT_GE(h, 0);
  EXPECT_EQ(existed, 0);
  EXPECT_TRUE(std::filesystem::exists(runtime_ / "lobby-SemaphoreName2.lock"));
  plat_semaphore_close(h);
}

TEST_F(Semaphore, AnotherProcessSeesItExistWhileHeld) {
  int existed = -1;
  int h = plat_semaphore_create("SemaphoreName2", &existed);
  ASSERT_GE(h, 0);
  EXPECT_EQ(ExistedInChild("SemaphoreName2"), 1);
  EXPECT_EQ(ExistedInChild("OtherName"), 0);
  plat_semaphore_close(h);
  EXPECT_EQ(ExistedInChild("SemaphoreName2"), 0);
}

TEST_F(Semaphore, SecondCreateInTheSameProcessSeesItExist) {
  int existed = -1;
  int first = plat_semaphore_create("x", &existed);
  int second = plat_semaphore_create("x", &existed);
  ASSERT_GE(second, 0);
  EXPECT_EQ(existed, 1);
  plat_semaphore_close(second);
  plat_semaphore_close(first);
}

TEST_F(Semaphore, HolderThatDiesWithoutClosingLeavesItFree) {
  pid_t pid = fork();
  if (pid == 0) {
    int existed = 0;
    _exit(plat_semaphore_create("crash", &existed) >= 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  int existed = -1;
  int h = plat_semaphore_create("crash", &existed);
  ASSERT_GE(h, 0);
  EXPECT_EQ(existed, 0);
  plat_semaphore_close(h);
}

TEST_F(Semaphore, NameWithSeparatorsStaysInTheRuntimeFolder) {
  int existed = -1;
  int a = plat_semaphore_create("a/b\\c", &existed);
  ASSERT_GE(a, 0);
  EXPECT_EQ(existed, 0);
  int b = plat_semaphore_create("a_b_c", &existed);
  EXPECT_EQ(existed, 0) << "distinct names must not collide";
  int files = 0;
  for (const auto &e : std::filesystem::directory_iterator(runtime_.path())) {
    EXPECT_TRUE(e.is_regular_file()) << e.path();
    ++files;
  }
  EXPECT_EQ(files, 2);
  plat_semaphore_close(b);
  plat_semaphore_close(a);
}

TEST(SemaphoreFallback, WithoutRuntimeFolderTheLockIsInTmp) {
  ScopedEnv noRuntime("XDG_RUNTIME_DIR", nullptr);
  const std::string name = "fallback-" + std::to_string(getpid());
  const std::string path =
      "/tmp/lobby-" + std::to_string(getuid()) + "-" + name + ".lock";
  int existed = -1;
  int h = plat_semaphore_create(name.c_str(), &existed);
  ASSERT_GE(h, 0);
  EXPECT_EQ(existed, 0);
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(ExistedInChild(name.c_str()), 1);
  plat_semaphore_close(h);
  std::filesystem::remove(path);
}

// ---- window search ---------------------------------------------------------

TEST(TopWindow, WithoutADisplayNothingIsFound) {
  ScopedEnv noDisplay("DISPLAY", nullptr);
  EXPECT_EQ(plat_find_top_window("anything", "zzzzzzz2"), 0);
}

#if defined(HAVE_X11)
namespace {

class TopWindowOnDisplay : public ::testing::Test {
 protected:
  void SetUp() override {
    display_ = XOpenDisplay(nullptr);
    if (!display_) GTEST_SKIP() << "no X display";
    net_wm_name_ = XInternAtom(display_, "_NET_WM_NAME", False);
    utf8_ = XInternAtom(display_, "UTF8_STRING", False);
  }
  void TearDown() override {
    if (display_) XCloseDisplay(display_);  // destroys our windows
  }

  Window MakeWindow(Window parent) {
    return XCreateSimpleWindow(display_, parent, 0, 0, 10, 10, 0, 0, 0);
  }
  // Titles are unique per process: other tests may share the display.
  std::string Title(const char *what) {
    return std::string("platform-test ") + what + " " +
           std::to_string(getpid());
  }
  std::string WmName(Window w) {
    char *name = nullptr;
    std::string out;
    if (XFetchName(display_, w, &name) && name) {
      out = name;
      XFree(name);
    }
    return out;
  }
  std::string NetWmName(Window w) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char *data = nullptr;
    std::string out;
    if (XGetWindowProperty(display_, w, net_wm_name_, 0, 1024, False, utf8_,
                           &type, &format, &count, &after, &data) == Success &&
        data) {
      out.assign(reinterpret_cast<char *>(data), count);
      XFree(data);
    }
    return out;
  }
  void SetNetWmName(Window w, const std::string &title) {
    XChangeProperty(display_, w, net_wm_name_, utf8_, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(title.data()),
                    static_cast<int>(title.size()));
  }

  Display *display_ = nullptr;
  Atom net_wm_name_ = None;
  Atom utf8_ = None;
};

}  // namespace

TEST_F(TopWindowOnDisplay, FoundWindowIsRetitledAndNoLongerFoundByOldTitle) {
  const std::string title = Title("splash");
  const std::string renamed = Title("zzzzzzz2");
  Window w = MakeWindow(DefaultRootWindow(display_));
  XStoreName(display_, w, title.c_str());
  XSync(display_, False);

  EXPECT_EQ(plat_find_top_window(title.c_str(), nullptr), 1);
  ASSERT_EQ(plat_find_top_window(title.c_str(), renamed.c_str()), 1);
  EXPECT_EQ(WmName(w), renamed);
  EXPECT_EQ(NetWmName(w), renamed);
  EXPECT_EQ(plat_find_top_window(title.c_str(), nullptr), 0);
  EXPECT_EQ(plat_find_top_window(renamed.c_str(), nullptr), 1);
}

TEST_F(TopWindowOnDisplay, OfTwoTheOneHighestInTheStackIsFound) {
  const std::string title = Title("twice");
  Window older = MakeWindow(DefaultRootWindow(display_));
  Window newer = MakeWindow(DefaultRootWindow(display_));
  XStoreName(display_, older, title.c_str());
  XStoreName(display_, newer, title.c_str());
  XSync(display_, False);
  // The window made last lies on top.
  ASSERT_EQ(plat_find_top_window(title.c_str(), "first"), 1);
  EXPECT_EQ(WmName(newer), "first");
  EXPECT_EQ(WmName(older), title);
  XStoreName(display_, newer, title.c_str());
  XRaiseWindow(display_, older);
  XSync(display_, False);
  ASSERT_EQ(plat_find_top_window(title.c_str(), "second"), 1);
  EXPECT_EQ(WmName(older), "second");
  EXPECT_EQ(WmName(newer), title);
}

TEST_F(TopWindowOnDisplay, TitleNobodyHasIsNotFound) {
  EXPECT_EQ(plat_find_top_window(Title("nobody").c_str(), "x"), 0);
}

TEST_F(TopWindowOnDisplay, Utf8TitleWinsOverTheLegacyName) {
  const std::string title = Title("utf8 \xc3\xa9");
  Window w = MakeWindow(DefaultRootWindow(display_));
  XStoreName(display_, w, "legacy");
  SetNetWmName(w, title);
  XSync(display_, False);
  EXPECT_EQ(plat_find_top_window(title.c_str(), nullptr), 1);
}

TEST_F(TopWindowOnDisplay, ClientInsideAWindowManagerFrameIsFound) {
  const std::string title = Title("framed");
  Window frame = MakeWindow(DefaultRootWindow(display_));
  Window client = MakeWindow(frame);
  Window inner = MakeWindow(client);  // part of the program, not top-level
  long state[2] = {1 /* NormalState */, 0};
  Atom wm_state = XInternAtom(display_, "WM_STATE", False);
  XChangeProperty(display_, client, wm_state, wm_state, 32, PropModeReplace,
                  reinterpret_cast<unsigned char *>(state), 2);
  XStoreName(display_, client, title.c_str());
  XStoreName(display_, frame, title.c_str());  // some managers copy it
  XStoreName(display_, inner, title.c_str());
  XSync(display_, False);

  ASSERT_EQ(plat_find_top_window(title.c_str(), "renamed"), 1);
  EXPECT_EQ(WmName(client), "renamed") << "the client, not its frame";
  EXPECT_EQ(WmName(inner), title);
}
#endif
