#pragma once
// Scripted alarm-input states for the simulated I/O box.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace iobox::sim {

// Strict decimal parse of the whole string (digits only, no sign or blanks) into [min, max].
bool ParseDecimal(const std::string& text, long long min, long long max, long long& out);

// A cyclic sequence of input states: each step holds its bits for its duration, then the
// next step follows; after the last step the sequence starts again. Bit i is input i + 1.
class InputPattern {
public:
    struct Step {
        std::chrono::milliseconds hold{1};
        std::vector<bool> bits;
    };

    // Largest input number and bit-string length the parsers accept (a Modbus read carries
    // at most 2000 bits).
    static constexpr int kMaxInputs = 2000;

    InputPattern() = default;

    // The same bits for ever.
    static InputPattern Fixed(std::vector<bool> bits);
    // The listed inputs (1-based) are on for `period`, then off for `period`, repeatedly;
    // every other input stays off. The first half-cycle is "on".
    static InputPattern Toggle(const std::vector<int>& inputNos, std::chrono::milliseconds period);
    // Steps as given; every hold must be at least 1 ms and there must be at least one step.
    static InputPattern FromSteps(std::vector<Step> steps);

    // "fixed:<bits>", "toggle:<inputs>:<period-ms>" or "file:<path>". Inputs are a comma list
    // of numbers and ranges ("1,3,5-7"). On failure `error` gets a one-line reason.
    static bool Parse(const std::string& text, InputPattern& out, std::string& error);
    // Step lines "<milliseconds> <bits>"; blank lines and lines starting with '#' are skipped.
    static bool ParseSteps(const std::string& text, InputPattern& out, std::string& error);
    // A bit string: '0'/'1' characters, first character = input 1 ('_' may separate groups),
    // or "0x<hex>" where bit 0 of the number is input 1.
    static bool ParseBits(const std::string& text, std::vector<bool>& out, std::string& error);
    // "1,3,5-7" -> {1,3,5,6,7}; numbers from 1 to kMaxInputs.
    static bool ParseInputList(const std::string& text, std::vector<int>& out, std::string& error);

    bool Empty() const { return steps_.empty(); }
    const std::vector<Step>& Steps() const { return steps_; }
    std::chrono::milliseconds CycleLength() const;
    // The step's bits at `elapsed` since the pattern started; empty for an empty pattern.
    const std::vector<bool>& BitsAt(std::chrono::milliseconds elapsed) const;

private:
    std::vector<Step> steps_;
};

} // namespace iobox::sim
