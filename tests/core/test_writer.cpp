// Vault writer: round trips through the reader, the stored layout of the
// entries it writes, adding to an existing vault, and what it refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include <zlib.h>

#include "VaultTestUtil.h"
#include "vault/format/VaultTime.h"
#include "vault/writer/EntryPrefetch.h"
#include "vault/writer/ParallelDeflate.h"
#include "vault/writer/VaultWriter.h"

using namespace hbtest;

namespace {

struct LimitGuard {
    LimitGuard(uint64_t bytes, uint32_t entries) { vault::SetWriterLimitsForTest(bytes, entries); }
    ~LimitGuard() { vault::SetWriterLimitsForTest(0, 0); }
};

uint32_t AddFile(VaultHandle* w, const char* name, const std::string& path, uint32_t* attrs = nullptr,
                 uint32_t* offset = nullptr, uint32_t* packed = nullptr) {
    uint32_t size = 0;
    return AddVaultEntry(w, name, path.c_str(), 0, kVaultSourcePath, attrs, offset, packed, &size);
}

FileTime TimeOf(int year, int month, int day, int h, int m, int s) {
    vault::CalendarTime c;
    c.year = year; c.month = month; c.day = day; c.hour = h; c.minute = m; c.second = s;
    FileTime t = 0;
    vault::FileTimeFromCalendar(c, &t);
    return t;
}

}  // namespace

TEST(VaultWriterRoundTrip, FilesFoldersAndMemoryComeBackAsWritten) {
    TempDir dir("wr_roundtrip");
    const Bytes text = MakeData(100000, 1, true);
    const Bytes noise = MakeData(70000, 2, false);
    const Bytes packed = MakeData(20000, 3, false);
    ASSERT_TRUE(WriteBytes(dir / "text.txt", text));
    ASSERT_TRUE(WriteBytes(dir / "noise.bin", noise));
    ASSERT_TRUE(WriteBytes(dir / "empty.dat", Bytes()));
    ASSERT_TRUE(WriteBytes(dir / "archive.TGZ", packed));

    const std::string vaultPath = dir / "v.vfo";
    VaultHandle* w = OpenVaultWriter(vaultPath.c_str(), 0, kVaultSourcePath, nullptr);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(!IsReaderHandle(w));
    uint32_t attrs = 0, packedSize = 0;
    ASSERT_EQ(AddFile(w, "docs\\text.txt", dir / "text.txt"), kVaultOk);
    ASSERT_EQ(AddFile(w, "noise.bin", dir / "noise.bin"), kVaultOk);
    ASSERT_EQ(AddFile(w, "empty.dat", dir / "empty.dat"), kVaultOk);
    ASSERT_EQ(AddFile(w, "archive.TGZ", dir / "archive.TGZ", &attrs, nullptr, &packedSize), kVaultOk);
    EXPECT_EQ(packedSize, packed.size());
    ASSERT_EQ(AddVaultEntry(w, "docs", nullptr, 0, kVaultSourceFolder, &attrs, nullptr, nullptr,
                            nullptr),
              kVaultOk);
    EXPECT_EQ(attrs, 0x41C00010u);
    const Bytes mem = MakeData(3000, 4, true);
    ASSERT_EQ(AddVaultEntry(w, "mem.txt", mem.data(), 3000, kVaultSourceMemory, &attrs, nullptr,
                            nullptr, nullptr),
              kVaultOk);
    EXPECT_EQ(attrs, 0x80000000u);
    ASSERT_EQ(CloseVaultHandle(w), kVaultOk);

    std::vector<ListedEntry> listed;
    ASSERT_TRUE(ReadWholeVault(vaultPath, &listed));
    ASSERT_EQ(listed.size(), 6u);
    const char* names[] = {"docs/text.txt", "noise.bin", "empty.dat", "archive.TGZ", "docs/", "mem.txt"};
    const Bytes* datas[] = {&text, &noise, nullptr, &packed, nullptr, &mem};
    for (size_t i = 0; i < listed.size(); ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(listed[i].info.name, names[i]);
        EXPECT_EQ(listed[i].result, kVaultOk);
        EXPECT_EQ(listed[i].data, datas[i] ? *datas[i] : Bytes());
    }
    EXPECT_EQ(listed[4].info.attributes, 0x90u);
    EXPECT_LT(listed[0].info.compressedSize, listed[0].info.uncompressedSize * 3 / 4);

    // The stored layout of the special cases.
    const Bytes image = ReadBytes(vaultPath);
    const vault::CentralHeader empty = CentralHeaderAt(image, 2);
    EXPECT_EQ(empty.method, vault::kMethodDeflate);
    EXPECT_EQ(empty.flags, 2);
    EXPECT_EQ(empty.uncompressedSize, 0u);
    EXPECT_EQ(empty.crc, 0u);
    EXPECT_GT(empty.compressedSize, 0u);  // a stream that inflates to nothing
    const vault::CentralHeader tgz = CentralHeaderAt(image, 3);
    EXPECT_EQ(tgz.method, vault::kMethodStored);
    EXPECT_EQ(tgz.flags, 0);
    EXPECT_EQ(tgz.compressedSize, packed.size());
    const vault::CentralHeader folder = CentralHeaderAt(image, 4);
    EXPECT_EQ(folder.method, vault::kMethodStored);
    EXPECT_EQ(folder.flags, 0);
    EXPECT_EQ(folder.externalAttributes, 0x41C00010u);
    EXPECT_EQ(folder.compressedSize + folder.uncompressedSize + folder.crc, 0u);
    // The folder has no data: the next local record follows its own directly.
    EXPECT_EQ(CentralHeaderAt(image, 5).localOffset, folder.localOffset + 64);
    // Nothing after the end block.
    const vault::EndRecord end = EndOf(image);
    EXPECT_EQ(end.entriesTotal, 6);
    EXPECT_EQ(uint64_t(end.directoryOffset) + end.directorySize + 32, image.size());
}

