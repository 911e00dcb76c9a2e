// Vault reader against hostile vaults and working folders: entries that share
// bytes, unique unpack files under names planted in advance, and listing
// results that stay the same when the directory is read whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "VaultTestUtil.h"
#include "vault/format/VaultScan.h"

using namespace hbtest;

namespace {

struct Reader {
    VaultHandle* h;
    explicit Reader(const std::string& path, const char* work = nullptr)
        : h(OpenVaultReader(path.c_str(), 0, kVaultSourcePath, work)) {}
    ~Reader() {
        if (h) CloseVaultHandle(h);
    }
};

// Copies into central record `to` the fields that say where entry `from`'s
// local record and data lie, so both entries claim the same bytes.
void PointAt(Bytes* image, int to, const vault::CentralHeader& from, uint32_t offsetShift = 0) {
    size_t pos = 0, len = 0;
    ASSERT_TRUE(CentralRecordAt(*image, to, &pos, &len));
    PatchRecord(image, pos, 64, [&](uint8_t* p) {
        vault::PutU16(p + 10, from.method);
        vault::PutU32(p + 16, from.crc);
        vault::PutU32(p + 20, from.compressedSize);
        vault::PutU32(p + 24, from.uncompressedSize);
        vault::PutU32(p + 42, from.localOffset + offsetShift);
    });
}

}  // namespace

