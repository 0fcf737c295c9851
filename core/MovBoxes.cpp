#include "MovBoxes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plexavo::core {
namespace {

constexpr std::uint8_t kTrackEnabled = 0x01;
// A muxer writes the index in one piece of a few megabytes at most; more is no index of ours.
constexpr std::uint64_t kMaxIndexBytes = 64ull << 20;
// What is moved at a time to make room for a larger index.
constexpr std::uint64_t kMoveBytes = 1ull << 20;
constexpr std::uint64_t kMax32 = 0xFFFFFFFFull;

std::uint64_t bigEndian(std::string_view bytes) {
    std::uint64_t v = 0;
    for (const char c : bytes)
        v = v << 8 | static_cast<unsigned char>(c);
    return v;
}

std::string bigEndianBytes(std::uint64_t v, int bytes) {
    std::string out(static_cast<std::size_t>(bytes), '\0');
    for (int i = bytes - 1; i >= 0; --i, v >>= 8)
        out[static_cast<std::size_t>(i)] = static_cast<char>(v & 0xFF);
    return out;
}

void putBigEndian(std::string& data, std::size_t at, std::uint64_t v, int bytes) {
    data.replace(at, static_cast<std::size_t>(bytes), bigEndianBytes(v, bytes));
}

struct Box {
    std::string type;
    std::size_t start = 0; // where its header begins
    std::size_t body = 0;  // where the contents begin
    std::size_t end = 0;   // where the box ends
};

// The boxes directly inside [begin, end) of data, up to the first that does not fit.
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
        boxes.push_back({std::string(data.substr(pos + 4, 4)), pos, pos + header,
                         pos + static_cast<std::size_t>(size)});
        pos += static_cast<std::size_t>(size);
    }
    return boxes;
}

// The boxes inside [begin, end) when they fill it exactly, but for the four zero bytes that
// may close a QuickTime atom list; listEnd: where the last box ends. Nothing for anything else,
// which a change could not keep intact.
std::optional<std::vector<Box>> exactChildren(std::string_view data, std::size_t begin,
                                              std::size_t end, std::size_t* listEnd = nullptr) {
    std::vector<Box> boxes = childrenOf(data, begin, end);
    const std::size_t last = boxes.empty() ? begin : boxes.back().end;
    if (last != end && !(end - last == 4 && bigEndian(data.substr(last, 4)) == 0))
        return std::nullopt;
    if (listEnd)
        *listEnd = last;
    return boxes;
}

// Whether there is at most one box of the type; found: that one.
bool atMostOne(const std::vector<Box>& boxes, std::string_view type, std::optional<Box>& found) {
    found.reset();
    for (const Box& b : boxes) {
        if (b.type != type)
            continue;
        if (found)
            return false;
        found = b;
    }
    return true;
}

std::string makeBox(std::string_view type, std::string_view body) {
    return bigEndianBytes(body.size() + 8, 4) + std::string(type) + std::string(body);
}

std::string coverItem(std::string_view picture, CoverFormat format) {
    // The data box: its type (version 0, then the well-known type), a locale of 0, the bytes.
    return makeBox("covr", makeBox("data", bigEndianBytes(static_cast<std::uint8_t>(format), 4) +
                                               bigEndianBytes(0, 4) + std::string(picture)));
}

// A metadata box in the iTunes form: a full box with the "mdir" handler, then the tag list.
std::string itunesMeta(std::string_view ilst) {
    const std::string hdlr = makeBox("hdlr", bigEndianBytes(0, 8) + "mdirappl" +
                                                 bigEndianBytes(0, 8) + std::string(1, '\0'));
    return makeBox("meta", bigEndianBytes(0, 4) + hdlr + std::string(ilst));
}

std::string printable(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
            c = '?';
    return out;
}

