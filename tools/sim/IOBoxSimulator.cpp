#include "IOBoxSimulator.h"

#include <modbus/modbus.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <queue>
#include <random>
#include <thread>
#include <unordered_map>

namespace iobox::sim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kListenTag = ~std::uint64_t{0};
constexpr std::uint64_t kWakeTag = kListenTag - 1;
constexpr int kMaxAduLength = MODBUS_TCP_MAX_ADU_LENGTH;          // 260
constexpr int kMaxMbapLength = kMaxAduLength - 6;                  // unit id + PDU
constexpr std::size_t kOutBacklogLimit = 64 * 1024;               // stop reading a client above
constexpr int kMaxAcceptsPerWake = 512;
constexpr int kMaxReadsPerWake = 16;
constexpr int kMaxSendsPerFlush = 64;
constexpr auto kCommandTimeout = std::chrono::seconds(5);
constexpr auto kAcceptBackoff = std::chrono::milliseconds(50);

// Owns one descriptor.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& o) noexcept : fd_(o.Release()) {}
    Fd& operator=(Fd&& o) noexcept
    {
        if (this != &o) {
            Reset(o.Release());
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset(int fd = -1)
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

std::string Errno(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

// Fills `addr` for a loopback host; false with a reason for anything else.
bool LoopbackAddress(const std::string& host, std::uint16_t port, sockaddr_storage& addr,
                     socklen_t& len, std::string& error)
{
    std::memset(&addr, 0, sizeof(addr));
    const std::string literal = host == "localhost" ? "127.0.0.1" : host;
    in_addr v4{};
    in6_addr v6{};
    if (::inet_pton(AF_INET, literal.c_str(), &v4) == 1) {
        if ((ntohl(v4.s_addr) >> 24) != 127) {
            error = "host " + host + " is not a loopback address";
            return false;
        }
        auto* sin = reinterpret_cast<sockaddr_in*>(&addr);
        sin->sin_family = AF_INET;
        sin->sin_port = htons(port);
        sin->sin_addr = v4;
        len = sizeof(sockaddr_in);
        return true;
    }
    if (::inet_pton(AF_INET6, literal.c_str(), &v6) == 1) {
        if (!IN6_IS_ADDR_LOOPBACK(&v6)) {
            error = "host " + host + " is not a loopback address";
            return false;
        }
        auto* sin6 = reinterpret_cast<sockaddr_in6*>(&addr);
        sin6->sin6_family = AF_INET6;
        sin6->sin6_port = htons(port);
        sin6->sin6_addr = v6;
        len = sizeof(sockaddr_in6);
        return true;
    }
    error = "host " + host + " is not a literal loopback address";
    return false;
}

std::uint16_t Be16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

} // namespace

long RaiseOpenFileLimit()
{
    rlimit lim{};
    if (::getrlimit(RLIMIT_NOFILE, &lim) != 0) {
        return -1;
    }
    if (lim.rlim_cur < lim.rlim_max) {
        rlimit raised = lim;
        raised.rlim_cur = lim.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) {
            lim = raised;
        }
    }
    return lim.rlim_cur == RLIM_INFINITY ? static_cast<long>(1L << 30) : static_cast<long>(lim.rlim_cur);
}

bool IsLoopbackHost(const std::string& host)
{
    sockaddr_storage addr{};
    socklen_t len = 0;
    std::string error;
    return LoopbackAddress(host, 0, addr, len, error);
}

// Everything behind the public class. The members under "loop" belong to the server thread while
// it runs and to the caller holding controlMutex_ otherwise.
class IOBoxSimulator::Server {
public:
    explicit Server(const SimulatorConfig& config);
    ~Server();

    bool Start();
    void Stop();

    const SimulatorConfig& config_;
    const int coilBase_;
    std::string configError_;

    // ---- data model, guarded by dataMutex_ ----
    mutable std::mutex dataMutex_;
    modbus_mapping_t* mapping_ = nullptr;
    InputPattern pattern_;
    Clock::time_point patternStart_;
    void ApplyPatternLocked() const;

    // ---- counters ----
    std::array<std::atomic<std::uint64_t>, 256> requests_{};
    std::atomic<std::uint64_t> totalRequests_{0};
    std::atomic<int> connections_{0};
    std::atomic<std::uint64_t> accepted_{0};
    std::atomic<std::uint64_t> rejected_{0};
    std::atomic<std::uint64_t> malformed_{0};
    mutable std::mutex statsMutex_;
    mutable std::condition_variable statsCv_;
    void NotifyStats() const;

    // ---- faults ----
    std::atomic<long long> stallMs_{0};
    std::atomic<bool> garbage_{false};
    std::atomic<int> exceptionCode_{0};
    std::atomic<bool> truncate_{false};
    std::atomic<bool> oversize_{false};
    std::atomic<int> maxClients_{0};
    std::atomic<bool> silent_{false};
    std::atomic<bool> refusing_{false};
    struct FaultSnapshot {
        bool silent;
        bool garbage;
        int exceptionCode;
        bool truncate;
        bool oversize;
        long long stallMs;
    };
    FaultSnapshot Faults() const
    {
        return {silent_.load(), garbage_.load(), exceptionCode_.load(), truncate_.load(), oversize_.load(),
                stallMs_.load()};
    }

    // ---- control ----
    std::mutex controlMutex_;                 // Start, Stop and commands from other threads
    std::atomic<bool> running_{false};
    std::atomic<bool> stopRequested_{false};
    std::atomic<std::uint16_t> port_{0};
    std::thread thread_;
    std::atomic<std::thread::id> loopThreadId_{};
    mutable std::mutex errorMutex_;
    std::string lastError_;
    void SetError(const std::string& e);

    std::mutex commandMutex_;
    std::condition_variable commandCv_;
    std::deque<std::function<void()>> commands_;
    std::uint64_t commandsPosted_ = 0;
    std::uint64_t commandsDone_ = 0;
    // Runs `fn` on the server thread (or inline when it is not running) and waits for it.
    void RunOnLoop(const std::function<void()>& fn);
    void RunCommands();
    void Wake();

    // ---- loop ----
    struct Pending {
        Clock::time_point due;
        std::vector<std::uint8_t> bytes;
        bool closeAfter = false;
    };
    struct Client {
        std::uint64_t id = 0;
        Fd fd;
        std::vector<std::uint8_t> in;
        std::vector<std::uint8_t> out;
        std::size_t outPos = 0;
        std::deque<Pending> delayed;
        std::uint32_t events = 0;
        bool closeWhenFlushed = false;   // truncated reply: close once it is out
        bool peerClosed = false;         // EOF seen: close once nothing is left to send
        bool ignoring = false;           // no more requests are served
    };
    struct DueEntry {
        Clock::time_point due;
        std::uint64_t clientId;
        bool operator>(const DueEntry& o) const { return due > o.due; }
    };

    Fd epoll_;
    Fd wake_;
    Fd listener_;
    Fd replyIn_;                  // libmodbus sends replies here ...
    Fd replyOut_;                 // ... and they are read back here
    modbus_t* ctx_ = nullptr;
    std::unordered_map<std::uint64_t, Client> clients_;
    std::uint64_t nextClientId_ = 1;
    std::priority_queue<DueEntry, std::vector<DueEntry>, std::greater<DueEntry>> dueQueue_;
    Clock::time_point acceptResume_{};
    bool acceptPaused_ = false;
    std::mt19937 rng_{std::random_device{}()};

    bool OpenListener(std::string& error);
    void CloseListener();
    void Loop();
    void LoopBody();
    int NextTimeoutMs() const;
    void AcceptAll();
    void OnReadable(Client& c);
    void ProcessFrames(Client& c);
    void HandleRequest(Client& c, const std::uint8_t* frame, std::size_t length);
    bool CaptureReply(int sent, std::vector<std::uint8_t>& reply);
    std::vector<std::uint8_t> MakeGarbage();
    void Deliver(Client& c, std::vector<std::uint8_t> bytes, bool closeAfter, long long stallMs);
    void QueueOut(Client& c, const std::vector<std::uint8_t>& bytes, bool closeAfter);
    // Sends what it can; false when the client was closed.
    bool Flush(Client& c);
    void UpdateInterest(Client& c);
    // After sending: closes a client whose peer has left once nothing is owed, else updates
    // what epoll watches.
    void Settle(Client& c);
    void ReleaseDue();
    void CloseClient(std::uint64_t id);
    void CloseAllClients();
};

IOBoxSimulator::Server::Server(const SimulatorConfig& config)
    : config_(config), coilBase_(config.companyType == 15 ? 16 : 0)
{
    if (config.companyType != 0 && config.companyType != 15) {
        configError_ = "company type must be 0 or 15";
    } else if (config.inputs < 0 || config.inputs > 65536) {
        configError_ = "input count must be 0-65536";
    } else if (config.outputs < 0 || config.outputs > 65536 - coilBase_) {
        configError_ = "output count out of range";
    } else {
        mapping_ = modbus_mapping_new_start_address(static_cast<unsigned>(coilBase_),
                                                    static_cast<unsigned>(config.outputs), 0,
                                                    static_cast<unsigned>(config.inputs), 0, 0, 0, 0);
        if (mapping_ == nullptr) {
            configError_ = Errno("modbus_mapping_new_start_address");
        }
    }
    // Only the reply builders are used; this context never connects anywhere.
    ctx_ = modbus_new_tcp("127.0.0.1", 502);
    if (ctx_ == nullptr) {
        configError_ = Errno("modbus_new_tcp");
    } else {
        // Some exception replies make libmodbus wait one response time-out and flush the
        // socket first; keep that wait negligible (it flushes our private socket only).
        modbus_set_response_timeout(ctx_, 0, 1);
    }
}

IOBoxSimulator::Server::~Server()
{
    Stop();
    if (ctx_ != nullptr) {
        modbus_free(ctx_);
    }
    if (mapping_ != nullptr) {
        modbus_mapping_free(mapping_);
    }
}

void IOBoxSimulator::Server::SetError(const std::string& e)
{
    std::lock_guard<std::mutex> lock(errorMutex_);
    lastError_ = e;
}

void IOBoxSimulator::Server::NotifyStats() const
{
    { std::lock_guard<std::mutex> lock(statsMutex_); }
    statsCv_.notify_all();
}

void IOBoxSimulator::Server::ApplyPatternLocked() const
{
    if (pattern_.Empty() || mapping_ == nullptr) {
        return;
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - patternStart_);
    const auto& bits = pattern_.BitsAt(elapsed);
    for (int i = 0; i < mapping_->nb_input_bits; ++i) {
        const auto idx = static_cast<std::size_t>(i);
        mapping_->tab_input_bits[i] = (idx < bits.size() && bits[idx]) ? 1 : 0;
    }
}

bool IOBoxSimulator::Server::OpenListener(std::string& error)
{
    sockaddr_storage addr{};
    socklen_t len = 0;
    if (!LoopbackAddress(config_.host, port_.load(), addr, len, error)) {
        return false;
    }
    Fd fd(::socket(addr.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) {
        error = Errno("socket");
        return false;
    }
    // The same port must be bindable again right after RefuseNew or Stop.
    const int one = 1;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&addr), len) != 0) {
        error = Errno("bind");
        return false;
    }
    if (::listen(fd.Get(), SOMAXCONN) != 0) {
        error = Errno("listen");
        return false;
    }
    sockaddr_storage bound{};
    socklen_t boundLen = sizeof(bound);
    if (::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&bound), &boundLen) != 0) {
        error = Errno("getsockname");
        return false;
    }
    const std::uint16_t port = bound.ss_family == AF_INET
        ? ntohs(reinterpret_cast<const sockaddr_in*>(&bound)->sin_port)
        : ntohs(reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port);
    if (epoll_.Valid()) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = kListenTag;
        if (::epoll_ctl(epoll_.Get(), EPOLL_CTL_ADD, fd.Get(), &ev) != 0) {
            error = Errno("epoll_ctl");
            return false;
        }
    }
    port_.store(port);
    listener_ = std::move(fd);
    acceptPaused_ = false;
    return true;
}

