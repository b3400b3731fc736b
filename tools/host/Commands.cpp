#include "Commands.h"

#include "HostOptions.h"

#include <sstream>
#include <vector>

namespace iobox::host {

const char* const kCommandHelp =
    "outputs          read every output's state\n"
    "set N on|off     switch the box's output N (1-based)\n"
    "status           the device's state and what the host received\n"
    "wait SECONDS     do nothing for a while (events keep coming)\n"
    "quit             log out, delete the device, Stop, Unit and end\n"
    "help             this list";

bool ParseCommand(const std::string& line, Command& out, std::string& error)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    std::string word;
    for (int i = 0; i < 8 && in >> word; ++i) {
        words.push_back(word);
    }
    Command c;
    if (words.empty() || words[0][0] == '#') {
        out = c;
        return true;
    }
    const std::string& name = words[0];
    const std::size_t args = words.size() - 1;
    auto noArgs = [&](Command::Kind kind) {
        if (args != 0) {
            error = name + " takes no argument";
            return false;
        }
        c.kind = kind;
        return true;
    };
    long long n = 0;
    bool ok = false;
    if (name == "help") {
        ok = noArgs(Command::Kind::Help);
    } else if (name == "outputs") {
        ok = noArgs(Command::Kind::Outputs);
    } else if (name == "status") {
        ok = noArgs(Command::Kind::Status);
    } else if (name == "quit" || name == "exit") {
        ok = noArgs(Command::Kind::Quit);
    } else if (name == "wait") {
        ok = args == 1 && ParseBoundedInt(words[1], 1, kMaxWaitS, n);
        if (!ok) {
            error = "usage: wait SECONDS (1-3600)";
        }
        c.kind = Command::Kind::Wait;
        c.seconds = static_cast<int>(n);
    } else if (name == "set") {
        ok = args == 2 && ParseBoundedInt(words[1], 1, kMaxPoints, n) && (words[2] == "on" || words[2] == "off");
        if (!ok) {
            error = "usage: set N on|off (N the box's output number, 1-2000)";
        }
        c.kind = Command::Kind::Set;
        c.output = static_cast<int>(n);
        c.on = args == 2 && words[2] == "on";
    } else {
        error = "unknown command '" + name + "' (type help)";
    }
    if (ok) {
        out = c;
    }
    return ok;
}

} // namespace iobox::host