TEST(VaultWriterRoundTrip, ManyEntriesKeepOrderAndContent) {
    TempDir dir("wr_many");
    std::vector<TestEntry> entries;
    for (int i = 0; i < 300; ++i) {
        entries.push_back({"f/" + std::to_string(i) + ".txt", MakeData(i * 7, i, i % 2 == 0)});
    }
    BuildVault(dir / "v.vfo", entries);
    std::vector<ListedEntry> listed;
    ASSERT_TRUE(ReadWholeVault(dir / "v.vfo", &listed));
    ASSERT_EQ(listed.size(), entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(listed[i].info.name, entries[i].name);
        EXPECT_EQ(listed[i].data, entries[i].data);
        EXPECT_EQ(listed[i].result, kVaultOk);
    }
}

TEST(VaultWriterRoundTrip, AttributesAndTimesOfSourceFiles) {
    TempDir dir("wr_attrs");
    const std::string ro = dir / "ro.txt";
    ASSERT_TRUE(WriteBytes(ro, MakeData(100, 5, true)));
    {
        CFile f;
        ASSERT_TRUE(f.Open(ro, CFile::Mode::ReadWriteExisting));
        // Last written in 1965: the extended timestamp clamps to 1970, same time of day.
        const FileTime t1965 = TimeOf(1965, 6, 15, 12, 34, 56);
        ASSERT_TRUE(f.SetTimes(t1965, t1965, t1965));
    }
    ASSERT_TRUE(fileio::SetAttributes(ro, kAttrReadOnly));

    // A program: magic 0x54AD, H at 36, one of the signatures at H.
    Bytes prog(200, 0);
    prog[0] = 0xAD; prog[1] = 0x54; prog[36] = 64; prog[64] = 'P'; prog[65] = 'E';
    ASSERT_TRUE(WriteBytes(dir / "tool.exe", prog));

    const std::string vaultPath = dir / "v.vfo";
    VaultHandle* w = OpenVaultWriter(vaultPath.c_str(), 0, kVaultSourcePath, nullptr);
    ASSERT_NE(w, nullptr);
    uint32_t roAttrs = 0, progAttrs = 0;
    ASSERT_EQ(AddFile(w, "ro.txt", ro, &roAttrs), kVaultOk);
    ASSERT_EQ(AddFile(w, "tool.exe", dir / "tool.exe", &progAttrs), kVaultOk);
    ASSERT_EQ(CloseVaultHandle(w), kVaultOk);
    fileio::SetAttributes(ro, 0);

    EXPECT_EQ(roAttrs & 0x01u, 0x01u);
    EXPECT_EQ(roAttrs & 0x00800000u, 0u);
    EXPECT_EQ(progAttrs & 0x00400000u, 0x00400000u);
    EXPECT_EQ(progAttrs & 0x00800000u, 0x00800000u);
    EXPECT_EQ(roAttrs & 0x00400000u, 0u);

    VaultHandle* r = OpenVaultReader(vaultPath.c_str(), 0, kVaultSourcePath, nullptr);
    ASSERT_NE(r, nullptr);
    ZipEntryInfo info;
    ASSERT_EQ(ReadEntryInfo(r, 0, &info), kVaultOk);
    EXPECT_EQ(info.attributes & 0x01u, 0x01u);
    EXPECT_EQ(info.modificationTime, TimeOf(1970, 1, 1, 12, 34, 56));
    CloseVaultHandle(r);
}

// The name code page for one test, the default again afterwards.
struct CodePageGuard {
    explicit CodePageGuard(unsigned cp) { vault::SetNameCodePage(cp); }
    ~CodePageGuard() { vault::SetNameCodePage(0); }
};