void IOBoxSimulator::Server::CloseListener()
{
    if (listener_.Valid() && epoll_.Valid()) {
        ::epoll_ctl(epoll_.Get(), EPOLL_CTL_DEL, listener_.Get(), nullptr);
    }
    listener_.Reset();
}

bool IOBoxSimulator::Server::Start()
{
    std::lock_guard<std::mutex> control(controlMutex_);
    if (running_.load()) {
        return true;
    }
    if (!configError_.empty()) {
        SetError(configError_);
        return false;
    }
    if (config_.port != 0) {
        port_.store(config_.port);
    }
    std::string error;
    epoll_.Reset(::epoll_create1(EPOLL_CLOEXEC));
    wake_.Reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    int pair[2] = {-1, -1};
    if (!epoll_.Valid() || !wake_.Valid() ||
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) {
        SetError(Errno("epoll/eventfd/socketpair"));
        epoll_.Reset();
        wake_.Reset();
        return false;
    }
    replyIn_.Reset(pair[0]);
    replyOut_.Reset(pair[1]);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kWakeTag;
    ::epoll_ctl(epoll_.Get(), EPOLL_CTL_ADD, wake_.Get(), &ev);

    modbus_set_socket(ctx_, replyIn_.Get());

    if (!OpenListener(error)) {
        SetError(error);
        epoll_.Reset();
        wake_.Reset();
        replyIn_.Reset();
        replyOut_.Reset();
        return false;
    }
    if (refusing_.load()) {
        CloseListener();
    }
    stopRequested_.store(false);
    running_.store(true);
    thread_ = std::thread([this] { Loop(); });
    return true;
}

