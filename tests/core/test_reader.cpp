// Vault reader: listing order and its walk, damaged records, the three
// extraction kinds, unique unpack files, unsafe names and a corpus of
// damaged vaults made from a good one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include <zlib.h>

#include "VaultTestUtil.h"
#include "vault/reader/VaultReader.h"

using namespace hbtest;

namespace {

std::vector<TestEntry> ThreeEntries() {
    return {{"docs/report.txt", MakeData(40000, 1, true)},
            {"pack.zip", MakeData(30000, 2, false)},
            {"README", MakeData(700, 3, true)}};
}

struct ReaderGuard {
    VaultHandle* h;
    explicit ReaderGuard(VaultHandle* handle) : h(handle) {}
    ~ReaderGuard() {
        if (h) CloseVaultHandle(h);
    }
};

bool IsUniqueName(const std::string& path, const std::string& root, const std::string& ext) {
    if (path.compare(0, root.size(), root) != 0) return false;
    const std::string leaf = path.substr(root.size());
    if (leaf.size() < 4 || leaf.compare(0, 2, "qv") != 0) return false;
    const size_t dot = leaf.find('.');
    if (dot == std::string::npos || dot == 2) return false;
    for (size_t i = 2; i < dot; ++i) {
        if (leaf[i] < '0' || leaf[i] > '9') return false;
    }
    return leaf.substr(dot + 1) == ext;
}

}  // namespace

TEST(VaultReaderListing, IndicesOrderAndTheWalkBack) {
    TempDir dir("rd_list");
    BuildVault(dir / "v.vfo", ThreeEntries());
    ReaderGuard r(OpenVaultReader((dir / "v.vfo").c_str(), 0, kVaultSourcePath, nullptr));
    ASSERT_NE(r.h, nullptr);
    EXPECT_TRUE(IsReaderHandle(r.h));
    ZipEntryInfo info;
    ASSERT_EQ(ReadEntryInfo(r.h, -1, &info), kVaultOk);
    EXPECT_EQ(info.index, 3);
    EXPECT_EQ(info.name, "");
    EXPECT_EQ(info.uncompressedSize, 0);
    // 2 first, then 0: the walk starts over from the first record.
    ASSERT_EQ(ReadEntryInfo(r.h, 2, &info), kVaultOk);
    EXPECT_EQ(info.name, "README");
    ASSERT_EQ(ReadEntryInfo(r.h, 0, &info), kVaultOk);
    EXPECT_EQ(info.name, "docs/report.txt");
    EXPECT_EQ(info.uncompressedSize, 40000);
    EXPECT_EQ(info.attributes, 0x81u);  // data given in memory has no owner-write bit
    EXPECT_EQ(info.localOffset, 0u);
    ASSERT_EQ(ReadEntryInfo(r.h, 1, &info), kVaultOk);
    EXPECT_EQ(info.name, "pack.zip");
    EXPECT_EQ(info.compressedSize, 30000);
    EXPECT_EQ(ReadEntryInfo(r.h, 3, &info), kVaultBadArguments);
    EXPECT_EQ(ReadEntryInfo(r.h, -2, &info), kVaultBadArguments);
    char text[64];
    EXPECT_EQ(FormatVaultResult(1, text, sizeof text), 24);
    EXPECT_STREQ(text, "Caller: faulty arguments");
}

