// The guided tour against the simulated box, with the plug-in's production timings. Every wait
// is for something the host observes (an event, a notification, a poll reaching the box), with
// a time-out well above the expected time; the countdowns are estimates.

#include "Session.h"

#include <chrono>
#include <string>
#include <vector>

namespace iobox::host {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

// Two poll periods and some room.
constexpr milliseconds kPollTimeout{12000};
// Offline comes after the failed exchange and three failed checks: four polls.
constexpr milliseconds kOfflineTimeout{40000};
constexpr milliseconds kOnlineTimeout{40000};
constexpr milliseconds kAwayFor{3000};

long long CeilSeconds(long long ms) { return ms <= 0 ? 0 : (ms + 999) / 1000; }

std::string NextPollText(const PollWatch& polls)
{
    const long long ms = polls.NextDueInMs();
    return ms < 0 ? std::string("waiting for the first poll") : "next poll in about " + SecondsText(CeilSeconds(ms));
}


struct InputPhase {
    std::vector<int> on;
    std::vector<int> off;
    const char* say;
    std::uint64_t events;   // what the next poll reports
};

class Tour {
public:
    explicit Tour(Session& s) : s(s), host(s.Host()), box(*s.Box()), polls(s.Polls()) {}

    // True when every part ran; `failed` tells a missing observation from a run that is over.
    bool Run()
    {
        return EventsPart() && !s.Over() && OutputsPart() && !s.Over() && OfflinePart() && !s.Over() && ReturnPart();
    }
    bool Failed() const { return failed; }

private:
    bool EventsPart();
    bool SwitchAndReadBack(int outputNo, bool on);
    bool OutputsPart();
    bool OfflinePart();
    bool ReturnPart();

    // Whether the wait lets the tour go on; a time-out is reported and marks the tour failed.
    bool GoOn(WaitResult r, const std::string& missing)
    {
        if (r == WaitResult::Met) {
            return true;
        }
        if (r == WaitResult::TimedOut) {
            s.Detail("the tour stops here: " + missing);
            failed = true;
        }
        return false;
    }