void IOBoxSimulator::Server::Stop()
{
    std::lock_guard<std::mutex> control(controlMutex_);
    if (!thread_.joinable()) {
        return;
    }
    stopRequested_.store(true);
    Wake();
    thread_.join();
    loopThreadId_.store(std::thread::id());
    running_.store(false);
    CloseAllClients();
    CloseListener();
    epoll_.Reset();
    wake_.Reset();
    replyIn_.Reset();
    replyOut_.Reset();
    dueQueue_ = {};
}

void IOBoxSimulator::Server::Wake()
{
    if (wake_.Valid()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(wake_.Get(), &one, sizeof(one));
    }
}

void IOBoxSimulator::Server::RunOnLoop(const std::function<void()>& fn)
{
    if (std::this_thread::get_id() == loopThreadId_.load()) {
        // From the request observer: run at the start of the next round, not mid-request.
        std::lock_guard<std::mutex> lock(commandMutex_);
        commands_.push_back(fn);
        ++commandsPosted_;
        return;
    }
    std::lock_guard<std::mutex> control(controlMutex_);
    if (!running_.load()) {
        fn();
        return;
    }
    std::unique_lock<std::mutex> lock(commandMutex_);
    commands_.push_back(fn);
    const std::uint64_t ticket = ++commandsPosted_;
    Wake();
    if (!commandCv_.wait_for(lock, kCommandTimeout, [&] { return commandsDone_ >= ticket; })) {
        SetError("server thread did not run a command in time");
    }
}