// Moves the chunk offsets of a track that point past the index (at [moovAt, moovEnd) in the
// file) by grow bytes. False, with the reason, for a track it cannot read or move.
bool moveChunkOffsets(std::string& moov, const Box& trak, std::uint64_t moovAt,
                      std::uint64_t moovEnd, std::uint64_t grow, std::string& why) {
    std::vector<Box> level{trak};
    for (const std::string_view type : {"mdia", "minf", "stbl"}) {
        std::vector<Box> next;
        for (const Box& b : level) {
            const auto inside = exactChildren(moov, b.body, b.end);
            if (!inside) {
                why = "a track's boxes cannot be read";
                return false;
            }
            for (const Box& c : *inside)
                if (c.type == type)
                    next.push_back(c);
        }
        level = std::move(next);
    }
    for (const Box& stbl : level) {
        const auto tables = exactChildren(moov, stbl.body, stbl.end);
        if (!tables) {
            why = "a track's sample table cannot be read";
            return false;
        }
        for (const Box& t : *tables) {
            if (t.type != "stco" && t.type != "co64")
                continue;
            const int width = t.type == "stco" ? 4 : 8;
            // Version and flags, the entry count, then the offsets.
            const std::uint64_t count =
                t.end - t.body >= 8 ? bigEndian(std::string_view(moov).substr(t.body + 4, 4)) : 0;
            if (t.end - t.body < 8 || count > (t.end - t.body - 8) / width) {
                why = "a chunk offset table is cut short";
                return false;
            }
            for (std::uint64_t i = 0; i < count; ++i) {
                const std::size_t at = t.body + 8 + static_cast<std::size_t>(i) * width;
                std::uint64_t offset =
                    bigEndian(std::string_view(moov).substr(at, static_cast<std::size_t>(width)));
                if (offset >= moovAt && offset < moovEnd) {
                    why = "a chunk of media lies inside the index";
                    return false;
                }
                if (offset < moovEnd)
                    continue;
                offset += grow;
                if (width == 4 && offset > kMax32) {
                    why = "the chunk offsets would outgrow their 32 bits";
                    return false;
                }
                putBigEndian(moov, at, offset, width);
            }
        }
    }
    return true;
}

struct Index {
    std::uint64_t at = 0;
    std::string bytes; // the whole moov box
};

// The file's index: the first top-level "moov" box. Nothing when the boxes before it or its
// size cannot be read.
std::optional<Index> readIndex(int fd, std::uint64_t fileSize) {
    for (std::uint64_t pos = 0; pos + 8 <= fileSize;) {
        char head[16];
        if (::pread(fd, head, sizeof head, static_cast<off_t>(pos)) < 8)
            return std::nullopt;
        std::uint64_t size = bigEndian({head, 4});
        if (size == 1)
            size = bigEndian({head + 8, 8});
        else if (size == 0)
            size = fileSize - pos;
        if (size < 8 || size > fileSize - pos)
            return std::nullopt;
        if (std::string_view(head + 4, 4) != "moov") {
            pos += size;
            continue;
        }
        if (size > kMaxIndexBytes)
            return std::nullopt;
        Index index{pos, std::string(static_cast<std::size_t>(size), '\0')};
        if (::pread(fd, index.bytes.data(), index.bytes.size(), static_cast<off_t>(pos)) !=
            static_cast<ssize_t>(index.bytes.size()))
            return std::nullopt;
        return index;
    }
    return std::nullopt;
}

bool readFully(int fd, char* data, std::uint64_t n, std::uint64_t at) {
    while (n > 0) {
        const ssize_t got = ::pread(fd, data, n, static_cast<off_t>(at));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got == 0)
                errno = EIO; // the file ended early
            return false;
        }
        data += got;
        n -= static_cast<std::uint64_t>(got);
        at += static_cast<std::uint64_t>(got);
    }
    return true;
}

bool writeFully(int fd, const char* data, std::uint64_t n, std::uint64_t at) {
    while (n > 0) {
        const ssize_t put = ::pwrite(fd, data, n, static_cast<off_t>(at));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            if (put == 0)
                errno = EIO;
            return false;
        }
        data += put;
        n -= static_cast<std::uint64_t>(put);
        at += static_cast<std::uint64_t>(put);
    }
    return true;
}

