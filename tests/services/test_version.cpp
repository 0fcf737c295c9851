#include "engine/platform/Platform.h"
#include "engine/services/FileVersion.h"
#include "engine/services/VersionBlock.h"

#include "TestSupport.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <random>

using namespace plexavo;
using namespace testing_support;

namespace {

using Bytes = std::vector<std::uint8_t>;

// ---- little byte writers, independent of the code under test
void put16(Bytes& b, std::size_t at, std::uint16_t v, bool big = false) {
    if (b.size() < at + 2)
        b.resize(at + 2);
    b[at + (big ? 1 : 0)] = static_cast<std::uint8_t>(v & 0xFF);
    b[at + (big ? 0 : 1)] = static_cast<std::uint8_t>(v >> 8);
}
void put32(Bytes& b, std::size_t at, std::uint32_t v, bool big = false) {
    put16(b, at + (big ? 2 : 0), static_cast<std::uint16_t>(v & 0xFFFF), big);
    put16(b, at + (big ? 0 : 2), static_cast<std::uint16_t>(v >> 16), big);
}
void put64(Bytes& b, std::size_t at, std::uint64_t v, bool big = false) {
    put32(b, at + (big ? 4 : 0), static_cast<std::uint32_t>(v & 0xFFFFFFFF), big);
    put32(b, at + (big ? 0 : 4), static_cast<std::uint32_t>(v >> 32), big);
}
std::uint16_t get16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
std::uint32_t get32(const Bytes& b, std::size_t at) {
    return get16(b, at) | (std::uint32_t{get16(b, at + 2)} << 16);
}

struct Fixed {
    std::uint32_t fileMS = 0x00010001, fileLS = 0x011E0000; // 1.1.286.0
    std::uint32_t productMS = 0x00020003, productLS = 0x00040005;
    std::uint32_t mask = 0x3F, flags = 0, os = 0x40004, type = 1, subtype = 0;
    std::uint16_t valueLength = 52;
};

// A version block laid out by hand: header, "VS_VERSION_INFO", padding to 40, fixed part.
Bytes handBlock(const Fixed& f) {
    Bytes b;
    put16(b, 2, f.valueLength);
    put16(b, 4, 0);
    const char16_t key[] = u"VS_VERSION_INFO";
    for (std::size_t i = 0; i < 16; ++i)
        put16(b, 6 + 2 * i, key[i]);
    const std::uint32_t fixed[13] = {0xFEEF04BD,  0x00010000, f.fileMS, f.fileLS, f.productMS,
                                     f.productLS, f.mask,     f.flags,  f.os,     f.type,
                                     f.subtype,   0x1D2,      0xABC};
    for (std::size_t i = 0; i < 13; ++i)
        put32(b, 40 + 4 * i, fixed[i]);
    put16(b, 0, static_cast<std::uint16_t>(b.size()));
    return b;
}

// A PE file whose resource section holds `block` as version resource 1,
// language 0x409. With `decoy`, an icon type comes before the version type.
Bytes makePe(const Bytes& block, bool plus, bool decoy = false) {
    Bytes b(0x400, 0);
    b[0] = 'M';
    b[1] = 'Z';
    put32(b, 0x3C, 0x40);
    put32(b, 0x40, 0x00004550);
    const std::size_t coff = 0x44;
    const std::uint16_t optSize = plus ? 240 : 224;
    put16(b, coff, plus ? 0x8664 : 0x14C);
    put16(b, coff + 2, 1);
    put16(b, coff + 16, optSize);
    const std::size_t opt = coff + 20;
    put16(b, opt, plus ? 0x20B : 0x10B);
    put32(b, opt + (plus ? 108 : 92), 16);
    const std::size_t dirs = opt + (plus ? 112 : 96);

    // The resource tree at RVA 0x1000, file offset 0x400.
    Bytes r;
    const std::uint16_t typeCount = decoy ? 2 : 1;
    put16(r, 14, typeCount);
    std::size_t e = 16;
    if (decoy) {
        put32(r, e, 3); // RT_ICON, pointing at nonsense that must not be followed
        put32(r, e + 4, 0x80007FF0);
        e += 8;
    }
    const std::size_t names = 16 + 8 * typeCount;
    put32(r, e, 16);
    put32(r, e + 4, 0x80000000u | static_cast<std::uint32_t>(names));
    put16(r, names + 14, 1);
    put32(r, names + 16, 1);
    const std::size_t langs = names + 24;
    put32(r, names + 20, 0x80000000u | static_cast<std::uint32_t>(langs));
    put16(r, langs + 14, 1);
    put32(r, langs + 16, 0x409);
    const std::size_t data = langs + 24;
    put32(r, langs + 20, static_cast<std::uint32_t>(data));
    const std::size_t blockAt = data + 16;
    put32(r, data, static_cast<std::uint32_t>(0x1000 + blockAt));
    put32(r, data + 4, static_cast<std::uint32_t>(block.size()));
    r.resize(blockAt);
    r.insert(r.end(), block.begin(), block.end());

    put32(b, dirs + 16, 0x1000);
    put32(b, dirs + 20, static_cast<std::uint32_t>(r.size()));
    const std::size_t section = opt + optSize;
    std::memcpy(&b[section], ".rsrc\0\0\0", 8);
    put32(b, section + 8, static_cast<std::uint32_t>(r.size()));
    put32(b, section + 12, 0x1000);
    put32(b, section + 16, static_cast<std::uint32_t>((r.size() + 0x1FF) & ~0x1FFu));
    put32(b, section + 20, 0x400);
    r.resize((r.size() + 0x1FF) & ~0x1FFu);
    b.insert(b.end(), r.begin(), r.end());
    return b;
}

// An ELF file with a name table and the version section holding `block`.
Bytes makeElf(const Bytes& block, bool wide, bool big,
              const char* sectionName = ".plexavo_version") {
    const std::size_t header = wide ? 64 : 52;
    Bytes b(header, 0);
    b[0] = 0x7F;
    b[1] = 'E';
    b[2] = 'L';
    b[3] = 'F';
    b[4] = wide ? 2 : 1;
    b[5] = big ? 2 : 1;
    b[6] = 1;
    const std::string names = std::string("\0.shstrtab\0", 11) + sectionName + '\0';
    const std::size_t namesAt = b.size();
    b.insert(b.end(), names.begin(), names.end());
    while (b.size() % 4)
        b.push_back(0);
    const std::size_t blockAt = b.size();
    b.insert(b.end(), block.begin(), block.end());
    while (b.size() % 8)
        b.push_back(0);
    const std::size_t table = b.size();
    const std::size_t entry = wide ? 64 : 40;
    b.resize(table + 3 * entry, 0);
    auto section = [&](std::size_t i, std::uint32_t name, std::uint32_t type, std::size_t off,
                       std::size_t size) {
        const std::size_t at = table + i * entry;
        put32(b, at, name, big);
        put32(b, at + 4, type, big);
        if (wide) {
            put64(b, at + 0x18, off, big);
            put64(b, at + 0x20, size, big);
        } else {
            put32(b, at + 0x10, static_cast<std::uint32_t>(off), big);
            put32(b, at + 0x14, static_cast<std::uint32_t>(size), big);
        }
    };
    section(1, 1, 3, namesAt, names.size());
    section(2, 11, 1, blockAt, block.size());
    if (wide) {
        put64(b, 0x28, table, big);
        put16(b, 0x3A, static_cast<std::uint16_t>(entry), big);
        put16(b, 0x3C, 3, big);
        put16(b, 0x3E, 1, big);
    } else {
        put32(b, 0x20, static_cast<std::uint32_t>(table), big);
        put16(b, 0x2E, static_cast<std::uint16_t>(entry), big);
        put16(b, 0x30, 3, big);
        put16(b, 0x32, 1, big);
    }
    return b;
}

void writeBytes(const std::string& path, const Bytes& bytes) {
    writeFile(path, std::string(bytes.begin(), bytes.end()));
}

struct Read {
    int result;
    int major, minor, build;
    std::string printed;
};

Read readVersion(const std::string& path) {
    Read r{0, -7, -7, -7, {}};
    testing::internal::CaptureStdout();
    r.result = CFileVersion().GetVersion(path.c_str(), &r.major, &r.minor, &r.build);
    std::fflush(stdout);
    r.printed = testing::internal::GetCapturedStdout();
    return r;
}

const char* kDumpOf1_1_286 = "  Signature:       feef04bd\n"
                             "  StrucVersion:    1.0\n"
                             "  FileVersion:     1.1.286.0\n"
                             "  ProductVersion:  2.3.4.5\n"
                             "  FileFlagsMask:   0x3f\n"
                             "  FileFlags:       0\n"
                             "  FileOS:          VOS_NT_WINDOWS32\n"
                             "  FileType:        VFT_APP\n"
                             "  FileDate:        1d2.abc\n";

} // namespace