void IOBoxSimulator::Server::RunCommands()
{
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard<std::mutex> lock(commandMutex_);
        batch.swap(commands_);
    }
    if (batch.empty()) {
        return;
    }
    for (auto& fn : batch) {
        fn();
    }
    {
        std::lock_guard<std::mutex> lock(commandMutex_);
        commandsDone_ += batch.size();
    }
    commandCv_.notify_all();
}

void IOBoxSimulator::Server::Loop()
{
    loopThreadId_.store(std::this_thread::get_id());
    while (!stopRequested_.load()) {
        try {
            LoopBody();
        } catch (const std::exception& e) {
            // Keep serving: one failed round (e.g. out of memory) must not end the device.
            SetError(std::string("server round failed: ") + e.what());
        }
    }
    RunCommands();   // release any caller still waiting
    CloseAllClients();
}

void IOBoxSimulator::Server::LoopBody()
{
    RunCommands();
    std::array<epoll_event, 256> events{};
    const int n = ::epoll_wait(epoll_.Get(), events.data(), static_cast<int>(events.size()), NextTimeoutMs());
    if (n < 0 && errno != EINTR) {
        SetError(Errno("epoll_wait"));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return;
    }
    for (int i = 0; i < n; ++i) {
        const auto tag = events[static_cast<std::size_t>(i)].data.u64;
        const auto ev = events[static_cast<std::size_t>(i)].events;
        if (tag == kWakeTag) {
            std::uint64_t v = 0;
            [[maybe_unused]] const auto r = ::read(wake_.Get(), &v, sizeof(v));
            continue;
        }
        if (tag == kListenTag) {
            AcceptAll();
            continue;
        }
        auto it = clients_.find(tag);
        if (it == clients_.end()) {
            continue;   // closed earlier in this round
        }
        if ((ev & (EPOLLHUP | EPOLLERR)) != 0) {
            // The peer is gone: count what it sent, then nothing more can be delivered.
            OnReadable(it->second);
            CloseClient(tag);
            continue;
        }
        if ((ev & EPOLLOUT) != 0 && !Flush(it->second)) {
            continue;
        }
        if ((ev & EPOLLIN) != 0) {
            OnReadable(it->second);
        } else {
            Settle(it->second);
        }
    }
    ReleaseDue();
    if (acceptPaused_ && Clock::now() >= acceptResume_ && listener_.Valid()) {
        epoll_event lev{};
        lev.events = EPOLLIN;
        lev.data.u64 = kListenTag;
        ::epoll_ctl(epoll_.Get(), EPOLL_CTL_MOD, listener_.Get(), &lev);
        acceptPaused_ = false;
    }
}

int IOBoxSimulator::Server::NextTimeoutMs() const
{
    auto next = Clock::now() + std::chrono::seconds(1);
    if (!dueQueue_.empty()) {
        next = std::min(next, dueQueue_.top().due);
    }
    if (acceptPaused_) {
        next = std::min(next, acceptResume_);
    }
    const auto wait = std::chrono::duration_cast<std::chrono::microseconds>(next - Clock::now()).count();
    // Round up so a wake-up never comes before the deadline and spins.
    return wait <= 0 ? 0 : static_cast<int>((wait + 999) / 1000);
}