    Session& s;
    EmulatedHost& host;
    iobox::sim::IOBoxSimulator& box;
    PollWatch& polls;
    bool failed = false;
};

bool Tour::EventsPart()
{
    s.Step("Events");
    s.Explain("The plug-in reads the box's inputs every 5 s on a thread of its own; the first read came with "
              "the login. Every input in alarm becomes an event (type 5030) that the worker thread hands to the "
              "host; an input that stays in alarm is reported at every poll.");
    // Inputs change right after a poll, so the next poll sees the change whole.
    const auto first =
        s.WaitUntil([&] { return polls.Count() >= 1; }, kPollTimeout, [&] { return NextPollText(polls); });
    if (!GoOn(first, "no poll reached the box")) {
        return false;
    }
    const std::vector<InputPhase> phases = {
        {{3}, {}, "the box: input 3 goes into alarm", 1},
        {{7}, {}, "the box: input 7 goes into alarm as well", 2},
        {{}, {3}, "the box: input 3 returns to normal, input 7 stays in alarm", 1},
    };
    bool contentShown = false;
    for (const auto& phase : phases) {
        const std::uint64_t before = host.EventCount();
        for (int no : phase.on) {
            box.SetInput(no, true);
        }
        for (int no : phase.off) {
            box.SetInput(no, false);
        }
        s.Detail(phase.say);
        const auto r = s.WaitUntil([&] { return host.EventCount() >= before + phase.events; }, kPollTimeout,
                                   [&] { return NextPollText(polls); });
        if (!GoOn(r, "the host expected " + std::to_string(phase.events) +
                         " event(s) from the next poll and received " + std::to_string(host.EventCount() - before))) {
            return false;
        }
        if (!contentShown) {
            s.Detail("the event's content as the host received it (--json prints every event so):");
            s.Detail(host.LastEventJson());
            contentShown = true;
        }
    }
    box.SetInput(7, false);
    s.Detail("the box: input 7 returns to normal; the polls that follow report nothing");
    return true;
}

// Switches, checks the box, reads all states back through the plug-in.
bool Tour::SwitchAndReadBack(int outputNo, bool on)
{
    if (!s.SwitchOutput(outputNo, on)) {
        failed = true;
        return false;
    }
    const auto switched = s.WaitUntil([&] { return box.GetOutput(outputNo) == on; }, milliseconds(2000), nullptr);
    if (!GoOn(switched, "the box did not switch output " + std::to_string(outputNo))) {
        return false;
    }
    std::vector<OutputState> states;
    if (!s.ShowOutputs("read back", &states)) {
        failed = true;
        return false;
    }
    for (const auto& state : states) {
        if (state.no == outputNo && state.on == on) {
            return true;
        }
    }
    s.Detail("the tour stops here: the states read back do not show output " + std::to_string(outputNo) +
             (on ? " on" : " off"));
    failed = true;
    return false;
}

bool Tour::OutputsPart()
{
    s.Step("Outputs");
    s.Explain("The host reads every output's state through the operation interface \"iobox.d\" (a Read Coils "
              "exchange) and switches one output by its host channel id (a Write Single Coil); the plug-in maps "
              "host channel ids to the box's output numbers.");
    if (!s.ShowOutputs("outputs")) {
        failed = true;
        return false;
    }
    return SwitchAndReadBack(4, true) && !s.Over() && SwitchAndReadBack(2, false);
}

bool Tour::OfflinePart()
{
    s.Step("The box drops off the network");
    s.Explain("The box closes every connection and refuses new ones. The next poll's exchange fails and closes "
              "the socket; each later poll checks the connection by reconnecting, and the third failed check in "
              "a row makes the plug-in report the device offline (message type 101, status 0x8000).");
    const long long firstDue = polls.NextDueInMs() < 0 ? 0 : polls.NextDueInMs();
    const auto expectedBy = Clock::now() + milliseconds(firstDue) + kFailedChecksBeforeOffline * kPollPeriod;
    box.RefuseNew(true);
    box.DropAll();
    s.Detail("the box: every connection closed, new ones refused");
    const auto r = s.WaitUntil([&] { return host.OfflineCount() >= 1; }, kOfflineTimeout, [&] {
        const auto left = std::chrono::duration_cast<milliseconds>(expectedBy - Clock::now()).count();
        return "offline expected within about " + SecondsText(CeilSeconds(left)) + " (" + NextPollText(polls) + ")";
    });
    if (!GoOn(r, "no offline notification within 40 s")) {
        box.RefuseNew(false);
        return false;
    }
    s.Detail(std::string("the host now shows the device ") + (host.Online() ? "online (unexpected)" : "offline"));
    return true;
}

bool Tour::ReturnPart()
{
    s.Step("The box comes back");
    s.Explain("While a device is offline the plug-in tries a new connection at the first poll more than 15 s "
              "after its previous attempt. A connection that succeeds is reported online (status 0x8017) after "
              "1 s of settling, and the same poll reads the inputs again.");
    box.SetInput(5, true);
    s.Detail("the box: input 5 goes into alarm while the box is away");
    const auto backAt = Clock::now() + kAwayFor;
    const auto away = s.WaitUntil([] { return false; }, kAwayFor, [&] {
        const auto left = std::chrono::duration_cast<milliseconds>(backAt - Clock::now()).count();
        return "the box stays away for another " + SecondsText(CeilSeconds(left));
    });
    if (away == WaitResult::Over) {
        box.RefuseNew(false);
        return false;
    }
    if (!box.RefuseNew(false)) {
        s.Detail("the tour stops here: the box cannot listen again: " + box.LastError());
        failed = true;
        return false;
    }
    s.Detail("the box is back on the network");
    const std::uint64_t before = host.EventCount();
    const auto online = s.WaitUntil([&] { return host.OnlineCount() >= 1; }, kOnlineTimeout,
                                    [&] { return "reconnect expected at a poll: " + NextPollText(polls); });
    if (!GoOn(online, "no online notification within 40 s")) {
        return false;
    }
    s.Detail(std::string("the host now shows the device ") + (host.Online() ? "online" : "offline (unexpected)"));
    const auto reported =
        s.WaitUntil([&] { return host.EventCount() > before; }, kPollTimeout, [&] { return NextPollText(polls); });
    if (!GoOn(reported, "no event for input 5 after the reconnect")) {
        return false;
    }
    box.SetInput(5, false);
    s.Detail("the box: input 5 returns to normal");
    return true;
}

} // namespace

bool RunTour(Session& s)
{
    Tour tour(s);
    if (tour.Run()) {
        s.Detail("the tour is complete; the host now takes the device away and unloads the plug-in");
    }
    return !tour.Failed();
}

} // namespace iobox::host
