// Exchange latency on loopback: one Read Discrete Inputs round trip of the plug-in's Modbus
// connection against the simulated I/O box, beside libmodbus's own client against the same
// server and a raw TCP ping-pong of the same sizes (the floor). The three are measured in
// interleaved blocks so that drift and other load hit them alike.
#include <modbus/modbus.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Common/Timing.h"
#include "Communication/ModbusComm/TCP/TCPClient.h"
#include "Communication/ModbusComm/TCPConnManager/ModbusTCPConn.h"
#include "Communication/ModbusComm/TCPConnManager/TCPConnMgr.h"
#include "RawPingPong.h"
#include "support/BenchHost.h"
#include "support/System.h"
#include "support/Stats.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kInputs = 12;

struct Options {
    std::string sim;        // path of iobox-sim
    int serverCpu = -1;     // CPU of both servers; -1 leaves them unpinned
    int clientCpu = -1;     // CPU of this process
    int iterations = 20000; // timed round trips per client and repeat
    int blocks = 20;        // interleaved blocks per repeat
    int repeats = 3;
    int warmup = 1000;
    std::string label;      // placement name printed in the table
    bool rawServer = false;
    int durationS = 600;
};

const char* const kUsage =
    "usage: bench_exchange --sim PATH [--server-cpu N] [--client-cpu N] [--label TEXT]\n"
    "                      [--iterations N] [--blocks N] [--repeats N] [--warmup N]\n"
    "       bench_exchange --raw-server [--duration S]   (the floor's server, used internally)\n";

bool ParseOptions(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        auto value = [&](int& out) {
            if (i + 1 >= argc) {
                return false;
            }
            out = std::atoi(argv[++i]);
            return true;
        };
        bool ok = true;
        if (name == "--sim" && i + 1 < argc) {
            o.sim = argv[++i];
        } else if (name == "--label" && i + 1 < argc) {
            o.label = argv[++i];
        } else if (name == "--server-cpu") {
            ok = value(o.serverCpu);
        } else if (name == "--client-cpu") {
            ok = value(o.clientCpu);
        } else if (name == "--iterations") {
            ok = value(o.iterations) && o.iterations > 0;
        } else if (name == "--blocks") {
            ok = value(o.blocks) && o.blocks > 0;
        } else if (name == "--repeats") {
            ok = value(o.repeats) && o.repeats > 0;
        } else if (name == "--warmup") {
            ok = value(o.warmup) && o.warmup >= 0;
        } else if (name == "--duration") {
            ok = value(o.durationS) && o.durationS > 0;
        } else if (name == "--raw-server") {
            o.rawServer = true;
        } else {
            ok = false;
        }
        if (!ok) {
            return false;
        }
    }
    return o.rawServer || !o.sim.empty();
}

// A client under test: one round trip per call, false on failure.
struct Client {
    std::string name;
    std::function<bool()> roundTrip;
    std::vector<double> samplesUs;
};

// Times `count` round trips of the client; false when one failed.
bool TimeBlock(Client& client, int count, bool keep)
{
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        const bool ok = client.roundTrip();
        const auto end = Clock::now();
        if (!ok) {
            std::fprintf(stderr, "bench_exchange: %s round trip failed\n", client.name.c_str());
            return false;
        }
        if (keep) {
            client.samplesUs.push_back(std::chrono::duration<double, std::micro>(end - start).count());
        }
    }
    return true;
}

