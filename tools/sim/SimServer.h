#pragma once
// The event loop behind IOBoxSimulator: one thread runs one io_context that accepts and serves
// every client, frames the requests and sends the (possibly faulty) replies.

#include "Faults.h"
#include "IOBoxSimulator.h"
#include "ReplyBuilder.h"

#include <boost/asio/ip/tcp.hpp>

#include <boost/system/error_code.hpp>
#include <modbus/modbus.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <unordered_map>

namespace iobox::sim {

class IOBoxSimulator::Server {
public:
    using Clock = std::chrono::steady_clock;

    explicit Server(const SimulatorConfig& config);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    bool Start();
    void Stop();
    bool Running() const { return running_.load(); }
    std::uint16_t Port() const { return port_.load(); }
    void SetError(const std::string& e);
    std::string LastError() const;

    // Runs `fn` on the server thread (or inline when it is not running) and returns its result.
    // From the server thread itself (the request observer) it runs after the current request,
    // and true is returned at once.
    bool RunOnLoop(std::function<bool()> fn);
    // These run on the server thread (through RunOnLoop).
    void CloseAllClients();
    // Closes `count` clients picked at random (all when fewer are connected); how many it closed.
    std::size_t CloseSomeClients(std::size_t count);
    bool SetRefusing(bool on);

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

    FaultSwitches faults_;

private:
    struct Connection;
    struct Loop;
    using ConnectionPtr = std::shared_ptr<Connection>;

    void RunLoop();
    void Shutdown();
    bool Listen(std::string& error);
    void CloseListener();
    void StartAccept();
    void StartRead(const ConnectionPtr& c);
    void OnRead(const ConnectionPtr& c, const boost::system::error_code& ec, std::size_t n);
    void OnAccepted(boost::asio::ip::tcp::socket socket);
    void ProcessFrames(const ConnectionPtr& c);
    void HandleRequest(const ConnectionPtr& c, const std::uint8_t* frame, std::size_t length);
    void Deliver(const ConnectionPtr& c, std::vector<std::uint8_t> bytes, bool closeAfter, long long stallMs);
    void ArmStall(const ConnectionPtr& c);
    void ReleaseDue(const ConnectionPtr& c);
    void StartWrite(const ConnectionPtr& c);
    // After any progress: closes a client whose peer has left once nothing is owed, else
    // keeps reading while the unsent backlog is small.
    void Settle(const ConnectionPtr& c);
    void CloseClient(Connection& c);

    std::mutex controlMutex_;   // Start, Stop and commands from other threads
    std::atomic<bool> running_{false};
    std::atomic<std::uint16_t> port_{0};
    std::thread thread_;
    std::atomic<std::thread::id> loopThreadId_{};
    mutable std::mutex errorMutex_;
    std::string lastError_;

    ReplyBuilder builder_;
    // Everything of one run (Start to Stop); its io_context goes last, with any handler left.
    std::unique_ptr<Loop> loop_;
    std::mt19937 rng_{std::random_device{}()};
};

} // namespace iobox::sim
