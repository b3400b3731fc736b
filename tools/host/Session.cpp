#include "Session.h"

#include "HostPlatform.h"
#include "InputPattern.h"

#include <cstdio>
#include <thread>

namespace iobox::host {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A documentation address (never contacted): the plug-in refuses loopback addresses as device
// addresses, so a box on loopback is named by this one in the add request.
const char* const kRequestAddress = "192.0.2.10";
const char* const kSimulatedBoxName = "Lobby box";
const char* const kBenchBoxName = "Bench box";
constexpr std::uint32_t kHostProductVersion = 0x00010000;
// Time the box's reply to a switch is given to arrive before the next exchange.
constexpr milliseconds kSwitchSettle{300};
constexpr milliseconds kWaitSlice{100};
// Narration lines stay readable in an ordinary terminal.
const std::string kIndent(11, ' ');
constexpr std::size_t kTextWidth = 88;

long long NowMs()
{
    return std::chrono::duration_cast<milliseconds>(Clock::now().time_since_epoch()).count();
}

// Inputs going into and out of alarm, the first read after login seeing none.
iobox::sim::InputPattern ScriptedInputs()
{
    auto bits = [](std::initializer_list<int> inputs) {
        std::vector<bool> b(12, false);
        for (int i : inputs) {
            b[static_cast<std::size_t>(i - 1)] = true;
        }
        return b;
    };
    return iobox::sim::InputPattern::FromSteps({
        {milliseconds(3000), bits({})},
        {milliseconds(12000), bits({3})},
        {milliseconds(10000), bits({3, 7})},
        {milliseconds(10000), bits({7})},
        {milliseconds(10000), bits({})},
    });
}

std::string Fixed1(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", v);
    return text;
}

} // namespace

void PollWatch::Seen()
{
    m_lastMs = NowMs();
    ++m_count;
}

long long PollWatch::NextDueInMs() const
{
    if (m_count.load() == 0) {
        return -1;
    }
    const long long period = kPollPeriod.count();
    const long long since = NowMs() - m_lastMs.load();
    const long long intoPeriod = since % period;
    return period - intoPeriod;
}

Session::Session(const HostOptions& options, std::string pluginPath, const std::atomic<bool>& interrupted)
    : m_options(options),
      m_pluginPath(std::move(pluginPath)),
      m_interrupted(interrupted),
      m_started(Clock::now()),
      m_tour(!options.hasDevice && !options.interactive),
      m_console(options.json)
{
    m_bounded = options.durationS > 0 || !m_tour;
    m_deadline = m_started + std::chrono::seconds(options.durationS > 0 ? options.durationS : kDefaultOpenEndedS);
    m_previousSink = Marl::Base::SetLogSink(std::make_shared<Console::LogSink>(m_console, options.logLevel));
}

Session::~Session()
{
    m_host.reset();
    m_box.reset();
    Marl::Base::SetLogSink(m_previousSink);
}

double Session::Elapsed() const
{
    return std::chrono::duration<double>(Clock::now() - m_started).count();
}

bool Session::Over() const { return m_interrupted.load() || (m_bounded && Clock::now() >= m_deadline); }

std::string Session::OverReason() const
{
    if (m_interrupted.load()) {
        return "interrupted";
    }
    return "the run's " + std::to_string(m_options.durationS > 0 ? m_options.durationS : kDefaultOpenEndedS) +
        " s are over";
}

long long Session::SecondsLeft() const
{
    if (!m_bounded) {
        return -1;
    }
    const auto left = std::chrono::duration_cast<milliseconds>(m_deadline - Clock::now()).count();
    return left <= 0 ? 0 : (left + 999) / 1000;
}

void Session::Step(const std::string& title)
{
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%6.1f s] ", Elapsed());
    m_console.Say(stamp + title);
}

void Session::Detail(const std::string& text) { m_console.Say(kIndent + text); }

void Session::Note(const std::string& text)
{
    for (const auto& line : WrapText(text, kTextWidth)) {
        m_console.Say(kIndent + line);
    }
}

void Session::Explain(const std::string& text)
{
    if (m_tour) {
        Note(text);
    }
}

