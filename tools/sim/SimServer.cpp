#include "SimServer.h"
#include "SimSocket.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include <algorithm>
#include <deque>
#include <vector>

namespace iobox::sim {
namespace {

using boost::asio::ip::tcp;
using ErrorCode = boost::system::error_code;

constexpr int kMaxMbapLength = MODBUS_TCP_MAX_ADU_LENGTH - 6;   // unit id + PDU
constexpr std::size_t kOutBacklogLimit = 64 * 1024;             // stop reading a client above
constexpr auto kCommandTimeout = std::chrono::seconds(5);
constexpr auto kAcceptBackoff = std::chrono::milliseconds(50);

std::uint16_t Be16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

} // namespace

// One client. Only the server thread touches it; its handlers keep it alive until they ran.
struct IOBoxSimulator::Server::Connection {
    struct Pending {
        Clock::time_point due;
        std::vector<std::uint8_t> bytes;
        bool closeAfter = false;
    };

    Connection(boost::asio::io_context& io, tcp::socket s, std::uint64_t connectionId)
        : id(connectionId), socket(std::move(s)), stallTimer(io)
    {
    }

    std::size_t Backlog() const { return out.size() + sending.size(); }
    bool Owes() const { return writing || !out.empty() || !delayed.empty(); }

    const std::uint64_t id;
    tcp::socket socket;
    boost::asio::steady_timer stallTimer;
    std::array<std::uint8_t, 4096> readBuffer{};
    std::vector<std::uint8_t> in;
    std::vector<std::uint8_t> out;       // queued behind the write in progress
    std::vector<std::uint8_t> sending;   // the write in progress
    std::deque<Pending> delayed;         // stalled replies, in order
    bool reading = false;
    bool writing = false;
    bool stallArmed = false;
    bool closeWhenFlushed = false;   // truncated reply: close once it is out
    bool peerClosed = false;         // end of stream seen: close once nothing is owed
    bool ignoring = false;           // no more requests are served
    bool closed = false;
};

// The io_context is declared first, so it is destroyed last.
struct IOBoxSimulator::Server::Loop {
    boost::asio::io_context io{1};
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work{io.get_executor()};
    tcp::acceptor acceptor{io};
    boost::asio::steady_timer acceptRetry{io};
    SocketPair pair{io};
    std::unordered_map<std::uint64_t, ConnectionPtr> clients;
    std::uint64_t nextClientId = 1;
    // Bumped whenever the listener closes, so handlers of an earlier listener stand down.
    std::uint64_t listenerGeneration = 0;
    bool stopping = false;
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
            configError_ = "modbus_mapping_new_start_address failed";
        }
    }
    if (configError_.empty()) {
        configError_ = builder_.Error();
    }
}

IOBoxSimulator::Server::~Server()
{
    Stop();
    if (mapping_ != nullptr) {
        modbus_mapping_free(mapping_);
    }
}

void IOBoxSimulator::Server::SetError(const std::string& e)
{
    std::lock_guard<std::mutex> lock(errorMutex_);
    lastError_ = e;
}

std::string IOBoxSimulator::Server::LastError() const
{
    std::lock_guard<std::mutex> lock(errorMutex_);
    return lastError_;
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

// ---- start, stop, commands ------------------------------------------------------------------

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
    auto loop = std::make_unique<Loop>();
    std::string error;
    if (!loop->pair.Open(error)) {
        SetError(error);
        return false;
    }
    loop_ = std::move(loop);
    builder_.Attach(&loop_->pair);
    if (!Listen(error)) {
        SetError(error);
        builder_.Attach(nullptr);
        loop_.reset();
        return false;
    }
    if (faults_.refusing.load()) {
        CloseListener();
    }
    running_.store(true);
    thread_ = std::thread([this] { RunLoop(); });
    return true;
}

void IOBoxSimulator::Server::Stop()
{
    std::lock_guard<std::mutex> control(controlMutex_);
    if (!thread_.joinable()) {
        return;
    }
    // Everything is closed on the server thread; its run ends when the last handler has run.
    boost::asio::post(loop_->io, [this] { Shutdown(); });
    thread_.join();
    loopThreadId_.store(std::thread::id());
    running_.store(false);
    builder_.Attach(nullptr);
    loop_.reset();
}

