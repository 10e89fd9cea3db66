// The bus keeps serving everybody: a client that floods the control socket
// and never reads its answers holds up neither other clients nor a linked
// pair, and requests that change the bus are refused to other users.
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <optional>
#include <thread>

#include "ovrix/daemon.h"
#include "ovrix_test_support.h"

namespace {

using namespace ovrix_test;
using ovrix::Target;

constexpr char kScanner[] = "usb#vid_1eab&pid_0d10#sim0001";
constexpr uid_t kNobody = 65534;

// Sends one request on a fresh connection and waits at most `ms` for its
// answer; nothing when none came in time.
std::optional<Reply> AskWithin(const fs::path& socketPath, const Request& request, int ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    int fd = ConnectControl(socketPath);
    if (fd < 0)
        return std::nullopt;
    std::vector<uint8_t> message = Encode(request);
    std::optional<Reply> reply;
    if (::send(fd, message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT) ==
        static_cast<ssize_t>(message.size())) {
        std::vector<uint8_t> buffer(sizeof(ovrix::ReplyHeader) + ovrix::kMaxPayload);
        while (!reply) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{fd, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                break;
            ssize_t n = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (n < static_cast<ssize_t>(sizeof(ovrix::ReplyHeader)))
                break;
            reply.emplace();
            reply->received = true;
            std::memcpy(&reply->header, buffer.data(), sizeof reply->header);
            reply->output.assign(buffer.begin() + sizeof reply->header, buffer.begin() + n);
        }
    }
    ::close(fd);
    return reply;
}

// A client that sends request after request and never reads an answer, from
// its own thread, until it has sent them all or the bus stops taking them.
class Flooder {
  public:
    Flooder(const fs::path& socketPath, std::vector<uint8_t> message, int count)
        : fd_(ConnectControl(socketPath)) {
        // Bounded, so a bus that stops reading ends the flood instead of the test.
        timeval limit{3, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        thread_ = std::thread([this, message = std::move(message), count] {
            for (int i = 0; i < count; ++i) {
                if (::send(fd_, message.data(), message.size(), MSG_NOSIGNAL) < 0) {
                    error_ = errno;
                    break;
                }
                ++sent_;
            }
            done_ = true;
        });
    }
    ~Flooder() {
        Join();
        if (fd_ >= 0)
            ::close(fd_);
    }
    void Join() {
        if (thread_.joinable())
            thread_.join();
    }
    bool connected() const { return fd_ >= 0; }
    bool done() const { return done_; }
    int sent() const { return sent_; }
    int error() const { return error_; }
    // Reads what answers it was sent; true when the bus closed the connection.
    bool DrainUntilClosed() {
        char buffer[256];
        for (int answers = 0; answers <= 100000; ++answers) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0)
                return false;
            ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno == ECONNRESET))
                return true;
            if (n < 0 && errno != EAGAIN)
                return false;
        }
        return false;
    }

  private:
    int fd_;
    std::thread thread_;
    std::atomic<int> sent_{0};
    std::atomic<int> error_{0};
    std::atomic<bool> done_{false};
};

class ServingTest : public BusFixture {
  protected:
    fs::path Control() const { return Path("vbus/control"); }
};

TEST_F(ServingTest, AClientThatNeverReadsHoldsUpNobodyAndIsDropped) {
    ovrix::DaemonOptions options;
    options.pairs.push_back({20, 21});
    StartBus(options);
    TtyHandle a(ComLink(20));
    TtyHandle b(ComLink(21));
    ASSERT_GE(a.fd(), 0);
    ASSERT_GE(b.fd(), 0);
    const Request version{ovrix::IOCTL_OVRIX_GetVersion, Target::Interface, false, "", {}, 180};

    Flooder flooder(Control(), Encode(version), 10000);
    ASSERT_TRUE(flooder.connected());
    // While the flood goes on, and once more after it ended, another client
    // gets its answer and the pair carries bytes, each within a second.
    int round = 0;
    bool floodOver = false;
    while (!floodOver) {
        floodOver = flooder.done();
        SCOPED_TRACE(::testing::Message()
                     << "round " << round << ", " << flooder.sent() << " requests flooded");
        std::optional<Reply> reply = AskWithin(Control(), version, 1000);
        ASSERT_TRUE(reply.has_value()) << "another client was not answered within 1 s";
        EXPECT_EQ(reply->header.winError, 0u);
        std::string text = "round " + std::to_string(round++) + ";";
        WriteText(a.fd(), text);
        ASSERT_EQ(ReadBytes(b.fd(), text.size(), 1), text)
            << "the pair did not carry bytes within 1 s";
    }
    flooder.Join();
    // The bus did not stop reading the flood (that would end it by the send
    // timeout, EAGAIN); it hung up on the client that let answers pile up.
    EXPECT_NE(flooder.error(), EAGAIN);
    EXPECT_LT(flooder.sent(), 10000) << "the flooding client was never dropped";
    EXPECT_TRUE(flooder.DrainUntilClosed());
}