TEST(VaultReaderListing, UnlistableVaultsAndMissingFiles) {
    TempDir dir("rd_unlistable");
    ZipEntryInfo info;
    // No file: no handle, and the last result says why.
    EXPECT_EQ(OpenVaultReader((dir / "none.vfo").c_str(), 0, kVaultSourcePath, nullptr), nullptr);
    char text[64];
    FormatVaultResult(1, text, sizeof text);
    EXPECT_STREQ(text, "Couldn't create/open file");
    EXPECT_EQ(OpenVaultReader("x", 0, 5, nullptr), nullptr);

    // An empty vault lists as unparsed: a handle, but 0x10000 for -1 too.
    BuildVault(dir / "empty.vfo", {});
    EXPECT_EQ(ReadBytes(dir / "empty.vfo").size(), 32u);
    {
        ReaderGuard r(OpenVaultReader((dir / "empty.vfo").c_str(), 0, kVaultSourcePath, nullptr));
        ASSERT_NE(r.h, nullptr);
        EXPECT_EQ(ReadEntryInfo(r.h, -1, &info), kVaultBadArguments);
    }
    // A memory image is accepted and never lists.
    {
        ReaderGuard r(OpenVaultReader("abc", 3, kVaultSourceMemory, nullptr));
        ASSERT_NE(r.h, nullptr);
        EXPECT_EQ(ReadEntryInfo(r.h, -1, &info), kVaultBadArguments);
    }
    // A first central record with a wrong signature: 0x10000 for every index.
    BuildVault(dir / "v.vfo", ThreeEntries());
    Bytes image = ReadBytes(dir / "v.vfo");
    size_t pos = 0, len = 0;
    ASSERT_TRUE(CentralRecordAt(image, 0, &pos, &len));
    PatchRecord(&image, pos, len, [](uint8_t* p) { p[0] = 'P'; p[1] = 'K'; });
    ASSERT_TRUE(WriteBytes(dir / "badsig.vfo", image));
    ReaderGuard r(OpenVaultReader((dir / "badsig.vfo").c_str(), 0, kVaultSourcePath, nullptr));
    ASSERT_NE(r.h, nullptr);
    for (int i = -1; i <= 3; ++i) EXPECT_EQ(ReadEntryInfo(r.h, i, &info), kVaultBadArguments) << i;
    EXPECT_EQ(CloseVaultHandle(nullptr), kVaultBadArguments);
}

TEST(VaultReaderListing, DamagedRecordsAfterTheFirst) {
    TempDir dir("rd_damaged_records");
    BuildVault(dir / "v.vfo", ThreeEntries());
    const Bytes good = ReadBytes(dir / "v.vfo");
    ZipEntryInfo info;

    // A local record whose method differs from its central record: 0x700.
    Bytes image = good;
    const vault::CentralHeader pack = CentralHeaderAt(image, 1);
    PatchRecord(&image, pack.localOffset, 64, [](uint8_t* p) { vault::PutU16(p + 8, 8); });
    ASSERT_TRUE(WriteBytes(dir / "method.vfo", image));
    {
        ReaderGuard r(OpenVaultReader((dir / "method.vfo").c_str(), 0, kVaultSourcePath, nullptr));
        ASSERT_NE(r.h, nullptr);
        EXPECT_EQ(ReadEntryInfo(r.h, 0, &info), kVaultOk);
        EXPECT_EQ(ReadEntryInfo(r.h, 1, &info), kVaultCorrupt);
        Bytes data;
        EXPECT_EQ(ReadEntryData(r.h, 1, &data), kVaultCorrupt);
        EXPECT_EQ(ReadEntryInfo(r.h, 2, &info), kVaultOk);
    }

    // An unreadable second central record: the walk cannot pass it and
    // says so every time, without looping; the first entry stays readable.
    image = good;
    size_t pos = 0, len = 0;
    ASSERT_TRUE(CentralRecordAt(image, 1, &pos, &len));
    image[pos + 5] ^= 0x5A;
    ASSERT_TRUE(WriteBytes(dir / "central.vfo", image));
    ReaderGuard r(OpenVaultReader((dir / "central.vfo").c_str(), 0, kVaultSourcePath, nullptr));
    ASSERT_NE(r.h, nullptr);
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(ReadEntryInfo(r.h, 2, &info), kVaultCorrupt);
        EXPECT_EQ(ReadEntryInfo(r.h, 1, &info), kVaultCorrupt);
        EXPECT_EQ(ReadEntryInfo(r.h, 0, &info), kVaultOk);
        EXPECT_EQ(info.name, "docs/report.txt");
    }
}