TEST(VaultReaderOverlap, EntriesSharingBytesAreRefused) {
    TempDir dir("rd_overlap");
    // Names of one length, so a local record fits every central record.
    const std::vector<TestEntry> entries = {{"a.txt", MakeData(60000, 1, false)},
                                            {"b.txt", MakeData(500, 2, true)},
                                            {"c.txt", MakeData(700, 3, true)},
                                            {"d.txt", MakeData(900, 4, true)}};
    BuildVault(dir / "v.vfo", entries);
    const Bytes good = ReadBytes(dir / "v.vfo");
    const vault::CentralHeader a = CentralHeaderAt(good, 0);

    struct Case {
        const char* what;
        std::vector<int> pointed;     // central records made to claim entry 0's bytes
        uint32_t shift;               // into entry 0's range by this many bytes
        std::vector<bool> refused;    // per entry
    };
    const Case cases[] = {
        {"one stream listed three times", {1, 2}, 0, {true, true, true, false}},
        // Claiming entry 0's length from inside it reaches into entry 1 too.
        {"a local record inside another's data", {3}, 64, {true, true, false, true}},
        {"the last entry made to claim the first one's data", {3}, 0, {true, false, false, true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes image = good;
        for (int i : c.pointed) PointAt(&image, i, a, c.shift);
        const std::string path = dir / "bomb.vfo";
        ASSERT_TRUE(WriteBytes(path, image));
        Reader r(path, (dir.Path()).c_str());
        ASSERT_NE(r.h, nullptr);
        ZipEntryInfo count;
        ASSERT_EQ(ReadEntryInfo(r.h, -1, &count), kVaultOk);
        EXPECT_EQ(count.index, 4);
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE(i);
            ZipEntryInfo info;
            Bytes data;
            if (c.refused[size_t(i)]) {
                EXPECT_EQ(ReadEntryInfo(r.h, i, &info), kVaultCorrupt);
                EXPECT_EQ(ReadEntryData(r.h, i, &data), kVaultCorrupt);
                std::string made;
                EXPECT_EQ(ExtractEntry(r.h, i, nullptr, 0, kExtractToUniqueFile, &made), kVaultCorrupt);
                EXPECT_TRUE(made.empty() || !fileio::Exists(made)) << made;
            } else {
                EXPECT_EQ(ReadEntryInfo(r.h, i, &info), kVaultOk);
                EXPECT_EQ(ReadEntryData(r.h, i, &data), kVaultOk);
                EXPECT_EQ(data, entries[size_t(i)].data);
            }
        }
    }
}

TEST(VaultReaderOverlap, SpansAreMarkedOnBothSides) {
    using vault::LocalSpan;
    const struct {
        std::vector<LocalSpan> spans;
        std::vector<bool> marked;
    } cases[] = {
        {{{0, 10}, {10, 20}, {20, 30}}, {false, false, false}},           // touching is fine
        {{{20, 30}, {0, 10}, {5, 8}}, {false, true, true}},               // order does not matter
        {{{0, 100}, {10, 20}, {50, 60}, {100, 110}}, {true, true, true, false}},
        {{{0, 10}, {20, 100}, {50, 60}}, {false, true, true}},
        {{{7, 40}, {7, 40}, {7, 40}}, {true, true, true}},
        {{}, {}},
    };
    for (const auto& c : cases) {
        std::vector<bool> marked;
        size_t n = vault::MarkOverlappingSpans(c.spans, &marked);
        EXPECT_EQ(marked, c.marked);
        EXPECT_EQ(n, size_t(std::count(c.marked.begin(), c.marked.end(), true)));
    }
}

TEST(VaultReaderListing, WholeDirectoryReadMatchesTheRecordWalk) {
    // Names of every length around the cipher block, so records end on and
    // off block boundaries, and enough of them to need several windows'
    // worth of probes.
    TempDir dir("rd_whole_dir");
    std::vector<TestEntry> entries;
    for (int i = 0; i < 300; ++i) {
        std::string name = "f" + std::to_string(i) + std::string(size_t(i % 70), 'x');
        entries.push_back({name, MakeData(size_t(i % 5) * 10, uint32_t(i), true)});
    }
    BuildVault(dir / "v.vfo", entries);
    CFile file;
    ASSERT_TRUE(file.Open(dir / "v.vfo", CFile::Mode::Read));
    vault::DirectoryInfo d;
    ASSERT_EQ(vault::LocateDirectory(file, &d), vault::VaultStatus::Ok);
    std::vector<vault::CentralEntry> whole;
    ASSERT_EQ(vault::ReadCentralDirectory(file, d, &whole), vault::VaultStatus::Ok);
    ASSERT_EQ(whole.size(), entries.size());
    vault::CentralDirectoryWalker walk(&file, d);
    for (size_t i = 0; i < whole.size(); ++i) {
        ASSERT_EQ(i == 0 ? walk.First() : walk.Next(), vault::VaultStatus::Ok);
        EXPECT_EQ(whole[i].name, walk.Record().name);
        EXPECT_EQ(whole[i].name, entries[i].name);
        EXPECT_EQ(whole[i].position, walk.Position());
        EXPECT_EQ(whole[i].length, walk.RecordLength());
        EXPECT_EQ(whole[i].header.localOffset, walk.Record().header.localOffset);
        EXPECT_EQ(whole[i].header.crc, walk.Record().header.crc);
    }
    // A damaged record in the middle: everything before it, and its failure.
    Bytes image = ReadBytes(dir / "v.vfo");
    size_t pos = 0, len = 0;
    ASSERT_TRUE(CentralRecordAt(image, 200, &pos, &len));
    image[pos + 5] ^= 0x40;  // its signature block
    ASSERT_TRUE(WriteBytes(dir / "bad.vfo", image));
    CFile bad;
    ASSERT_TRUE(bad.Open(dir / "bad.vfo", CFile::Mode::Read));
    ASSERT_EQ(vault::LocateDirectory(bad, &d), vault::VaultStatus::Ok);
    std::vector<vault::CentralEntry> part;
    EXPECT_EQ(vault::ReadCentralDirectory(bad, d, &part), vault::VaultStatus::Corrupt);
    EXPECT_EQ(part.size(), 200u);
}

#ifndef _WIN32
// Links planted in a shared working folder under the names the reader is
// about to choose must never be written through: the unique file is made
// exclusively and another name is taken.
TEST(VaultReaderExtract, PlantedLinksAtUniqueNamesAreNotFollowed) {
    TempDir dir("rd_planted");
    BuildVault(dir / "v.vfo", {{"note.txt", MakeData(3000, 9, true)}});
    const std::string work = dir / "work";
    ASSERT_TRUE(fileio::MakeDirectoryChain(work));
    const std::string victim = dir / "victim";
    // Dangling links under the names of the next 200 ms of tick
    // counts, topped up until the planting no longer lags the clock.
    std::set<uint32_t> planted;
    for (int round = 0; round < 20; ++round) {
        const uint32_t now = fileio::TickCount();
        for (uint32_t t = now; t != now + 200; ++t) {
            if (!planted.insert(t).second) continue;
            const std::string link = work + "/qv" + std::to_string(t) + ".txt";
            ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0) << link;
        }
        if (fileio::TickCount() - now < 20) break;
    }
    std::string made;
    {
        Reader r(dir / "v.vfo", work.c_str());
        ASSERT_NE(r.h, nullptr);
        ASSERT_EQ(ExtractEntry(r.h, 0, nullptr, 0, kExtractToUniqueFile, &made), kVaultOk);
    }
    EXPECT_FALSE(fileio::Exists(victim)) << made;
    char target[16];
    EXPECT_EQ(readlink(made.c_str(), target, sizeof target), -1) << made << " is a link";
    EXPECT_EQ(ReadBytes(made), MakeData(3000, 9, true));
}
#endif