// Runs the requests as user `nobody` over one connection; their answers in
// order, as many as came.
std::vector<Reply> AskAsNobody(const fs::path& socketPath, const std::vector<Request>& requests) {
    std::vector<std::vector<uint8_t>> messages;
    for (const Request& request : requests)
        messages.push_back(Encode(request));
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return {};
    pid_t pid = ::fork();
    if (pid == 0) {
        // Only plain system calls from here: the parent has other threads.
        ::close(pipeFds[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            ::_exit(2);
        int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, socketPath.c_str(), sizeof addr.sun_path - 1);
        if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            ::_exit(3);
        timeval limit{10, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        static uint8_t buffer[sizeof(ovrix::ReplyHeader) + ovrix::kMaxPayload];
        for (const auto& message : messages) {
            if (::send(fd, message.data(), message.size(), MSG_NOSIGNAL) < 0)
                ::_exit(4);
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                ::_exit(5);
            uint32_t size = static_cast<uint32_t>(n);
            if (::write(pipeFds[1], &size, sizeof size) != sizeof size ||
                ::write(pipeFds[1], buffer, size) != n)
                ::_exit(6);
        }
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::vector<Reply> replies;
    uint32_t size = 0;
    while (pid > 0 && ::read(pipeFds[0], &size, sizeof size) == sizeof size) {
        std::vector<uint8_t> bytes(size);
        if (::read(pipeFds[0], bytes.data(), size) != static_cast<ssize_t>(size) ||
            size < sizeof(ovrix::ReplyHeader))
            break;
        Reply reply;
        reply.received = true;
        std::memcpy(&reply.header, bytes.data(), sizeof reply.header);
        reply.output.assign(bytes.begin() + sizeof reply.header, bytes.end());
        replies.push_back(std::move(reply));
    }
    ::close(pipeFds[0]);
    int status = 0;
    if (pid > 0)
        ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the child as nobody ended with " << status;
    return replies;
}

TEST_F(ServingTest, RequestsThatChangeTheBusAreRefusedToOtherUsers) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to send requests as another user";
    FakeEndpoint scanner(kScanner);
    ovrix::DaemonOptions options;
    options.lifemode = ovrix::Lifemode::Persistent;
    // Even a caller the administrator check would let through is not trusted
    // with the bus unless it is the bus's own user.
    options.isAdministrator = [](uid_t) { return true; };
    StartBus(options);
    const std::optional<ovrix::PortInfo> online = OnlinePort(kScanner);
    ASSERT_TRUE(online && online->usbOnline);
    const ovrix::PortInfo port = *online;
    std::string com = "COM" + std::to_string(port.comNumber);
    // Let the other user reach the socket at all; the bus has to decide.
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::permissions(Path("vbus"),
                    fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::permissions(Control(), fs::perms::all);

    struct Case {
        uint32_t code;
        Target target;
        uint32_t capacity;
        uint32_t error;
    } cases[] = {
        {ovrix::IOCTL_OVRIX_UnplugAllVcoms, Target::Bus, 0, ovrix::kErrorAccessDenied},
        {ovrix::IOCTL_OVRIX_ReinstallVbus, Target::Bus, 0, ovrix::kErrorAccessDenied},
        {ovrix::IOCTL_OVRIX_VbusWriteTest, Target::Bus, 0, ovrix::kErrorAccessDenied},
        {ovrix::IOCTL_VCOM_OneTimeTemporalLifemode_Enable, Target::Port, 0,
         ovrix::kErrorAccessDenied},
        {ovrix::IOCTL_VCOM_OneTimeTemporalLifemode_Disable, Target::Port, 0,
         ovrix::kErrorAccessDenied},
        // Questions are answered to anybody who can reach the socket.
        {ovrix::IOCTL_OVRIX_GetVersion, Target::Interface, 180, 0},
        {ovrix::IOCTL_OVRIX_VbusReadTest, Target::Bus, 0, 0},
        {ovrix::IOCTL_VCOM_OneTimeTemporalLifemode_Query, Target::Port, 1, 0},
        {ovrix::IOCTL_VCOM_GetDeviceState, Target::Port, 1072, 0},
    };
    std::vector<Request> requests;
    for (const Case& c : cases)
        requests.push_back(Request{c.code,
                                   c.target,
                                   true,
                                   c.target == Target::Port ? com : std::string(),
                                   {},
                                   c.capacity});
    std::vector<Reply> replies = AskAsNobody(Control(), requests);
    ASSERT_EQ(replies.size(), std::size(cases));
    for (size_t i = 0; i < replies.size(); ++i) {
        SCOPED_TRACE(::testing::Message() << std::hex << cases[i].code);
        // A refusal is a whole answer, as the driver gives it: header, error,
        // no output.
        EXPECT_EQ(replies[i].header.magic, ovrix::kWireMagic);
        EXPECT_EQ(replies[i].header.winError, cases[i].error);
        EXPECT_EQ(replies[i].header.outputLength, replies[i].output.size());
        if (cases[i].error != 0)
            EXPECT_TRUE(replies[i].output.empty());
        else
            EXPECT_EQ(replies[i].output.size(), cases[i].capacity);
    }
    // Nothing changed.
    auto after = daemon_->PortForUsb(kScanner);
    ASSERT_TRUE(after.has_value()) << "the refused unplug removed the port";
    EXPECT_EQ(after->instance, port.instance) << "the refused reinstall made the port anew";
    EXPECT_TRUE(after->usbOnline);
    EXPECT_FALSE(after->oneTimeTemporal);
    EXPECT_TRUE(ComLive(port.comNumber));

    // The same unplug from the bus's own user goes through.
    Reply own =
        Send(Control(), Request{ovrix::IOCTL_OVRIX_UnplugAllVcoms, Target::Bus, true, "", {}, 0});
    EXPECT_EQ(own.header.winError, 0u);
    EXPECT_FALSE(daemon_->PortForUsb(kScanner).has_value());
}

}  // namespace