TEST(VaultReaderExtract, UniqueFilesFoldersAndTheWorkingFolder) {
    TempDir dir("rd_unique");
    std::vector<TestEntry> entries = ThreeEntries();
    entries.push_back({"docs/sub/", {}, true});
    BuildVault(dir / "v.vfo", entries);
    const std::string before = fileio::CurrentFolder();
    const std::string work = dir / "work";
    ASSERT_TRUE(fileio::MakeDirectoryChain(work));
    VaultHandle* r = OpenVaultReader((dir / "v.vfo").c_str(), 0, kVaultSourcePath, work.c_str());
    ASSERT_NE(r, nullptr);
    const std::string root = work + fileio::Separator();

    // The same entry twice in quick succession: two files, both .txt.
    std::string first, second;
    ASSERT_EQ(ExtractEntry(r, 0, "docs/report.txt", 0, kExtractToUniqueFile, &first), kVaultOk);
    ASSERT_EQ(ExtractEntry(r, 0, "docs/report.txt", 0, kExtractToUniqueFile, &second), kVaultOk);
    EXPECT_NE(first, second);
    EXPECT_TRUE(IsUniqueName(first, root, "txt")) << first;
    EXPECT_TRUE(IsUniqueName(second, root, "txt")) << second;
    EXPECT_EQ(ReadBytes(first), entries[0].data);
    EXPECT_EQ(ReadBytes(second), entries[0].data);

    // No dot: the whole leaf stands in for the extension.
    std::string readme;
    ASSERT_EQ(ExtractEntry(r, 2, nullptr, 0, kExtractToUniqueFile, &readme), kVaultOk);
    EXPECT_TRUE(IsUniqueName(readme, root, "README")) << readme;
    EXPECT_EQ(ReadBytes(readme), entries[2].data);

    // A folder entry makes its folder chain and no file.
    std::string folder;
    ASSERT_EQ(ExtractEntry(r, 3, nullptr, 0, kExtractToUniqueFile, &folder), kVaultOk);
    EXPECT_TRUE(fileio::IsDirectory(root + "docs" + fileio::Separator() + "sub"));
    CFile sink;
    ASSERT_TRUE(sink.Open(dir / "sink", CFile::Mode::CreateReadWrite));
    EXPECT_EQ(ExtractEntry(r, 3, &sink, 0, kExtractToStream, nullptr), kVaultOk);
    uint64_t size = 1;
    ASSERT_TRUE(sink.Size(&size));
    EXPECT_EQ(size, 0u);

    // Stored data goes into a stream byte for byte, at its position.
    ASSERT_TRUE(sink.Write("head", 4));
    ASSERT_EQ(ExtractEntry(r, 1, &sink, 0, kExtractToStream, nullptr), kVaultOk);
    sink.Close();
    Bytes expected = {'h', 'e', 'a', 'd'};
    expected.insert(expected.end(), entries[1].data.begin(), entries[1].data.end());
    EXPECT_EQ(ReadBytes(dir / "sink"), expected);
    const Bytes image = ReadBytes(dir / "v.vfo");
    const vault::CentralHeader pack = CentralHeaderAt(image, 1);
    EXPECT_TRUE(std::equal(entries[1].data.begin(), entries[1].data.end(),
                           image.begin() + pack.localOffset + 64));

    EXPECT_EQ(ExtractEntry(r, 4, nullptr, 0, kExtractToUniqueFile, &folder), kVaultBadArguments);
    EXPECT_EQ(ExtractEntry(r, 0, nullptr, 0, kExtractToStream, nullptr), kVaultBadArguments);
    EXPECT_EQ(ExtractEntry(r, 0, nullptr, 0, 9, nullptr), kVaultBadArguments);
    EXPECT_EQ(CloseVaultHandle(r), kVaultOk);
    EXPECT_EQ(fileio::CurrentFolder(), before);
}