TEST(VaultWriterRoundTrip, NamesInEveryScriptKeepTheirBytesAndFlag) {
    CodePageGuard guard(1252);
    // The codec: code page bytes when they carry the name exactly, else
    // UTF-8 with the flag; decoding never fails.
    const std::string naive = u8"na\u00efve caf\u00e9.txt";
    EXPECT_EQ(vault::EncodeEntryName(naive).bytes, "na\xEFve caf\xE9.txt");
    EXPECT_FALSE(vault::EncodeEntryName(naive).utf8);
    EXPECT_TRUE(vault::EncodeEntryName(u8"\u03a9mega.txt").utf8);
    EXPECT_EQ(vault::DecodeEntryName("na\xEFve caf\xE9.txt", false), naive);
    std::string decoded;
    EXPECT_FALSE(vault::DecodeEntryNameExactly("\xFF" "a", true, &decoded));
    EXPECT_EQ(decoded, u8"\ufffda");
    {
        CodePageGuard japanese(932);
        EXPECT_EQ(vault::EncodeEntryName(u8"\u65e5\u672c\u8a9e.txt").bytes, "\x93\xFA\x96\x7B\x8C\xEA.txt");
        EXPECT_FALSE(vault::EncodeEntryName(u8"\u65e5\u672c\u8a9e.txt").utf8);
        EXPECT_EQ(vault::DecodeEntryName("\x95\x5C.txt", false), u8"\u8868.txt");  // trail byte '\'
        EXPECT_FALSE(vault::DecodeEntryNameExactly("a\x93", false, &decoded));    // lead byte alone
        EXPECT_EQ(decoded, u8"a\ufffd");
        vault::SetNameCodePage(65001);  // a UTF-8 system: flagged, so others read it right
        EXPECT_TRUE(vault::EncodeEntryName(naive).utf8);
    }

    TempDir dir("wr_names");
    const std::string vaultPath = dir / "v.vfo";
    VaultHandle* w = OpenVaultWriter(vaultPath.c_str(), 0, kVaultSourcePath, nullptr);
    ASSERT_NE(w, nullptr);
    std::string omegas, accents;
    for (int i = 0; i < 129; ++i) omegas += u8"\u03a9";
    for (int i = 0; i < 200; ++i) accents += u8"\u00e9";
    struct Name {
        std::string utf8, stored;
        bool flagged;
    };
    const std::vector<Name> names = {
        {naive, "na\xEFve caf\xE9.txt", false},
        {u8"\u03a9mega.txt", u8"\u03a9mega.txt", true},
        {u8"\u041a\u0438\u0440\u0438\u043b\u043b\u0438\u0446\u0430/", u8"\u041a\u0438\u0440\u0438\u043b\u043b\u0438\u0446\u0430/", true},
        {u8"\u65e5\u672c\u8a9e.txt", u8"\u65e5\u672c\u8a9e.txt", true},
        {u8"emoji\U0001F600.txt", u8"emoji\U0001F600.txt", true},
        {omegas + "x", omegas + "x", true},          // 259 bytes as UTF-8
        {accents, std::string(200, '\xE9'), false},  // 400 bytes of UTF-8, 200 stored
    };
    for (const Name& n : names) {
        const bool folder = n.utf8.back() == '/';
        ASSERT_EQ(AddVaultEntry(w, n.utf8.c_str(), folder ? nullptr : "x", folder ? 0 : 1,
                                folder ? kVaultSourceFolder : kVaultSourceMemory, nullptr, nullptr, nullptr, nullptr),
                  kVaultOk)
            << n.utf8;
    }
    // The limit counts stored bytes; a name that is not UTF-8 is refused.
    EXPECT_EQ(AddVaultEntry(w, (omegas + u8"\u03a9").c_str(), "x", 1, kVaultSourceMemory, nullptr, nullptr,
                            nullptr, nullptr),
              kVaultBadArguments);
    EXPECT_EQ(AddVaultEntry(w, "\xFF.txt", "x", 1, kVaultSourceMemory, nullptr, nullptr, nullptr, nullptr),
              kVaultBadArguments);
    ASSERT_EQ(CloseVaultHandle(w), kVaultOk);

    std::vector<ListedEntry> listed;
    ASSERT_TRUE(ReadWholeVault(vaultPath, &listed));
    ASSERT_EQ(listed.size(), names.size());
    const Bytes image = ReadBytes(vaultPath);
    for (size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i].utf8);
        EXPECT_EQ(listed[i].info.name, names[i].utf8);
        EXPECT_EQ(listed[i].info.storedName, names[i].stored);
        EXPECT_EQ(listed[i].info.nameUtf8, names[i].flagged);
        // Bit 11 in the central record and in the local record.
        EXPECT_EQ((CentralHeaderAt(image, static_cast<int>(i)).flags & 0x0800) != 0, names[i].flagged);
        uint8_t plain[32];
        vault::LocalHeader local;
        ASSERT_TRUE(vault::DecipherRecord(image.data() + listed[i].info.localOffset, plain, 32));
        ASSERT_EQ(vault::DecodeLocalHeader(plain, 32, &local), vault::VaultStatus::Ok);
        EXPECT_EQ((local.flags & 0x0800) != 0, names[i].flagged);
        EXPECT_EQ(local.nameLength, names[i].stored.size());
    }
}