TEST(VersionReader, ReadsThePeVersionResource) {
    TempDir dir;
    for (const bool plus : {false, true}) {
        for (const bool decoy : {false, true}) {
            const std::string path = dir / "module.dll";
            writeBytes(path, makePe(handBlock(Fixed{}), plus, decoy));
            const Read r = readVersion(path);
            EXPECT_EQ(r.result, 1) << r.printed;
            EXPECT_EQ(r.major, 1);
            EXPECT_EQ(r.minor, 1);
            EXPECT_EQ(r.build, 286);
            EXPECT_EQ(r.printed, kDumpOf1_1_286);
        }
    }
    // quartz.dll 6.5.2600.x gives 6, 5, 2600.
    Fixed quartz;
    quartz.fileMS = 0x00060005;
    quartz.fileLS = 0x0A280B4A;
    writeBytes(dir / "quartz.dll", makePe(handBlock(quartz), false));
    const Read r = readVersion(dir / "quartz.dll");
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.major, 6);
    EXPECT_EQ(r.minor, 5);
    EXPECT_EQ(r.build, 2600);
}

TEST(VersionReader, ReadsTheElfSectionInEveryLayout) {
    TempDir dir;
    for (const bool wide : {false, true}) {
        for (const bool big : {false, true}) {
            writeBytes(dir / "prog", makeElf(handBlock(Fixed{}), wide, big));
            const Read r = readVersion(dir / "prog");
            EXPECT_EQ(r.result, 1) << "wide " << wide << " big " << big << ": " << r.printed;
            EXPECT_EQ(r.build, 286);
        }
    }
    writeBytes(dir / "other", makeElf(handBlock(Fixed{}), true, false, ".plexavo_versio"));
    const Read r = readVersion(dir / "other");
    EXPECT_EQ(r.result, 0) << "a section of a similar name is not the block";
    EXPECT_EQ(r.printed, "Unable to access file \"" + (dir / "other") +
                             "\" : The file has no version information.\n");
}

