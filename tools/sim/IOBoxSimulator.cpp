// The public face of the simulator: data model, counters and fault switches. The event loop is
// in SimServer.cpp, the socket helpers in SimSocket.cpp, reply shaping in Faults.cpp.

#include "IOBoxSimulator.h"
#include "SimServer.h"

#include <mutex>

namespace iobox::sim {

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
bool IOBoxSimulator::Running() const { return server_->Running(); }
std::uint16_t IOBoxSimulator::Port() const { return server_->Port(); }
int IOBoxSimulator::CoilBase() const { return server_->coilBase_; }

std::string IOBoxSimulator::LastError() const { return server_->LastError(); }

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
    server_->patternStart_ = Server::Clock::now();
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
    server_->RunOnLoop([this] {
        server_->CloseAllClients();
        return true;
    });
}

std::size_t IOBoxSimulator::DropSome(std::size_t count)
{
    // Shared, because a command that outlives RunOnLoop's wait still writes its result.
    auto closed = std::make_shared<std::size_t>(0);
    server_->RunOnLoop([this, count, closed] {
        *closed = server_->CloseSomeClients(count);
        return true;
    });
    return *closed;
}

bool IOBoxSimulator::RefuseNew(bool on)
{
    return server_->RunOnLoop([this, on] { return server_->SetRefusing(on); });
}

bool IOBoxSimulator::RefusingNew() const { return server_->faults_.refusing.load(); }
void IOBoxSimulator::Stall(std::chrono::milliseconds ms) { server_->faults_.stallMs.store(ms.count()); }
void IOBoxSimulator::Garbage(bool on) { server_->faults_.garbage.store(on); }
void IOBoxSimulator::Exception(std::uint8_t code) { server_->faults_.exceptionCode.store(code); }
void IOBoxSimulator::TruncateReply(bool on) { server_->faults_.truncate.store(on); }
void IOBoxSimulator::OversizedByteCount(bool on) { server_->faults_.oversize.store(on); }
void IOBoxSimulator::MaxClients(int n) { server_->faults_.maxClients.store(n < 0 ? 0 : n); }
void IOBoxSimulator::Silent(bool on) { server_->faults_.silent.store(on); }

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
