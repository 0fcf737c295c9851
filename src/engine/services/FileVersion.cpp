#include "engine/services/FileVersion.h"

#include "engine/platform/Utf8.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace plexavo {

namespace {

// A version block is a few hundred bytes; anything this big is not one.
constexpr std::uint64_t kMaxBlockSize = 1u << 20;

// Why this thread's last GetVersion failed, for ReportAccessError.
thread_local VersionReadError t_lastError = VersionReadError::None;
thread_local int t_lastErrno = 0;

// Bounds-checked reads from an open file: a damaged or hostile file can
// name any offset.
class FileReader {
  public:
    explicit FileReader(const std::string& path) {
        m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (m_fd < 0) {
            m_error = errno;
            return;
        }
        struct stat st {};
        if (fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            m_error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
            ::close(m_fd);
            m_fd = -1;
            return;
        }
        m_size = static_cast<std::uint64_t>(st.st_size);
    }
    ~FileReader() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    bool ok() const { return m_fd >= 0; }
    int error() const { return m_error; }
    std::uint64_t size() const { return m_size; }

    bool read(std::uint64_t offset, void* out, std::uint64_t n) const {
        if (offset > m_size || n > m_size - offset)
            return false;
        auto* p = static_cast<char*>(out);
        while (n > 0) {
            const ssize_t got = ::pread(m_fd, p, n, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            p += got;
            offset += static_cast<std::uint64_t>(got);
            n -= static_cast<std::uint64_t>(got);
        }
        return true;
    }
    // Integers of a given byte order.
    bool u16(std::uint64_t offset, std::uint16_t& v, bool big = false) const {
        unsigned char b[2];
        if (!read(offset, b, 2))
            return false;
        v = big ? static_cast<std::uint16_t>((b[0] << 8) | b[1])
                : static_cast<std::uint16_t>(b[0] | (b[1] << 8));
        return true;
    }
    bool u32(std::uint64_t offset, std::uint32_t& v, bool big = false) const {
        unsigned char b[4];
        if (!read(offset, b, 4))
            return false;
        v = 0;
        for (int i = 0; i < 4; ++i)
            v |= std::uint32_t{b[big ? 3 - i : i]} << (8 * i);
        return true;
    }
    bool u64(std::uint64_t offset, std::uint64_t& v, bool big = false) const {
        unsigned char b[8];
        if (!read(offset, b, 8))
            return false;
        v = 0;
        for (int i = 0; i < 8; ++i)
            v |= std::uint64_t{b[big ? 7 - i : i]} << (8 * i);
        return true;
    }

  private:
    int m_fd = -1;
    int m_error = 0;
    std::uint64_t m_size = 0;
};

struct Failure {
    VersionReadError error;
};

std::vector<std::uint8_t> readBytes(const FileReader& file, std::uint64_t offset,
                                    std::uint64_t size) {
    if (size < 6 || size > kMaxBlockSize)
        throw Failure{VersionReadError::Damaged};
    std::vector<std::uint8_t> out(size);
    if (!file.read(offset, out.data(), size))
        throw Failure{VersionReadError::Damaged};
    return out;
}

// ---- PE: the version resource (type 16) in the resource directory
std::vector<std::uint8_t> peBlock(const FileReader& f) {
    std::uint32_t peOffset = 0;
    std::uint32_t signature = 0;
    if (!f.u32(0x3C, peOffset) || !f.u32(peOffset, signature) || signature != 0x00004550)
        throw Failure{VersionReadError::NotAModule};
    const std::uint64_t coff = std::uint64_t{peOffset} + 4;
    std::uint16_t sectionCount = 0;
    std::uint16_t optionalSize = 0;
    std::uint16_t magic = 0;
    const std::uint64_t optional = coff + 20;
    if (!f.u16(coff + 2, sectionCount) || !f.u16(coff + 16, optionalSize) ||
        !f.u16(optional, magic))
        throw Failure{VersionReadError::Damaged};
    std::uint64_t directories = 0;
    std::uint64_t directoryCountAt = 0;
    if (magic == 0x10B) { // PE32
        directoryCountAt = optional + 92;
        directories = optional + 96;
    } else if (magic == 0x20B) { // PE32+
        directoryCountAt = optional + 108;
        directories = optional + 112;
    } else {
        throw Failure{VersionReadError::Damaged};
    }
    std::uint32_t directoryCount = 0;
    std::uint32_t resourceRva = 0;
    if (!f.u32(directoryCountAt, directoryCount))
        throw Failure{VersionReadError::Damaged};
    if (directoryCount <= 2 || !f.u32(directories + 2 * 8, resourceRva) || resourceRva == 0)
        throw Failure{VersionReadError::NoVersionBlock};

    const std::uint64_t sections = optional + optionalSize;
    auto fileOffset = [&](std::uint32_t rva) -> std::uint64_t {
        for (std::uint16_t i = 0; i < sectionCount; ++i) {
            std::uint32_t virtualSize = 0, address = 0, rawSize = 0, rawPointer = 0;
            const std::uint64_t s = sections + std::uint64_t{i} * 40;
            if (!f.u32(s + 8, virtualSize) || !f.u32(s + 12, address) || !f.u32(s + 16, rawSize) ||
                !f.u32(s + 20, rawPointer))
                throw Failure{VersionReadError::Damaged};
            const std::uint32_t extent = virtualSize > rawSize ? virtualSize : rawSize;
            if (rva >= address && rva - address < extent) {
                if (rva - address >= rawSize)
                    throw Failure{VersionReadError::Damaged}; // not backed by the file
                return std::uint64_t{rawPointer} + (rva - address);
            }
        }
        throw Failure{VersionReadError::Damaged};
    };
    const std::uint64_t base = fileOffset(resourceRva);

    // One directory level: the entry with `id`, or the first when id < 0.
    auto entry = [&](std::uint64_t directory, long id) -> std::uint32_t {
        std::uint16_t named = 0, ids = 0;
        if (!f.u16(directory + 12, named) || !f.u16(directory + 14, ids))
            throw Failure{VersionReadError::Damaged};
        const unsigned count = unsigned{named} + ids;
        std::optional<std::uint32_t> first;
        for (unsigned i = 0; i < count; ++i) {
            std::uint32_t name = 0, data = 0;
            const std::uint64_t e = directory + 16 + std::uint64_t{i} * 8;
            if (!f.u32(e, name) || !f.u32(e + 4, data))
                throw Failure{VersionReadError::Damaged};
            if (!first)
                first = data;
            if (id >= 0 && !(name & 0x80000000u) && name == static_cast<std::uint32_t>(id))
                return data;
        }
        if (id == 16 || !first) // no version resource at all
            throw Failure{VersionReadError::NoVersionBlock};
        return *first;
    };
    auto subdirectory = [&](std::uint32_t data) {
        if (!(data & 0x80000000u))
            throw Failure{VersionReadError::Damaged};
        return base + (data & 0x7FFFFFFFu);
    };
    const std::uint64_t types = base;
    const std::uint64_t names = subdirectory(entry(types, 16)); // RT_VERSION
    const std::uint32_t firstName = entry(names, 1);            // VS_VERSION_INFO is resource 1
    const std::uint64_t languages = subdirectory(firstName);
    const std::uint32_t leaf = entry(languages, -1);
    if (leaf & 0x80000000u)
        throw Failure{VersionReadError::Damaged};
    std::uint32_t dataRva = 0, dataSize = 0;
    if (!f.u32(base + leaf, dataRva) || !f.u32(base + leaf + 4, dataSize))
        throw Failure{VersionReadError::Damaged};
    return readBytes(f, fileOffset(dataRva), dataSize);
}

// ---- ELF: the section the build fills with the block
std::vector<std::uint8_t> elfBlock(const FileReader& f) {
    unsigned char ident[6];
    if (!f.read(0, ident, sizeof ident))
        throw Failure{VersionReadError::NotAModule};
    const bool wide = ident[4] == 2;
    const bool big = ident[5] == 2;
    if ((ident[4] != 1 && ident[4] != 2) || (ident[5] != 1 && ident[5] != 2))
        throw Failure{VersionReadError::Damaged};

    std::uint64_t tableOffset = 0;
    std::uint16_t entrySize = 0, count = 0, namesIndex = 0;
    bool ok;
    if (wide) {
        ok = f.u64(0x28, tableOffset, big) && f.u16(0x3A, entrySize, big) &&
             f.u16(0x3C, count, big) && f.u16(0x3E, namesIndex, big);
    } else {
        std::uint32_t off32 = 0;
        ok = f.u32(0x20, off32, big) && f.u16(0x2E, entrySize, big) && f.u16(0x30, count, big) &&
             f.u16(0x32, namesIndex, big);
        tableOffset = off32;
    }
    if (!ok || tableOffset == 0 || entrySize < (wide ? 64 : 40))
        throw Failure{VersionReadError::Damaged};

    struct Section {
        std::uint32_t name = 0, type = 0, link = 0;
        std::uint64_t offset = 0, size = 0;
    };
    auto section = [&](std::uint64_t index) {
        Section s;
        const std::uint64_t at = tableOffset + index * entrySize;
        bool good = f.u32(at, s.name, big) && f.u32(at + 4, s.type, big);
        if (wide) {
            good = good && f.u64(at + 0x18, s.offset, big) && f.u64(at + 0x20, s.size, big) &&
                   f.u32(at + 0x28, s.link, big);
        } else {
            std::uint32_t o = 0, z = 0;
            good = good && f.u32(at + 0x10, o, big) && f.u32(at + 0x14, z, big) &&
                   f.u32(at + 0x18, s.link, big);
            s.offset = o;
            s.size = z;
        }
        if (!good)
            throw Failure{VersionReadError::Damaged};
        return s;
    };
    // Very many sections, or their names' section beyond the 16-bit field,
    // are kept in section 0.
    std::uint64_t sectionCount = count;
    std::uint64_t namesSection = namesIndex;
    if (count == 0 || namesIndex == 0xFFFF) {
        const Section zero = section(0);
        if (count == 0)
            sectionCount = zero.size;
        if (namesIndex == 0xFFFF)
            namesSection = zero.link;
    }
    if (sectionCount == 0 || sectionCount > 65536 * 4 || namesSection >= sectionCount)
        throw Failure{VersionReadError::Damaged};
    const Section names = section(namesSection);

    const std::size_t nameLength = sizeof kVersionSectionName; // with its NUL
    for (std::uint64_t i = 0; i < sectionCount; ++i) {
        const Section s = section(i);
        char name[sizeof kVersionSectionName] = {};
        if (s.name >= names.size || names.size - s.name < nameLength ||
            !f.read(names.offset + s.name, name, nameLength))
            continue;
        if (std::memcmp(name, kVersionSectionName, nameLength) != 0)
            continue;
        if (s.type == 8) // SHT_NOBITS: named, but holds nothing
            throw Failure{VersionReadError::Damaged};
        return readBytes(f, s.offset, s.size);
    }
    throw Failure{VersionReadError::NoVersionBlock};
}

std::wstring widen(const char* text) {
    std::wstring out;
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    while (*s) {
        std::uint32_t cp = *s;
        int n = 0;
        if (cp >= 0xF0 && cp < 0xF8) {
            cp &= 0x07;
            n = 3;
        } else if (cp >= 0xE0) {
            cp &= 0x0F;
            n = 2;
        } else if (cp >= 0xC0) {
            cp &= 0x1F;
            n = 1;
        } else if (cp >= 0x80) {
            cp = 0xFFFD;
        }
        ++s;
        for (int k = 0; k < n; ++k, ++s) {
            if ((*s & 0xC0) != 0x80) {
                cp = 0xFFFD;
                break;
            }
            cp = (cp << 6) | (*s & 0x3F);
        }
        out += static_cast<wchar_t>(cp);
    }
    return out;
}

std::string narrow(const wchar_t* text) {
    std::string out;
    for (; text && *text; ++text) {
        const auto cp = static_cast<std::uint32_t>(*text);
        platform::appendUtf8(out, cp);
    }
    return out;
}

std::uint16_t le16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return std::uint32_t{le16(b, at)} | (std::uint32_t{le16(b, at + 2)} << 16);
}

} // namespace

