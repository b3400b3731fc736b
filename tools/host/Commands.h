#pragma once
// The commands iobox-host --interactive reads, one a line.

#include <string>

namespace iobox::host {

struct Command {
    enum class Kind { Empty, Help, Outputs, Set, Status, Wait, Quit };
    Kind kind = Kind::Empty;
    int output = 0;    // Set: the box's 1-based output number
    bool on = false;   // Set
    int seconds = 0;   // Wait
};

constexpr int kMaxWaitS = 3600;

extern const char* const kCommandHelp;

// Blank lines and lines starting with '#' are Empty. False with a one-line reason otherwise.
bool ParseCommand(const std::string& line, Command& out, std::string& error);

} // namespace iobox::host