void IOBoxSimulator::Server::RunLoop()
{
    loopThreadId_.store(std::this_thread::get_id());
    // run() returns normally once Shutdown() released the work guard and the aborted
    // operations completed; each further round follows a handler that threw.
    for (bool done = false; !done;) {
        try {
            loop_->io.run();
            done = true;
        } catch (const std::exception& e) {
            // Keep serving: one failed handler (e.g. out of memory) must not end the device.
            SetError(std::string("server round failed: ") + e.what());
        }
    }
}

void IOBoxSimulator::Server::Shutdown()
{
    loop_->stopping = true;
    CloseListener();
    CloseAllClients();
    loop_->work.reset();
}

bool IOBoxSimulator::Server::RunOnLoop(std::function<bool()> fn)
{
    if (std::this_thread::get_id() == loopThreadId_.load()) {
        // From the request observer: run after this request, not in the middle of it.
        boost::asio::post(loop_->io, [fn = std::move(fn)] { fn(); });
        return true;
    }
    std::lock_guard<std::mutex> control(controlMutex_);
    if (!running_.load()) {
        return fn();
    }
    struct Done {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
        bool result = false;
    };
    auto done = std::make_shared<Done>();
    boost::asio::post(loop_->io, [this, fn = std::move(fn), done] {
        bool result = false;
        try {
            result = fn();
        } catch (const std::exception& e) {
            SetError(std::string("command failed: ") + e.what());
        }
        {
            std::lock_guard<std::mutex> lock(done->mutex);
            done->done = true;
            done->result = result;
        }
        done->cv.notify_all();
    });
    std::unique_lock<std::mutex> lock(done->mutex);
    if (!done->cv.wait_for(lock, kCommandTimeout, [&] { return done->done; })) {
        SetError("server thread did not run a command in time");
        return false;
    }
    return done->result;
}

void IOBoxSimulator::Server::CloseAllClients()
{
    if (!loop_) {
        return;
    }
    std::vector<ConnectionPtr> all;
    all.reserve(loop_->clients.size());
    for (const auto& entry : loop_->clients) {
        all.push_back(entry.second);
    }
    for (const auto& c : all) {
        CloseClient(*c);
    }
}

std::size_t IOBoxSimulator::Server::CloseSomeClients(std::size_t count)
{
    if (!loop_) {
        return 0;
    }
    std::vector<ConnectionPtr> all;
    all.reserve(loop_->clients.size());
    for (const auto& entry : loop_->clients) {
        all.push_back(entry.second);
    }
    // A partial shuffle: the first `picked` entries are a uniform random choice.
    const std::size_t picked = std::min(count, all.size());
    for (std::size_t i = 0; i < picked; ++i) {
        std::uniform_int_distribution<std::size_t> pick(i, all.size() - 1);
        std::swap(all[i], all[pick(rng_)]);
        CloseClient(*all[i]);
    }
    return picked;
}

bool IOBoxSimulator::Server::SetRefusing(bool on)
{
    faults_.refusing.store(on);
    if (!loop_ || loop_->stopping) {
        return true;
    }
    if (on) {
        CloseListener();
        return true;
    }
    if (loop_->acceptor.is_open()) {
        return true;
    }
    std::string error;
    if (!Listen(error)) {
        SetError(error);
        return false;
    }
    return true;
}

// ---- listener --------------------------------------------------------------------------------

bool IOBoxSimulator::Server::Listen(std::string& error)
{
    tcp::endpoint at;
    if (!LoopbackEndpoint(config_.host, port_.load(), at, error) || !OpenListener(loop_->acceptor, at, error)) {
        return false;
    }
    ErrorCode ec;
    const auto bound = loop_->acceptor.local_endpoint(ec);
    if (ec) {
        error = "getsockname: " + ec.message();
        CloseListener();
        return false;
    }
    port_.store(bound.port());
    StartAccept();
    return true;
}

void IOBoxSimulator::Server::CloseListener()
{
    ++loop_->listenerGeneration;
    ErrorCode ignored;
    loop_->acceptor.close(ignored);
    loop_->acceptRetry.cancel();
}

