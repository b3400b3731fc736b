#pragma once
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace iobox { namespace check {

// A 64-bit PE file read from disk, never loaded: its import and export tables by name.
class PeImage {
public:
    bool Load(const std::string& path, std::string& error);
    // Functions imported by name, per DLL as the table names it.
    bool Imports(std::map<std::string, std::vector<std::string>>& imports, std::string& error) const;
    bool Exports(std::set<std::string>& exports, std::string& error) const;

private:
    struct Section {
        std::uint32_t address;
        std::uint32_t size;
        std::uint32_t offset;
    };
    // The file offset of a relative virtual address, or 0 when no section holds it.
    std::size_t Offset(std::uint32_t rva) const;
    bool Directory(int index, std::uint32_t& rva, std::uint32_t& size) const;
    std::string Text(std::uint32_t rva) const;
    template <class T>
    bool Read(std::size_t offset, T& value) const;

    std::string m_path;
    std::vector<unsigned char> m_bytes;
    std::vector<Section> m_sections;
    std::size_t m_directories = 0; // file offset of the optional header's data directories
    std::uint32_t m_directoryCount = 0;
};

}} // namespace iobox::check
