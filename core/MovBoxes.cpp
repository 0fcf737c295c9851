#include "MovBoxes.h"

#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace plex {
namespace {

constexpr std::uint8_t kTrackEnabled = 0x01;
// A muxer writes the index in one piece of a few megabytes at most; more is no index of ours.
constexpr std::uint64_t kMaxIndexBytes = 64ull << 20;

std::uint64_t bigEndian(std::string_view bytes) {
    std::uint64_t v = 0;
    for (const char c : bytes)
        v = v << 8 | static_cast<unsigned char>(c);
    return v;
}

struct Box {
    std::string_view type;
    std::size_t body = 0; // where the contents begin
    std::size_t end = 0;  // where the box ends
};

// The boxes directly inside [begin, end) of data.
std::vector<Box> childrenOf(std::string_view data, std::size_t begin, std::size_t end) {
    std::vector<Box> boxes;
    for (std::size_t pos = begin; pos + 8 <= end;) {
        std::uint64_t size = bigEndian(data.substr(pos, 4));
        std::size_t header = 8;
        if (size == 1) {
            if (pos + 16 > end)
                break;
            size = bigEndian(data.substr(pos + 8, 8));
            header = 16;
        } else if (size == 0) {
            size = end - pos;
        }
        if (size < header || size > end - pos)
            break;
        boxes.push_back(
            {data.substr(pos + 4, 4), pos + header, pos + static_cast<std::size_t>(size)});
        pos += static_cast<std::size_t>(size);
    }
    return boxes;
}

} // namespace

std::vector<std::size_t> subtitleTrackFlags(std::string_view moov) {
    std::vector<std::size_t> flags;
    const std::vector<Box> top = childrenOf(moov, 0, moov.size());
    if (top.size() != 1 || top[0].type != "moov")
        return flags;
    for (const Box& trak : childrenOf(moov, top[0].body, top[0].end)) {
        if (trak.type != "trak")
            continue;
        std::size_t flagByte = 0;
        bool subtitle = false;
        for (const Box& b : childrenOf(moov, trak.body, trak.end)) {
            // version (1 byte) and flags (3 bytes) open the track header.
            if (b.type == "tkhd" && b.end - b.body >= 4)
                flagByte = b.body + 3;
            if (b.type != "mdia")
                continue;
            for (const Box& h : childrenOf(moov, b.body, b.end))
                // version and flags, pre_defined, then the handler type.
                if (h.type == "hdlr" && h.end - h.body >= 12 &&
                    moov.substr(h.body + 8, 4) == "sbtl")
                    subtitle = true;
        }
        if (subtitle && flagByte > 0)
            flags.push_back(flagByte);
    }
    return flags;
}

bool turnOffSubtitleTracks(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    const auto fileSize = static_cast<std::uint64_t>(st.st_size);
    for (std::uint64_t pos = 0; pos + 8 <= fileSize;) {
        char head[16];
        if (::pread(fd, head, sizeof head, static_cast<off_t>(pos)) < 8)
            return false;
        std::uint64_t size = bigEndian({head, 4});
        if (size == 1)
            size = bigEndian({head + 8, 8});
        else if (size == 0)
            size = fileSize - pos;
        if (size < 8 || size > fileSize - pos)
            return false;
        if (std::string_view(head + 4, 4) != "moov") {
            pos += size;
            continue;
        }
        if (size > kMaxIndexBytes)
            return false;
        std::string moov(static_cast<std::size_t>(size), '\0');
        if (::pread(fd, moov.data(), moov.size(), static_cast<off_t>(pos)) !=
            static_cast<ssize_t>(moov.size()))
            return false;
        for (const std::size_t at : subtitleTrackFlags(moov)) {
            const char flags = static_cast<char>(moov[at] & ~kTrackEnabled);
            if (::pwrite(fd, &flags, 1, static_cast<off_t>(pos + at)) != 1)
                return false;
        }
        return true;
    }
    return false;
}

} // namespace plex