void IOBoxSimulator::Server::AcceptAll()
{
    for (int i = 0; i < kMaxAcceptsPerWake && listener_.Valid(); ++i) {
        Fd fd(::accept4(listener_.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd.Valid()) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors: stop watching the listener for a moment instead of spinning.
                SetError(Errno("accept"));
                epoll_event lev{};
                lev.events = 0;
                lev.data.u64 = kListenTag;
                ::epoll_ctl(epoll_.Get(), EPOLL_CTL_MOD, listener_.Get(), &lev);
                acceptPaused_ = true;
                acceptResume_ = Clock::now() + kAcceptBackoff;
            }
            return;   // EAGAIN or a connection that died in the queue
        }
        accepted_.fetch_add(1);
        const int limit = maxClients_.load();
        if (limit > 0 && static_cast<int>(clients_.size()) >= limit) {
            rejected_.fetch_add(1);
            NotifyStats();
            continue;   // fd closes here: the client sees the connection end at once
        }
        const int one = 1;
        ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
        const std::uint64_t id = nextClientId_++;
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = id;
        if (::epoll_ctl(epoll_.Get(), EPOLL_CTL_ADD, fd.Get(), &ev) != 0) {
            SetError(Errno("epoll_ctl"));
            continue;
        }
        Client& c = clients_[id];
        c.id = id;
        c.fd = std::move(fd);
        c.events = EPOLLIN;
        connections_.fetch_add(1);
        NotifyStats();
    }
}

void IOBoxSimulator::Server::OnReadable(Client& c)
{
    std::array<std::uint8_t, 4096> buf{};
    for (int i = 0; i < kMaxReadsPerWake; ++i) {
        const ssize_t n = ::recv(c.fd.Get(), buf.data(), buf.size(), 0);
        if (n > 0) {
            if (!c.ignoring) {
                c.in.insert(c.in.end(), buf.begin(), buf.begin() + n);
            }
            if (static_cast<std::size_t>(n) < buf.size()) {
                break;
            }
            continue;
        }
        if (n == 0) {
            c.peerClosed = true;
            break;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            break;
        }
        CloseClient(c.id);
        return;
    }
    const std::uint64_t id = c.id;
    ProcessFrames(c);
    auto it = clients_.find(id);
    if (it != clients_.end()) {
        Settle(it->second);
    }
}

void IOBoxSimulator::Server::Settle(Client& c)
{
    // Replies already owed still go out: the peer may only have shut its sending side.
    if (c.peerClosed && c.outPos >= c.out.size() && c.delayed.empty()) {
        CloseClient(c.id);
        return;
    }
    UpdateInterest(c);
}

void IOBoxSimulator::Server::ProcessFrames(Client& c)
{
    const std::uint64_t id = c.id;
    std::size_t pos = 0;
    // Each round consumes one whole frame, so the loop ends with the buffer.
    while (c.in.size() - pos >= 6) {
        const std::uint8_t* head = c.in.data() + pos;
        const std::uint16_t protocol = Be16(head + 2);
        const std::uint16_t length = Be16(head + 4);
        if (protocol != 0 || length < 2 || length > kMaxMbapLength) {
            // A real device cannot resynchronise a TCP stream either: it drops the peer.
            malformed_.fetch_add(1);
            NotifyStats();
            CloseClient(id);
            return;
        }
        const std::size_t total = 6u + length;
        if (c.in.size() - pos < total) {
            break;
        }
        HandleRequest(c, head, total);
        pos += total;
        if (clients_.find(id) == clients_.end()) {
            return;
        }
        if (c.ignoring) {
            pos = c.in.size();
            break;
        }
    }
    c.in.erase(c.in.begin(), c.in.begin() + static_cast<std::ptrdiff_t>(pos));
}

bool IOBoxSimulator::Server::CaptureReply(int sent, std::vector<std::uint8_t>& reply)
{
    reply.clear();
    if (sent <= 0) {
        return false;
    }
    std::array<std::uint8_t, 512> buf{};
    // The reply is already queued on the local socket pair; a couple of reads get all of it.
    for (int i = 0; i < 8 && static_cast<int>(reply.size()) < sent; ++i) {
        const ssize_t n = ::recv(replyOut_.Get(), buf.data(), buf.size(), MSG_DONTWAIT);
        if (n <= 0) {
            break;
        }
        reply.insert(reply.end(), buf.begin(), buf.begin() + n);
    }
    return static_cast<int>(reply.size()) == sent;
}

std::vector<std::uint8_t> IOBoxSimulator::Server::MakeGarbage()
{
    std::uniform_int_distribution<int> size(8, 24);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size(rng_)));
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(byte(rng_));
    }
    bytes[2] |= 0x80;   // a non-zero protocol identifier is never a Modbus TCP frame
    return bytes;
}