void IOBoxSimulator::Server::StartAccept()
{
    Loop& l = *loop_;
    if (l.stopping || !l.acceptor.is_open()) {
        return;
    }
    const std::uint64_t generation = l.listenerGeneration;
    l.acceptor.async_accept([this, generation](const ErrorCode& ec, tcp::socket socket) {
        Loop& lp = *loop_;
        if (lp.stopping || generation != lp.listenerGeneration) {
            return;
        }
        if (!ec) {
            OnAccepted(std::move(socket));
            StartAccept();
            return;
        }
        if (ec == boost::asio::error::connection_aborted) {
            StartAccept();   // died in the queue
            return;
        }
        // Out of descriptors or buffers: pause accepting for a moment instead of spinning.
        SetError("accept: " + ec.message());
        lp.acceptRetry.expires_after(kAcceptBackoff);
        lp.acceptRetry.async_wait([this, generation](const ErrorCode& waited) {
            if (!waited && generation == loop_->listenerGeneration) {
                StartAccept();
            }
        });
    });
}

void IOBoxSimulator::Server::OnAccepted(tcp::socket socket)
{
    accepted_.fetch_add(1);
    Loop& l = *loop_;
    const int limit = faults_.maxClients.load();
    ErrorCode ignored;
    if (limit > 0 && l.clients.size() >= static_cast<std::size_t>(limit)) {
        rejected_.fetch_add(1);
        NotifyStats();
        socket.close(ignored);   // the client sees the connection end at once
        return;
    }
    socket.set_option(tcp::no_delay(true), ignored);
    socket.non_blocking(true, ignored);   // for the direct send in StartWrite
    const std::uint64_t id = l.nextClientId++;
    auto c = std::make_shared<Connection>(l.io, std::move(socket), id);
    l.clients.emplace(id, c);
    connections_.fetch_add(1);
    NotifyStats();
    StartRead(c);
}

// ---- one client ------------------------------------------------------------------------------

void IOBoxSimulator::Server::StartRead(const ConnectionPtr& c)
{
    if (c->closed || c->reading || c->peerClosed || c->Backlog() >= kOutBacklogLimit) {
        return;
    }
    c->reading = true;
    c->socket.async_read_some(boost::asio::buffer(c->readBuffer),
                              [this, c](const ErrorCode& ec, std::size_t n) { OnRead(c, ec, n); });
}

void IOBoxSimulator::Server::OnRead(const ConnectionPtr& c, const ErrorCode& ec, std::size_t n)
{
    c->reading = false;
    if (c->closed) {
        return;
    }
    if (ec == boost::asio::error::eof) {
        c->peerClosed = true;
    } else if (ec) {
        CloseClient(*c);
        return;
    } else if (!c->ignoring) {
        c->in.insert(c->in.end(), c->readBuffer.begin(), c->readBuffer.begin() + static_cast<std::ptrdiff_t>(n));
        ProcessFrames(c);
        if (c->closed) {
            return;
        }
    }
    Settle(c);
}

void IOBoxSimulator::Server::ProcessFrames(const ConnectionPtr& c)
{
    std::size_t pos = 0;
    // Each round consumes one whole frame, so the loop ends with the buffer.
    while (c->in.size() - pos >= 6) {
        const std::uint8_t* head = c->in.data() + pos;
        const std::uint16_t protocol = Be16(head + 2);
        const std::uint16_t length = Be16(head + 4);
        if (protocol != 0 || length < 2 || length > kMaxMbapLength) {
            // A real device cannot resynchronise a TCP stream either: it drops the peer.
            malformed_.fetch_add(1);
            NotifyStats();
            CloseClient(*c);
            return;
        }
        const std::size_t total = 6u + length;
        if (c->in.size() - pos < total) {
            break;
        }
        HandleRequest(c, head, total);
        pos += total;
        if (c->closed) {
            return;
        }
        if (c->ignoring) {
            pos = c->in.size();
            break;
        }
    }
    c->in.erase(c->in.begin(), c->in.begin() + static_cast<std::ptrdiff_t>(pos));
}

void IOBoxSimulator::Server::HandleRequest(const ConnectionPtr& c, const std::uint8_t* frame, std::size_t length)
{
    // The faults are fixed before the request is counted, so a caller that waits for the count
    // and then switches a fault never changes how this request is answered.
    const FaultSnapshot faults = faults_.Snapshot();
    RequestInfo info;
    info.connectionId = c->id;
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
    std::vector<std::uint8_t> normal;
    if (NeedsNormalReply(faults)) {
        std::lock_guard<std::mutex> lock(dataMutex_);
        ApplyPatternLocked();
        builder_.Normal(frame, length, mapping_, normal);
    }
    FaultyReply reply = ShapeReply(faults, frame, length, builder_, std::move(normal), rng_);
    if (!reply.error.empty()) {
        SetError(reply.error);
    }
    if (reply.bytes.empty()) {
        return;
    }
    c->ignoring = c->ignoring || reply.closeAfter;
    Deliver(c, std::move(reply.bytes), reply.closeAfter, faults.stallMs);
}