TEST(VaultReaderExtract, DamagedDeflateStopsWithAPartialFile) {
    TempDir dir("rd_inflate");
    const Bytes data = MakeData(64000, 4, true);
    BuildVault(dir / "v.vfo", {{"big.txt", data}});
    Bytes image = ReadBytes(dir / "v.vfo");
    const vault::CentralHeader h = CentralHeaderAt(image, 0);
    const size_t dataStart = h.localOffset + 64;
    ASSERT_EQ(h.method, vault::kMethodDeflate);

    // The first half as a complete block, then an invalid block type.
    z_stream z{};
    ASSERT_EQ(deflateInit2(&z, 8, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes half(h.compressedSize);
    z.next_in = const_cast<uint8_t*>(data.data());
    z.avail_in = 32000;
    z.next_out = half.data();
    z.avail_out = static_cast<uInt>(half.size());
    ASSERT_EQ(deflate(&z, Z_FULL_FLUSH), Z_OK);
    const size_t used = half.size() - z.avail_out;
    deflateEnd(&z);
    ASSERT_LT(used, half.size());
    std::fill(half.begin() + used, half.end(), 0xFF);
    std::copy(half.begin(), half.end(), image.begin() + dataStart);
    ASSERT_TRUE(WriteBytes(dir / "bad.vfo", image));

    ReaderGuard r(OpenVaultReader((dir / "bad.vfo").c_str(), 0, kVaultSourcePath, dir.Path().c_str()));
    ASSERT_NE(r.h, nullptr);
    std::string out;
    EXPECT_EQ(ExtractEntry(r.h, 0, nullptr, 0, kExtractToUniqueFile, &out), kVaultWriteError);
    const Bytes partial = ReadBytes(out);
    EXPECT_GE(partial.size(), 16384u);
    EXPECT_LT(partial.size(), data.size());
    EXPECT_TRUE(std::equal(partial.begin(), partial.end(), data.begin()));
    Bytes viaMemory;
    EXPECT_EQ(ReadEntryData(r.h, 0, &viaMemory), kVaultFlateError);

    // Data that inflates but does not match its CRC-32 is not reported good.
    image = ReadBytes(dir / "v.vfo");
    PatchRecord(&image, h.localOffset, 64, [](uint8_t* p) { p[14] ^= 1; });
    size_t pos = 0, len = 0;
    ASSERT_TRUE(CentralRecordAt(image, 0, &pos, &len));
    PatchRecord(&image, pos, len, [](uint8_t* p) { p[16] ^= 1; });
    ASSERT_TRUE(WriteBytes(dir / "crc.vfo", image));
    ReaderGuard c(OpenVaultReader((dir / "crc.vfo").c_str(), 0, kVaultSourcePath, nullptr));
    EXPECT_EQ(ReadEntryData(c.h, 0, &viaMemory), kVaultCorrupt);
    EXPECT_EQ(viaMemory, data);
}

TEST(VaultReaderExtract, UnsafeNamesAreRefusedAndNothingLeavesTheRoot) {
    for (const char* bad : {"../evil.txt", "a/../../b.txt", "/abs.txt", "\\abs.txt", "C:/x.txt",
                            "c:x.txt", "con", "CON.txt", "sub/nul.dat", "LPT1", "com9.log",
                            "a//b.txt", "./a.txt", "dir/..", "a. /b", "x\x01y", "a:stream",
                            "", "/"}) {
        EXPECT_FALSE(vault::IsSafeEntryPath(bad)) << bad;
    }
    for (const char* good : {"a.txt", "docs/", "docs/sub/report.txt", "a..b.txt", "console.txt",
                             "com10.txt", "...a", "x/LPT/y"}) {
        EXPECT_TRUE(vault::IsSafeEntryPath(good)) << good;
    }

    TempDir dir("rd_unsafe");
    BuildVault(dir / "v.vfo", {{"../escape/", {}, true},
                               {"..\\up.txt", MakeData(10, 1, true)},
                               {"NUL.txt", MakeData(10, 1, true)},
                               {"ok/", {}, true}});
    const std::string work = dir / "work";
    ASSERT_TRUE(fileio::MakeDirectoryChain(work));
    ReaderGuard r(OpenVaultReader((dir / "v.vfo").c_str(), 0, kVaultSourcePath, work.c_str()));
    ASSERT_NE(r.h, nullptr);
    std::string out;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ExtractEntry(r.h, i, nullptr, 0, kExtractToUniqueFile, &out), kVaultBadArguments) << i;
    }
    EXPECT_FALSE(fileio::Exists(dir / "escape"));
    EXPECT_EQ(ExtractEntry(r.h, 3, nullptr, 0, kExtractToUniqueFile, &out), kVaultOk);
    EXPECT_TRUE(fileio::IsDirectory(work + fileio::Separator() + "ok"));
    // A caller's own unsafe target name is refused the same way.
    EXPECT_EQ(ExtractEntry(r.h, 3, "../../x/", 0, kExtractToUniqueFile, &out), kVaultBadArguments);
    // Streams take any name: no path is made from it.
    Bytes data;
    EXPECT_EQ(ReadEntryData(r.h, 1, &data), kVaultOk);
}

TEST(VaultReaderResults, TextsAndCopyRules) {
    char buf[8];
    EXPECT_EQ(FormatVaultResult(0x700, nullptr, 0), 35);
    EXPECT_EQ(FormatVaultResult(0x600, buf, sizeof buf), 24);
    EXPECT_STREQ(buf, "Still m");
    EXPECT_EQ(FormatVaultResult(0x12345, buf, 1), 23);
    EXPECT_STREQ(buf, "");
    char big[80];
    FormatVaultResult(0x12345, big, sizeof big);
    EXPECT_STREQ(big, "unknown zip result code");
    FormatVaultResult(0x100, big, sizeof big);
    EXPECT_STREQ(big, "Culdn't duplicate handle");
    FormatVaultResult(0x4000000, big, sizeof big);
    EXPECT_STREQ(big, "Zip-bug: tried to change mind,but not allowed");
}