void IOBoxSimulator::Server::HandleRequest(Client& c, const std::uint8_t* frame, std::size_t length)
{
    // The faults are fixed before the request is counted, so a caller that waits for the count
    // and then switches a fault never changes how this request is answered.
    const FaultSnapshot faults = Faults();
    RequestInfo info;
    info.connectionId = c.id;
    info.transaction = Be16(frame);
    info.unit = frame[6];
    info.function = frame[7];
    info.length = length;
    if (length >= 12) {
        info.address = Be16(frame + 8);
        info.value = Be16(frame + 10);
    }
    requests_[info.function].fetch_add(1);
    totalRequests_.fetch_add(1);
    NotifyStats();
    if (config_.onRequest) {
        try {
            config_.onRequest(info);
        } catch (...) {
            SetError("request observer threw");
        }
    }
    if (faults.silent) {
        return;
    }

    // libmodbus may read a few bytes past a short frame; give it a full-size zeroed buffer.
    std::array<std::uint8_t, kMaxAduLength> req{};
    std::memcpy(req.data(), frame, length);
    const int reqLength = static_cast<int>(length);

    std::vector<std::uint8_t> reply;
    if (faults.garbage) {
        Deliver(c, MakeGarbage(), false, faults.stallMs);
        return;
    }
    const int code = faults.exceptionCode;
    bool normal = false;
    if (code != 0) {
        if (!CaptureReply(modbus_reply_exception(ctx_, req.data(), static_cast<unsigned>(code)), reply)) {
            // libmodbus refuses codes beyond the ones it names; a device may still send them.
            reply = {frame[0], frame[1], 0, 0, 0, 3, frame[6],
                     static_cast<std::uint8_t>(frame[7] | 0x80), static_cast<std::uint8_t>(code)};
        }
    } else {
        std::lock_guard<std::mutex> lock(dataMutex_);
        ApplyPatternLocked();
        CaptureReply(modbus_reply(ctx_, req.data(), reqLength, mapping_), reply);
        normal = true;
    }
    if (reply.size() < 9) {
        SetError("libmodbus built no reply");
        return;
    }
    const std::uint8_t fc = reply[7];
    if (normal && faults.oversize && (fc == MODBUS_FC_READ_COILS || fc == MODBUS_FC_READ_DISCRETE_INPUTS)) {
        reply[8] = static_cast<std::uint8_t>(std::min(255, reply[8] + 4));
    }
    bool closeAfter = false;
    if (faults.truncate) {
        // Keep the head and about half of the body; at least one body byte is always missing.
        const std::size_t body = reply.size() - 6;
        reply.resize(6 + body / 2);
        closeAfter = true;
        c.ignoring = true;
    }
    Deliver(c, std::move(reply), closeAfter, faults.stallMs);
}

void IOBoxSimulator::Server::Deliver(Client& c, std::vector<std::uint8_t> bytes, bool closeAfter, long long stall)
{
    if (stall <= 0 && c.delayed.empty()) {
        QueueOut(c, bytes, closeAfter);
        return;
    }
    // Replies of one client leave in order, so a shorter stall never overtakes a longer one.
    const auto due = Clock::now() + std::chrono::milliseconds(std::max(0LL, stall));
    c.delayed.push_back(Pending{due, std::move(bytes), closeAfter});
    dueQueue_.push(DueEntry{due, c.id});
}

void IOBoxSimulator::Server::QueueOut(Client& c, const std::vector<std::uint8_t>& bytes, bool closeAfter)
{
    c.out.insert(c.out.end(), bytes.begin(), bytes.end());
    c.closeWhenFlushed = c.closeWhenFlushed || closeAfter;
    if (Flush(c)) {
        UpdateInterest(c);
    }
}

bool IOBoxSimulator::Server::Flush(Client& c)
{
    for (int i = 0; i < kMaxSendsPerFlush && c.outPos < c.out.size(); ++i) {
        const ssize_t n = ::send(c.fd.Get(), c.out.data() + c.outPos, c.out.size() - c.outPos, MSG_NOSIGNAL);
        if (n > 0) {
            c.outPos += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        }
        CloseClient(c.id);
        return false;
    }
    if (c.outPos >= c.out.size()) {
        c.out.clear();
        c.outPos = 0;
        if (c.closeWhenFlushed) {
            // The orderly FIN goes after the last bytes, so the peer reads them before the end.
            ::shutdown(c.fd.Get(), SHUT_WR);
            CloseClient(c.id);
            return false;
        }
    }
    return true;
}

