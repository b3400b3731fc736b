#include "PeImage.h"

#include <cstdio>
#include <cstring>

namespace iobox { namespace check {

namespace {

constexpr std::uint16_t kPe32Plus = 0x20B;
constexpr int kExportDirectory = 0;
constexpr int kImportDirectory = 1;
constexpr std::uint64_t kImportByOrdinal = 0x8000000000000000ull;

} // namespace

template <class T>
bool PeImage::Read(std::size_t offset, T& value) const
{
    if (offset == 0 || offset > m_bytes.size() || m_bytes.size() - offset < sizeof value) {
        return false;
    }
    std::memcpy(&value, m_bytes.data() + offset, sizeof value);
    return true;
}

bool PeImage::Load(const std::string& path, std::string& error)
{
    m_path = path;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = "cannot read " + path;
        return false;
    }
    unsigned char chunk[65536];
    std::size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        m_bytes.insert(m_bytes.end(), chunk, chunk + count);
    }
    std::fclose(file);

    // DOS header: "MZ", the PE header's offset at 0x3C; then "PE\0\0", the file header, the
    // optional header (PE32+ for a 64-bit image) and the section table.
    std::uint32_t pe = 0;
    std::uint32_t signature = 0;
    std::uint16_t sectionCount = 0;
    std::uint16_t optionalSize = 0;
    std::uint16_t magic = 0;
    if (m_bytes.size() < 0x40 || m_bytes[0] != 'M' || m_bytes[1] != 'Z' || !Read(0x3C, pe) || !Read(pe, signature) ||
        signature != 0x4550 || !Read(pe + 6, sectionCount) || !Read(pe + 20, optionalSize) || !Read(pe + 24, magic)) {
        error = path + " is not a Windows DLL";
        return false;
    }
    if (magic != kPe32Plus) {
        error = path + " is not a 64-bit DLL";
        return false;
    }
    const std::size_t optional = pe + 24;
    m_directories = optional + 112;
    if (!Read(optional + 108, m_directoryCount)) {
        error = path + " has no data directories";
        return false;
    }
    const std::size_t table = optional + optionalSize;
    for (std::uint16_t i = 0; i < sectionCount; ++i) {
        const std::size_t at = table + i * 40u;
        Section section{};
        std::uint32_t rawSize = 0;
        if (!Read(at + 12, section.address) || !Read(at + 16, rawSize) || !Read(at + 20, section.offset)) {
            error = path + ": its section table is cut short";
            return false;
        }
        std::uint32_t virtualSize = 0;
        Read(at + 8, virtualSize);
        section.size = virtualSize > rawSize || virtualSize == 0 ? rawSize : virtualSize;
        m_sections.push_back(section);
    }
    return true;
}

std::size_t PeImage::Offset(std::uint32_t rva) const
{
    for (const Section& section : m_sections) {
        if (rva >= section.address && rva - section.address < section.size) {
            return std::size_t{section.offset} + (rva - section.address);
        }
    }
    return 0;
}

bool PeImage::Directory(int index, std::uint32_t& rva, std::uint32_t& size) const
{
    rva = 0;
    size = 0;
    return static_cast<std::uint32_t>(index) < m_directoryCount && Read(m_directories + index * 8u, rva) &&
           Read(m_directories + index * 8u + 4, size);
}

std::string PeImage::Text(std::uint32_t rva) const
{
    const std::size_t offset = Offset(rva);
    std::string text;
    for (std::size_t i = offset; offset != 0 && i < m_bytes.size() && m_bytes[i] != 0; ++i) {
        text.push_back(static_cast<char>(m_bytes[i]));
    }
    return text;
}

bool PeImage::Imports(std::map<std::string, std::vector<std::string>>& imports, std::string& error) const
{
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
    if (!Directory(kImportDirectory, rva, size) || rva == 0) {
        return true; // imports nothing
    }
    // Import descriptors of 20 bytes up to an empty one: the name lookup table (or, without one,
    // the address table) at 0, the DLL's name at 12, the address table at 16.
    for (std::uint32_t at = rva;; at += 20) {
        std::uint32_t lookup = 0;
        std::uint32_t name = 0;
        std::uint32_t addresses = 0;
        const std::size_t descriptor = Offset(at);
        if (!Read(descriptor, lookup) || !Read(descriptor + 12, name) || !Read(descriptor + 16, addresses)) {
            error = m_path + ": its import table is cut short";
            return false;
        }
        if (name == 0) {
            return true;
        }
        std::vector<std::string>& functions = imports[Text(name)];
        for (std::uint32_t entry = lookup != 0 ? lookup : addresses;; entry += 8) {
            std::uint64_t thunk = 0;
            if (!Read(Offset(entry), thunk)) {
                error = m_path + ": an import list is cut short";
                return false;
            }
            if (thunk == 0) {
                break;
            }
            if ((thunk & kImportByOrdinal) == 0) {
                functions.push_back(Text(static_cast<std::uint32_t>(thunk) + 2)); // after the 2-byte hint
            }
        }
    }
}

bool PeImage::Exports(std::set<std::string>& exports, std::string& error) const
{
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
    if (!Directory(kExportDirectory, rva, size) || rva == 0) {
        return true; // exports nothing
    }
    // Export directory: the number of names at 24, the table of name addresses at 32.
    const std::size_t directory = Offset(rva);
    std::uint32_t count = 0;
    std::uint32_t names = 0;
    if (!Read(directory + 24, count) || !Read(directory + 32, names)) {
        error = m_path + ": its export table is cut short";
        return false;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t name = 0;
        if (!Read(Offset(names + i * 4), name)) {
            error = m_path + ": its export names are cut short";
            return false;
        }
        exports.insert(Text(name));
    }
    return true;
}

}} // namespace iobox::check
