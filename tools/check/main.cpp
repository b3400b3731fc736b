// iobox-check: before the host starts, tells an installer whether iobox.d.dll will load in it.
// Reads the DLL's import table and the export tables of the DLLs it imports (from the host's
// folder, else Windows' system folder) straight from the files, so it needs nothing but Windows
// to start; names every import found or missing and, for a missing one, the host's exports of the
// same function under another decoration, all undecorated by dbghelp.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "PeImage.h"

namespace {

const char kUsage[] =
    "usage: iobox-check [--dll PATH] HOST_FOLDER\n"
    "  Checks that every function iobox.d.dll imports is exported by the host's DLLs in HOST_FOLDER\n"
    "  (or by Windows). PATH defaults to the iobox.d.dll beside this program.\n"
    "  Exit code: 0 every import found, 1 an import or a DLL missing, 2 bad arguments.\n";

using UnDecorateFn = DWORD(WINAPI*)(PCSTR, PSTR, DWORD, DWORD);
constexpr DWORD kUndnameComplete = 0x0000;
constexpr DWORD kUndnameNameOnly = 0x1000;

// dbghelp is looked up at run time: only its one function is needed, and a missing dbghelp
// leaves the decorated names, which are still exact.
class Undecorator {
public:
    Undecorator()
    {
        if (HMODULE dbghelp = LoadLibraryA("dbghelp.dll")) {
            m_undecorate = reinterpret_cast<UnDecorateFn>(
                reinterpret_cast<void*>(GetProcAddress(dbghelp, "UnDecorateSymbolName")));
        }
    }
    std::string Full(const std::string& name) const { return Run(name, kUndnameComplete); }
    std::string QualifiedName(const std::string& name) const { return Run(name, kUndnameNameOnly); }

private:
    std::string Run(const std::string& name, DWORD flags) const
    {
        char text[4096];
        if (name.empty() || name[0] != '?' || m_undecorate == nullptr ||
            m_undecorate(name.c_str(), text, sizeof text, flags) == 0) {
            return name;
        }
        return text;
    }
    UnDecorateFn m_undecorate = nullptr;
};

bool IsFile(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string ProgramFolder()
{
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    const auto slash = folder.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : folder.substr(0, slash);
}

// Where the loader would take an imported DLL from: the host's folder first (the host's own
// libraries and its Visual C++ runtime), then Windows' system folder.
std::string Locate(const std::string& dll, const std::string& hostFolder)
{
    const std::string inHost = hostFolder + "\\" + dll;
    if (IsFile(inHost)) {
        return inHost;
    }
    char system[MAX_PATH];
    const UINT length = GetSystemDirectoryA(system, MAX_PATH);
    if (length > 0 && length < MAX_PATH && IsFile(std::string(system, length) + "\\" + dll)) {
        return std::string(system, length) + "\\" + dll;
    }
    return {};
}

} // namespace

int main(int argc, char** argv)
{
    std::string dllPath;
    std::string hostFolder;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dll") == 0 && i + 1 < argc) {
            dllPath = argv[++i];
        } else if (argv[i][0] == '-' || !hostFolder.empty()) {
            std::fputs(kUsage, stderr);
            return 2;
        } else {
            hostFolder = argv[i];
        }
    }
    const DWORD folderAttributes = hostFolder.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(hostFolder.c_str());
    if (folderAttributes == INVALID_FILE_ATTRIBUTES || (folderAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        std::fprintf(stderr, "iobox-check: %s is not a folder\n%s", hostFolder.empty() ? "(none)" : hostFolder.c_str(), kUsage);
        return 2;
    }
    if (dllPath.empty()) {
        dllPath = ProgramFolder() + "\\iobox.d.dll";
    }

    iobox::check::PeImage plugin;
    std::string error;
    if (!plugin.Load(dllPath, error)) {
        std::fprintf(stderr, "iobox-check: %s\n", error.c_str());
        return 2;
    }
    std::map<std::string, std::vector<std::string>> imports;
    if (!plugin.Imports(imports, error)) {
        std::fprintf(stderr, "iobox-check: %s\n", error.c_str());
        return 2;
    }

    const Undecorator undname;
    std::printf("%s against %s\n", dllPath.c_str(), hostFolder.c_str());
    std::size_t found = 0;
    std::size_t missing = 0;
    std::vector<std::string> missingDlls;
    for (const auto& [dll, functions] : imports) {
        const std::string path = Locate(dll, hostFolder);
        iobox::check::PeImage image;
        std::set<std::string> exports;
        if (path.empty() || !image.Load(path, error) || !image.Exports(exports, error)) {
            std::printf("\n%s: MISSING (%s)\n", dll.c_str(),
                        path.empty() ? "neither in the host's folder nor in Windows' system folder" : error.c_str());
            missingDlls.push_back(dll);
            missing += functions.size();
            continue;
        }
        std::printf("\n%s: %s\n", dll.c_str(), path.c_str());
        // The host's exports by qualified name, for the near misses of a missing import.
        std::multimap<std::string, std::string> byName;
        for (const std::string& name : exports) {
            byName.emplace(undname.QualifiedName(name), name);
        }
        for (const std::string& function : functions) {
            if (exports.count(function) != 0) {
                ++found;
                std::printf("  found    %s\n", undname.Full(function).c_str());
                continue;
            }
            ++missing;
            std::printf("  MISSING  %s\n           %s\n", undname.Full(function).c_str(), function.c_str());
            const auto range = byName.equal_range(undname.QualifiedName(function));
            for (auto it = range.first; it != range.second; ++it) {
                std::printf("    the host has: %s\n                  %s\n", undname.Full(it->second).c_str(), it->second.c_str());
            }
            if (range.first == range.second) {
                std::printf("    the host has no function of that name\n");
            }
        }
    }

    std::printf("\n%zu imports found, %zu missing", found, missing);
    for (const std::string& dll : missingDlls) {
        std::printf("; %s missing", dll.c_str());
    }
    std::printf("\n%s\n", missing == 0 ? "iobox.d.dll will load in this host."
                                       : "iobox.d.dll will NOT load in this host: Windows refuses a DLL with a missing import.");
    return missing == 0 ? 0 : 1;
}
