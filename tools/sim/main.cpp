// iobox-sim: a simulated Modbus TCP I/O box on loopback.

#include "IOBoxSimulator.h"
#include "InputPattern.h"

#include <CLI/CLI.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <string>
#include <tuple>

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

// Returns an empty string on success, otherwise the one-line reason. CLI11 takes the command
// line apart; every number goes through the simulator's own strict parser.
std::string ParseOptions(int argc, char** argv, Options& o)
{
    CLI::App app("iobox-sim");
    app.set_help_flag();   // the help text is ours, and --help wins over any other mistake
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    std::string port, inputs, outputs, company, duration;
    app.add_flag("-h,--help", o.help);
    app.add_flag("--quiet", o.quiet);
    app.add_option("--host", o.config.host);
    app.add_option("--port", port);
    app.add_option("--inputs", inputs);
    app.add_option("--outputs", outputs);
    app.add_option("--company", company);
    app.add_option("--pattern", o.pattern);
    app.add_option("--duration", duration);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ExtrasError&) {
        const auto extras = app.remaining();
        return "unknown option '" + (extras.empty() ? std::string() : extras.front()) + "' (see --help)";
    } catch (const CLI::ParseError& e) {
        return std::string(e.what()) + " (see --help)";
    }
    if (o.help) {
        return {};
    }
    long long n = 0;
    if (app.count("--port") > 0) {
        if (!iobox::sim::ParseDecimal(port, 0, 65535, n)) {
            return "bad --port '" + port + "' (0-65535)";
        }
        o.config.port = static_cast<std::uint16_t>(n);
    }
    for (auto [name, text, target] : {std::make_tuple("--inputs", &inputs, &o.config.inputs),
                                      std::make_tuple("--outputs", &outputs, &o.config.outputs)}) {
        if (app.count(name) > 0) {
            if (!iobox::sim::ParseDecimal(*text, 0, 65535, n)) {
                return std::string("bad ") + name + " '" + *text + "' (0-65535)";
            }
            *target = static_cast<int>(n);
        }
    }
    if (app.count("--company") > 0) {
        if (!iobox::sim::ParseDecimal(company, 0, 15, n) || (n != 0 && n != 15)) {
            return "bad --company '" + company + "' (0 or 15)";
        }
        o.config.companyType = static_cast<int>(n);
    }
    if (app.count("--duration") > 0) {
        if (!iobox::sim::ParseDecimal(duration, 1, kMaxDurationS, n)) {
            return "bad --duration '" + duration + "' (1-86400 seconds)";
        }
        o.durationS = n;
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

const char* StopReason(int signal)
{
    switch (signal) {
    case 0: return "duration over";
    case SIGINT: return "Interrupt";
    case SIGTERM: return "Terminated";
    default: return "signal";
    }
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

    // Watched from before the server starts, so a stop request is never lost.
    boost::asio::io_context io;
    boost::asio::signal_set signals(io, SIGINT, SIGTERM);

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

    // Whichever comes first, a stop signal or the end of the duration, ends the other wait.
    int signal = 0;
    boost::asio::steady_timer deadline(io, std::chrono::seconds(options.durationS));
    signals.async_wait([&](const boost::system::error_code& ec, int number) {
        if (!ec) {
            signal = number;
            deadline.cancel();
        }
    });
    deadline.async_wait([&](const boost::system::error_code& ec) {
        if (!ec) {
            signals.cancel();
        }
    });
    io.run();
    sim.Stop();
    if (!options.quiet) {
        std::fprintf(stderr, "iobox-sim: stopped (%s), %llu requests, %llu connections\n", StopReason(signal),
                     static_cast<unsigned long long>(sim.TotalRequests()),
                     static_cast<unsigned long long>(sim.TotalConnections()));
    }
    return 0;
}