WaitResult Session::WaitUntil(const std::function<bool()>& done, milliseconds timeout,
                              const std::function<std::string()>& countdown)
{
    const auto deadline = Clock::now() + timeout;
    const long long slices = timeout / kWaitSlice + 2;
    if (countdown && !m_console.StatusShown() && !done()) {
        Detail("... " + countdown());
    }
    WaitResult result = WaitResult::TimedOut;
    for (long long i = 0; i < slices; ++i) {
        if (done()) {
            result = WaitResult::Met;
            break;
        }
        if (Over()) {
            result = WaitResult::Over;
            break;
        }
        if (Clock::now() >= deadline) {
            break;
        }
        if (countdown) {
            m_console.Status(kIndent + "... " + countdown());
        }
        std::this_thread::sleep_for(kWaitSlice);
    }
    m_console.ClearStatus();
    return result;
}

bool Session::StartBox()
{
    iobox::sim::SimulatorConfig config;
    config.host = "127.0.0.1";
    config.inputs = 12;
    config.outputs = 6;
    config.companyType = 0;
    config.onRequest = [this](const iobox::sim::RequestInfo& request) {
        if (request.function == 0x02) {
            m_polls.Seen();
        }
    };
    m_box = std::make_unique<iobox::sim::IOBoxSimulator>(config);
    if (m_tour) {
        // The tour switches this one off again.
        m_box->SetOutput(2, true);
    } else {
        m_box->SetPattern(ScriptedInputs());
    }
    if (!m_box->Start()) {
        m_console.Error("iobox-host: the simulated box cannot listen: " + m_box->LastError());
        return false;
    }
    return true;
}

int Session::Run()
{
    if (!m_options.hasDevice && !StartBox()) {
        return 1;
    }
    m_deviceName = m_options.hasDevice ? kBenchBoxName : kSimulatedBoxName;
    m_console.Say("iobox-host: the emulated host application");
    Detail("plug-in  " + m_pluginPath);
    if (m_box) {
        Detail("I/O box  simulated on 127.0.0.1:" + std::to_string(m_box->Port()) +
               " (12 inputs, 6 outputs, company type 0)");
    } else {
        Detail("I/O box  " + m_options.device.host + ":" + std::to_string(m_options.device.port) + " (" +
               std::to_string(m_options.inputs) + " inputs, " + std::to_string(m_options.outputs) +
               " outputs, input type " + std::to_string(m_options.inputType) + ", company type " +
               std::to_string(m_options.companyType) + ")");
    }
    Detail("log      plug-in lines at level " + std::to_string(m_options.logLevel) +
           " and above go to stderr (--log-level 2 shows all)");

    m_host = std::make_unique<EmulatedHost>(
        [this](const std::string& json) { m_console.Event(json, ReadableEvent(json)); },
        [this](unsigned int msgType, int deviceId, int statusCode) {
            m_console.Say(NotificationLine(msgType, deviceId, statusCode));
        });

    int code = 0;
    if (!BringUp()) {
        code = 1;
    } else {
        const bool ok = m_tour ? RunTour(*this) : m_options.interactive ? RunInteractive(*this) : RunWatch(*this);
        code = ok ? 0 : 1;
    }
    if (Over()) {
        Detail("stopping: " + OverReason());
    }
    ShutDown();
    if (!m_clean) {
        code = 1;
    }
    Summary(code);
    return code;
}

