// Builds a VS_VERSION_INFO block byte for byte as the Windows resource
// compiler lays it out: the fixed information, then StringFileInfo with one
// string table (US English, Unicode) and VarFileInfo with its Translation.
// The build runs this (VersionBlockGen) to embed the block into `plexavo`.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace plexavo {

struct VersionInfo {
    std::uint16_t fileVersion[4] = {0, 0, 0, 0};
    std::uint16_t productVersion[4] = {0, 0, 0, 0};
    std::uint32_t fileFlags = 0;
    std::uint32_t fileOS = 0x40004; // VOS_NT_WINDOWS32, what the readers of such blocks expect
    std::uint32_t fileType = 1;     // VFT_APP
    std::uint32_t fileSubtype = 0;
    // StringFileInfo entries in order ("CompanyName", "Vantrel"), UTF-8.
    std::vector<std::pair<std::string, std::string>> strings;
};

std::vector<std::uint8_t> buildVersionBlock(const VersionInfo& info);

// The C++ source that puts `block` into the ELF section the reader looks in.
std::string versionBlockSource(const std::vector<std::uint8_t>& block);

} // namespace plexavo