TEST(VersionReader, FailuresLeaveTheCallersZerosAndSayWhy) {
    TempDir dir;
    struct Case {
        std::string name;
        Bytes bytes;
        std::string reason;
    };
    Fixed noFixed;
    noFixed.valueLength = 0;
    Bytes badSignature = handBlock(Fixed{});
    badSignature[40] ^= 0xFF;
    Bytes unterminatedKey(40, 'A');
    put16(unterminatedKey, 0, 40);
    std::vector<Case> cases = {
        {"text.txt", {'h', 'e', 'l', 'l', 'o'}, "The file is neither a program nor a library."},
        {"nofixed.dll", makePe(handBlock(noFixed), false),
         "The version information of the file has no fixed part."},
        {"badsig.dll", makePe(badSignature, false),
         "The version information of the file is damaged."},
        {"nokey.so", makeElf(unterminatedKey, true, false),
         "The version information of the file is damaged."},
        {"empty", {}, "The file is neither a program nor a library."},
    };
    for (const auto& c : cases) {
        writeBytes(dir / c.name, c.bytes);
        const Read r = readVersion(dir / c.name);
        EXPECT_EQ(r.result, 0) << c.name;
        EXPECT_EQ(r.major, -7) << c.name;
        EXPECT_EQ(r.minor, -7) << c.name;
        EXPECT_EQ(r.build, -7) << c.name;
        EXPECT_EQ(r.printed,
                  "Unable to access file \"" + (dir / c.name) + "\" : " + c.reason + "\n");
    }
    const Read missing = readVersion(dir / "Ünïcode missing.dll");
    EXPECT_EQ(missing.result, 0);
    EXPECT_EQ(missing.major, -7);
    EXPECT_EQ(missing.printed, "Unable to access file \"" + (dir / "Ünïcode missing.dll") +
                                   "\" : No such file or directory\n");
}

