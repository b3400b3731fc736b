#pragma once
// A simulated Modbus TCP I/O box on loopback: a real peer for tests, benchmarks and demos.
//
// One server thread serves every client through one Boost.Asio io_context (so thousands of
// connections work, on Linux and Windows alike); libmodbus builds the replies from its data
// model. Every public member may be called from any thread unless noted.

#include "InputPattern.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace iobox::sim {

// What the server thread saw for one framed request (handed to the request observer).
struct RequestInfo {
    std::uint64_t connectionId = 0;   // 1-based, in order of acceptance
    std::uint16_t transaction = 0;
    std::uint8_t unit = 0;
    std::uint8_t function = 0;
    std::uint16_t address = 0;        // bytes 8-9 of the frame (0 when the frame is shorter)
    std::uint16_t value = 0;          // bytes 10-11: quantity, or the coil value for 0x05
    std::size_t length = 0;           // whole frame, MBAP head included
};

struct SimulatorConfig {
    // A literal loopback address (127.0.0.0/8 or ::1) or "localhost"; anything else is refused.
    std::string host = "127.0.0.1";
    // 0 lets the kernel choose; Port() reports the one in use.
    std::uint16_t port = 0;
    // Discrete inputs at addresses 0 .. inputs-1.
    int inputs = 12;
    // Coils at addresses base .. base+outputs-1; base is 0 for company type 0, 16 for 15.
    int outputs = 6;
    int companyType = 0;
    // Called on the server thread for every framed request, before the reply is built. It must
    // not call Stop() and should return quickly; set it before Start().
    std::function<void(const RequestInfo&)> onRequest;
};

// Raises this process's soft limit of open descriptors to the hard limit; returns the soft
// limit now in force (or -1 when it cannot be read).
long RaiseOpenFileLimit();

// True for a literal 127.0.0.0/8 or ::1 address (and for "localhost").
bool IsLoopbackHost(const std::string& host);

class IOBoxSimulator {
public:
    explicit IOBoxSimulator(SimulatorConfig config = {});
    ~IOBoxSimulator();   // stops the server
    IOBoxSimulator(const IOBoxSimulator&) = delete;
    IOBoxSimulator& operator=(const IOBoxSimulator&) = delete;

    // Binds, listens and starts the server thread. False (with LastError()) on a bad
    // configuration, a non-loopback host or a failed bind. A restart after Stop() listens on
    // the port of the previous run when the configured port was 0.
    bool Start();
    // Closes every socket and joins the server thread; safe to call repeatedly.
    void Stop();
    bool Running() const;
    std::uint16_t Port() const;   // the listening port; 0 before the first Start()
    const SimulatorConfig& Config() const { return config_; }
    std::string LastError() const;
    // First coil address (0 or 16, by company type).
    int CoilBase() const;

    // ---- data model; input and output numbers are 1-based --------------------------------
    // Setting inputs by hand ends any running pattern (the caller takes over).
    void SetInput(int inputNo, bool on);
    void SetInputs(std::uint64_t mask);              // bit 0 = input 1; inputs above 64 off
    void SetInputs(const std::vector<bool>& bits);   // element 0 = input 1; missing = off
    bool GetInput(int inputNo) const;                // false when out of range
    std::vector<bool> GetInputs() const;
    // Starts a scripted pattern now; an empty pattern stops scripting and keeps the bits.
    void SetPattern(InputPattern pattern);
    void SetOutput(int outputNo, bool on);
    bool GetOutput(int outputNo) const;              // false when out of range
    std::vector<bool> GetOutputs() const;

    // ---- counters -------------------------------------------------------------------------
    std::uint64_t RequestCount(std::uint8_t function) const;
    std::uint64_t TotalRequests() const;
    int ConnectionCount() const;                     // clients connected right now
    std::uint64_t TotalConnections() const;          // accepted, MaxClients rejects included
    std::uint64_t RejectedConnections() const;       // closed at once by MaxClients
    std::uint64_t MalformedFrames() const;           // bad MBAP head: connection closed
    void ResetCounters();                            // request counters only
    // Waits until RequestCount(function) >= count; false on time-out.
    bool WaitForRequests(std::uint8_t function, std::uint64_t count,
                         std::chrono::milliseconds timeout) const;
    // Waits until ConnectionCount() == count; false on time-out.
    bool WaitForConnections(int count, std::chrono::milliseconds timeout) const;

    // ---- faults (each takes effect for requests framed after the call) --------------------
    // Reply precedence: Silent, then Garbage, then Exception, then the normal reply.
    // OversizedByteCount alters normal bit-read replies, TruncateReply any exception or normal
    // reply; Stall delays whatever is sent.
    // Closes every client connection; returns once they are closed.
    void DropAll();
    // Closes `count` client connections picked at random (every one when fewer are connected)
    // and returns how many it closed, once they are closed. From the request observer it runs
    // after the current request and returns 0, as it does when the server thread did not take
    // the command within 5 s (LastError() says so).
    std::size_t DropSome(std::size_t count);
    // On: closes the listening socket, so connects are refused. Off: listens again on the same
    // port. Returns false when listening again failed (see LastError()).
    bool RefuseNew(bool on);
    bool RefusingNew() const;
    // Replies leave `ms` after their request arrived (0 = at once); other clients are served
    // meanwhile.
    void Stall(std::chrono::milliseconds ms);
    // Random bytes that do not form a Modbus TCP frame (protocol identifier never 0).
    void Garbage(bool on);
    // A Modbus exception response with this code for every request; 0 switches it off.
    void Exception(std::uint8_t code);
    // Sends the MBAP head and part of the body, then closes the connection.
    void TruncateReply(bool on);
    // Bit-read replies claim more data bytes than follow (the MBAP length stays truthful).
    void OversizedByteCount(bool on);
    // Accept at most n clients at once, closing further ones at once; 0 = no limit. Clients
    // already connected stay.
    void MaxClients(int n);
    // Requests are read and counted but never answered.
    void Silent(bool on);
    // Switches every fault off (listening again if RefuseNew was on).
    void ClearFaults();

private:
    class Server;
    SimulatorConfig config_;
    std::unique_ptr<Server> server_;
};

} // namespace iobox::sim