std::nullopt_t failed(std::string& why, std::string reason) {
    why = std::move(reason);
    return std::nullopt;
}

bool refuse(std::string& why, std::string reason) {
    why = std::move(reason);
    return false;
}

// Where the cover goes into an index: the bytes added, the offset they go in at, and the
// boxes that hold them (each grows by their size).
struct CoverPlace {
    std::string added;
    std::size_t insertAt = 0;
    std::vector<Box> enclosing;
    bool alreadyThere = false;
};

// Into an existing metadata box: its tag list, or a new list of its own.
bool placeInMeta(std::string_view moov, const Box& meta, const std::string& item, CoverPlace& place,
                 std::string& why) {
    place.enclosing.push_back(meta);
    // An ISO full box opens with its version and flags (all 0); a QuickTime atom
    // directly with its children.
    const std::size_t first = meta.end - meta.body >= 4 && bigEndian(moov.substr(meta.body, 4)) == 0
                                  ? meta.body + 4
                                  : meta.body;
    const auto inMeta = exactChildren(moov, first, meta.end, &place.insertAt);
    std::optional<Box> hdlr, ilst;
    if (!inMeta || !atMostOne(*inMeta, "hdlr", hdlr) || !atMostOne(*inMeta, "ilst", ilst) ||
        !hdlr || hdlr->end - hdlr->body < 12)
        return refuse(why, "the metadata box cannot be read");
    // Version and flags, pre_defined, then the handler type.
    const std::string_view handler = moov.substr(hdlr->body + 8, 4);
    if (handler != "mdir")
        return refuse(why, "the tags are kept in a form that holds no cover (handler '" +
                               printable(handler) + "')");
    if (!ilst) {
        place.added = makeBox("ilst", item);
        return true;
    }
    place.enclosing.push_back(*ilst);
    const auto items = exactChildren(moov, ilst->body, ilst->end, &place.insertAt);
    if (!items)
        return refuse(why, "the tag list cannot be read");
    for (const Box& b : *items)
        if (b.type == "covr") {
            place.alreadyThere = true;
            return true;
        }
    place.added = item;
    return true;
}

// The boxes a cover needs that the index lacks are made around it: user data, metadata, list.
bool placeCover(std::string_view moov, const std::vector<Box>& inMoov, const std::string& item,
                CoverPlace& place, std::string& why) {
    std::optional<Box> udta;
    if (!atMostOne(inMoov, "udta", udta))
        return refuse(why, "the index has more than one user data box");
    if (!udta) {
        place.added = makeBox("udta", itunesMeta(makeBox("ilst", item)));
        return true;
    }
    place.enclosing.push_back(*udta);
    const auto inUdta = exactChildren(moov, udta->body, udta->end, &place.insertAt);
    std::optional<Box> meta;
    if (!inUdta || !atMostOne(*inUdta, "meta", meta))
        return refuse(why, "the user data cannot be read");
    if (!meta) {
        place.added = itunesMeta(makeBox("ilst", item));
        return true;
    }
    return placeInMeta(moov, *meta, item, place, why);
}

