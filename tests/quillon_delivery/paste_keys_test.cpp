// Paste key strokes reach the focused window of a real X server (Xvfb).
// GoogleTest comes before Xlib, whose macros (Bool, None) clash with it.
#include <gtest/gtest.h>

#include "delivery/paste_keys.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Stroke {
    KeySym key;
    bool press;
    bool operator==(const Stroke&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Stroke& s) {
    const char* name = XKeysymToString(s.key);
    return out << (name != nullptr ? name : "?") << (s.press ? " down" : " up");
}

// Xvfb on a display it picks itself (-displayfd), with one focused window of
// the test that records the key events it receives.
class XServerTest : public testing::Test {
  protected:
    void SetUp() override {
        StartServer(false);
        if (display_ != nullptr) {
            OpenFocusedWindow();
        }
    }

    // Xvfb, with or without the XTest extension.
    void StartServer(bool withoutXTest) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        server_ = fork();
        if (server_ == 0) {
            close(fds[0]);
            std::string fd = std::to_string(fds[1]);
            int devNull = open("/dev/null", O_WRONLY);
            dup2(devNull, STDERR_FILENO);
            if (withoutXTest) {
                execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "320x240x24",
                       "-nolisten", "tcp", "-extension", "XTEST", nullptr);
            }
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "320x240x24",
                   "-nolisten", "tcp", nullptr);
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        for (;;) {
            pollfd p{fds[0], POLLIN, 0};
            char c = 0;
            if (poll(&p, 1, 30000) <= 0 || read(fds[0], &c, 1) != 1 || c == '\n') {
                break;
            }
            number.push_back(c);
        }
        close(fds[0]);
        ASSERT_FALSE(number.empty()) << "Xvfb did not report a display";
        displayName_ = ":" + number;
        display_ = XOpenDisplay(displayName_.c_str());
        ASSERT_NE(display_, nullptr);
    }

    void TearDown() override {
        if (display_ != nullptr) {
            XCloseDisplay(display_);
        }
        if (server_ > 0) {
            kill(server_, SIGTERM);
            waitpid(server_, nullptr, 0);
        }
    }

    void OpenFocusedWindow() {
        int screen = DefaultScreen(display_);
        window_ = XCreateSimpleWindow(display_, RootWindow(display_, screen), 0, 0, 100, 100, 0,
                                      BlackPixel(display_, screen), WhitePixel(display_, screen));
        XSelectInput(display_, window_, KeyPressMask | KeyReleaseMask | StructureNotifyMask);
        XMapWindow(display_, window_);
        for (XEvent event;;) {
            XNextEvent(display_, &event);
            if (event.type == MapNotify) {
                break;
            }
        }
        XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
        XSync(display_, False);
    }

    // Key events of the window until `count` arrived or a generous wait ran
    // out, plus any further ones the server has already queued for us.
    std::vector<Stroke> ReadStrokes(size_t count, unsigned* stateOfVPress) {
        std::vector<Stroke> strokes;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        bool drained = false;
        while (!drained && std::chrono::steady_clock::now() < deadline) {
            if (strokes.size() >= count && XPending(display_) == 0) {
                // A round trip flushes everything the server generated so far.
                XSync(display_, False);
                drained = XPending(display_) == 0;
                continue;
            }
            if (XPending(display_) == 0) {
                pollfd p{ConnectionNumber(display_), POLLIN, 0};
                poll(&p, 1, 200);
                continue;
            }
            XEvent event;
            XNextEvent(display_, &event);
            if (event.type != KeyPress && event.type != KeyRelease) {
                continue;
            }
            KeySym key = XLookupKeysym(&event.xkey, 0);
            if (key == XK_v && event.type == KeyPress) {
                *stateOfVPress = event.xkey.state;
            }
            strokes.push_back({key, event.type == KeyPress});
        }
        return strokes;
    }

    pid_t server_ = -1;
    std::string displayName_;
    Display* display_ = nullptr;
    Window window_ = 0;
};

class PasteStrokes : public XServerTest, public testing::WithParamInterface<bool> {};

TEST_P(PasteStrokes, ReachTheFocusedWindowInOrder) {
    bool withReturn = GetParam();
    std::vector<Stroke> expected = {
        {XK_Control_L, true}, {XK_v, true}, {XK_v, false}, {XK_Control_L, false}};
    if (withReturn) {
        expected.push_back({XK_Return, true});
        expected.push_back({XK_Return, false});
    }
    // The program finds its display through $DISPLAY.
    setenv("DISPLAY", displayName_.c_str(), 1);
    ASSERT_TRUE(quillon::SendPasteKeys(withReturn));

    unsigned vState = 0;
    std::vector<Stroke> strokes = ReadStrokes(expected.size(), &vState);
    EXPECT_EQ(strokes, expected);
    // V goes down while Ctrl is held, which is what makes it a paste.
    EXPECT_NE(vState & ControlMask, 0u);
}

INSTANTIATE_TEST_SUITE_P(Return, PasteStrokes, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "WithReturn" : "WithoutReturn";
                         });

class ServerWithoutXTest : public XServerTest {
  protected:
    void SetUp() override { StartServer(true); }
};

TEST_F(ServerWithoutXTest, RefusesThePasteWithTheReason) {
    const quillon::PasteResult result = quillon::SendPasteKeysX11(displayName_.c_str(), true);
    EXPECT_FALSE(result);
    EXPECT_EQ(result.reason, "the X display \"" + displayName_ + "\" has no XTest extension");
}

TEST(PasteKeysWithoutDevices, UnreachableDisplayOrDeviceFailsWithTheLayersReason) {
    // A plain file takes writes but not the virtual-device requests.
    char path[] = "/tmp/not-uinput-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    const std::string file = path;
    struct Case {
        quillon::PasteResult result;
        std::string reason;
    };
    const Case cases[] = {
        {quillon::SendPasteKeysX11(":4711", false), "cannot open the X display \":4711\""},
        {quillon::SendPasteKeysUinput(path, false),
         file + " does not make a virtual keyboard: Inappropriate ioctl for device"},
        {quillon::SendPasteKeysUinput("/nonexistent/uinput", true),
         "/nonexistent/uinput: No such file or directory"},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(c.result);
        EXPECT_EQ(c.result.reason, c.reason);
    }
    unlink(path);
}

TEST(PasteKeysWithoutDevices, BothWaysFailingNameBothReasons) {
    if (access(quillon::kUinputDevicePath, F_OK) == 0) {
        GTEST_SKIP() << "this machine has " << quillon::kUinputDevicePath;
    }
    setenv("DISPLAY", ":4711", 1);
    const quillon::PasteResult result = quillon::SendPasteKeys(true);
    EXPECT_FALSE(result);
    EXPECT_EQ(result.reason,
              "cannot open the X display \":4711\"; /dev/uinput: No such file or directory");
    unsetenv("DISPLAY");
    EXPECT_EQ(quillon::SendPasteKeys(true).reason,
              "no X display ($DISPLAY is not set); /dev/uinput: No such file or directory");
}

}  // namespace