TEST(VaultWriterExisting, AddingKeepsOldDirectoryFirstAndJournalsTheTail) {
    TempDir dir("wr_existing");
    const std::string vaultPath = dir / "v.vfo";
    const std::string journal = dir / "journal.tmp";
    BuildVault(vaultPath, {{"a.txt", MakeData(5000, 1, true)}, {"b.bin", MakeData(3000, 2, false)}});
    const Bytes before = ReadBytes(vaultPath);
    const vault::EndRecord oldEnd = EndOf(before);
    const Bytes oldDirectory(before.begin() + oldEnd.directoryOffset,
                             before.begin() + oldEnd.directoryOffset + oldEnd.directorySize);

    VaultHandle* w = OpenVaultWriter(vaultPath.c_str(), 0, kVaultSourcePath, journal.c_str());
    ASSERT_NE(w, nullptr);
    // From the moment the writer opens, the journal can put the vault back.
    Bytes j0 = ReadBytes(journal);
    ASSERT_EQ(j0.size(), 4 + oldDirectory.size() + 32);
    EXPECT_EQ(vault::GetU32(j0.data()), oldEnd.directoryOffset);
    EXPECT_TRUE(std::equal(j0.begin() + 4, j0.end(), before.begin() + oldEnd.directoryOffset));

    const Bytes c = MakeData(4000, 3, true);
    uint32_t offset = 0;
    ASSERT_EQ(AddVaultEntry(w, "c.txt", c.data(), 4000, kVaultSourceMemory, nullptr, &offset,
                            nullptr, nullptr),
              kVaultOk);
    EXPECT_EQ(offset, oldEnd.directoryOffset);
    ASSERT_EQ(CloseVaultHandle(w), kVaultOk);

    const Bytes after = ReadBytes(vaultPath);
    const vault::EndRecord newEnd = EndOf(after);
    EXPECT_EQ(newEnd.entriesTotal, 3);
    EXPECT_TRUE(std::equal(oldDirectory.begin(), oldDirectory.end(),
                           after.begin() + newEnd.directoryOffset));
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + oldEnd.directoryOffset, after.begin()));
    // The journal now holds the new tail: its offset, then everything from
    // there to the end of the vault.
    const Bytes j1 = ReadBytes(journal);
    ASSERT_EQ(j1.size(), 4 + after.size() - newEnd.directoryOffset);
    EXPECT_EQ(vault::GetU32(j1.data()), newEnd.directoryOffset);
    EXPECT_TRUE(std::equal(j1.begin() + 4, j1.end(), after.begin() + newEnd.directoryOffset));

    std::vector<ListedEntry> listed;
    ASSERT_TRUE(ReadWholeVault(vaultPath, &listed));
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(listed[2].data, c);
}

TEST(VaultWriterExisting, NewVaultFromMissingOrEmptyFileButNeverFromAnotherFile) {
    TempDir dir("wr_open");
    // A file of length 0 becomes a new vault; so does a missing one.
    ASSERT_TRUE(WriteBytes(dir / "zero.vfo", Bytes()));
    BuildVault(dir / "zero.vfo", {{"x.txt", MakeData(10, 1, true)}});
    BuildVault(dir / "missing.vfo", {{"x.txt", MakeData(10, 1, true)}});
    std::vector<ListedEntry> listed;
    EXPECT_TRUE(ReadWholeVault(dir / "zero.vfo", &listed));
    EXPECT_TRUE(ReadWholeVault(dir / "missing.vfo", &listed));

    // Some other file, without an end record, is refused and left alone.
    const Bytes other = MakeData(5000, 9, false);
    ASSERT_TRUE(WriteBytes(dir / "other.doc", other));
    EXPECT_EQ(OpenVaultWriter((dir / "other.doc").c_str(), 0, kVaultSourcePath, nullptr), nullptr);
    char text[64];
    FormatVaultWriterResult(1, text, sizeof text);
    EXPECT_STREQ(text, "Zipfile is corrupt or not a zipfile");
    EXPECT_EQ(ReadBytes(dir / "other.doc"), other);

    // A folder cannot be opened or created as a vault.
    EXPECT_EQ(OpenVaultWriter(dir.Path().c_str(), 0, kVaultSourcePath, nullptr), nullptr);
    EXPECT_EQ(FormatVaultWriterResult(1, nullptr, 0), 25);  // "Couldn't create/open file"
    EXPECT_EQ(OpenVaultWriter(nullptr, 0, 7, nullptr), nullptr);
    EXPECT_EQ(OpenVaultWriter(nullptr, 0, kVaultSourceMemory, nullptr), nullptr);
    FormatVaultWriterResult(1, text, sizeof text);
    EXPECT_STREQ(text, "Caller: not enough space allocated for memory zipfile");
}

