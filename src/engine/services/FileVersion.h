// Reads the file version from a module's VS_VERSION_INFO block: from the
// version resource of a PE file (.exe, .dll), or from the ".plexavo_version"
// section of an ELF file, where the build puts the same block into `plexavo`.
//
// Usage (About box, on the program itself):
//   int major = 0, minor = 0, build = 0;
//   CFileVersion().GetVersion(CFileVersion::ownModulePath().c_str(), &major, &minor, &build);
//
// A successful read also prints the fixed information to standard output, a
// failed one prints why; a windowed program has no console, so only a
// terminal that started it sees either.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plexavo {

using DWORD = std::uint32_t;
// 1 for true, 0 for false (no TRUE/FALSE here: GLib defines them as macros).
using BOOL = int;

struct VS_FIXEDFILEINFO {
    DWORD dwSignature; // 0xFEEF04BD
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
};
static_assert(sizeof(VS_FIXEDFILEINFO) == 52);

inline constexpr DWORD kFixedFileInfoSignature = 0xFEEF04BD;
inline constexpr char kVersionSectionName[] = ".plexavo_version";

class CFileVersion {
  public:
    virtual ~CFileVersion() = default;

    // 1 and the first three parts of the file version; 0 with the
    // outputs untouched when the file is missing, is neither PE nor ELF, has
    // no version block, or its block has no fixed part or is damaged.
    BOOL GetVersion(const char* path, int* major, int* minor, int* build);

    void DumpFixedInfo(const VS_FIXEDFILEINFO& info);

    // FlagsText and a formatted SubtypeText live in per-thread buffers that
    // the next call on the same thread overwrites.
    const char* FlagsText(DWORD flags);
    const char* OsName(DWORD os);
    const char* TypeName(DWORD type);
    const char* SubtypeText(DWORD type, DWORD subtype);

    // Prints "Unable to access file "<path>" : <reason>" for the last failure
    // of this thread's GetVersion (or errno); returns 0.
    int ReportAccessError(const wchar_t* path);

    // The running program's own file (/proc/self/exe).
    static std::string ownModulePath();
};

// Failures GetVersion records for ReportAccessError, beyond the errno values
// of opening and reading the file.
enum class VersionReadError { None, NotAModule, NoVersionBlock, Damaged, NoFixedPart };

// The raw version block of a PE or ELF file; empty with `error` set when there is none.
std::vector<std::uint8_t> readVersionBlock(const std::string& path, int& errnoValue,
                                           VersionReadError& error);

} // namespace plexavo
