#include "support/Command.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace testsupport {

namespace {

std::string Quoted(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

} // namespace

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

CommandResult RunCommand(const std::string& program, const std::vector<std::string>& args, const std::string& input,
                         int timeoutS, const std::string& outPath)
{
    char dir[] = "/tmp/iobox_commandXXXXXX";
    if (::mkdtemp(dir) == nullptr) {
        return {};
    }
    const std::string base = dir;
    const std::string out = outPath.empty() ? base + "/out" : outPath;
    std::ofstream(base + "/in") << input;
    // stdin is a pipe, as it is for a command fed by another.
    std::string line = "cat " + Quoted(base + "/in") + " | timeout -s KILL " + std::to_string(timeoutS) + " " +
                       Quoted(program);
    for (const auto& arg : args) {
        line += " " + Quoted(arg);
    }
    line += " >" + Quoted(out) + " 2>" + Quoted(base + "/err");
    const int status = std::system(line.c_str());
    CommandResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadFile(out);
    result.err = ReadFile(base + "/err");
    for (const char* name : {"/in", "/out", "/err"}) {
        std::remove((base + name).c_str());
    }
    ::rmdir(dir);
    return result;
}

} // namespace testsupport