TEST(VaultWriterRefusals, NamesSourcesAndHandles) {
    TempDir dir("wr_refuse");
    const std::string vaultPath = dir / "v.vfo";
    VaultHandle* w = OpenVaultWriter(vaultPath.c_str(), 0, kVaultSourcePath, nullptr);
    ASSERT_NE(w, nullptr);
    const std::string n259(259, 'a'), n260(260, 'a'), f258(258, 'd'), f259(259, 'd');
    auto addMem = [&](const std::string& name) {
        return AddVaultEntry(w, name.c_str(), "x", 1, kVaultSourceMemory, nullptr, nullptr, nullptr,
                             nullptr);
    };
    auto addFolder = [&](const std::string& name) {
        return AddVaultEntry(w, name.c_str(), nullptr, 0, kVaultSourceFolder, nullptr, nullptr,
                             nullptr, nullptr);
    };
    EXPECT_EQ(addMem(n259), kVaultOk);
    EXPECT_EQ(addMem(n260), kVaultBadArguments);
    EXPECT_EQ(addFolder(f258), kVaultOk);
    EXPECT_EQ(addFolder(f259), kVaultBadArguments);
    EXPECT_EQ(addMem(""), kVaultBadArguments);
    EXPECT_EQ(AddVaultEntry(w, "x", "x", 1, 9, nullptr, nullptr, nullptr, nullptr),
              kVaultBadArguments);
    // A source that cannot be opened fails that add only.
    EXPECT_EQ(AddFile(w, "gone.txt", dir / "gone.txt"), kVaultNoFile);
    EXPECT_EQ(addMem("after.txt"), kVaultOk);
    ZipEntryInfo info;
    EXPECT_EQ(ReadEntryInfo(w, -1, &info), kVaultWrongKind);
    EXPECT_EQ(ExtractEntry(w, 0, nullptr, 0, kExtractToMemory, nullptr), kVaultWrongKind);
    ASSERT_EQ(CloseVaultHandle(w), kVaultOk);
    EXPECT_EQ(AddVaultEntry(nullptr, "x", "x", 1, kVaultSourceMemory, nullptr, nullptr, nullptr,
                            nullptr),
              kVaultBadArguments);

    std::vector<ListedEntry> listed;
    ASSERT_TRUE(ReadWholeVault(vaultPath, &listed));
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(std::string(listed[1].info.name), f258 + "/");
    EXPECT_EQ(listed[2].info.name, "after.txt");

    VaultHandle* r = OpenVaultReader(vaultPath.c_str(), 0, kVaultSourcePath, nullptr);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(AddVaultEntry(r, "x", "x", 1, kVaultSourceMemory, nullptr, nullptr, nullptr, nullptr),
              kVaultWrongKind);
    CloseVaultHandle(r);
}

TEST(VaultWriterRefusals, LimitsAreRefusedBeforeAnythingIsWritten) {
    TempDir dir("wr_limits");
    const std::string vaultPath = dir / "v.vfo";
    BuildVault(vaultPath, {{"a.txt", MakeData(100, 1, true)}});

    // An end record that already counts 65,535 entries: no room for one more.
    Bytes image = ReadBytes(vaultPath);
    const size_t endPos = image.size() - 32;
    vault::PutU16(image.data() + endPos + 8, 0xFFFF);
    vault::PutU16(image.data() + endPos + 10, 0xFFFF);
    ASSERT_TRUE(WriteBytes(vaultPath, image));
    VaultHandle* w = OpenVaultWriter(vaultPath.c_str(), 0, kVaultSourcePath, nullptr);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(AddVaultEntry(w, "b", "b", 1, kVaultSourceMemory, nullptr, nullptr, nullptr, nullptr),
              kVaultTooLarge);
    EXPECT_EQ(AddVaultEntry(w, "d", nullptr, 0, kVaultSourceFolder, nullptr, nullptr, nullptr,
                            nullptr),
              kVaultTooLarge);
    ASSERT_EQ(CloseVaultHandle(w), kVaultOk);
    EXPECT_EQ(ReadBytes(vaultPath), image);

    // A byte limit (4 GiB in use, lowered here): an add that could pass it
    // is refused whole; a smaller one still fits afterwards.
    const std::string small = dir / "small.vfo";
    BuildVault(small, {{"a.txt", MakeData(100, 1, true)}});
    const Bytes smallBefore = ReadBytes(small);
    const Bytes big = MakeData(8000, 2, false);
    ASSERT_TRUE(WriteBytes(dir / "big.bin", big));
    {
        LimitGuard limit(4096, 0);
        w = OpenVaultWriter(small.c_str(), 0, kVaultSourcePath, nullptr);
        ASSERT_NE(w, nullptr);
        size_t writes = 0;
        {
            WriteHookGuard hook([&](size_t) { ++writes; return true; });
            EXPECT_EQ(AddFile(w, "big.bin", dir / "big.bin"), kVaultTooLarge);
            EXPECT_EQ(AddVaultEntry(w, "big2", big.data(), static_cast<uint32_t>(big.size()),
                                    kVaultSourceMemory, nullptr, nullptr, nullptr, nullptr),
                      kVaultTooLarge);
        }
        EXPECT_EQ(writes, 0u);
        char text[128];
        FormatVaultWriterResult(1, text, sizeof text);
        EXPECT_STRNE(text, "unknown zip result code");
        EXPECT_EQ(AddVaultEntry(w, "tiny", "t", 1, kVaultSourceMemory, nullptr, nullptr, nullptr,
                                nullptr),
                  kVaultOk);
        ASSERT_EQ(CloseVaultHandle(w), kVaultOk);
    }
    std::vector<ListedEntry> listed;
    ASSERT_TRUE(ReadWholeVault(small, &listed));
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_TRUE(std::equal(smallBefore.begin(), smallBefore.begin() + EndOf(smallBefore).directoryOffset,
                           ReadBytes(small).begin()));
}

