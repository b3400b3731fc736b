#pragma once
// What iobox-host prints, from any thread, one whole line at a time.
//
// Narration (the tour, command answers, readable event lines) goes to the narration stream:
// stdout, or stderr when stdout carries the JSON events. A countdown line may stand at the
// bottom of a terminal; every other line first wipes it. Plug-in log lines go to stderr
// through LogSink, which keeps the host's stderr format.

#include "Marl/Base/Log.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace iobox::host {

class Console {
public:
    // json: events go to stdout as JSON, everything else to stderr.
    explicit Console(bool json);
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // One narration line.
    void Say(const std::string& line);
    // One line on stderr (errors and notes that are not part of the narration).
    void Error(const std::string& line);
    // An event as the host received it: its JSON text on stdout (json mode) or the readable line.
    void Event(const std::string& json, const std::string& readable);
    // Replaces the countdown line (terminals only; elsewhere nothing is printed).
    void Status(const std::string& text);
    void ClearStatus();
    bool StatusShown() const;   // false when the narration stream is not a terminal

    // Host log sink that keeps the countdown line out of the way of log lines.
    class LogSink : public Marl::Base::ILogSink {
    public:
        LogSink(Console& console, int minLevel);
        void Write(int level, const std::string& module, const std::string& format,
                   const std::string& text) override;
        int MinLevel() const override;

    private:
        Console& m_console;
        Marl::Base::CStderrLogSink m_stderr;
    };

private:
    void WipeLocked();

    const bool m_json;
    std::FILE* const m_narration;
    const bool m_statusOnTerminal;
    mutable std::mutex m_mutex;
    bool m_statusVisible = false;
};

} // namespace iobox::host
