#include "HostOptions.h"

#include <sys/stat.h>

#include <cstdlib>

#ifndef IOBOX_HOST_BUILT_PLUGIN
#define IOBOX_HOST_BUILT_PLUGIN "iobox.d.so"
#endif

namespace iobox::host {

const char* const kHostUsage =
    "usage: iobox-host [options]\n"
    "Loads the iobox.d plug-in as the host does and shows what the host sees.\n"
    "Without --device it starts a simulated I/O box on loopback (12 inputs, 6 outputs) and runs\n"
    "a guided tour with the real timings (about a minute); without --interactive it ends by itself.\n"
    "  --plugin PATH        the module to load (default: the built iobox.d.so)\n"
    "  --device HOST:PORT   a real I/O box instead of the simulator ([V6]:PORT for IPv6)\n"
    "  --inputs N           its alarm inputs (default 12, at most 2000)\n"
    "  --outputs N          its alarm outputs (default 6, at most 2000)\n"
    "  --input-type T       1: an input reading 1 is in alarm; 0: an input reading 0 is (default 1)\n"
    "  --company C          company type: 0 coils from address 0, 15 from 16 (default 0)\n"
    "  --json               print every event the host receives on stdout, one JSON text a line;\n"
    "                       everything else goes to stderr\n"
    "  --interactive        read commands from stdin, one a line (type help for the list)\n"
    "  --duration S         end after S seconds (1-86400; runs that do not end by themselves\n"
    "                       default to 3600)\n"
    "  --log-level N        plug-in log lines at or above N reach stderr: 2 everything,\n"
    "                       3 information, 4 warnings and errors (default), 5 errors, 6 none\n"
    "  --help               this text\n"
    "Exit codes: 0 done after a clean Stop and Unit, 1 the plug-in failed (load, Init, add\n"
    "request, login) or a step of the tour did not happen, 2 bad options.\n";

bool ParseBoundedInt(const std::string& text, long long min, long long max, long long& out)
{
    if (text.empty() || text.size() > 12) {
        return false;
    }
    const bool negative = text[0] == '-';
    const std::size_t digitsFrom = negative ? 1 : 0;
    if (digitsFrom >= text.size()) {
        return false;
    }
    for (std::size_t i = digitsFrom; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (v < min || v > max) {
        return false;
    }
    out = v;
    return true;
}

bool ParseDeviceAddress(const std::string& text, DeviceAddress& out, std::string& error)
{
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        error = "--device needs HOST:PORT, not '" + text + "'";
        return false;
    }
    std::string host = text.substr(0, colon);
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') {
            error = "--device: bad bracketed address '" + host + "'";
            return false;
        }
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string::npos) {
        error = "--device: write an IPv6 address in brackets, [ADDRESS]:PORT";
        return false;
    }
    long long port = 0;
    if (!ParseBoundedInt(text.substr(colon + 1), 1, 65535, port)) {
        error = "--device: bad port '" + text.substr(colon + 1) + "' (1-65535)";
        return false;
    }
    out.host = host;
    out.port = static_cast<std::uint16_t>(port);
    return true;
}

namespace {

bool FileExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool TakesValue(const std::string& name)
{
    static const char* const names[] = {"--plugin",     "--device",  "--inputs",   "--outputs",
                                        "--input-type", "--company", "--duration", "--log-level"};
    for (const char* n : names) {
        if (name == n) {
            return true;
        }
    }
    return false;
}

// One option with its value; false with the reason.
bool ApplyValue(const std::string& name, const std::string& value, HostOptions& o, std::string& error)
{
    long long n = 0;
    auto bounded = [&](long long min, long long max, const char* range, int& field) {
        if (!ParseBoundedInt(value, min, max, n)) {
            error = "bad " + name + " '" + value + "' (" + range + ")";
            return false;
        }
        field = static_cast<int>(n);
        return true;
    };
    if (name == "--plugin") {
        if (!FileExists(value)) {
            error = "--plugin: no such file '" + value + "'";
            return false;
        }
        o.pluginPath = value;
        return true;
    }
    if (name == "--device") {
        o.hasDevice = ParseDeviceAddress(value, o.device, error);
        return o.hasDevice;
    }
    if (name == "--inputs") {
        return bounded(0, kMaxPoints, "0-2000", o.inputs);
    }
    if (name == "--outputs") {
        return bounded(0, kMaxPoints, "0-2000", o.outputs);
    }
    if (name == "--input-type") {
        return bounded(0, 1, "0 or 1", o.inputType);
    }
    if (name == "--company") {
        return bounded(0, 65535, "0-65535", o.companyType);
    }
    if (name == "--duration") {
        return bounded(1, kMaxDurationS, "1-86400 seconds", o.durationS);
    }
    return bounded(2, 6, "2-6", o.logLevel);
}

} // namespace

bool ParseHostOptions(const std::vector<std::string>& args, HostOptions& out, std::string& error)
{
    HostOptions o;
    std::vector<std::string> boxOptions;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        const auto eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            hasValue = true;
        }
        if (name == "--help" || name == "-h" || name == "--json" || name == "--interactive") {
            if (hasValue) {
                error = "option " + name + " takes no value";
                return false;
            }
            o.help = o.help || name == "--help" || name == "-h";
            o.json = o.json || name == "--json";
            o.interactive = o.interactive || name == "--interactive";
            continue;
        }
        if (!TakesValue(name)) {
            error = name.rfind("-", 0) == 0 ? "unknown option '" + name + "' (see --help)"
                                            : "unexpected argument '" + name + "' (see --help)";
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                error = "option " + name + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (!ApplyValue(name, value, o, error)) {
            return false;
        }
        if (name == "--inputs" || name == "--outputs" || name == "--input-type" || name == "--company") {
            boxOptions.push_back(name);
        }
    }
    if (!o.hasDevice && !boxOptions.empty()) {
        error = boxOptions.front() + " describes a real box and needs --device (the simulated box has 12 "
                "inputs and 6 outputs)";
        return false;
    }
    out = o;
    return true;
}

std::string DefaultPluginPath(const std::string& exeDir) { return ChoosePluginPath(IOBOX_HOST_BUILT_PLUGIN, exeDir); }

std::string ChoosePluginPath(const std::string& built, const std::string& exeDir)
{
    if (FileExists(built)) {
        return built;
    }
    // The executable sits in <build>/tools/host while the module sits in <build>; an
    // installed pair sits side by side.
    for (const char* relative : {"/../../iobox.d.so", "/iobox.d.so", "/../lib/iobox.d.so"}) {
        const std::string candidate = exeDir + relative;
        if (!exeDir.empty() && FileExists(candidate)) {
            return candidate;
        }
    }
    return built;
}

} // namespace iobox::host