namespace {
int g_pumpCalls = 0;
void CountPump() { ++g_pumpCalls; }
}  // namespace

TEST(VaultWriterHooks, MessagePumpRunsBeforeEveryVaultWrite) {
    TempDir dir("wr_pump");
    const std::string vaultPath = dir / "v.vfo";
    const Bytes data = MakeData(60000, 3, false);  // several data writes
    VaultHandle* w = OpenVaultWriter(vaultPath.c_str(), 0, kVaultSourcePath, nullptr);
    ASSERT_NE(w, nullptr);
    g_pumpCalls = 0;
    int writes = 0;
    SetVaultMessagePump(&CountPump);
    {
        // Each write must find a pump call not yet used by an earlier write.
        WriteHookGuard hook([&](size_t bytes) {
            if (bytes > 0) {
                ++writes;
                EXPECT_EQ(g_pumpCalls, writes);
            }
            return true;
        });
        ASSERT_EQ(AddVaultEntry(w, "n.bin", data.data(), static_cast<uint32_t>(data.size()),
                                kVaultSourceMemory, nullptr, nullptr, nullptr, nullptr),
                  kVaultOk);
        ASSERT_EQ(CloseVaultHandle(w), kVaultOk);
    }
    SetVaultMessagePump(nullptr);
    EXPECT_GE(writes, 6);  // header, 4+ data pieces, header again, tail
}

TEST(VaultWriterTargets, MemoryAndHandleTargetsHoldAVault) {
    TempDir dir("wr_targets");
    std::vector<uint8_t> block(4096, 0xEE);
    VaultHandle* w = OpenVaultWriter(block.data(), static_cast<uint32_t>(block.size()),
                                     kVaultSourceMemory, nullptr);
    ASSERT_NE(w, nullptr);
    const Bytes data = MakeData(500, 8, true);
    ASSERT_EQ(AddVaultEntry(w, "m.txt", data.data(), 500, kVaultSourceMemory, nullptr, nullptr,
                            nullptr, nullptr),
              kVaultOk);
    ASSERT_EQ(CloseVaultHandle(w), kVaultOk);
    // Too small a block: the add fails and later ones report the earlier error.
    std::vector<uint8_t> tiny(64);
    w = OpenVaultWriter(tiny.data(), 64, kVaultSourceMemory, nullptr);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(AddVaultEntry(w, "m.txt", data.data(), 500, kVaultSourceMemory, nullptr, nullptr,
                            nullptr, nullptr),
              kVaultWriteError);
    EXPECT_EQ(AddVaultEntry(w, "m.txt", data.data(), 5, kVaultSourceMemory, nullptr, nullptr,
                            nullptr, nullptr),
              kVaultPreviousError);
    CloseVaultHandle(w);

    // A vault written through an open handle, then read from the block above.
    CFile out;
    ASSERT_TRUE(out.Open(dir / "h.vfo", CFile::Mode::CreateReadWrite));
    w = OpenVaultWriter(&out, 0, kVaultSourceHandle, nullptr);
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(AddVaultEntry(w, "m.txt", data.data(), 500, kVaultSourceMemory, nullptr, nullptr,
                            nullptr, nullptr),
              kVaultOk);
    ASSERT_EQ(CloseVaultHandle(w), kVaultOk);
    out.Close();
    const Bytes fromHandle = ReadBytes(dir / "h.vfo");
    ASSERT_LE(fromHandle.size(), block.size());
    ASSERT_TRUE(WriteBytes(dir / "m.vfo", Bytes(block.begin(), block.begin() + fromHandle.size())));
    for (const char* name : {"h.vfo", "m.vfo"}) {
        std::vector<ListedEntry> listed;
        ASSERT_TRUE(ReadWholeVault(dir / name, &listed)) << name;
        ASSERT_EQ(listed.size(), 1u);
        EXPECT_EQ(listed[0].data, data);
    }
}