std::unique_ptr<bench::ChildProcess> StartServer(const std::vector<std::string>& argv, int cpu, int& port)
{
    std::string error;
    auto child = bench::ChildProcess::Start(argv, cpu, error);
    std::string rest;
    if (!child || !child->WaitForLine("port ", rest, std::chrono::seconds(10))) {
        std::fprintf(stderr, "bench_exchange: %s did not start %s\n", argv[0].c_str(), error.c_str());
        return nullptr;
    }
    port = std::atoi(rest.c_str());
    return child;
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    if (!ParseOptions(argc, argv, o)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (o.rawServer) {
        return bench::RunRawServer(o.durationS);
    }
    bench::QuietLog quiet;

    // Long enough for the whole run, short enough that a lost child ends by itself.
    const int serverDuration = 600;
    int simPort = 0;
    int rawPort = 0;
    auto sim = StartServer({o.sim, "--port", "0", "--quiet", "--inputs", std::to_string(kInputs), "--duration",
                            std::to_string(serverDuration)},
                           o.serverCpu, simPort);
    auto raw = StartServer({bench::SelfPath(), "--raw-server", "--duration", std::to_string(serverDuration)},
                           o.serverCpu, rawPort);
    if (!sim || !raw) {
        return 1;
    }
    // Pinned after the servers started, so that they do not inherit this CPU.
    if (!bench::PinToCpu(o.clientCpu)) {
        std::fprintf(stderr, "bench_exchange: cannot pin to CPU %d\n", o.clientCpu);
        return 2;
    }

    // The plug-in's connection, logged in as the host would, without the settle pause and with
    // a poll period longer than the run: its timer polls once at login and then stays idle.
    iobox::ModbusTiming timing;
    timing.connectSettleMs = 0;
    timing.pollPeriodMs = 24U * 3600U * 1000U;
    iobox::CTCPConnMgr::Instance()->SetTiming(timing);
    Marl::Net::TcpConnectParam param;
    param.ip = "127.0.0.1";
    param.port = static_cast<uint16_t>(simPort);
    param.tls = false;
    const int handle = iobox::CTCPConnMgr::Instance()->RequestLogin(param, kInputs, 6, 1, 0);
    auto conn = iobox::CTCPConnMgr::Instance()->GetConn(handle);
    if (!conn) {
        std::fprintf(stderr, "bench_exchange: login to the simulator failed\n");
        return 1;
    }

    modbus_t* ctx = modbus_new_tcp("127.0.0.1", simPort);
    if (ctx == nullptr || modbus_connect(ctx) != 0) {
        std::fprintf(stderr, "bench_exchange: libmodbus connect failed\n");
        return 1;
    }
    modbus_set_response_timeout(ctx, 2, 0);
    bench::RawPingPongClient rawClient(static_cast<uint16_t>(rawPort));
    if (!rawClient.Connected()) {
        std::fprintf(stderr, "bench_exchange: raw connect failed\n");
        return 1;
    }

    std::vector<Client> clients;
    clients.push_back({"iobox.d GetInputStatus", [&conn]() {
                           std::vector<iobox::ModbusAlarmInfo> inputs; // fresh, as each poll has
                           return conn->GetInputStatus(0, inputs) && inputs.size() == kInputs;
                       }, {}});
    clients.push_back({"libmodbus modbus_read_input_bits", [ctx]() {
                           uint8_t bits[kInputs];
                           return modbus_read_input_bits(ctx, 0, kInputs, bits) == kInputs;
                       }, {}});
    clients.push_back({"raw TCP ping-pong (floor)", [&rawClient]() { return rawClient.RoundTrip(); }, {}});

    // Let the login poll finish before the timed part.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    const double loadBefore = bench::LoadAverage1();
    // Per repeat: median and p99 of each client, and the ratios of ours to the others.
    std::vector<std::vector<double>> medians(clients.size()), p99s(clients.size());
    std::vector<double> ratioMedian, ratioP99, floorRatioMedian, anchorFloorMedian;
    bool ok = true;
    for (int r = 0; r < o.repeats && ok; ++r) {
        for (auto& c : clients) {
            c.samplesUs.clear();
            c.samplesUs.reserve(static_cast<std::size_t>(o.iterations));
            ok = ok && TimeBlock(c, o.warmup, false);
        }
        const int perBlock = o.iterations / o.blocks;
        for (int b = 0; b < o.blocks && ok; ++b) {
            for (auto& c : clients) {
                ok = ok && TimeBlock(c, perBlock, true);
            }
        }
        if (!ok) {
            break;
        }
        std::vector<bench::Summary> s;
        for (std::size_t i = 0; i < clients.size(); ++i) {
            s.push_back(bench::Summarize(clients[i].samplesUs));
            medians[i].push_back(s[i].median);
            p99s[i].push_back(s[i].p99);
        }
        ratioMedian.push_back(bench::Ratio(s[0].median, s[1].median));
        ratioP99.push_back(bench::Ratio(s[0].p99, s[1].p99));
        floorRatioMedian.push_back(bench::Ratio(s[0].median, s[2].median));
        anchorFloorMedian.push_back(bench::Ratio(s[1].median, s[2].median));
        std::printf("repeat %d: ours %.2f/%.2f us, libmodbus %.2f/%.2f us, raw %.2f/%.2f us (median/p99)\n", r + 1,
                    s[0].median, s[0].p99, s[1].median, s[1].p99, s[2].median, s[2].p99);
    }
    const double loadAfter = bench::LoadAverage1();

    modbus_close(ctx);
    modbus_free(ctx);
    iobox::CTCPConnMgr::Instance()->Logout(handle);
    conn.reset();
    sim->Stop();
    raw->Stop();
    if (!ok) {
        return 1;
    }

    const std::string placement = o.label.empty()
        ? bench::Format("server CPU %d, client CPU %d", o.serverCpu, o.clientCpu)
        : o.label + bench::Format(" (server CPU %d, client CPU %d)", o.serverCpu, o.clientCpu);
    std::printf("\nExchange latency, %s: %d round trips per client and repeat, %d repeats; medians over repeats; "
                "load average %.2f -> %.2f\n\n",
                placement.c_str(), o.iterations, o.repeats, loadBefore, loadAfter);
    bench::Table table({"client", "median us", "p99 us", "median / libmodbus", "p99 / libmodbus", "median / floor"});
    for (std::size_t i = 0; i < clients.size(); ++i) {
        const double med = bench::Median(medians[i]);
        const double p99 = bench::Median(p99s[i]);
        const double anchorMed = bench::Median(medians[1]);
        const double anchorP99 = bench::Median(p99s[1]);
        const double floorMed = bench::Median(medians[2]);
        table.AddRow({clients[i].name, bench::Format("%.2f", med), bench::Format("%.2f", p99),
                      bench::Format("%.3f", bench::Ratio(med, anchorMed)),
                      bench::Format("%.3f", bench::Ratio(p99, anchorP99)),
                      bench::Format("%.3f", bench::Ratio(med, floorMed))});
    }
    std::fputs(table.Render().c_str(), stdout);
    const double ratio = bench::Median(ratioMedian);
    std::printf("\nratio ours / libmodbus: median %.3f, p99 %.3f (per-repeat ratios, median taken); "
                "ours / floor %.3f; libmodbus / floor %.3f\n",
                ratio, bench::Median(ratioP99), bench::Median(floorRatioMedian), bench::Median(anchorFloorMedian));
    std::printf("goal ratio to libmodbus <= 1.10: %s\n", ratio <= 1.10 ? "met" : "MISSED");
    if (quiet.Sink().Count() > 0) {
        std::printf("error lines logged: %ld (first: %s)\n", quiet.Sink().Count(), quiet.Sink().First()[0].c_str());
    }
    return 0;
}