std::optional<std::string> grownIndex(std::string_view moov, std::uint64_t moovAt,
                                      const std::vector<Box>& inMoov, const CoverPlace& place,
                                      std::string& why) {
    std::string out(moov);
    const std::uint64_t moovEnd = moovAt + moov.size();
    const std::size_t grows = place.added.size();
    for (const Box& trak : inMoov)
        if (trak.type == "trak" && !moveChunkOffsets(out, trak, moovAt, moovEnd, grows, why))
            return std::nullopt;
    // Every enclosing box begins before the new one, so its size field stays where it is.
    for (const Box& b : place.enclosing) {
        const std::uint64_t size = b.end - b.start + grows;
        if (b.body - b.start == 16)
            putBigEndian(out, b.start + 8, size, 8);
        else if (size <= kMax32)
            putBigEndian(out, b.start, size, 4);
        else
            return failed(why, "the index would outgrow its 32-bit size");
    }
    out.insert(place.insertAt, place.added);
    return out;
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
    const std::optional<Index> index = readIndex(fd, static_cast<std::uint64_t>(st.st_size));
    if (!index)
        return false;
    for (const std::size_t at : subtitleTrackFlags(index->bytes)) {
        const char flags = static_cast<char>(index->bytes[at] & ~kTrackEnabled);
        if (::pwrite(fd, &flags, 1, static_cast<off_t>(index->at + at)) != 1)
            return false;
    }
    return true;
}

std::optional<std::string> moovWithCover(std::string_view moov, std::uint64_t moovAt,
                                         std::string_view picture, CoverFormat format,
                                         std::string& why) {
    if (picture.empty() || moov.size() + picture.size() > kMaxIndexBytes)
        return failed(why, "the picture is too large for the index");
    const auto top = exactChildren(moov, 0, moov.size());
    if (!top || top->size() != 1 || top->front().type != "moov")
        return failed(why, "the index cannot be read");
    const Box root = top->front();
    CoverPlace place;
    place.enclosing.push_back(root);
    const auto inMoov = exactChildren(moov, root.body, root.end, &place.insertAt);
    if (!inMoov)
        return failed(why, "the index cannot be read");
    if (!placeCover(moov, *inMoov, coverItem(picture, format), place, why))
        return std::nullopt;
    if (place.alreadyThere)
        return std::string(moov); // the muxer wrote one after all
    return grownIndex(moov, moovAt, *inMoov, place, why);
}

CoverWrite addCover(int fd, std::string_view picture, CoverFormat format, std::string& why) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = "the file cannot be read back";
        return CoverWrite::LeftAsIs;
    }
    const auto fileSize = static_cast<std::uint64_t>(st.st_size);
    const std::optional<Index> index = readIndex(fd, fileSize);
    if (!index) {
        why = "the file's index cannot be found";
        return CoverWrite::LeftAsIs;
    }
    const std::optional<std::string> moov =
        moovWithCover(index->bytes, index->at, picture, format, why);
    if (!moov)
        return CoverWrite::LeftAsIs;
    const std::uint64_t grow = moov->size() - index->bytes.size();
    if (grow == 0)
        return CoverWrite::Added;

    // The room is taken first: a full disk then leaves the file as it was.
    if (const int err =
            ::posix_fallocate(fd, static_cast<off_t>(fileSize), static_cast<off_t>(grow));
        err != 0) {
        why = std::string("no room for it: ") + std::strerror(err);
        if (::ftruncate(fd, static_cast<off_t>(fileSize)) != 0) {
            why += "; the file cannot be cut back to its size";
            return CoverWrite::Damaged;
        }
        return CoverWrite::LeftAsIs;
    }
    // What follows the index moves from the end backwards, each piece read before its place
    // is written over.
    const std::uint64_t moovEnd = index->at + index->bytes.size();
    std::vector<char> piece(static_cast<std::size_t>(std::min(kMoveBytes, fileSize - moovEnd)));
    for (std::uint64_t end = fileSize; end > moovEnd;) {
        const std::uint64_t n = std::min(kMoveBytes, end - moovEnd);
        if (!readFully(fd, piece.data(), n, end - n) ||
            !writeFully(fd, piece.data(), n, end - n + grow)) {
            why = std::string("moving the media failed: ") + std::strerror(errno);
            return CoverWrite::Damaged;
        }
        end -= n;
    }
    if (!writeFully(fd, moov->data(), moov->size(), index->at)) {
        why = std::string("writing the index failed: ") + std::strerror(errno);
        return CoverWrite::Damaged;
    }
    return CoverWrite::Added;
}

} // namespace plexavo::core