// ---------------------------------------------------------------------------
// Large entries compressed in blocks on several threads.

namespace {

Bytes InflateRaw(const Bytes& packed, bool* complete) {
    z_stream z{};
    *complete = false;
    Bytes out;
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return out;
    z.next_in = const_cast<uint8_t*>(packed.data());
    z.avail_in = static_cast<uInt>(packed.size());
    uint8_t buf[16384];
    int rc;
    do {
        z.next_out = buf;
        z.avail_out = sizeof buf;
        rc = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), buf, buf + (sizeof buf - z.avail_out));
    } while (rc == Z_OK);
    *complete = rc == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    return out;
}

// Runs DeflateInBlocks over data; failAt stops the reading there with a
// read failure (0 for none).
uint32_t DeflateBlocks(const Bytes& data, unsigned threads, size_t block, Bytes* packed,
                       uint32_t* crc, uint64_t* read, size_t failAt = 0) {
    size_t pos = 0;
    vault::DeflateIo io;
    io.read = [&](uint8_t* buffer, size_t len, size_t* got) -> uint32_t {
        *got = std::min(len, data.size() - pos);
        if (failAt && pos + *got >= failAt) return kVaultWriteError;
        if (*got) std::memcpy(buffer, data.data() + pos, *got);
        pos += *got;
        return kVaultOk;
    };
    io.write = [&](const uint8_t* p, size_t n) -> uint32_t {
        packed->insert(packed->end(), p, p + n);
        return kVaultOk;
    };
    packed->clear();
    return vault::DeflateInBlocks(threads, 8, 8, io, crc, read, block);
}

}  // namespace

TEST(VaultWriterParallel, BlockedStreamInflatesToTheInputAroundEveryBlockBoundary) {
    const size_t block = 32 * 1024;
    const size_t sizes[] = {0, 1, block - 1, block, block + 1, 2 * block - 1, 2 * block,
                            2 * block + 1, 5 * block + 7};
    for (bool compressible : {true, false}) {
        const Bytes all = MakeData(5 * block + 7, 61, compressible);
        for (size_t size : sizes) {
            const Bytes data(all.begin(), all.begin() + size);
            const uint32_t expectCrc = static_cast<uint32_t>(crc32(0L, data.data(), static_cast<uInt>(size)));
            for (unsigned threads : {1u, 2u, 7u}) {
                SCOPED_TRACE(std::to_string(size) + " bytes, " + std::to_string(threads) +
                             " threads" + (compressible ? "" : ", noise"));
                Bytes packed;
                uint32_t crc = 1;
                uint64_t read = 1;
                ASSERT_EQ(DeflateBlocks(data, threads, block, &packed, &crc, &read), kVaultOk);
                bool complete = false;
                EXPECT_EQ(InflateRaw(packed, &complete), data);
                EXPECT_TRUE(complete);
                EXPECT_EQ(crc, expectCrc);
                EXPECT_EQ(read, size);
            }
        }
    }
    // A read that fails half-way ends the stream with its code and nothing
    // of the blocks after it is written.
    const Bytes data = MakeData(6 * block, 62, true);
    Bytes packed;
    uint32_t crc = 0;
    uint64_t read = 0;
    EXPECT_EQ(DeflateBlocks(data, 2, block, &packed, &crc, &read, 3 * block + 5), kVaultWriteError);
    bool complete = true;
    const Bytes prefix = InflateRaw(packed, &complete);
    EXPECT_FALSE(complete);
    EXPECT_LE(prefix.size(), 3 * block);
    EXPECT_TRUE(std::equal(prefix.begin(), prefix.end(), data.begin()));
    EXPECT_EQ(vault::DeflateInBlocks(2, 8, 8, vault::DeflateIo(), &crc, &read, 1000), kVaultBadArguments);
}