bool Session::BringUp()
{
    Step("Load the plug-in");
    std::string error;
    if (!m_host->Load(m_pluginPath, error)) {
        Detail("cannot load " + m_pluginPath + ": " + error);
        return false;
    }
    Detail(std::string(platform::kModuleLoader) + ": Init, SetProductVersion, Start, Stop and Unit resolved");

    Step("Init");
    Explain("The host hands the plug-in its driver-interface object; the plug-in registers what it offers.");
    if (!m_host->Init()) {
        Detail("Init returned false (the plug-in's log says why)");
        return false;
    }
    Detail("Init returned true; registered with the host:");
    for (const auto& line : m_host->Registrations()) {
        Detail("  " + line);
    }
    const bool versionTaken = m_host->SetProductVersion(kHostProductVersion);
    Detail(std::string("SetProductVersion returned ") + (versionTaken ? "true" : "false"));

    Step("Start");
    if (!m_host->Start()) {
        Detail("Start returned false: no worker thread for events");
        return false;
    }
    Detail("Start returned true: the worker thread \"iobox.d.EventFactory\" is reserved for events");
    if (Over()) {
        return true;
    }
    if (!ValidateAndAdd()) {
        return false;
    }
    if (Over()) {
        return true;
    }

    Step("Login");
    Explain("The host asks the registered driver for a strategy for the device and logs it in: the plug-in "
            "opens a Modbus TCP connection, waits 1 s for it to settle, starts polling, and builds the "
            "device's alarm input and output channels.");
    const auto before = Clock::now();
    HostError loginError;
    if (!m_host->Login(loginError)) {
        Detail(loginError.Text());
        return false;
    }
    const double took = std::chrono::duration<double>(Clock::now() - before).count();
    Detail("Login returned true after " + Fixed1(took) + " s: device handle " + std::to_string(m_host->DeviceHandle()) +
           ", sub-category " + std::to_string(m_host->SubCategory()));
    const auto inputs = m_host->Channels(EmulatedHost::kInputChannel);
    const auto outputs = m_host->Channels(EmulatedHost::kOutputChannel);
    Detail(std::to_string(inputs.size()) + " alarm inputs (channel type 1003), host channel ids:");
    for (const auto& line : ChannelLines(inputs)) {
        Detail("  " + line);
    }
    Detail(std::to_string(outputs.size()) + " alarm outputs (channel type 1004), host channel ids:");
    for (const auto& line : ChannelLines(outputs)) {
        Detail("  " + line);
    }
    return true;
}

bool Session::ValidateAndAdd()
{
    AddRequest request;
    request.alias = m_deviceName;
    std::string connectHost;
    if (m_box) {
        request.address = kRequestAddress;
        request.port = m_box->Port();
        request.inputs = 12;
        request.outputs = 6;
        request.inputType = 1;
        request.companyType = 0;
        connectHost = "127.0.0.1";
    } else {
        const auto& device = m_options.device;
        const bool loopback = iobox::sim::IsLoopbackHost(device.host);
        request.address = loopback ? kRequestAddress : device.host;
        request.port = device.port;
        request.inputs = m_options.inputs;
        request.outputs = m_options.outputs;
        request.inputType = m_options.inputType;
        request.companyType = m_options.companyType;
        if (loopback) {
            connectHost = device.host == "localhost" ? "127.0.0.1" : device.host;
        }
    }

    Step("Add request");
    Explain("The operator adds an I/O box. The host passes the request to the device management handler the "
            "plug-in registered for category 2005 / protocol 101, which reads and checks it into login "
            "parameters.");
    Detail("request: " + AddRequestJson(request));
    std::shared_ptr<dam::CModbusLoginParam> param;
    HostError error;
    if (!m_host->ValidateAddRequest(AddRequestJson(request), param, error)) {
        Detail(error.Text());
        return false;
    }
    Detail("validated login parameters: alias \"" + param->GetVal_str_alias() + "\", address " +
           param->GetVal_login_address() + ", port " + std::to_string(param->GetVal_login_port()) + ", " +
           std::to_string(param->GetVal_input_num()) + " inputs, " + std::to_string(param->GetVal_output_num()) +
           " outputs, input type " + std::to_string(param->GetVal_input_type()) + ", company type " +
           std::to_string(param->GetVal_company_type()));
    if (!connectHost.empty()) {
        param->SetVal_login_address(connectHost);
        Note("note: the plug-in accepts only unicast class A to C addresses for devices, so the request names "
               "the box on loopback by " + std::string(kRequestAddress) + " (a documentation address, never "
               "contacted); the host now puts " + connectHost + " into the validated parameters.");
    }
    m_host->AddDevice(param, m_deviceName);
    Detail("the host keeps the device: id " + std::to_string(EmulatedHost::kDeviceId) + ", \"" + m_deviceName +
           "\", category 2005, protocol 101");
    return true;
}

