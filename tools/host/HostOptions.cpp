#include "HostOptions.h"

#include "HostPlatform.h"

#include <CLI/CLI.hpp>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#if !defined(IOBOX_HOST_PLUGIN_IN_BUILD) || !defined(IOBOX_HOST_PLUGIN_INSTALLED)
#error "IOBOX_HOST_PLUGIN_IN_BUILD and IOBOX_HOST_PLUGIN_INSTALLED name the module relative to the executable"
#endif

namespace iobox::host {

const char* const kHostUsage =
    "usage: iobox-host [options]\n"
    "Loads the iobox.d plug-in as the host does and shows what the host sees.\n"
    "Without --device it starts a simulated I/O box on loopback (12 inputs, 6 outputs) and runs\n"
    "a guided tour with the real timings (about a minute); without --interactive it ends by itself.\n"
    "  --plugin PATH        the module to load (default: the built iobox.d module)\n"
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
    "  --check              only check the module: load it, find its five exports, Init, Unit,\n"
    "                       unload; one line per finding (takes --plugin and --log-level only)\n"
    "  --version            the release this iobox-host belongs to, as the plug-in's own\n"
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
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

// A whole-number option checked strictly (decimal only, in range) before it is stored.
void AddBounded(CLI::App& app, const char* name, long long min, long long max, const char* range, int& field)
{
    app.add_option_function<std::string>(name, [&field, name, min, max, range](const std::string& value) {
        long long n = 0;
        if (!ParseBoundedInt(value, min, max, n)) {
            throw CLI::ValidationError(std::string("bad ") + name + " '" + value + "' (" + range + ")");
        }
        field = static_cast<int>(n);
    });
}

} // namespace

bool ParseHostOptions(const std::vector<std::string>& args, HostOptions& out, std::string& error)
{
    HostOptions o;
    CLI::App app("iobox-host");
    // The usage text is ours; CLI11 only parses. A repeated option keeps its last value.
    app.set_help_flag();
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_flag("-h,--help", o.help)->disable_flag_override();
    app.add_flag("--json", o.json)->disable_flag_override();
    app.add_flag("--interactive", o.interactive)->disable_flag_override();
    app.add_flag("--check", o.check)->disable_flag_override();
    app.add_flag("--version", o.version)->disable_flag_override();
    app.add_option_function<std::string>("--plugin", [&o](const std::string& value) {
        const std::string path = platform::NativePath(value);
        if (!FileExists(path)) {
            throw CLI::ValidationError("--plugin: no such file '" + value + "'");
        }
        o.pluginPath = path;
    });
    app.add_option_function<std::string>("--device", [&o](const std::string& value) {
        std::string why;
        if (!ParseDeviceAddress(value, o.device, why)) {
            throw CLI::ValidationError(why);
        }
        o.hasDevice = true;
    });
    const char* const boxOptions[] = {"--inputs", "--outputs", "--input-type", "--company"};
    AddBounded(app, "--inputs", 0, kMaxPoints, "0-2000", o.inputs);
    AddBounded(app, "--outputs", 0, kMaxPoints, "0-2000", o.outputs);
    AddBounded(app, "--input-type", 0, 1, "0 or 1", o.inputType);
    AddBounded(app, "--company", 0, 65535, "0-65535", o.companyType);
    AddBounded(app, "--duration", 1, kMaxDurationS, "1-86400 seconds", o.durationS);
    AddBounded(app, "--log-level", 2, 6, "2-6", o.logLevel);
    try {
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        app.parse(reversed);
    } catch (const CLI::ExtrasError& e) {
        error = std::string(e.what()) + " (see --help)";
        return false;
    } catch (const CLI::ParseError& e) {
        error = e.what();
        return false;
    }
    if (o.check) {
        for (const char* name : {"--device", "--inputs", "--outputs", "--input-type", "--company", "--json",
                                 "--interactive", "--duration"}) {
            if (app.count(name) > 0) {
                error = std::string("--check takes only --plugin and --log-level, not ") + name;
                return false;
            }
        }
    }
    if (!o.hasDevice) {
        for (const char* name : boxOptions) {
            if (app.count(name) > 0) {
                error = std::string(name) + " describes a real box and needs --device (the simulated box has 12 "
                        "inputs and 6 outputs)";
                return false;
            }
        }
    }
    out = o;
    return true;
}

std::string DefaultPluginPath(const std::string& exeDir)
{
    return ChoosePluginPath({IOBOX_HOST_PLUGIN_IN_BUILD, IOBOX_HOST_PLUGIN_INSTALLED,
                             std::filesystem::path(IOBOX_HOST_PLUGIN_IN_BUILD).filename().string()},
                            exeDir);
}

std::string ChoosePluginPath(const std::vector<std::string>& candidates, const std::string& exeDir)
{
    // Relative to the executable, never to a folder compiled in: a build tree or an installed
    // tree that was moved still finds its own module.
    const std::filesystem::path dir(exeDir);
    for (const auto& relative : candidates) {
        const std::string candidate = (dir / relative).lexically_normal().string();
        if (!exeDir.empty() && FileExists(candidate)) {
            return candidate;
        }
    }
    return candidates.empty() ? std::string() : (dir / candidates.front()).lexically_normal().string();
}

} // namespace iobox::host