TEST(VaultWriterParallel, LargeEntriesGoInOnSeveralThreadsAndReadBack) {
    TempDir dir("wr_parallel");
    const size_t block = 32 * 1024;
    const Bytes text = MakeData(7 * block + 3, 63, true);
    const Bytes noise = MakeData(3 * block, 64, false);
    ASSERT_TRUE(WriteBytes(dir / "text.txt", text));
    Bytes serialImage;
    for (unsigned threads : {1u, 2u}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        ParallelGuard parallel(threads, block);
        const std::string vaultPath = dir / ("v" + std::to_string(threads) + ".vfo");
        VaultHandle* w = OpenVaultWriter(vaultPath.c_str(), 0, kVaultSourcePath, nullptr);
        ASSERT_NE(w, nullptr);
        uint32_t packed = 0;
        ASSERT_EQ(AddFile(w, "text.txt", dir / "text.txt", nullptr, nullptr, &packed), kVaultOk);
        EXPECT_LT(packed, text.size() * 3 / 4);
        ASSERT_EQ(AddVaultEntry(w, "noise.bin", noise.data(), static_cast<uint32_t>(noise.size()),
                                kVaultSourceMemory, nullptr, nullptr, nullptr, nullptr),
                  kVaultOk);
        // A source whose reading fails half-way fails as it does on one
        // thread, and the writer goes on; nothing of it stays in the vault.
        {
            const std::string bad = dir / "text.txt";
            uint64_t given = 0;
            fileio::SetReadHook([&](const std::string& path, size_t bytes) {
                if (path != bad) return true;
                given += bytes;
                return given < text.size() / 2;
            });
            EXPECT_EQ(AddFile(w, "bad.txt", bad), kVaultWriteError);
            fileio::SetReadHook(nullptr);
        }
        ASSERT_EQ(AddVaultEntry(w, "small.txt", text.data(), 100, kVaultSourceMemory, nullptr,
                                nullptr, nullptr, nullptr),
                  kVaultOk);
        ASSERT_EQ(CloseVaultHandle(w), kVaultOk);
        std::vector<ListedEntry> listed;
        ASSERT_TRUE(ReadWholeVault(vaultPath, &listed));
        ASSERT_EQ(listed.size(), 3u);
        EXPECT_EQ(listed[0].data, text);
        EXPECT_EQ(listed[1].data, noise);
        EXPECT_EQ(listed[2].data, Bytes(text.begin(), text.begin() + 100));
        for (const ListedEntry& e : listed) EXPECT_EQ(e.result, kVaultOk) << e.info.name;
        const Bytes image = ReadBytes(vaultPath);
        EXPECT_EQ(CentralHeaderAt(image, 0).flags, 2);
        if (threads == 1) serialImage = image;
        else EXPECT_LE(image.size(), serialImage.size() + 64);  // a few bytes per block
    }
}

TEST(VaultWriterParallel, FilesReadAheadGoInAsTheWriterWouldHaveWrittenThem) {
    TempDir dir("wr_prefetch");
    std::vector<std::string> names;
    for (int i = 0; i < 12; ++i) {
        names.push_back(i == 4 ? "p4.zip" : "p" + std::to_string(i) + ".txt");
        ASSERT_TRUE(WriteBytes(dir / names.back(), MakeData(1000 + 3000 * i, 70 + i, i % 3 != 0)));
    }
    Bytes images[2];
    for (int ahead = 0; ahead < 2; ++ahead) {
        SCOPED_TRACE(ahead ? "read ahead" : "read by the writer");
        const std::string vaultPath = dir / (ahead ? "a.vfo" : "w.vfo");
        fileio::Remove(dir / names[6]);  // listed, but not there to be read
        vault::EntryPrefetcher prefetch(ahead ? 3 : 1);
        EXPECT_EQ(prefetch.Active(), ahead == 1);
        for (const std::string& n : names) prefetch.Expect(dir / n, n);
        VaultHandle* w = OpenVaultWriter(vaultPath.c_str(), 0, kVaultSourcePath, nullptr);
        ASSERT_NE(w, nullptr);
        vault::AttachPrefetcher(w, &prefetch);
        // Read ahead, the files are never read on this thread.
        const std::thread::id self = std::this_thread::get_id();
        if (ahead) {
            fileio::SetReadHook([self](const std::string& path, size_t) {
                return std::this_thread::get_id() != self || path.find(".vfo") != std::string::npos;
            });
        }
        for (size_t i = 0; i < names.size(); ++i) {
            if (i == 2) continue;  // listed, then not added: dropped
            if (i == 6) {
                // The writer reports it as it always did.
                EXPECT_EQ(AddFile(w, names[i].c_str(), dir / names[i]), kVaultNoFile);
                continue;
            }
            ASSERT_EQ(AddFile(w, names[i].c_str(), dir / names[i]), kVaultOk) << names[i];
        }
        fileio::SetReadHook(nullptr);
        ASSERT_EQ(CloseVaultHandle(w), kVaultOk);
        ASSERT_TRUE(WriteBytes(dir / names[6], MakeData(1000 + 3000 * 6, 76, true)));
        std::vector<ListedEntry> listed;
        ASSERT_TRUE(ReadWholeVault(vaultPath, &listed));
        ASSERT_EQ(listed.size(), names.size() - 2);
        for (const ListedEntry& e : listed) {
            EXPECT_EQ(e.result, kVaultOk);
            EXPECT_EQ(e.data, ReadBytes(dir / e.info.name)) << e.info.name;
        }
        images[ahead] = ReadBytes(vaultPath);
    }
    EXPECT_EQ(CentralHeaderAt(images[1], 3).method, vault::kMethodStored);  // p4.zip
    // Byte for byte what the writer writes from the files itself.
    EXPECT_EQ(images[0], images[1]);
}