// Every damaged copy of a good vault gives a defined result and never
// crashes, overreads or delivers more than an entry's recorded size.
TEST(VaultReaderDamaged, CorpusFromAGoodVault) {
    TempDir dir("rd_corpus");
    std::vector<TestEntry> entries = ThreeEntries();
    entries[0].data.resize(3000);
    entries[1].data.resize(2000);
    entries.push_back({"f/", {}, true});
    BuildVault(dir / "v.vfo", entries);
    const Bytes good = ReadBytes(dir / "v.vfo");
    const vault::EndRecord end = EndOf(good);

    std::vector<Bytes> corpus;
    for (size_t cut = 0; cut < good.size(); cut += 29) corpus.emplace_back(good.begin(), good.begin() + cut);
    for (size_t at = 0; at < good.size(); at += 17) {
        Bytes b = good;
        b[at] ^= 0x81;
        corpus.push_back(b);
    }
    // End records whose lengths overrun, and bad counts.
    const size_t e = good.size() - 32;
    for (uint32_t v : {0xFFFFFFFFu, 0x7FFFFFF0u, uint32_t(good.size()), 1u, 64u}) {
        Bytes b = good;
        vault::PutU32(b.data() + e + 12, v);
        corpus.push_back(b);
        b = good;
        vault::PutU32(b.data() + e + 16, v);
        corpus.push_back(b);
    }
    for (uint16_t v : {0u, 5u, 0xFFFFu}) {
        Bytes b = good;
        vault::PutU16(b.data() + e + 8, v);
        vault::PutU16(b.data() + e + 10, v);
        corpus.push_back(b);
    }
    // Central records whose fields overrun: lengths, sizes, offsets.
    for (int index = 0; index < 4; ++index) {
        size_t pos = 0, len = 0;
        ASSERT_TRUE(CentralRecordAt(good, index, &pos, &len));
        for (size_t field : {20u, 24u, 28u, 30u, 32u, 42u}) {
            for (uint32_t v : {0xFFFFFFFFu, 0x0000FFFFu, 1u}) {
                Bytes b = good;
                PatchRecord(&b, pos, len, [&](uint8_t* p) {
                    if (field >= 28 && field <= 32) vault::PutU16(p + field, static_cast<uint16_t>(v));
                    else vault::PutU32(p + field, v);
                });
                corpus.push_back(b);
            }
        }
    }
    ASSERT_GT(corpus.size(), 150u);
    (void)end;

    const std::string path = dir / "d.vfo";
    const std::string work = dir / "work";
    ASSERT_TRUE(fileio::MakeDirectoryChain(work));
    const std::vector<uint32_t> allowed = {kVaultOk, kVaultBadArguments, kVaultCorrupt,
                                           kVaultWriteError, kVaultFlateError};
    auto isAllowed = [&](uint32_t rc) {
        return std::find(allowed.begin(), allowed.end(), rc) != allowed.end();
    };
    for (size_t k = 0; k < corpus.size(); ++k) {
        SCOPED_TRACE("corpus item " + std::to_string(k));
        ASSERT_TRUE(WriteBytes(path, corpus[k]));
        ReaderGuard r(OpenVaultReader(path.c_str(), 0, kVaultSourcePath, nullptr));
        ASSERT_NE(r.h, nullptr);
        ZipEntryInfo info;
        const uint32_t rc = ReadEntryInfo(r.h, -1, &info);
        ASSERT_TRUE(rc == kVaultOk || rc == kVaultBadArguments);
        if (rc != kVaultOk) continue;
        const int count = std::min(info.index, 8);
        for (int i = 0; i < count; ++i) {
            const uint32_t irc = ReadEntryInfo(r.h, i, &info);
            EXPECT_TRUE(isAllowed(irc)) << irc;
            Bytes data;
            const uint32_t drc = ReadEntryData(r.h, i, &data);
            EXPECT_TRUE(isAllowed(drc)) << drc;
            if (irc == kVaultOk) {
                EXPECT_LE(data.size(), static_cast<uint32_t>(info.uncompressedSize));
            }
            CFile sink;
            ASSERT_TRUE(sink.Open(dir / "sink", CFile::Mode::CreateReadWrite));
            const uint32_t src = ExtractEntry(r.h, i, &sink, 0, kExtractToStream, nullptr);
            EXPECT_TRUE(isAllowed(src)) << src;
            uint64_t size = 0;
            sink.Size(&size);
            if (irc == kVaultOk) {
                EXPECT_LE(size, static_cast<uint32_t>(info.uncompressedSize));
            }
        }
    }
}