void IOBoxSimulator::Server::UpdateInterest(Client& c)
{
    std::uint32_t want = 0;
    const std::size_t backlog = c.out.size() - c.outPos;
    if (backlog < kOutBacklogLimit && !c.peerClosed) {
        want |= EPOLLIN;
    }
    if (backlog > 0) {
        want |= EPOLLOUT;
    }
    if (want == c.events) {
        return;
    }
    epoll_event ev{};
    ev.events = want;
    ev.data.u64 = c.id;
    if (::epoll_ctl(epoll_.Get(), EPOLL_CTL_MOD, c.fd.Get(), &ev) == 0) {
        c.events = want;
    }
}

void IOBoxSimulator::Server::ReleaseDue()
{
    const auto now = Clock::now();
    while (!dueQueue_.empty() && dueQueue_.top().due <= now) {
        const std::uint64_t id = dueQueue_.top().clientId;
        dueQueue_.pop();
        auto it = clients_.find(id);
        if (it == clients_.end()) {
            continue;
        }
        Client& c = it->second;
        while (!c.delayed.empty() && c.delayed.front().due <= now && !c.closeWhenFlushed) {
            const Pending& p = c.delayed.front();
            c.out.insert(c.out.end(), p.bytes.begin(), p.bytes.end());
            c.closeWhenFlushed = p.closeAfter;
            c.delayed.pop_front();
        }
        if (Flush(c)) {
            Settle(c);
        }
    }
}

void IOBoxSimulator::Server::CloseClient(std::uint64_t id)
{
    auto it = clients_.find(id);
    if (it == clients_.end()) {
        return;
    }
    if (epoll_.Valid()) {
        ::epoll_ctl(epoll_.Get(), EPOLL_CTL_DEL, it->second.fd.Get(), nullptr);
    }
    clients_.erase(it);   // closes the descriptor
    connections_.fetch_sub(1);
    NotifyStats();
}

void IOBoxSimulator::Server::CloseAllClients()
{
    std::vector<std::uint64_t> ids;
    ids.reserve(clients_.size());
    for (const auto& entry : clients_) {
        ids.push_back(entry.first);
    }
    for (auto id : ids) {
        CloseClient(id);
    }
}

// ---------------------------------------------------------------------------------------------

IOBoxSimulator::IOBoxSimulator(SimulatorConfig config)
    : config_(std::move(config)), server_(std::make_unique<Server>(config_))
{
}

IOBoxSimulator::~IOBoxSimulator()
{
    server_->Stop();
}

bool IOBoxSimulator::Start() { return server_->Start(); }
void IOBoxSimulator::Stop() { server_->Stop(); }
bool IOBoxSimulator::Running() const { return server_->running_.load(); }
std::uint16_t IOBoxSimulator::Port() const { return server_->port_.load(); }
int IOBoxSimulator::CoilBase() const { return server_->coilBase_; }

std::string IOBoxSimulator::LastError() const
{
    std::lock_guard<std::mutex> lock(server_->errorMutex_);
    return server_->lastError_;
}

void IOBoxSimulator::SetInput(int inputNo, bool on)
{
    std::lock_guard<std::mutex> lock(server_->dataMutex_);
    auto* m = server_->mapping_;
    server_->ApplyPatternLocked();
    server_->pattern_ = InputPattern();
    if (m != nullptr && inputNo >= 1 && inputNo <= m->nb_input_bits) {
        m->tab_input_bits[inputNo - 1] = on ? 1 : 0;
    }
}

void IOBoxSimulator::SetInputs(std::uint64_t mask)
{
    std::vector<bool> bits(64);
    for (std::size_t i = 0; i < 64; ++i) {
        bits[i] = ((mask >> i) & 1u) != 0;
    }
    SetInputs(bits);
}

void IOBoxSimulator::SetInputs(const std::vector<bool>& bits)
{
    std::lock_guard<std::mutex> lock(server_->dataMutex_);
    server_->pattern_ = InputPattern();
    auto* m = server_->mapping_;
    if (m == nullptr) {
        return;
    }
    for (int i = 0; i < m->nb_input_bits; ++i) {
        const auto idx = static_cast<std::size_t>(i);
        m->tab_input_bits[i] = (idx < bits.size() && bits[idx]) ? 1 : 0;
    }
}

bool IOBoxSimulator::GetInput(int inputNo) const
{
    std::lock_guard<std::mutex> lock(server_->dataMutex_);
    server_->ApplyPatternLocked();
    const auto* m = server_->mapping_;
    return m != nullptr && inputNo >= 1 && inputNo <= m->nb_input_bits && m->tab_input_bits[inputNo - 1] != 0;
}

std::vector<bool> IOBoxSimulator::GetInputs() const
{
    std::lock_guard<std::mutex> lock(server_->dataMutex_);
    server_->ApplyPatternLocked();
    const auto* m = server_->mapping_;
    std::vector<bool> bits;
    if (m != nullptr) {
        bits.reserve(static_cast<std::size_t>(m->nb_input_bits));
        for (int i = 0; i < m->nb_input_bits; ++i) {
            bits.push_back(m->tab_input_bits[i] != 0);
        }
    }
    return bits;
}

