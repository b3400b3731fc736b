// iobox-sim: a simulated Modbus TCP I/O box on loopback.

#include "IOBoxSimulator.h"
#include "InputPattern.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

namespace {

constexpr long long kDefaultDurationS = 600;
constexpr long long kMaxDurationS = 86400;

const char* const kUsage =
    "usage: iobox-sim [options]\n"
    "  --host ADDR        loopback address to listen on (127.x.x.x or ::1; default 127.0.0.1)\n"
    "  --port N           TCP port, 0 = chosen by the kernel (default 0)\n"
    "  --inputs N         discrete inputs at addresses 0..N-1 (default 12)\n"
    "  --outputs N        coils (alarm outputs) (default 6)\n"
    "  --company 0|15     0: coils from address 0; 15: coils from address 16 (default 0)\n"
    "  --pattern PATTERN  scripted inputs:\n"
    "                       fixed:BITS               these bits for ever\n"
    "                       toggle:INPUTS:PERIOD_MS  listed inputs on for PERIOD_MS, then off\n"
    "                                                for PERIOD_MS, repeatedly (INPUTS: 1,3,5-7)\n"
    "                       file:PATH                steps read from PATH, repeated cyclically\n"
    "                     BITS: 0/1 characters, the first is input 1 ('_' may separate groups),\n"
    "                     or 0xHEX with bit 0 = input 1. A pattern file has one step per line,\n"
    "                     \"<milliseconds> <BITS>\" (hold these bits that long, then the next\n"
    "                     line); blank lines and lines starting with '#' are ignored.\n"
    "  --duration S       stop after S seconds (default 600, at most 86400)\n"
    "  --quiet            no line per request\n"
    "  --help             this text\n"
    "Prints \"port <n>\" once listening, then one line per request unless --quiet.\n"
    "Stops on SIGINT, SIGTERM or when the duration ends. Exit codes: 0 done, 1 could not\n"
    "listen, 2 bad options.\n";

struct Options {
    iobox::sim::SimulatorConfig config;
    std::string pattern;
    long long durationS = kDefaultDurationS;
    bool quiet = false;
    bool help = false;
};

// Returns an empty string on success, otherwise the one-line reason.
std::string ParseOptions(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::string value;
        bool hasValue = false;
        const auto eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            hasValue = true;
        }
        if (name == "--help" || name == "-h") {
            o.help = true;
            continue;
        }
        if (name == "--quiet") {
            o.quiet = true;
            continue;
        }
        const bool takesValue = name == "--host" || name == "--port" || name == "--inputs" ||
            name == "--outputs" || name == "--company" || name == "--pattern" || name == "--duration";
        if (!takesValue) {
            return "unknown option '" + name + "' (see --help)";
        }
        if (!hasValue) {
            if (i + 1 >= argc) {
                return "option " + name + " needs a value";
            }
            value = argv[++i];
        }
        long long n = 0;
        if (name == "--host") {
            o.config.host = value;
        } else if (name == "--pattern") {
            o.pattern = value;
        } else if (name == "--port") {
            if (!iobox::sim::ParseDecimal(value, 0, 65535, n)) {
                return "bad --port '" + value + "' (0-65535)";
            }
            o.config.port = static_cast<std::uint16_t>(n);
        } else if (name == "--inputs" || name == "--outputs") {
            if (!iobox::sim::ParseDecimal(value, 0, 65535, n)) {
                return "bad " + name + " '" + value + "' (0-65535)";
            }
            (name == "--inputs" ? o.config.inputs : o.config.outputs) = static_cast<int>(n);
        } else if (name == "--company") {
            if (!iobox::sim::ParseDecimal(value, 0, 15, n) || (n != 0 && n != 15)) {
                return "bad --company '" + value + "' (0 or 15)";
            }
            o.config.companyType = static_cast<int>(n);
        } else {
            if (!iobox::sim::ParseDecimal(value, 1, kMaxDurationS, n)) {
                return "bad --duration '" + value + "' (1-86400 seconds)";
            }
            o.durationS = n;
        }
    }
    if (!iobox::sim::IsLoopbackHost(o.config.host)) {
        return "--host " + o.config.host + " is not a loopback address (127.0.0.0/8 or ::1)";
    }
    if (o.config.companyType == 15 && o.config.outputs > 65535 - 16) {
        return "--outputs too large for company type 15";
    }
    return {};
}

std::mutex g_outMutex;

void PrintRequest(const iobox::sim::RequestInfo& r)
{
    std::lock_guard<std::mutex> lock(g_outMutex);
    std::printf("request conn=%llu tid=%u unit=%u fc=0x%02X addr=%u value=0x%04X len=%zu\n",
                static_cast<unsigned long long>(r.connectionId), static_cast<unsigned>(r.transaction),
                static_cast<unsigned>(r.unit), static_cast<unsigned>(r.function),
                static_cast<unsigned>(r.address), static_cast<unsigned>(r.value), r.length);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    const std::string error = ParseOptions(argc, argv, options);
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!error.empty()) {
        std::fprintf(stderr, "iobox-sim: %s\n", error.c_str());
        return 2;
    }
    iobox::sim::InputPattern pattern;
    if (!options.pattern.empty()) {
        std::string patternError;
        if (!iobox::sim::InputPattern::Parse(options.pattern, pattern, patternError)) {
            std::fprintf(stderr, "iobox-sim: --pattern: %s\n", patternError.c_str());
            return 2;
        }
    }
    if (!options.quiet) {
        options.config.onRequest = PrintRequest;
    }

    // Many simultaneous clients need many descriptors.
    iobox::sim::RaiseOpenFileLimit();

    // The signals are taken synchronously below; the server thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    iobox::sim::IOBoxSimulator sim(options.config);
    if (!pattern.Empty()) {
        sim.SetPattern(pattern);
    }
    if (!sim.Start()) {
        std::fprintf(stderr, "iobox-sim: cannot listen: %s\n", sim.LastError().c_str());
        return 1;
    }
    {
        std::lock_guard<std::mutex> lock(g_outMutex);
        std::printf("port %u\n", static_cast<unsigned>(sim.Port()));
        std::fflush(stdout);
    }

    // Bounded by the duration (and by a count, should waits keep ending early).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.durationS);
    const long long maxWaits = options.durationS * 50;
    int signal = 0;
    for (long long i = 0; i < maxWaits && signal <= 0; ++i) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            break;
        }
        const long long waitMs = left < 200 ? left : 200;
        timespec slice{0, waitMs * 1000000L};
        signal = sigtimedwait(&stopSignals, nullptr, &slice);
    }
    sim.Stop();
    if (!options.quiet) {
        std::fprintf(stderr, "iobox-sim: stopped (%s), %llu requests, %llu connections\n",
                     signal > 0 ? strsignal(signal) : "duration over",
                     static_cast<unsigned long long>(sim.TotalRequests()),
                     static_cast<unsigned long long>(sim.TotalConnections()));
    }
    return 0;
}