TEST(VersionReader, DamagedModulesNeverCrashIt) {
    TempDir dir;
    const std::string path = dir / "fuzz";
    std::mt19937 random(20240607);
    for (const Bytes& good :
         {makePe(handBlock(Fixed{}), false), makePe(handBlock(Fixed{}), true, true),
          makeElf(handBlock(Fixed{}), true, false), makeElf(handBlock(Fixed{}), false, true)}) {
        // Cut anywhere before the block's last byte, the file has no version.
        const Bytes block = handBlock(Fixed{});
        const auto blockEnd = static_cast<std::size_t>(
            std::search(good.begin(), good.end(), block.begin(), block.end()) - good.begin() +
            block.size());
        for (std::size_t cut = 0; cut < good.size(); cut += 13) {
            writeBytes(path, Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut)));
            const Read r = readVersion(path);
            if (cut < blockEnd) {
                EXPECT_EQ(r.result, 0) << "cut at " << cut;
                EXPECT_EQ(r.major, -7);
            }
        }
        for (int round = 0; round < 400; ++round) {
            Bytes bad = good;
            const int changes = 1 + static_cast<int>(random() % 4);
            for (int k = 0; k < changes; ++k)
                bad[random() % bad.size()] = static_cast<std::uint8_t>(random());
            writeBytes(path, bad);
            const Read r = readVersion(path);
            if (r.result == 1)
                EXPECT_TRUE(r.major >= 0 && r.major <= 0xFFFF && r.build >= 0 && r.build <= 0xFFFF);
            else
                EXPECT_EQ(r.major, -7);
        }
    }
}

TEST(VersionReader, ReadsTheBlockTheBuildEmbeds) {
    // This test program carries a block of its own (see CMakeLists.txt).
    Read self = readVersion(CFileVersion::ownModulePath());
    EXPECT_EQ(self.result, 1) << self.printed;
    EXPECT_EQ(self.major, 1);
    EXPECT_EQ(self.minor, 1);
    EXPECT_EQ(self.build, 286);
    EXPECT_NE(self.printed.find("  FileFlags:       0x41 (0x40 | VS_FF_DEBUG)\n"),
              std::string::npos)
        << self.printed;
    EXPECT_NE(self.printed.find("  FileType:        VFT_DLL, FileSubtype: 7\n"), std::string::npos);

    // And so does the program, with the project's version.
    const Read program = readVersion(platform::programFolder() + "plexavo");
    EXPECT_EQ(program.result, 1) << program.printed;
    EXPECT_EQ(program.major, PLEXAVO_VERSION_MAJOR);
    EXPECT_EQ(program.minor, PLEXAVO_VERSION_MINOR);
    EXPECT_EQ(program.build, PLEXAVO_VERSION_PATCH);
}

TEST(VersionBlock, IsLaidOutAsTheResourceCompilerLaysItOut) {
    VersionInfo info;
    const std::uint16_t version[4] = {3, 14, 15, 92};
    std::copy(std::begin(version), std::end(version), info.fileVersion);
    std::copy(std::begin(version), std::end(version), info.productVersion);
    info.strings = {{"CompanyName", "Vantrel"}, {"ProductName", "Plexavo é"}};
    const Bytes b = buildVersionBlock(info);

    ASSERT_GE(b.size(), 92u);
    EXPECT_EQ(get16(b, 0), b.size());
    EXPECT_EQ(get16(b, 2), 52);
    EXPECT_EQ(get32(b, 40), 0xFEEF04BDu);
    EXPECT_EQ(get32(b, 48), 0x0003000Eu);
    EXPECT_EQ(get32(b, 52), 0x000F005Cu);

    // Walk the children: every node 4-aligned, its length inside its parent.
    struct Node {
        std::size_t at;
        std::u16string key;
        std::size_t value;
    };
    auto node = [&](std::size_t at) {
        Node n{at, {}, 0};
        std::size_t p = at + 6;
        while (get16(b, p) != 0) {
            n.key += static_cast<char16_t>(get16(b, p));
            p += 2;
        }
        n.value = (p + 2 + 3) & ~std::size_t{3};
        return n;
    };
    auto children = [&](std::size_t at, std::size_t firstChild) {
        std::vector<Node> out;
        const std::size_t end = at + get16(b, at);
        for (std::size_t c = firstChild; c < end; c = (c + get16(b, c) + 3) & ~std::size_t{3}) {
            EXPECT_EQ(c % 4, 0u);
            EXPECT_LE(c + get16(b, c), end);
            out.push_back(node(c));
        }
        return out;
    };
    const auto top = children(0, 92);
    ASSERT_EQ(top.size(), 2u);
    EXPECT_EQ(top[0].key, u"StringFileInfo");
    EXPECT_EQ(top[1].key, u"VarFileInfo");
    const auto tables = children(top[0].at, top[0].value);
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0].key, u"040904B0");
    const auto strings = children(tables[0].at, tables[0].value);
    ASSERT_EQ(strings.size(), 2u);
    EXPECT_EQ(strings[1].key, u"ProductName");
    EXPECT_EQ(get16(b, strings[1].at + 2), 10) << "characters with the terminator";
    std::u16string value;
    for (std::size_t p = strings[1].value; get16(b, p); p += 2)
        value += static_cast<char16_t>(get16(b, p));
    EXPECT_EQ(value, u"Plexavo é");
    const auto vars = children(top[1].at, top[1].value);
    ASSERT_EQ(vars.size(), 1u);
    EXPECT_EQ(vars[0].key, u"Translation");
    EXPECT_EQ(get32(b, vars[0].value), 0x04B00409u);

    // The reader takes the built block like a hand-made one.
    TempDir dir;
    writeBytes(dir / "built.dll", makePe(b, false));
    const Read r = readVersion(dir / "built.dll");
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.major, 3);
    EXPECT_EQ(r.minor, 14);
    EXPECT_EQ(r.build, 15);
}

