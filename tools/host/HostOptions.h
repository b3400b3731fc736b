#pragma once
// Command line of iobox-host.

#include <cstdint>
#include <string>
#include <vector>

namespace iobox::host {

// A device address as given to --device: the host part as written (without brackets for an
// IPv6 literal) and the TCP port.
struct DeviceAddress {
    std::string host;
    std::uint16_t port = 0;
};

struct HostOptions {
    std::string pluginPath;        // empty: the built module (see DefaultPluginPath)
    bool hasDevice = false;        // --device given: a real box, no simulator
    DeviceAddress device;
    int inputs = 12;
    int outputs = 6;
    int inputType = 1;             // 1: a set input bit is an alarm; 0: a cleared bit is
    int companyType = 0;
    bool json = false;
    bool interactive = false;
    int durationS = 0;             // 0: not given
    int logLevel = 4;
    bool check = false;            // --check: load, Init, Unit, unload, one line per finding
    bool help = false;
    bool version = false;
};

constexpr int kMaxDurationS = 86400;
// How long a run that does not end by itself lasts when --duration is not given.
constexpr int kDefaultOpenEndedS = 3600;
// Largest input and output count a Modbus read can carry.
constexpr int kMaxPoints = 2000;

extern const char* const kHostUsage;

// Fills `out` from the arguments after argv[0]. False with a one-line reason in `error` for an
// unknown option, a missing or bad value, or options that do not fit together.
bool ParseHostOptions(const std::vector<std::string>& args, HostOptions& out, std::string& error);

// "HOST:PORT", "[V6]:PORT"; false with a reason on anything else.
bool ParseDeviceAddress(const std::string& text, DeviceAddress& out, std::string& error);

// Strict decimal integer in [min, max].
bool ParseBoundedInt(const std::string& text, long long min, long long max, long long& out);

// The module path to load when --plugin is not given: the first of `candidates` (paths relative
// to the executable's folder `exeDir`) that exists, else the first one as is.
std::string ChoosePluginPath(const std::vector<std::string>& candidates, const std::string& exeDir);
// The same with this build's places: the build tree, the installed tree, beside the executable.
std::string DefaultPluginPath(const std::string& exeDir);

} // namespace iobox::host
