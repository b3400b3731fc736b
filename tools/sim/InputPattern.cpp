#include "InputPattern.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace iobox::sim {

bool ParseDecimal(const std::string& text, long long min, long long max, long long& out)
{
    if (text.empty() || text.size() > 18) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    errno = 0;
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (errno != 0 || value < min || value > max) {
        return false;
    }
    out = value;
    return true;
}

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Trim(const std::string& s)
{
    const auto begin = s.find_first_not_of(" \t\r");
    if (begin == std::string::npos) {
        return {};
    }
    const auto end = s.find_last_not_of(" \t\r");
    return s.substr(begin, end - begin + 1);
}

} // namespace

InputPattern InputPattern::Fixed(std::vector<bool> bits)
{
    InputPattern p;
    p.steps_.push_back(Step{std::chrono::milliseconds(1), std::move(bits)});
    return p;
}

InputPattern InputPattern::Toggle(const std::vector<int>& inputNos, std::chrono::milliseconds period)
{
    std::vector<bool> on;
    for (int n : inputNos) {
        if (n >= 1 && n <= kMaxInputs) {
            if (static_cast<std::size_t>(n) > on.size()) {
                on.resize(static_cast<std::size_t>(n), false);
            }
            on[static_cast<std::size_t>(n - 1)] = true;
        }
    }
    const auto hold = period.count() < 1 ? std::chrono::milliseconds(1) : period;
    InputPattern p;
    p.steps_.push_back(Step{hold, on});
    p.steps_.push_back(Step{hold, std::vector<bool>(on.size(), false)});
    return p;
}

InputPattern InputPattern::FromSteps(std::vector<Step> steps)
{
    InputPattern p;
    for (auto& s : steps) {
        if (s.hold.count() < 1) {
            s.hold = std::chrono::milliseconds(1);
        }
    }
    p.steps_ = std::move(steps);
    return p;
}

std::chrono::milliseconds InputPattern::CycleLength() const
{
    std::chrono::milliseconds total{0};
    for (const auto& s : steps_) {
        total += s.hold;
    }
    return total;
}

const std::vector<bool>& InputPattern::BitsAt(std::chrono::milliseconds elapsed) const
{
    static const std::vector<bool> kNone;
    if (steps_.empty()) {
        return kNone;
    }
    const auto cycle = CycleLength().count();
    long long t = elapsed.count() < 0 ? 0 : elapsed.count() % cycle;
    for (const auto& s : steps_) {
        if (t < s.hold.count()) {
            return s.bits;
        }
        t -= s.hold.count();
    }
    return steps_.back().bits;
}

bool InputPattern::ParseBits(const std::string& text, std::vector<bool>& out, std::string& error)
{
    std::vector<bool> bits;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        const std::string digits = text.substr(2);
        if (digits.size() > 16) {
            error = "hex bits '" + text + "' longer than 64 bits";
            return false;
        }
        // The least significant hex digit holds inputs 1-4.
        for (std::size_t i = 0; i < digits.size(); ++i) {
            const int d = HexDigit(digits[digits.size() - 1 - i]);
            if (d < 0) {
                error = "bad hex bits '" + text + "'";
                return false;
            }
            for (int b = 0; b < 4; ++b) {
                bits.push_back(((d >> b) & 1) != 0);
            }
        }
        while (!bits.empty() && !bits.back()) {
            bits.pop_back();
        }
        out = std::move(bits);
        return true;
    }
    if (text.empty()) {
        error = "empty bits";
        return false;
    }
    for (char c : text) {
        if (c == '0' || c == '1') {
            bits.push_back(c == '1');
        } else if (c != '_') {
            error = "bad bits '" + text + "' (use 0/1 characters or 0x<hex>)";
            return false;
        }
    }
    if (bits.empty() || bits.size() > static_cast<std::size_t>(kMaxInputs)) {
        error = "bits '" + text + "' must give 1 to 2000 inputs";
        return false;
    }
    out = std::move(bits);
    return true;
}