TEST(VersionTexts, FlagsAreNamedInBitOrder) {
    CFileVersion v;
    EXPECT_STREQ(v.FlagsText(0x41), "0x40 | VS_FF_DEBUG");
    EXPECT_STREQ(v.FlagsText(0x03), "VS_FF_DEBUG | VS_FF_PRERELEASE");
    EXPECT_STREQ(v.FlagsText(0x40), "0x40");
    EXPECT_STREQ(v.FlagsText(0), "0");
    EXPECT_STREQ(v.FlagsText(0xFFFFFFFF),
                 "0xffffffc0 | VS_FF_DEBUG | VS_FF_PRERELEASE | VS_FF_PATCHED | "
                 "VS_FF_PRIVATEBUILD | VS_FF_INFOINFERRED | VS_FF_SPECIALBUILD");
    EXPECT_STREQ(v.FlagsText(0x24), "VS_FF_PATCHED | VS_FF_SPECIALBUILD");
}

TEST(VersionTexts, OsTypeAndSubtypeNames) {
    CFileVersion v;
    EXPECT_STREQ(v.OsName(0x40004), "VOS_NT_WINDOWS32");
    EXPECT_STREQ(v.OsName(0x10001), "VOS_DOS_WINDOWS16");
    EXPECT_STREQ(v.OsName(0x30003), "VOS_OS232_PM32");
    EXPECT_STREQ(v.OsName(0x5), "Unknown FileOS");
    EXPECT_STREQ(v.TypeName(7), "VFT_STATIC_LIB");
    EXPECT_STREQ(v.TypeName(6), "Unknown FileType");
    EXPECT_STREQ(v.SubtypeText(3, 1), "FileSubtype: VFT2_DRV_PRINTER");
    EXPECT_STREQ(v.SubtypeText(3, 11), "FileSubtype: VFT2_DRV_INPUTMETHOD");
    EXPECT_STREQ(v.SubtypeText(3, 12), "Unknown FileSubtype: c");
    EXPECT_STREQ(v.SubtypeText(4, 3), "FileSubtype: VFT2_FONT_TRUETYPE");
    EXPECT_STREQ(v.SubtypeText(4, 0), "Unknown FileSubtype: 0");
    EXPECT_STREQ(v.SubtypeText(1, 0), "");
    EXPECT_STREQ(v.SubtypeText(2, 0x1f), ", FileSubtype: 1f");
}

TEST(VersionTexts, TheDumpOfADriverWithFlags) {
    VS_FIXEDFILEINFO info{0xFEEF04BD, 0x00010000, 0x00050001, 0x0A280000, 0x00050001, 0x0A280001, 0,
                          0x41,       0x4,        3,          1,          0,          0x7};
    testing::internal::CaptureStdout();
    CFileVersion().DumpFixedInfo(info);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "  Signature:       feef04bd\n"
              "  StrucVersion:    1.0\n"
              "  FileVersion:     5.1.2600.0\n"
              "  ProductVersion:  5.1.2600.1\n"
              "  FileFlagsMask:   0\n"
              "  FileFlags:       0x41 (0x40 | VS_FF_DEBUG)\n"
              "  FileOS:          VOS__WINDOWS32\n"
              "  FileType:        VFT_DRVFileSubtype: VFT2_DRV_PRINTER\n"
              "  FileDate:        0.7\n");
}
