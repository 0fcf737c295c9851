// The cover art added to a finished QuickTime file: where the item goes among the tags the
// muxer wrote, the sizes and chunk offsets that change with it, and the files it must leave
// as they were. Boxes are made here by hand; no media is made.
#include "MovBoxes.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <random>
#include <unistd.h>

using namespace plexavo::core;
using testing_support::TempDir;

namespace {

std::string bytes(std::uint64_t v, int n) {
    std::string out(static_cast<std::size_t>(n), '\0');
    for (int i = n - 1; i >= 0; --i, v >>= 8)
        out[static_cast<std::size_t>(i)] = static_cast<char>(v & 0xFF);
    return out;
}

std::string box(const std::string& type, const std::string& body) {
    return bytes(body.size() + 8, 4) + type + body;
}

// The same box with a 64-bit size field.
std::string largeBox(const std::string& type, const std::string& body) {
    return bytes(1, 4) + type + bytes(body.size() + 16, 8) + body;
}

const std::string kMvhd = box("mvhd", std::string(100, '\0'));
const std::string kItunesHandler =
    box("hdlr", std::string(8, '\0') + "mdirappl" + std::string(9, '\0'));
const std::string kTitle = box("\xA9nam", bytes(5, 2) + bytes(0, 2) + "Title");

std::string itunesItem(const std::string& type, const std::string& value, int dataType) {
    return box(type,
               box("data", bytes(static_cast<std::uint64_t>(dataType), 4) + bytes(0, 4) + value));
}

std::string cover(const std::string& picture, int dataType = 13) {
    return itunesItem("covr", picture, dataType);
}

std::string itunesMeta(const std::string& items) {
    return box("meta", bytes(0, 4) + kItunesHandler + box("ilst", items));
}

// A track whose sample table lists its chunks at these offsets (stco, or co64 when wide).
std::string mediaTrack(const std::vector<std::uint64_t>& offsets, bool wide = false) {
    std::string table = bytes(0, 4) + bytes(offsets.size(), 4);
    for (const std::uint64_t o : offsets)
        table += bytes(o, wide ? 8 : 4);
    const std::string stbl =
        box("stbl", box("stsd", bytes(0, 8)) + box(wide ? "co64" : "stco", table));
    const std::string hdlr = box("hdlr", std::string(8, '\0') + "vide" + std::string(13, '\0'));
    return box("trak", box("tkhd", std::string(84, '\0')) +
                           box("mdia", box("mdhd", std::string(24, '\0')) + hdlr +
                                           box("minf", box("vmhd", bytes(1, 12)) + stbl)));
}

std::optional<std::string> withCover(const std::string& moov, const std::string& picture,
                                     CoverFormat format = CoverFormat::Jpeg,
                                     std::uint64_t moovAt = 0) {
    std::string why;
    auto out = moovWithCover(moov, moovAt, picture, format, why);
    EXPECT_EQ(out.has_value(), why.empty()) << why;
    return out;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

CoverWrite addCoverToFile(const std::string& path, const std::string& picture, std::string& why) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    const CoverWrite result = addCover(fd, picture, CoverFormat::Jpeg, why);
    ::close(fd);
    return result;
}

} // namespace

// Each shape the user data can have: the item joins what is there, every enclosing size
// follows, and nothing else changes.
TEST(MovCover, JoinsTheTagsInWhateverShapeTheMuxerLeftThem) {
    const std::string pic = "\xFF\xD8 a picture \xFF\xD9";
    const std::string track = mediaTrack({});
    struct Case {
        const char* name;
        std::string udta; // the user data the muxer wrote ("" for none)
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"no user data", "", box("udta", itunesMeta(cover(pic)))},
        {"QuickTime tags", box("udta", kTitle), box("udta", kTitle + itunesMeta(cover(pic)))},
        {"QuickTime tags closed by four zero bytes", box("udta", kTitle + bytes(0, 4)),
         box("udta", kTitle + itunesMeta(cover(pic)) + bytes(0, 4))},
        {"iTunes tags", box("udta", itunesMeta(kTitle)),
         box("udta", itunesMeta(kTitle + cover(pic)))},
        {"an iTunes handler without a tag list",
         box("udta", box("meta", bytes(0, 4) + kItunesHandler)),
         box("udta", box("meta", bytes(0, 4) + kItunesHandler + box("ilst", cover(pic))))},
        {"a metadata atom in the QuickTime form",
         box("udta", box("meta", kItunesHandler + box("ilst", kTitle))),
         box("udta", box("meta", kItunesHandler + box("ilst", kTitle + cover(pic))))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto got = withCover(box("moov", kMvhd + track + c.udta), pic);
        ASSERT_TRUE(got);
        EXPECT_EQ(*got, box("moov", kMvhd + track + c.expected));
    }

    // A PNG is marked as one; a 64-bit size field stays one.
    const auto png =
        withCover(largeBox("moov", kMvhd + box("udta", kTitle)), "png bytes", CoverFormat::Png);
    ASSERT_TRUE(png);
    EXPECT_EQ(*png,
              largeBox("moov", kMvhd + box("udta", kTitle + itunesMeta(cover("png bytes", 14)))));

    // A file that has a cover keeps the one it has.
    const std::string covered = box("moov", kMvhd + box("udta", itunesMeta(cover("old"))));
    EXPECT_EQ(withCover(covered, pic), covered);
}