bool Session::ShowOutputs(const std::string& label, std::vector<OutputState>* states)
{
    std::vector<OutputState> read;
    HostError error;
    if (!m_host->ReadOutputs(read, error)) {
        Detail(label + ": " + error.Text());
        return false;
    }
    Detail(label + ": " + OutputsText(read));
    if (states != nullptr) {
        *states = read;
    }
    return true;
}

bool Session::SwitchOutput(int outputNo, bool on)
{
    const unsigned int channelId = m_host->OutputChannelId(outputNo);
    HostError error;
    if (!m_host->SwitchOutput(outputNo, on, error)) {
        Detail(error.Text());
        return false;
    }
    ++m_outputsSwitched;
    Detail("output " + std::to_string(outputNo) + " (host channel id " + std::to_string(channelId) + ") switched " +
           (on ? "on" : "off"));
    // The write is sent without waiting for the box's reply; give it time to arrive so the
    // next exchange on the connection starts clean.
    std::this_thread::sleep_for(kSwitchSettle);
    return true;
}

void Session::StatusReport()
{
    std::string text = "device " + std::to_string(EmulatedHost::kDeviceId) + " \"" + m_deviceName + "\": " +
        (m_host->Online() ? "online" : "offline") + ", handle " + std::to_string(m_host->DeviceHandle()) + "; " +
        std::to_string(m_host->EventCount()) + " events, " + std::to_string(m_host->OfflineCount()) +
        " offline and " + std::to_string(m_host->OnlineCount()) + " online notifications, " +
        std::to_string(m_outputsSwitched) + " outputs switched";
    const long long left = SecondsLeft();
    if (left >= 0) {
        text += "; " + SecondsText(left) + " left";
    }
    Detail(text);
}

void Session::ShutDown()
{
    HostError error;
    if (m_host->LoggedIn()) {
        Step("Logout");
        if (m_host->Logout(error)) {
            Detail("Logout returned true: the connection is closed, device handle " +
                   std::to_string(m_host->DeviceHandle()));
        } else {
            Detail(error.Text());
            m_clean = false;
        }
    }
    if (m_host->DeviceAdded()) {
        Step("Delete");
        if (m_host->DeleteDevice(error)) {
            std::string logged;
            for (const auto& entry : m_host->OperationLog()) {
                logged += (logged.empty() ? "" : ", ") + std::string("type ") + std::to_string(entry.type) +
                    " for device " + std::to_string(entry.deviceId) + " \"" + entry.deviceName + "\"";
            }
            Detail("DeleteDevice returned true; operation log: " + (logged.empty() ? "nothing" : logged));
        } else {
            Detail(error.Text());
            m_clean = false;
        }
    }
    if (m_host->Started()) {
        Step("Stop");
        const bool ok = m_host->Stop();
        Detail(ok ? "Stop returned true: the worker thread is released" : "Stop returned false");
        m_clean = m_clean && ok;
    }
    if (m_host->InitCalled()) {
        Step("Unit");
        const bool ok = m_host->Unit();
        Detail(std::string("Unit returned ") + (ok ? "true" : "false") + "; drivers still registered: " +
               std::to_string(m_host->DriverCount()));
        m_clean = m_clean && ok;
    }
    if (m_host->Loaded()) {
        Step("Unload");
        const int rc = m_host->Unload();
        Detail("the host let go of the registrations; dlclose returned " + std::to_string(rc));
        m_clean = m_clean && rc == 0;
    }
}

void Session::Summary(int exitCode)
{
    const auto offline = m_host->OfflineCount();
    const auto online = m_host->OnlineCount();
    m_console.Say("summary: " + std::to_string(m_host->EventCount()) + " events received, " +
                  std::to_string(offline + online) + " notifications (" + std::to_string(offline) + " offline, " +
                  std::to_string(online) + " online), " + std::to_string(m_outputsSwitched) +
                  " outputs switched, " + Fixed1(Elapsed()) + " s, exit code " + std::to_string(exitCode));
}

} // namespace iobox::host