void IOBoxSimulator::SetPattern(InputPattern pattern)
{
    std::lock_guard<std::mutex> lock(server_->dataMutex_);
    if (pattern.Empty()) {
        server_->ApplyPatternLocked();   // keep the bits the pattern showed last
    }
    server_->pattern_ = std::move(pattern);
    server_->patternStart_ = Clock::now();
}

void IOBoxSimulator::SetOutput(int outputNo, bool on)
{
    std::lock_guard<std::mutex> lock(server_->dataMutex_);
    auto* m = server_->mapping_;
    if (m != nullptr && outputNo >= 1 && outputNo <= m->nb_bits) {
        m->tab_bits[outputNo - 1] = on ? 1 : 0;
    }
}

bool IOBoxSimulator::GetOutput(int outputNo) const
{
    std::lock_guard<std::mutex> lock(server_->dataMutex_);
    const auto* m = server_->mapping_;
    return m != nullptr && outputNo >= 1 && outputNo <= m->nb_bits && m->tab_bits[outputNo - 1] != 0;
}

std::vector<bool> IOBoxSimulator::GetOutputs() const
{
    std::lock_guard<std::mutex> lock(server_->dataMutex_);
    const auto* m = server_->mapping_;
    std::vector<bool> bits;
    if (m != nullptr) {
        for (int i = 0; i < m->nb_bits; ++i) {
            bits.push_back(m->tab_bits[i] != 0);
        }
    }
    return bits;
}

std::uint64_t IOBoxSimulator::RequestCount(std::uint8_t function) const
{
    return server_->requests_[function].load();
}

std::uint64_t IOBoxSimulator::TotalRequests() const { return server_->totalRequests_.load(); }
int IOBoxSimulator::ConnectionCount() const { return server_->connections_.load(); }
std::uint64_t IOBoxSimulator::TotalConnections() const { return server_->accepted_.load(); }
std::uint64_t IOBoxSimulator::RejectedConnections() const { return server_->rejected_.load(); }
std::uint64_t IOBoxSimulator::MalformedFrames() const { return server_->malformed_.load(); }

void IOBoxSimulator::ResetCounters()
{
    for (auto& c : server_->requests_) {
        c.store(0);
    }
    server_->totalRequests_.store(0);
}

bool IOBoxSimulator::WaitForRequests(std::uint8_t function, std::uint64_t count,
                                     std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(server_->statsMutex_);
    return server_->statsCv_.wait_for(lock, timeout, [&] { return RequestCount(function) >= count; });
}

bool IOBoxSimulator::WaitForConnections(int count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(server_->statsMutex_);
    return server_->statsCv_.wait_for(lock, timeout, [&] { return ConnectionCount() == count; });
}

void IOBoxSimulator::DropAll()
{
    server_->RunOnLoop([this] { server_->CloseAllClients(); });
}

bool IOBoxSimulator::RefuseNew(bool on)
{
    bool ok = true;
    server_->RunOnLoop([this, on, &ok] {
        Server& s = *server_;
        if (on) {
            s.refusing_.store(true);
            s.CloseListener();
            return;
        }
        s.refusing_.store(false);
        if (s.running_.load() && !s.listener_.Valid()) {
            std::string error;
            ok = s.OpenListener(error);
            if (!ok) {
                s.SetError(error);
            }
        }
    });
    return ok;
}

bool IOBoxSimulator::RefusingNew() const { return server_->refusing_.load(); }
void IOBoxSimulator::Stall(std::chrono::milliseconds ms) { server_->stallMs_.store(ms.count()); }
void IOBoxSimulator::Garbage(bool on) { server_->garbage_.store(on); }
void IOBoxSimulator::Exception(std::uint8_t code) { server_->exceptionCode_.store(code); }
void IOBoxSimulator::TruncateReply(bool on) { server_->truncate_.store(on); }
void IOBoxSimulator::OversizedByteCount(bool on) { server_->oversize_.store(on); }
void IOBoxSimulator::MaxClients(int n) { server_->maxClients_.store(n < 0 ? 0 : n); }
void IOBoxSimulator::Silent(bool on) { server_->silent_.store(on); }

void IOBoxSimulator::ClearFaults()
{
    Stall(std::chrono::milliseconds(0));
    Garbage(false);
    Exception(0);
    TruncateReply(false);
    OversizedByteCount(false);
    MaxClients(0);
    Silent(false);
    if (RefusingNew()) {
        RefuseNew(false);
    }
}

} // namespace iobox::sim