// With the index before the media, everything after it moves: so do the offsets that point
// there, in 32 and in 64 bits; the media before an index at the end stays where it is.
TEST(MovCover, MovesTheChunkOffsetsPastTheIndexOnly) {
    const std::string pic(300, 'p');
    const std::string added = box("udta", itunesMeta(cover(pic)));
    // Two chunks before the index (at 40 and 100), the others after it, the first of them
    // right at its end.
    const auto moovWith = [](std::uint64_t end, std::uint64_t shift, const std::string& udta) {
        return box("moov", kMvhd +
                               mediaTrack({40, 100, end + 1000 + shift, end + 5000000 + shift}) +
                               mediaTrack({end + shift, (1ull << 33) + shift}, true) + udta);
    };
    const std::uint64_t at = 200;
    const std::uint64_t end = at + moovWith(0, 0, "").size();
    const auto got = withCover(moovWith(end, 0, ""), pic, CoverFormat::Jpeg, at);
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, moovWith(end, added.size(), added));

    // A chunk inside the index is no layout of a muxer's.
    std::string why;
    EXPECT_FALSE(
        moovWithCover(box("moov", kMvhd + mediaTrack({at + 20})), at, pic, CoverFormat::Jpeg, why));
    EXPECT_NE(why.find("inside the index"), std::string::npos) << why;
    // A 32-bit offset that would pass 4 GiB cannot move.
    why.clear();
    EXPECT_FALSE(moovWithCover(box("moov", kMvhd + mediaTrack({0xFFFFFFF0ull})), at, pic,
                               CoverFormat::Jpeg, why));
    EXPECT_NE(why.find("32 bits"), std::string::npos) << why;
}

