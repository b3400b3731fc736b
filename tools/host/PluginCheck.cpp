#include "PluginCheck.h"

#include "EmulatedHost.h"

#include "Marl/Base/Log.h"

#include <cstdio>
#include <memory>

namespace iobox::host {

namespace {

void Finding(const std::string& line)
{
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}

int Verdict(bool passed)
{
    Finding(passed ? "check passed" : "check failed");
    return passed ? 0 : 1;
}

} // namespace

int RunPluginCheck(const std::string& pluginPath, int logLevel)
{
    const auto previousSink = Marl::Base::SetLogSink(std::make_shared<Marl::Base::CStderrLogSink>(logLevel));
    bool passed = true;
    {
        EmulatedHost host(nullptr, nullptr);
        Finding("plug-in: " + pluginPath);
        std::string error;
        if (!host.Load(pluginPath, error)) {
            Finding("loaded: no, " + error);
            Marl::Base::SetLogSink(previousSink);
            return Verdict(false);
        }
        Finding("loaded: yes");
        for (const char* name : EmulatedHost::kEntryPoints) {
            Finding(std::string("export ") + name + ": found");
        }
        const bool initOk = host.Init();
        Finding(std::string("Init: returned ") + (initOk ? "true" : "false"));
        for (const auto& registration : host.Registrations()) {
            Finding("registered: " + registration);
        }
        const bool unitOk = host.Unit();
        Finding(std::string("Unit: returned ") + (unitOk ? "true" : "false"));
        const int rc = host.Unload();
        Finding(rc == 0 ? "unloaded: yes" : "unloaded: no, the loader returned " + std::to_string(rc));
        passed = initOk && unitOk && rc == 0;
    }
    Marl::Base::SetLogSink(previousSink);
    return Verdict(passed);
}

} // namespace iobox::host