void IOBoxSimulator::Server::Deliver(const ConnectionPtr& c, std::vector<std::uint8_t> bytes, bool closeAfter,
                                     long long stallMs)
{
    if (stallMs <= 0 && c->delayed.empty()) {
        c->out.insert(c->out.end(), bytes.begin(), bytes.end());
        c->closeWhenFlushed = c->closeWhenFlushed || closeAfter;
        StartWrite(c);
        return;
    }
    // Replies of one client leave in order, so a shorter stall never overtakes a longer one.
    const auto due = Clock::now() + std::chrono::milliseconds(std::max(0LL, stallMs));
    c->delayed.push_back(Connection::Pending{due, std::move(bytes), closeAfter});
    ArmStall(c);
}

void IOBoxSimulator::Server::ArmStall(const ConnectionPtr& c)
{
    if (c->stallArmed || c->delayed.empty() || c->closed || c->closeWhenFlushed) {
        return;
    }
    c->stallArmed = true;
    c->stallTimer.expires_at(c->delayed.front().due);
    c->stallTimer.async_wait([this, c](const ErrorCode&) {
        c->stallArmed = false;
        if (!c->closed) {
            ReleaseDue(c);
        }
    });
}

void IOBoxSimulator::Server::ReleaseDue(const ConnectionPtr& c)
{
    const auto now = Clock::now();
    while (!c->delayed.empty() && c->delayed.front().due <= now && !c->closeWhenFlushed) {
        auto& p = c->delayed.front();
        c->out.insert(c->out.end(), p.bytes.begin(), p.bytes.end());
        c->closeWhenFlushed = p.closeAfter;
        c->delayed.pop_front();
    }
    StartWrite(c);
    if (!c->closed) {
        ArmStall(c);
        Settle(c);
    }
}

void IOBoxSimulator::Server::StartWrite(const ConnectionPtr& c)
{
    if (c->writing || c->closed) {
        return;
    }
    ErrorCode ec;
    if (!c->out.empty()) {
        // Most replies fit into the socket's buffer at once; sending them now saves a round
        // through the loop for the completion. Only what is left waits for an asynchronous write.
        const std::size_t sent = c->socket.write_some(boost::asio::buffer(c->out), ec);
        if (ec && ec != boost::asio::error::would_block && ec != boost::asio::error::try_again) {
            CloseClient(*c);
            return;
        }
        c->out.erase(c->out.begin(), c->out.begin() + static_cast<std::ptrdiff_t>(sent));
    }
    if (c->out.empty()) {
        if (c->closeWhenFlushed) {
            // The orderly FIN goes after the last bytes, so the peer reads them before the end.
            c->socket.shutdown(tcp::socket::shutdown_send, ec);
            CloseClient(*c);
        }
        return;
    }
    c->sending.swap(c->out);
    c->writing = true;
    auto onWritten = [this, c](const ErrorCode& written, std::size_t) {
        c->writing = false;
        c->sending.clear();
        if (c->closed) {
            return;
        }
        if (written) {
            CloseClient(*c);
            return;
        }
        StartWrite(c);
        if (!c->closed) {
            Settle(c);
        }
    };
    boost::asio::async_write(c->socket, boost::asio::buffer(c->sending), std::move(onWritten));
}

void IOBoxSimulator::Server::Settle(const ConnectionPtr& c)
{
    // Replies already owed still go out: the peer may only have shut its sending side.
    if (c->peerClosed && !c->Owes()) {
        CloseClient(*c);
        return;
    }
    StartRead(c);
}

void IOBoxSimulator::Server::CloseClient(Connection& c)
{
    if (c.closed) {
        return;
    }
    c.closed = true;
    ErrorCode ignored;
    c.socket.close(ignored);
    c.stallTimer.cancel();
    loop_->clients.erase(c.id);
    connections_.fetch_sub(1);
    NotifyStats();
}

} // namespace iobox::sim