std::vector<std::uint8_t> readVersionBlock(const std::string& path, int& errnoValue,
                                           VersionReadError& error) {
    errnoValue = 0;
    error = VersionReadError::None;
    const FileReader file(path);
    if (!file.ok()) {
        errnoValue = file.error();
        return {};
    }
    unsigned char magic[4] = {};
    try {
        if (!file.read(0, magic, 4))
            throw Failure{VersionReadError::NotAModule};
        if (magic[0] == 'M' && magic[1] == 'Z')
            return peBlock(file);
        if (magic[0] == 0x7F && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F')
            return elfBlock(file);
        throw Failure{VersionReadError::NotAModule};
    } catch (const Failure& failure) {
        error = failure.error;
        return {};
    }
}

BOOL CFileVersion::GetVersion(const char* path, int* major, int* minor, int* build) {
    const std::wstring widePath = widen(path ? path : "");
    int err = 0;
    VersionReadError error = VersionReadError::None;
    std::vector<std::uint8_t> block;
    if (path && *path)
        block = readVersionBlock(path, err, error);
    else
        err = ENOENT;

    // The fixed part follows the key "VS_VERSION_INFO" at the next 4-byte boundary.
    VS_FIXEDFILEINFO info{};
    if (!block.empty()) {
        const std::size_t length = std::min<std::size_t>(le16(block, 0), block.size());
        std::size_t keyLength = 0;
        while (6 + 2 * keyLength + 1 < length && le16(block, 6 + 2 * keyLength) != 0)
            ++keyLength;
        const std::size_t fixed = (2 * keyLength + 11) & ~std::size_t{3};
        if (6 + 2 * keyLength + 1 >= length) {
            error = VersionReadError::Damaged;
        } else if (le16(block, 2) == 0) {
            // No fixed part: nothing trustworthy to read where it would be.
            error = VersionReadError::NoFixedPart;
        } else if (fixed + sizeof(VS_FIXEDFILEINFO) > length ||
                   le32(block, fixed) != kFixedFileInfoSignature) {
            error = VersionReadError::Damaged;
        } else {
            DWORD* fields = &info.dwSignature;
            for (std::size_t i = 0; i < sizeof(VS_FIXEDFILEINFO) / 4; ++i)
                fields[i] = le32(block, fixed + 4 * i);
        }
    }
    if (block.empty() || error != VersionReadError::None) {
        t_lastError = error;
        t_lastErrno = err;
        ReportAccessError(widePath.c_str());
        return 0;
    }
    DumpFixedInfo(info);
    if (major)
        *major = static_cast<int>(info.dwFileVersionMS >> 16);
    if (minor)
        *minor = static_cast<int>(info.dwFileVersionMS & 0xFFFF);
    if (build)
        *build = static_cast<int>(info.dwFileVersionLS >> 16);
    return 1;
}

int CFileVersion::ReportAccessError(const wchar_t* path) {
    std::string reason;
    switch (t_lastError) {
    case VersionReadError::NotAModule:
        reason = "The file is neither a program nor a library.";
        break;
    case VersionReadError::NoVersionBlock:
        reason = "The file has no version information.";
        break;
    case VersionReadError::Damaged:
        reason = "The version information of the file is damaged.";
        break;
    case VersionReadError::NoFixedPart:
        reason = "The version information of the file has no fixed part.";
        break;
    case VersionReadError::None:
        reason = std::strerror(t_lastErrno ? t_lastErrno : errno);
        break;
    }
    t_lastError = VersionReadError::None;
    t_lastErrno = 0;
    std::printf("Unable to access file \"%s\" : %s\n", narrow(path).c_str(), reason.c_str());
    std::fflush(stdout);
    return 0;
}

void CFileVersion::DumpFixedInfo(const VS_FIXEDFILEINFO& info) {
    std::printf("  Signature:       %08x\n", info.dwSignature);
    std::printf("  StrucVersion:    %d.%d\n", static_cast<int>(info.dwStrucVersion >> 16),
                static_cast<int>(info.dwStrucVersion & 0xFFFF));
    std::printf("  FileVersion:     %d.%d.%d.%d\n", static_cast<int>(info.dwFileVersionMS >> 16),
                static_cast<int>(info.dwFileVersionMS & 0xFFFF),
                static_cast<int>(info.dwFileVersionLS >> 16),
                static_cast<int>(info.dwFileVersionLS & 0xFFFF));
    std::printf("  ProductVersion:  %d.%d.%d.%d\n", static_cast<int>(info.dwProductVersionMS >> 16),
                static_cast<int>(info.dwProductVersionMS & 0xFFFF),
                static_cast<int>(info.dwProductVersionLS >> 16),
                static_cast<int>(info.dwProductVersionLS & 0xFFFF));
    std::printf("  FileFlagsMask:   %s%x\n", info.dwFileFlagsMask ? "0x" : "",
                info.dwFileFlagsMask);
    if (info.dwFileFlags)
        std::printf("  FileFlags:       0x%x (%s)\n", info.dwFileFlags,
                    FlagsText(info.dwFileFlags));
    else
        std::printf("  FileFlags:       0\n");
    std::printf("  FileOS:          %s\n", OsName(info.dwFileOS));
    // SubtypeText formats into its buffer: take the type's text first.
    const char* type = TypeName(info.dwFileType);
    std::printf("  FileType:        %s%s\n", type,
                SubtypeText(info.dwFileType, info.dwFileSubtype));
    std::printf("  FileDate:        %x.%x\n", info.dwFileDateMS, info.dwFileDateLS);
    std::fflush(stdout);
}

const char* CFileVersion::FlagsText(DWORD flags) {
    thread_local char buffer[256];
    buffer[0] = '\0';
    if (flags & ~DWORD{0x3F})
        std::snprintf(buffer, sizeof buffer, "0x%x", flags & ~DWORD{0x3F});
    static constexpr const char* kNames[] = {"VS_FF_DEBUG",        "VS_FF_PRERELEASE",
                                             "VS_FF_PATCHED",      "VS_FF_PRIVATEBUILD",
                                             "VS_FF_INFOINFERRED", "VS_FF_SPECIALBUILD"};
    for (int bit = 0; bit < 6; ++bit) {
        if (!(flags & (DWORD{1} << bit)))
            continue;
        if (buffer[0])
            std::strncat(buffer, " | ", sizeof buffer - std::strlen(buffer) - 1);
        std::strncat(buffer, kNames[bit], sizeof buffer - std::strlen(buffer) - 1);
    }
    return buffer[0] ? buffer : "0";
}

const char* CFileVersion::OsName(DWORD os) {
    switch (os) {
    case 0x0:
        return "VOS_UNKNOWN";
    case 0x1:
        return "VOS__WINDOWS16";
    case 0x2:
        return "VOS__PM16";
    case 0x3:
        return "VOS__PM32";
    case 0x4:
        return "VOS__WINDOWS32";
    case 0x10000:
        return "VOS_DOS";
    case 0x10001:
        return "VOS_DOS_WINDOWS16";
    case 0x10004:
        return "VOS_DOS_WINDOWS32";
    case 0x20000:
        return "VOS_OS216";
    case 0x20002:
        return "VOS_OS216_PM16";
    case 0x30000:
        return "VOS_OS232";
    case 0x30003:
        return "VOS_OS232_PM32";
    case 0x40000:
        return "VOS_NT";
    case 0x40004:
        return "VOS_NT_WINDOWS32";
    default:
        return "Unknown FileOS";
    }
}

const char* CFileVersion::TypeName(DWORD type) {
    switch (type) {
    case 0:
        return "VFT_UNKNOWN";
    case 1:
        return "VFT_APP";
    case 2:
        return "VFT_DLL";
    case 3:
        return "VFT_DRV";
    case 4:
        return "VFT_FONT";
    case 5:
        return "VFT_VXD";
    case 7:
        return "VFT_STATIC_LIB";
    default:
        return "Unknown FileType";
    }
}

const char* CFileVersion::SubtypeText(DWORD type, DWORD subtype) {
    thread_local char buffer[64];
    static constexpr const char* kDrivers[] = {
        "FileSubtype: VFT2_UNKNOWN",         "FileSubtype: VFT2_DRV_PRINTER",
        "FileSubtype: VFT2_DRV_KEYBOARD",    "FileSubtype: VFT2_DRV_LANGUAGE",
        "FileSubtype: VFT2_DRV_DISPLAY",     "FileSubtype: VFT2_DRV_MOUSE",
        "FileSubtype: VFT2_DRV_NETWORK",     "FileSubtype: VFT2_DRV_SYSTEM",
        "FileSubtype: VFT2_DRV_INSTALLABLE", "FileSubtype: VFT2_DRV_SOUND",
        "FileSubtype: VFT2_DRV_COMM",        "FileSubtype: VFT2_DRV_INPUTMETHOD"};
    static constexpr const char* kFonts[] = {"FileSubtype: VFT2_FONT_RASTER",
                                             "FileSubtype: VFT2_FONT_VECTOR",
                                             "FileSubtype: VFT2_FONT_TRUETYPE"};
    if (type == 3) {
        if (subtype < std::size(kDrivers))
            return kDrivers[subtype];
        std::snprintf(buffer, sizeof buffer, "Unknown FileSubtype: %x", subtype);
        return buffer;
    }
    if (type == 4) {
        if (subtype >= 1 && subtype <= 3)
            return kFonts[subtype - 1];
        std::snprintf(buffer, sizeof buffer, "Unknown FileSubtype: %x", subtype);
        return buffer;
    }
    if (subtype == 0)
        return "";
    std::snprintf(buffer, sizeof buffer, ", FileSubtype: %x", subtype);
    return buffer;
}

std::string CFileVersion::ownModulePath() {
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

} // namespace plexavo