bool InputPattern::ParseInputList(const std::string& text, std::vector<int>& out, std::string& error)
{
    std::vector<int> inputs;
    std::stringstream ss(text);
    std::string item;
    bool any = false;
    while (std::getline(ss, item, ',')) {
        any = true;
        long long first = 0;
        long long last = 0;
        const auto dash = item.find('-');
        const bool ok = dash == std::string::npos
            ? ParseDecimal(item, 1, kMaxInputs, first) && ParseDecimal(item, 1, kMaxInputs, last)
            : ParseDecimal(item.substr(0, dash), 1, kMaxInputs, first) &&
                  ParseDecimal(item.substr(dash + 1), 1, kMaxInputs, last);
        if (!ok || last < first) {
            error = "bad input list item '" + item + "' (numbers 1-2000, ranges a-b)";
            return false;
        }
        for (long long n = first; n <= last; ++n) {
            inputs.push_back(static_cast<int>(n));
        }
    }
    if (!any || text.back() == ',') {
        error = "bad input list '" + text + "'";
        return false;
    }
    out = std::move(inputs);
    return true;
}

bool InputPattern::ParseSteps(const std::string& text, InputPattern& out, std::string& error)
{
    std::vector<Step> steps;
    std::stringstream ss(text);
    std::string line;
    int lineNo = 0;
    while (std::getline(ss, line)) {
        ++lineNo;
        line = Trim(line);
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream fields(line);
        std::string ms;
        std::string bitsText;
        std::string extra;
        fields >> ms >> bitsText >> extra;
        long long hold = 0;
        if (!ParseDecimal(ms, 1, 86400000, hold)) {
            error = "line " + std::to_string(lineNo) + ": bad milliseconds '" + ms + "' (1-86400000)";
            return false;
        }
        if (bitsText.empty() || !extra.empty()) {
            error = "line " + std::to_string(lineNo) + ": expected '<milliseconds> <bits>'";
            return false;
        }
        Step step;
        step.hold = std::chrono::milliseconds(hold);
        std::string bitsError;
        if (!ParseBits(bitsText, step.bits, bitsError)) {
            error = "line " + std::to_string(lineNo) + ": " + bitsError;
            return false;
        }
        steps.push_back(std::move(step));
    }
    if (steps.empty()) {
        error = "no steps (expected lines '<milliseconds> <bits>')";
        return false;
    }
    out = FromSteps(std::move(steps));
    return true;
}

bool InputPattern::Parse(const std::string& text, InputPattern& out, std::string& error)
{
    const auto colon = text.find(':');
    const std::string kind = text.substr(0, colon);
    const std::string rest = colon == std::string::npos ? std::string() : text.substr(colon + 1);
    if (colon == std::string::npos) {
        error = "bad pattern '" + text + "' (fixed:<bits>, toggle:<inputs>:<period-ms>, file:<path>)";
        return false;
    }
    if (kind == "fixed") {
        std::vector<bool> bits;
        if (!ParseBits(rest, bits, error)) {
            return false;
        }
        out = Fixed(std::move(bits));
        return true;
    }
    if (kind == "toggle") {
        const auto second = rest.rfind(':');
        long long period = 0;
        std::vector<int> inputs;
        if (second == std::string::npos) {
            error = "bad toggle pattern '" + text + "' (toggle:<inputs>:<period-ms>)";
            return false;
        }
        if (!ParseInputList(rest.substr(0, second), inputs, error)) {
            return false;
        }
        if (!ParseDecimal(rest.substr(second + 1), 1, 86400000, period)) {
            error = "bad toggle period '" + rest.substr(second + 1) + "' (1-86400000 ms)";
            return false;
        }
        out = Toggle(inputs, std::chrono::milliseconds(period));
        return true;
    }
    if (kind == "file") {
        std::ifstream in(rest, std::ios::binary);
        if (rest.empty() || !in) {
            error = "cannot read pattern file '" + rest + "'";
            return false;
        }
        std::ostringstream content;
        content << in.rdbuf();
        std::string stepsError;
        if (!ParseSteps(content.str(), out, stepsError)) {
            error = rest + ": " + stepsError;
            return false;
        }
        return true;
    }
    error = "unknown pattern kind '" + kind + "' (fixed, toggle or file)";
    return false;
}

} // namespace iobox::sim