TEST(MovCover, LeavesWhatItCannotReadAlone) {
    const std::string pic = "picture";
    struct Case {
        const char* name;
        std::string moov;
        const char* reason; // a part of the reason given
    };
    const std::string mdta = box("hdlr", std::string(8, '\0') + "mdta" + std::string(13, '\0'));
    const std::vector<Case> cases = {
        {"QuickTime metadata keys", box("moov", box("udta", box("meta", bytes(0, 4) + mdta))),
         "mdta"},
        {"two user data boxes", box("moov", box("udta", "") + box("udta", "")), "more than one"},
        {"two tag lists",
         box("moov", box("udta", box("meta", bytes(0, 4) + kItunesHandler + box("ilst", "") +
                                                 box("ilst", "")))),
         "metadata"},
        {"a metadata box without a handler", box("moov", box("udta", box("meta", bytes(0, 4)))),
         "metadata"},
        {"bytes after the last tag", box("moov", box("udta", kTitle + "xyz")), "user data"},
        {"a box that runs past its parent",
         box("moov", kMvhd.substr(0, 3) + "\x7F" + kMvhd.substr(4)), "index"},
        {"no index", box("free", ""), "index"},
        {"a track whose table is cut short",
         box("moov",
             box("trak",
                 box("mdia", box("minf", box("stbl", box("stco", bytes(0, 4) + bytes(9, 4))))))),
         "cut short"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string why;
        EXPECT_FALSE(moovWithCover(c.moov, 0, pic, CoverFormat::Jpeg, why));
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    }

    // Any byte changed, any length cut: an answer or a refusal, never a read out of bounds,
    // and an answer is the box with the item added.
    const std::string moov =
        box("moov", kMvhd + mediaTrack({4000, 5000}) + box("udta", itunesMeta(kTitle)));
    std::mt19937 rng(42);
    for (std::size_t i = 0; i < moov.size(); ++i) {
        for (const char value : {'\0', '\x01', '\xFF', static_cast<char>(rng())}) {
            std::string damaged = moov;
            damaged[i] = value;
            std::string why;
            if (const auto out = moovWithCover(damaged, 0, pic, CoverFormat::Jpeg, why)) {
                EXPECT_TRUE(out->size() == damaged.size() ||
                            out->size() >= damaged.size() + cover(pic).size())
                    << i;
            }
        }
        std::string why;
        EXPECT_FALSE(
            moovWithCover(std::string_view(moov).substr(0, i), 0, pic, CoverFormat::Jpeg, why));
    }
}

// The file as the muxer leaves it with the index first: the media, more than one piece of
// what is moved at a time, ends up where the new offsets say.
TEST(MovCover, MakesRoomInAFileWithItsIndexFirst) {
    TempDir dir;
    const std::string path = dir.path() + "/out.mov";
    const std::string pic(5000, 'c');
    std::mt19937 rng(7);
    std::string media(3 * 1024 * 1024 + 123, '\0');
    for (char& c : media)
        c = static_cast<char>(rng());
    const std::string ftyp = box("ftyp", "qt  " + bytes(0x200, 4) + "qt  ");
    const std::string wide = box("wide", "");
    const auto fileWith = [&](const std::string& extra) {
        const std::uint64_t moovSize =
            box("moov", kMvhd + mediaTrack({0, 0, 0}) + box("udta", kTitle + extra)).size();
        const std::uint64_t media0 = ftyp.size() + moovSize + wide.size() + 8;
        // Chunks at the start, the middle and near the end of the media.
        return ftyp +
               box("moov", kMvhd + mediaTrack({media0, media0 + 2000000, media0 + 3000000}) +
                               box("udta", kTitle + extra)) +
               wide + box("mdat", media);
    };
    const std::string before = fileWith("");
    std::ofstream(path, std::ios::binary) << before;
    std::string why;
    ASSERT_EQ(addCoverToFile(path, pic, why), CoverWrite::Added) << why;
    const std::string after = readFile(path);
    EXPECT_EQ(after, fileWith(itunesMeta(cover(pic))));
    // The media byte for byte, at the offsets the index now gives.
    const std::uint64_t mdatBody = after.size() - media.size();
    EXPECT_EQ(after.substr(mdatBody), media);
    EXPECT_EQ(after.substr(mdatBody - 8, 8), bytes(media.size() + 8, 4) + "mdat");
}

TEST(MovCover, AnIndexAtTheEndGrowsInPlaceAndAFileItCannotReadStaysAsItWas) {
    TempDir dir;
    const std::string path = dir.path() + "/out.mov";
    const std::string ftyp = box("ftyp", "qt  " + bytes(0x200, 4) + "qt  ");
    const std::string mdat = box("mdat", std::string(1000, 'm'));
    const auto file = [&](const std::string& udta) {
        return ftyp + box("wide", "") + mdat +
               box("moov", kMvhd + mediaTrack({ftyp.size() + 16, ftyp.size() + 500}) + udta);
    };
    std::ofstream(path, std::ios::binary) << file("");
    std::string why;
    ASSERT_EQ(addCoverToFile(path, "jpeg", why), CoverWrite::Added) << why;
    EXPECT_EQ(readFile(path), file(box("udta", itunesMeta(cover("jpeg")))));

    // Tags in a form that holds no cover, and a file with no index: not a byte changed.
    const std::string mdta = box("hdlr", std::string(8, '\0') + "mdta" + std::string(13, '\0'));
    for (const std::string& content :
         {file(box("udta", box("meta", bytes(0, 4) + mdta))), ftyp + mdat}) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
        why.clear();
        EXPECT_EQ(addCoverToFile(path, "jpeg", why), CoverWrite::LeftAsIs);
        EXPECT_FALSE(why.empty());
        EXPECT_EQ(readFile(path), content);
    }
}
