// Record codec of the vault: layout and padding, enciphered records, the end
// record search, directory walking, local record checks, extended
// timestamps, times, attributes and the per-entry rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "VaultTestUtil.h"
#include "vault/fileio/FileIo.h"
#include "vault/format/VaultEntryRules.h"
#include "vault/format/VaultRecords.h"
#include "vault/format/VaultScan.h"
#include "vault/format/VaultTime.h"

namespace vault {
// Readable failure messages.
void PrintTo(VaultStatus s, std::ostream* os) { *os << VaultStatusName(s); }
}  // namespace vault

using namespace vault;
using Bytes = std::vector<uint8_t>;

namespace {

// A file in the temporary folder, removed at the end of the test.
class TempFile {
public:
    TempFile() {
        static unsigned counter = 0;
        m_path = fileio::TempFolder() + "hb_format_" + hbtest::ProcessTag() + "_" +
                 std::to_string(fileio::TickCount()) + "_" +
                 std::to_string(++counter) + ".vfo";
    }
    ~TempFile() { fileio::Remove(m_path); }
    void Write(const Bytes& bytes) {
        CFile f;
        ASSERT_TRUE(f.Open(m_path, CFile::Mode::CreateWrite));
        ASSERT_TRUE(f.Write(bytes.data(), bytes.size()));
    }
    CFile Open() {
        CFile f;
        EXPECT_TRUE(f.Open(m_path, CFile::Mode::Read));
        return f;
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// Builds vault images with the encoders. Entries keep their records so that
// a test can tamper with them before Build().
struct ImageEntry {
    LocalRecord local;
    CentralRecord central;
    Bytes data;
    bool keepOffset = false;  // leave central.header.localOffset as set
};

class ImageBuilder {
public:
    ImageEntry& AddFile(const std::string& name, const Bytes& data, uint16_t method = kMethodStored) {
        ImageEntry e;
        e.local.header.method = e.central.header.method = method;
        e.local.header.flags = e.central.header.flags = method == kMethodDeflate ? kFlagDeflateLevel : 0;
        e.local.header.crc = e.central.header.crc = 0x12345678u + static_cast<uint32_t>(m_entries.size());
        e.local.header.compressedSize = e.central.header.compressedSize = static_cast<uint32_t>(data.size());
        e.local.header.uncompressedSize = e.central.header.uncompressedSize = static_cast<uint32_t>(data.size() * 2);
        e.local.name = e.central.name = name;
        e.local.extra = BuildLocalTimestamp(1000000000, 1000000100, 1000000200);
        e.central.extra = BuildCentralTimestamp(1000000000);
        e.central.header.externalAttributes = BuildExternalAttributes(kAttrArchive, false, false);
        e.data = data;
        m_entries.push_back(e);
        return m_entries.back();
    }
    ImageEntry& AddFolder(const std::string& name) {
        ImageEntry& e = AddFile(NormalizeEntryName(name, true), Bytes());
        e.local.header.crc = e.central.header.crc = 0;
        e.local.header.uncompressedSize = e.central.header.uncompressedSize = 0;
        e.central.header.externalAttributes = kExternalFolder;
        return e;
    }
    ImageEntry& operator[](size_t i) { return m_entries[i]; }

    Bytes Build() {
        Bytes out;
        for (ImageEntry& e : m_entries) {
            if (!e.keepOffset) e.central.header.localOffset = static_cast<uint32_t>(out.size());
            Bytes rec;
            EXPECT_EQ(EncodeLocalRecord(e.local, &rec), VaultStatus::Ok);
            out.insert(out.end(), rec.begin(), rec.end());
            out.insert(out.end(), e.data.begin(), e.data.end());
        }
        EndRecord end;
        end.directoryOffset = static_cast<uint32_t>(out.size());
        for (const ImageEntry& e : m_entries) {
            Bytes rec;
            EXPECT_EQ(EncodeCentralRecord(e.central, &rec), VaultStatus::Ok);
            out.insert(out.end(), rec.begin(), rec.end());
        }
        end.directorySize = static_cast<uint32_t>(out.size() - end.directoryOffset);
        end.entriesOnDisk = end.entriesTotal = static_cast<uint16_t>(m_entries.size() + m_extraCount);
        auto tail = EncodeEndRecord(end);
        out.insert(out.end(), tail.begin(), tail.end());
        return out;
    }
    int m_extraCount = 0;  // claim more entries than there are

private:
    std::vector<ImageEntry> m_entries;
};

Bytes Decipher(const Bytes& in) {
    Bytes out(in.size());
    EXPECT_TRUE(DecipherRecord(in.data(), out.data(), in.size()));
    return out;
}

Bytes WithEndSignatureAt(size_t size, size_t pos) {
    Bytes b(size, 0xAA);
    const uint8_t sig[4] = {0x12, 0x11, 0x05, 0x06};
    std::memcpy(&b[pos], sig, 4);
    return b;
}

FileTime At(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
    CalendarTime c;
    c.year = y; c.month = mo; c.day = d; c.hour = h; c.minute = mi; c.second = s; c.millisecond = ms;
    FileTime t = 0;
    EXPECT_TRUE(FileTimeFromCalendar(c, &t));
    return t;
}

}  // namespace

// ---------------------------------------------------------------------------
// Record layout

TEST(VaultRecordLayout, EmptyVaultIsOneEndBlock) {
    auto block = EncodeEndRecord(EndRecord());
    ASSERT_EQ(block.size(), 32u);
    const uint8_t head[4] = {0x12, 0x11, 0x05, 0x06};
    EXPECT_EQ(std::memcmp(block.data(), head, 4), 0);
    for (size_t i = 4; i < 32; ++i) EXPECT_EQ(block[i], 0) << i;

    TempFile f;
    f.Write(Bytes(block.begin(), block.end()));
    CFile file = f.Open();
    DirectoryInfo dir;
    ASSERT_EQ(LocateDirectory(file, &dir), VaultStatus::Ok);
    EXPECT_EQ(dir.endPosition, 0u);
    EXPECT_EQ(dir.entryCount, 0u);
    EXPECT_EQ(dir.directoryStart, 0u);
    CentralDirectoryWalker walk(&file, dir);
    EXPECT_EQ(walk.First(), VaultStatus::EndOfList);
    EXPECT_FALSE(walk.Valid());
}

TEST(VaultRecordLayout, FiveByteNamePadsBothRecordsTo64) {
    ImageBuilder b;
    ImageEntry& e = b.AddFile("a.txt", Bytes{1, 2, 3}, kMethodDeflate);
    Bytes local, central;
    ASSERT_EQ(EncodeLocalRecord(e.local, &local), VaultStatus::Ok);
    ASSERT_EQ(EncodeCentralRecord(e.central, &central), VaultStatus::Ok);
    ASSERT_EQ(local.size(), 64u);
    ASSERT_EQ(central.size(), 64u);

    Bytes plain = Decipher(local);
    EXPECT_NE(plain, local);  // really enciphered
    EXPECT_EQ(GetU32(&plain[0]), kLocalSignature);
    EXPECT_EQ(plain[0], 0x12);
    EXPECT_EQ(GetU16(&plain[28]), 29u);
    EXPECT_EQ(std::string(plain.begin() + 30, plain.begin() + 35), "a.txt");
    EXPECT_EQ(Bytes(plain.begin() + 35, plain.begin() + 52), e.local.extra);
    for (size_t i = 52; i < 64; ++i) EXPECT_EQ(plain[i], 0) << i;

    Bytes cplain = Decipher(central);
    EXPECT_EQ(GetU32(&cplain[0]), kCentralSignature);
    EXPECT_EQ(GetU16(&cplain[4]), 0x0B17u);
    EXPECT_EQ(GetU16(&cplain[30]), 13u);
    EXPECT_EQ(GetU16(&cplain[32]), 0u);

    // Each record is its own stream: the first 32 bytes decipher alone.
    Bytes firstBlock(32);
    ASSERT_TRUE(DecipherRecord(local.data(), firstBlock.data(), 32));
    LocalHeader h;
    ASSERT_EQ(DecodeLocalHeader(firstBlock.data(), 32, &h), VaultStatus::Ok);
    EXPECT_EQ(h.crc, e.local.header.crc);
    EXPECT_EQ(h.RecordLength(), 64u);

    // Rewriting with final values (flags, CRC, sizes) keeps the length.
    e.local.header.flags = kFlagDescriptor;
    e.local.header.compressedSize = 0xFFFFFFF0u;
    Bytes again;
    ASSERT_EQ(EncodeLocalRecord(e.local, &again), VaultStatus::Ok);
    EXPECT_EQ(again.size(), local.size());
}

TEST(VaultRecordLayout, NamesThatFillWholeBlocksGetNoPadding) {
    LocalRecord local;
    local.name = std::string(17, 'x');  // 30 + 17 + 17 = 64
    local.extra = BuildLocalTimestamp(1, 2, 3);
    Bytes plain;
    ASSERT_EQ(BuildLocalRecordPlain(local, &plain), VaultStatus::Ok);
    EXPECT_EQ(plain.size(), 64u);
    EXPECT_EQ(GetU16(&plain[28]), 17u);

    CentralRecord central;
    central.name = std::string(9, 'y');  // 46 + 9 + 9 = 64
    central.extra = BuildCentralTimestamp(1);
    ASSERT_EQ(BuildCentralRecordPlain(central, &plain), VaultStatus::Ok);
    EXPECT_EQ(plain.size(), 64u);
    EXPECT_EQ(GetU16(&plain[30]), 9u);

    central.name = std::string(10, 'y');  // one byte more: a whole block of padding
    ASSERT_EQ(BuildCentralRecordPlain(central, &plain), VaultStatus::Ok);
    EXPECT_EQ(plain.size(), 96u);
    EXPECT_EQ(GetU16(&plain[30]), 9u + 31u);
}

TEST(VaultRecordLayout, DecodedCentralRecordReencodesToSameBytes) {
    ImageBuilder b;
    ImageEntry& e = b.AddFile("docs/report.txt", Bytes(10, 7));
    e.central.header.localOffset = 0x01020304;
    Bytes enc, plain;
    ASSERT_EQ(EncodeCentralRecord(e.central, &enc), VaultStatus::Ok);
    plain = Decipher(enc);
    CentralRecord back;
    ASSERT_EQ(DecodeCentralRecord(plain.data(), plain.size(), &back), VaultStatus::Ok);
    EXPECT_EQ(back.name, "docs/report.txt");
    EXPECT_EQ(back.header.localOffset, 0x01020304u);
    EXPECT_EQ(back.header.crc, e.central.header.crc);
    Bytes again;
    ASSERT_EQ(EncodeCentralRecord(back, &again), VaultStatus::Ok);  // padding already in extra
    EXPECT_EQ(again, enc);
}

TEST(VaultRecordLayout, EncodersRefuseLengthsBeyondTheirFields) {
    LocalRecord local;
    local.name = std::string(0x10000, 'n');
    Bytes out;
    EXPECT_EQ(EncodeLocalRecord(local, &out), VaultStatus::BadArgument);
    local.name = "x";
    local.extra.assign(0xFFF0, 0);  // fits alone, not with its padding
    EXPECT_EQ(EncodeLocalRecord(local, &out), VaultStatus::BadArgument);
    CentralRecord central;
    central.comment.assign(0x10000, 'c');
    EXPECT_EQ(EncodeCentralRecord(central, &out), VaultStatus::BadArgument);
}

TEST(VaultRecordLayout, DescriptorAndEndRecordRoundTrip) {
    DataDescriptor d{0xCAFEBABE, 10, 20};
    auto bytes = EncodeDataDescriptor(d);
    EXPECT_EQ(bytes[0], 0x12);
    EXPECT_EQ(bytes[3], 0x08);
    DataDescriptor back;
    ASSERT_EQ(DecodeDataDescriptor(bytes.data(), bytes.size(), &back), VaultStatus::Ok);
    EXPECT_EQ(back.crc, 0xCAFEBABEu);
    EXPECT_EQ(back.uncompressedSize, 20u);
    EXPECT_EQ(DecodeDataDescriptor(bytes.data(), 15, &back), VaultStatus::Corrupt);

    EndRecord e;
    e.entriesOnDisk = e.entriesTotal = 3;
    e.directorySize = 192;
    e.directoryOffset = 1000;
    auto eb = EncodeEndRecord(e);
    EndRecord eback;
    ASSERT_EQ(DecodeEndRecord(eb.data(), 22, &eback), VaultStatus::Ok);
    EXPECT_EQ(eback.directoryOffset, 1000u);
    EXPECT_EQ(ValidateEndRecord(eback, 1192), VaultStatus::Ok);
    EXPECT_EQ(ValidateEndRecord(eback, 1191), VaultStatus::Corrupt);
    eback.entriesTotal = 4;
    EXPECT_EQ(ValidateEndRecord(eback, 1192), VaultStatus::Corrupt);
    EXPECT_EQ(DecodeEndRecord(eb.data(), 21, &eback), VaultStatus::Corrupt);
}

TEST(VaultRecordLayout, TruncatedOrOverrunningRecordsDecodeAsCorrupt) {
    ImageBuilder b;
    ImageEntry& e = b.AddFile("name.bin", Bytes());
    Bytes local, central;
    ASSERT_EQ(BuildLocalRecordPlain(e.local, &local), VaultStatus::Ok);
    ASSERT_EQ(BuildCentralRecordPlain(e.central, &central), VaultStatus::Ok);
    LocalRecord lr;
    CentralRecord cr;
    EXPECT_EQ(DecodeLocalRecord(local.data(), 29, &lr), VaultStatus::Corrupt);
    EXPECT_EQ(DecodeLocalRecord(local.data(), local.size() - 1, &lr), VaultStatus::Corrupt);
    EXPECT_EQ(DecodeLocalRecord(local.data(), local.size(), &lr), VaultStatus::Ok);
    EXPECT_EQ(DecodeCentralRecord(central.data(), 45, &cr), VaultStatus::Corrupt);
    EXPECT_EQ(DecodeCentralRecord(central.data(), central.size() - 1, &cr), VaultStatus::Corrupt);
    PutU16(&central[32], 0xFFFF);  // comment length running far past the bytes
    EXPECT_EQ(DecodeCentralRecord(central.data(), central.size(), &cr), VaultStatus::Corrupt);
    EXPECT_EQ(DecodeCentralRecord(local.data(), local.size(), &cr), VaultStatus::Corrupt);  // signature
}

// ---------------------------------------------------------------------------
// Entry rules

TEST(VaultEntryRules, NamesAndMethods) {
    for (const char* n : {"pack.ZIP", "a.z", "B.Z", "x.zoo", "y.ARC", "q.lzh", "r.Arj", "s.gz", "archive.TGZ",
                          "dir.x/file.zip"}) {
        EXPECT_TRUE(HasStoredExtension(n)) << n;
        EXPECT_EQ(ChooseMethod(n, false), kMethodStored) << n;
    }
    for (const char* n : {"a.txt", "zip", "a.zip.txt", "a.gzip", "dir.gz/file", "a.", ".", "a.tar"}) {
        EXPECT_FALSE(HasStoredExtension(n)) << n;
        EXPECT_EQ(ChooseMethod(n, false), kMethodDeflate) << n;
    }
    EXPECT_EQ(ChooseMethod("docs", true), kMethodStored);
    EXPECT_EQ(NormalizeEntryName("a\\b\\c.txt", false), "a/b/c.txt");
    EXPECT_EQ(NormalizeEntryName("docs", true), "docs/");
    EXPECT_EQ(NormalizeEntryName("docs\\", true), "docs/");
}

TEST(VaultEntryRules, ExternalAttributesFromWindowsBits) {
    EXPECT_EQ(BuildExternalAttributes(kAttrArchive, false, false), 0x81800020u);
    EXPECT_EQ(BuildExternalAttributes(kAttrArchive | kAttrReadOnly, false, false), 0x81000021u);
    EXPECT_EQ(BuildExternalAttributes(kAttrHidden | kAttrSystem | kAttrNormal, false, true), 0x81C00006u);
    EXPECT_EQ(BuildExternalAttributes(kAttrDirectory, true, true), kExternalFolder);
}

TEST(VaultEntryRules, WindowsAttributesFromExternal) {
    EXPECT_EQ(WindowsAttributesFromExternal(kExternalFolder), 0x90u);
    EXPECT_EQ(WindowsAttributesFromExternal(0x00800010), 0x90u);       // Windows directory bit only
    EXPECT_EQ(WindowsAttributesFromExternal(0x40800000), 0x90u);       // Unix folder bit only
    EXPECT_EQ(WindowsAttributesFromExternal(0x81800020), 0xA0u);
    EXPECT_EQ(WindowsAttributesFromExternal(0x81000020), 0xA1u);       // read-only via the Unix write bit
    EXPECT_EQ(WindowsAttributesFromExternal(kExternalMemoryData), 0x81u);
    EXPECT_EQ(WindowsAttributesFromExternal(0x81800027), 0xA7u);
    // Every combination of the file bits survives the round trip.
    for (uint32_t a = 0; a < 0x40; ++a) {
        if (a & (kAttrDirectory | 0x08)) continue;
        EXPECT_EQ(WindowsAttributesFromExternal(BuildExternalAttributes(a, false, a & 1)), kAttrNormal | a) << a;
    }
}

TEST(VaultEntryRules, ProgramRecognition) {
    Bytes head(100, 0);
    PutU16(&head[0], 0x54AD);
    PutU16(&head[36], 40);
    PutU32(&head[40], 0x4550);
    EXPECT_TRUE(LooksLikeProgram(head.data(), head.size(), 100));
    EXPECT_TRUE(LooksLikeProgram(head.data(), head.size(), 93));    // 40 + 52 < 93
    EXPECT_FALSE(LooksLikeProgram(head.data(), head.size(), 92));   // 40 + 52 == 92
    for (uint32_t sig : {0x5A4Du, 0x454Eu, 0x454Cu}) {
        PutU32(&head[40], sig);
        EXPECT_TRUE(LooksLikeProgram(head.data(), head.size(), 100)) << sig;
    }
    PutU32(&head[40], 0x00014550);
    EXPECT_FALSE(LooksLikeProgram(head.data(), head.size(), 100));
    PutU32(&head[40], 0x4550);
    EXPECT_FALSE(LooksLikeProgram(head.data(), 42, 100));           // bytes at H not given
    PutU16(&head[0], 0x5A4D);                                       // "MZ" is not the magic
    EXPECT_FALSE(LooksLikeProgram(head.data(), head.size(), 100));
    PutU16(&head[0], 0x54AD);
    PutU16(&head[36], 0xFFFF);                                      // H far beyond the file
    EXPECT_FALSE(LooksLikeProgram(head.data(), head.size(), 100));
    EXPECT_FALSE(LooksLikeProgram(head.data(), head.size(), 40));

    PutU16(&head[36], 40);
    TempFile f;
    f.Write(head);
    CFile file = f.Open();
    EXPECT_TRUE(IsProgramFile(file, 100));
    EXPECT_FALSE(IsProgramFile(file, 92));
}

// ---------------------------------------------------------------------------
// Extended timestamp

TEST(VaultTimestampField, BuildAndParseBothForms) {
    Bytes local = BuildLocalTimestamp(0x11111111, 0x22222222, 0x33333333);
    ASSERT_EQ(local.size(), 17u);
    EXPECT_EQ(local[0], 'U');
    EXPECT_EQ(local[1], 'T');
    EXPECT_EQ(GetU16(&local[2]), 13u);
    EXPECT_EQ(local[4], 7);
    ExtendedTimes t;
    ASSERT_TRUE(ParseExtendedTimestamp(local.data(), local.size(), &t));
    EXPECT_TRUE(t.hasModification && t.hasAccess && t.hasCreation);
    EXPECT_EQ(t.access, 0x22222222u);
    EXPECT_EQ(t.creation, 0x33333333u);

    // The central form says 7 but carries one time; padding after it is not
    // taken for the other two.
    Bytes central = BuildCentralTimestamp(0x44444444);
    ASSERT_EQ(central.size(), 9u);
    EXPECT_EQ(GetU16(&central[2]), 5u);
    central.resize(central.size() + 13, 0);
    ASSERT_TRUE(ParseExtendedTimestamp(central.data(), central.size(), &t));
    EXPECT_TRUE(t.hasModification);
    EXPECT_FALSE(t.hasAccess);
    EXPECT_FALSE(t.hasCreation);
    EXPECT_EQ(t.modification, 0x44444444u);
}

TEST(VaultTimestampField, OtherBlocksBeforeAndTruncation) {
    Bytes ut = BuildLocalTimestamp(5, 6, 7);
    Bytes extra = {0x0A, 0x00, 0x04, 0x00, 1, 2, 3, 4,         // other block, 4 data bytes
                   0x01, 0x00, 0x03, 0x01, 9, 9, 9};           // size 0x0103: skipped by 4 + 3
    extra.insert(extra.end(), ut.begin(), ut.end());
    ExtendedTimes t;
    ASSERT_TRUE(ParseExtendedTimestamp(extra.data(), extra.size(), &t));
    EXPECT_EQ(t.modification, 5u);
    EXPECT_EQ(t.creation, 7u);

    // Cut inside the access time: only the modification time is whole.
    Bytes cut(extra.begin(), extra.end() - 6);
    ASSERT_TRUE(ParseExtendedTimestamp(cut.data(), cut.size(), &t));
    EXPECT_TRUE(t.hasModification);
    EXPECT_FALSE(t.hasAccess);
    EXPECT_FALSE(t.hasCreation);

    // Only the flags byte: found, no times.
    Bytes flagsOnly(ut.begin(), ut.begin() + 5);
    ASSERT_TRUE(ParseExtendedTimestamp(flagsOnly.data(), flagsOnly.size(), &t));
    EXPECT_FALSE(t.hasModification);

    Bytes tooShort(ut.begin(), ut.begin() + 4);
    EXPECT_FALSE(ParseExtendedTimestamp(tooShort.data(), tooShort.size(), &t));
    Bytes overrun = {0x0A, 0x00, 0xF0, 0x00, 1, 2, 3};  // skip runs past the end
    EXPECT_FALSE(ParseExtendedTimestamp(overrun.data(), overrun.size(), &t));
    Bytes padding(12, 0);                               // zero blocks: walk on, find nothing
    EXPECT_FALSE(ParseExtendedTimestamp(padding.data(), padding.size(), &t));
}

// ---------------------------------------------------------------------------
// Times

TEST(VaultTime, CalendarMatchesADayByDayCount) {
    int y = 1601, m = 1, d = 1;
    for (int64_t day = 0; y < 2500; ++day) {
        FileTime t = static_cast<FileTime>(day) * 86400 * kTicksPerSecond + 1234567;
        CalendarTime c = CalendarFromFileTime(t);
        ASSERT_EQ(c.year, y) << day;
        ASSERT_EQ(c.month, m) << day;
        ASSERT_EQ(c.day, d) << day;
        ASSERT_EQ(c.millisecond, 123);
        ASSERT_EQ(c.dayOfWeek, static_cast<int>((day + 1) % 7));
        FileTime back = 0;
        ASSERT_TRUE(FileTimeFromCalendar(c, &back));
        ASSERT_EQ(back, t - 4567);  // below a millisecond is dropped
        if (++d > DaysInMonth(y, m)) {
            d = 1;
            if (++m > 12) { m = 1; ++y; }
        }
    }
    CalendarTime bad;
    bad.year = 2023; bad.month = 2; bad.day = 29;
    FileTime t;
    EXPECT_FALSE(FileTimeFromCalendar(bad, &t));
    bad.year = 2100;  // not a leap year
    EXPECT_FALSE(FileTimeFromCalendar(bad, &t));
    bad.year = 2000;
    EXPECT_TRUE(FileTimeFromCalendar(bad, &t));
}

TEST(VaultTime, DosRoundTripsAndRange) {
    DosDateTime first = DosFromFileTime(At(1980, 1, 1, 0, 0, 0));
    EXPECT_EQ(first.date, 0x0021);
    EXPECT_EQ(first.time, 0);
    FileTime leap = At(2024, 2, 29, 13, 45, 58);
    DosDateTime d = DosFromFileTime(leap);
    EXPECT_EQ(d.date, ((2024 - 1980) << 9) | (2 << 5) | 29);
    EXPECT_EQ(d.time, (13 << 11) | (45 << 5) | 29);
    FileTime back = 0;
    ASSERT_TRUE(FileTimeFromDos(d.date, d.time, &back));
    EXPECT_EQ(back, leap);
    ASSERT_TRUE(FileTimeFromDos(DosFromFileTime(At(2024, 2, 29, 13, 45, 59, 900)).date,
                                DosFromFileTime(At(2024, 2, 29, 13, 45, 59, 900)).time, &back));
    EXPECT_EQ(back, leap);  // odd seconds and milliseconds round down

    DosDateTime low = DosFromFileTime(At(1965, 6, 1, 12, 0, 0));
    EXPECT_EQ(low.date, 0x0021);
    EXPECT_EQ(low.time, 0);
    DosDateTime high = DosFromFileTime(At(2200, 6, 1, 12, 0, 0));
    ASSERT_TRUE(FileTimeFromDos(high.date, high.time, &back));
    EXPECT_EQ(back, At(2107, 12, 31, 23, 59, 58));

    EXPECT_FALSE(FileTimeFromDos(0, 0, &back));                            // month 0, day 0
    EXPECT_FALSE(FileTimeFromDos((44 << 9) | (2 << 5) | 30, 0, &back));    // 30 February
    EXPECT_FALSE(FileTimeFromDos((44 << 9) | (13 << 5) | 1, 0, &back));    // month 13
    EXPECT_FALSE(FileTimeFromDos(0x0021, (24 << 11), &back));              // hour 24
    EXPECT_FALSE(FileTimeFromDos(0x0021, 30, &back));                      // 60 seconds
    CalendarTime c = UnpackDosDateTime(d.date, d.time);
    EXPECT_EQ(c.year, 2024);
    EXPECT_EQ(c.second, 58);
}

TEST(VaultTime, UnixTimesAndTheirClamps) {
    EXPECT_EQ(UnixTimeFromFileTime(kUnixEpochFileTime), 0u);
    EXPECT_EQ(UnixTimeFromFileTime(At(2021, 6, 15, 12, 34, 56, 999)), 1623760496u);
    EXPECT_EQ(FileTimeFromUnixTime(1623760496u), At(2021, 6, 15, 12, 34, 56));
    EXPECT_EQ(UnixTimeFromFileTime(FileTimeFromUnixTime(2145916799u)), 2145916799u);

    // Before 1970: 1 January 1970 at the same time of day.
    EXPECT_EQ(UnixTimeFromFileTime(At(1965, 7, 4, 10, 20, 30)), 37230u);
    EXPECT_EQ(UnixTimeFromFileTime(At(1969, 12, 31, 23, 59, 59)), 86399u);
    EXPECT_EQ(UnixTimeFromFileTime(0), 0u);
    // After 2037: 31 December 2037 at the same time of day.
    EXPECT_EQ(UnixTimeFromFileTime(At(2050, 3, 1, 8, 0, 0)), 2145859200u);
    EXPECT_EQ(UnixTimeFromFileTime(At(2038, 1, 1, 0, 0, 1)), 2145830401u);
    CalendarTime far = CalendarFromFileTime(~FileTime(0));
    EXPECT_EQ(UnixTimeFromFileTime(~FileTime(0)),
              UnixTimeFromFileTime(At(2037, 12, 31, far.hour, far.minute, far.second)));
    EXPECT_EQ(CalendarFromFileTime(FileTimeFromUnixTime(0xFFFFFFFFu)).year, 2106);
}

// ---------------------------------------------------------------------------
// End record search

TEST(VaultEndSearch, LastOccurrenceWinsOverSignatureInData) {
    ImageBuilder b;
    Bytes data(300, 0x55);
    const uint8_t sig[4] = {0x12, 0x11, 0x05, 0x06};
    std::memcpy(&data[280], sig, 4);  // near the end of the last entry's data
    std::memcpy(&data[10], sig, 4);
    b.AddFile("first.bin", Bytes(50, 1));
    b.AddFile("second.bin", data);
    Bytes image = b.Build();
    TempFile f;
    f.Write(image);
    CFile file = f.Open();
    DirectoryInfo dir;
    ASSERT_EQ(LocateDirectory(file, &dir), VaultStatus::Ok);
    EXPECT_EQ(dir.endPosition, image.size() - 32);
    EXPECT_EQ(dir.entryCount, 2u);
    EXPECT_EQ(dir.prefixBytes, 0u);
}

TEST(VaultEndSearch, InvalidLastOccurrenceFallsBackToAnEarlierValidOne) {
    ImageBuilder b;
    b.AddFile("a.txt", Bytes(5, 1));
    Bytes image = b.Build();
    const size_t realEnd = image.size() - 32;
    TempFile f;
    CFile file;
    DirectoryInfo dir;
    uint64_t last = 0;

    // A later signature with a disk number of 1, then one too close to the
    // end to hold an end record: both are passed over.
    Bytes badRecord = {0x12, 0x11, 0x05, 0x06, 1, 0};
    badRecord.resize(22, 0);
    const Bytes shortTail = {0x12, 0x11, 0x05, 0x06, 0, 0, 0, 0};
    for (const Bytes& tail : {badRecord, shortTail}) {
        Bytes tricked = image;
        tricked.insert(tricked.end(), tail.begin(), tail.end());
        file.Close();
        f.Write(tricked);
        file = f.Open();
        ASSERT_EQ(FindEndRecord(file, tricked.size(), &last), VaultStatus::Ok);
        EXPECT_EQ(last, image.size());
        ASSERT_EQ(LocateDirectory(file, &dir), VaultStatus::Ok);
        EXPECT_EQ(dir.endPosition, realEnd);
        EXPECT_EQ(dir.entryCount, 1u);
    }

    // No valid record anywhere: not a vault.
    Bytes broken = image;
    broken[realEnd + 4] = 1;
    file.Close();
    f.Write(broken);
    file = f.Open();
    EXPECT_EQ(LocateDirectory(file, &dir), VaultStatus::Corrupt);
}

TEST(VaultEndSearch, SignatureAtEveryWindowSeamIsFound) {
    const size_t size = 5000;
    std::vector<size_t> positions = {0, 1, 2, size - 4};
    for (size_t base : {size - 1028, size - 2052, size - 3076}) {
        for (size_t p = base - 6; p <= base + 6; ++p) positions.push_back(p);
    }
    TempFile f;
    for (size_t p : positions) {
        Bytes b = WithEndSignatureAt(size, p);
        f.Write(b);
        CFile file = f.Open();
        uint64_t found = 0;
        ASSERT_EQ(FindEndRecord(file, size, &found), VaultStatus::Ok) << p;
        EXPECT_EQ(found, p);
    }
    Bytes none(size, 0xAA);
    none[size - 3] = 0x12;  // a partial signature at the very end
    none[size - 2] = 0x11;
    none[size - 1] = 0x05;
    f.Write(none);
    CFile file = f.Open();
    uint64_t found = 0;
    EXPECT_EQ(FindEndRecord(file, size, &found), VaultStatus::Corrupt);
}

TEST(VaultEndSearch, OnlyTheLast65535BytesAreSearched) {
    const size_t size = 65535 + 100;
    TempFile f;
    f.Write(WithEndSignatureAt(size, size - 65535));
    CFile file = f.Open();
    uint64_t found = 0;
    ASSERT_EQ(FindEndRecord(file, size, &found), VaultStatus::Ok);
    EXPECT_EQ(found, size - 65535);
    file.Close();
    f.Write(WithEndSignatureAt(size, size - 65536));
    file = f.Open();
    EXPECT_EQ(FindEndRecord(file, size, &found), VaultStatus::Corrupt);

    // A vault just over the span, with the end record at a window seam
    // (trailing bytes after the end block move it there).
    ImageBuilder b;
    b.AddFile("big.bin", Bytes(65400, 0x33));
    Bytes image = b.Build();
    ASSERT_GT(image.size(), 65535u);
    for (size_t trailing : {995u, 996u, 997u, 2019u, 2020u, 2021u}) {
        Bytes padded = image;
        padded.resize(image.size() + trailing, 0);
        file.Close();
        f.Write(padded);
        file = f.Open();
        DirectoryInfo dir;
        ASSERT_EQ(LocateDirectory(file, &dir), VaultStatus::Ok) << trailing;
        EXPECT_EQ(dir.endPosition, image.size() - 32);
        CentralDirectoryWalker walk(&file, dir);
        ASSERT_EQ(walk.First(), VaultStatus::Ok);
        EXPECT_EQ(walk.Record().name, "big.bin");
    }
}

// ---------------------------------------------------------------------------
// Directory walk and local records

class VaultImageTest : public ::testing::Test {
protected:
    void Open(const Bytes& image) {
        m_image = image;
        m_file.Close();  // Windows refuses to rewrite a file that is open
        m_temp.Write(image);
        m_file = m_temp.Open();
        ASSERT_EQ(LocateDirectory(m_file, &m_dir), VaultStatus::Ok);
    }
    TempFile m_temp;
    CFile m_file;
    DirectoryInfo m_dir;
    Bytes m_image;
};

TEST_F(VaultImageTest, WalkAndCheckEveryEntry) {
    ImageBuilder b;
    b.AddFolder("docs");
    b.AddFile("docs/a.txt", Bytes{'h', 'e', 'l', 'l', 'o'}, kMethodDeflate);
    b.AddFile("pack.ZIP", Bytes(33, 9));
    Open(b.Build());
    ASSERT_EQ(m_dir.entryCount, 3u);

    CentralDirectoryWalker walk(&m_file, m_dir);
    EXPECT_EQ(walk.Next(), VaultStatus::BadArgument);  // not started
    ASSERT_EQ(walk.First(), VaultStatus::Ok);
    const CentralHeader& docs = walk.Record().header;
    EXPECT_EQ(walk.Record().name, "docs/");
    EXPECT_EQ(docs.externalAttributes, kExternalFolder);
    EXPECT_EQ(docs.method, kMethodStored);
    EXPECT_EQ(docs.crc | docs.compressedSize | docs.uncompressedSize, 0u);
    LocalEntry folder;
    ASSERT_EQ(CheckLocalRecord(m_file, m_dir, walk.Record().header, &folder), VaultStatus::Ok);
    EXPECT_EQ(folder.position, 0u);
    EXPECT_EQ(folder.dataStart, 64u);

    ASSERT_EQ(walk.Next(), VaultStatus::Ok);
    EXPECT_EQ(walk.Record().name, "docs/a.txt");
    EXPECT_EQ(walk.Record().header.localOffset, 64u);  // right after the folder's record
    LocalEntry file;
    ASSERT_EQ(CheckLocalRecord(m_file, m_dir, walk.Record().header, &file), VaultStatus::Ok);
    EXPECT_EQ(file.dataStart, 64u + 30 + 10 + file.record.header.extraLength);
    EXPECT_EQ(std::string(m_image.begin() + file.dataStart, m_image.begin() + file.dataStart + 5), "hello");
    ExtendedTimes times;
    ASSERT_TRUE(ParseExtendedTimestamp(file.record.extra.data(), file.record.extra.size(), &times));
    EXPECT_EQ(times.access, 1000000100u);

    ASSERT_EQ(walk.Next(), VaultStatus::Ok);
    const uint64_t lastPos = walk.Position();
    EXPECT_EQ(walk.Record().name, "pack.ZIP");
    EXPECT_EQ(walk.Next(), VaultStatus::EndOfList);
    EXPECT_TRUE(walk.Valid());
    EXPECT_EQ(walk.Index(), 2u);
    EXPECT_EQ(walk.Position(), lastPos);
    EXPECT_EQ(lastPos + walk.RecordLength(), m_dir.endPosition);

    ASSERT_EQ(walk.Seek(0), VaultStatus::Ok);  // back: restarts at the first
    EXPECT_EQ(walk.Record().name, "docs/");
    ASSERT_EQ(walk.Seek(2), VaultStatus::Ok);
    EXPECT_EQ(walk.Record().name, "pack.ZIP");
    EXPECT_EQ(walk.Seek(3), VaultStatus::BadArgument);
}

TEST_F(VaultImageTest, BadFirstCentralSignatureStopsTheWalk) {
    ImageBuilder b;
    b.AddFile("a.txt", Bytes(3, 1));
    b.AddFile("b.txt", Bytes(3, 2));
    b[0].central.header.signature = kLocalSignature;
    Open(b.Build());
    CentralDirectoryWalker walk(&m_file, m_dir);
    EXPECT_EQ(walk.First(), VaultStatus::Corrupt);
    EXPECT_EQ(walk.Next(), VaultStatus::Corrupt);
    EXPECT_EQ(walk.Seek(1), VaultStatus::Corrupt);
    EXPECT_FALSE(walk.Valid());
}

TEST_F(VaultImageTest, CountBeyondTheRecordsIsCorruptNotARepeat) {
    ImageBuilder b;
    b.AddFile("a.txt", Bytes(3, 1));
    b.m_extraCount = 2;
    Open(b.Build());
    CentralDirectoryWalker walk(&m_file, m_dir);
    ASSERT_EQ(walk.First(), VaultStatus::Ok);
    EXPECT_EQ(walk.Next(), VaultStatus::Corrupt);  // would run into the end record
    EXPECT_EQ(walk.Next(), VaultStatus::Corrupt);
    EXPECT_EQ(walk.Seek(2), VaultStatus::Corrupt);
}

TEST_F(VaultImageTest, HostileCentralLengthsAreRefusedBeforeReading) {
    // A 64-byte record whose fixed part claims 65535-byte name and extra.
    CentralRecord rec;
    rec.name = "x";
    Bytes plain;
    ASSERT_EQ(BuildCentralRecordPlain(rec, &plain), VaultStatus::Ok);
    PutU16(&plain[28], 0xFFFF);
    PutU16(&plain[30], 0xFFFF);
    Bytes enc(plain.size());
    ASSERT_TRUE(EncipherRecord(plain.data(), enc.data(), plain.size()));
    EndRecord end;
    end.entriesOnDisk = end.entriesTotal = 1;
    end.directorySize = static_cast<uint32_t>(enc.size());
    Bytes image = enc;
    auto tail = EncodeEndRecord(end);
    image.insert(image.end(), tail.begin(), tail.end());
    Open(image);
    CentralRecord out;
    uint64_t len = 0;
    EXPECT_EQ(ReadCentralRecord(m_file, 0, m_dir.DirectoryEnd(), &out, &len), VaultStatus::Corrupt);
    // Fewer than 64 bytes in the file is an I/O failure; past the limit is corrupt.
    EXPECT_EQ(ReadCentralRecord(m_file, image.size() - 40, ~uint64_t(0), &out, &len), VaultStatus::IoError);
    EXPECT_EQ(ReadCentralRecord(m_file, 10, 70, &out, &len), VaultStatus::Corrupt);
    EXPECT_EQ(ReadCentralRecord(m_file, ~uint64_t(0) - 100, ~uint64_t(0), &out, &len), VaultStatus::IoError);
}

TEST_F(VaultImageTest, LocalRecordMismatchesAreCorrupt) {
    struct Case {
        const char* what;
        void (*tamper)(ImageEntry&);
        VaultStatus expected;
    };
    const Case cases[] = {
        {"method differs", [](ImageEntry& e) { e.local.header.method = kMethodDeflate; }, VaultStatus::Corrupt},
        {"method 12 in both", [](ImageEntry& e) { e.local.header.method = e.central.header.method = 12; },
         VaultStatus::Corrupt},
        {"crc differs", [](ImageEntry& e) { e.local.header.crc ^= 1; }, VaultStatus::Corrupt},
        {"size differs", [](ImageEntry& e) { e.local.header.uncompressedSize += 1; }, VaultStatus::Corrupt},
        {"crc differs, descriptor flag",
         [](ImageEntry& e) {
             e.local.header.flags |= kFlagDescriptor;
             e.local.header.crc = e.local.header.compressedSize = e.local.header.uncompressedSize = 0;
         },
         VaultStatus::Ok},
        {"name length differs", [](ImageEntry& e) { e.local.name = "b.txt!"; }, VaultStatus::Corrupt},
        {"local signature", [](ImageEntry& e) { e.local.header.signature = kCentralSignature; },
         VaultStatus::Corrupt},
        {"offset into the directory",
         [](ImageEntry& e) {
             e.keepOffset = true;
             e.central.header.localOffset = 64 + 3 + 64;
         },
         VaultStatus::Corrupt},
        {"offset far beyond",
         [](ImageEntry& e) {
             e.keepOffset = true;
             e.central.header.localOffset = 0xFFFFFFF0u;
         },
         VaultStatus::Corrupt},
        {"data runs into the directory",
         [](ImageEntry& e) { e.local.header.compressedSize = e.central.header.compressedSize = 0x7FFFFFFF; },
         VaultStatus::Corrupt},
    };
    for (const Case& c : cases) {
        ImageBuilder b;
        b.AddFile("a.txt", Bytes(3, 1));
        c.tamper(b.AddFile("b.txt", Bytes(3, 2)));
        Open(b.Build());
        CentralDirectoryWalker walk(&m_file, m_dir);
        ASSERT_EQ(walk.Seek(1), VaultStatus::Ok) << c.what;
        LocalEntry local;
        EXPECT_EQ(CheckLocalRecord(m_file, m_dir, walk.Record().header, &local), c.expected) << c.what;
    }
}

TEST_F(VaultImageTest, BytesInFrontShiftEveryOffset) {
    ImageBuilder b;
    b.AddFile("a.txt", Bytes{'a', 'b', 'c'});
    Bytes image = b.Build();
    Bytes shifted(100 + image.size(), 0xEE);
    std::copy(image.begin(), image.end(), shifted.begin() + 100);
    Open(shifted);
    EXPECT_EQ(m_dir.prefixBytes, 100u);
    CentralDirectoryWalker walk(&m_file, m_dir);
    ASSERT_EQ(walk.First(), VaultStatus::Ok);
    LocalEntry local;
    ASSERT_EQ(CheckLocalRecord(m_file, m_dir, walk.Record().header, &local), VaultStatus::Ok);
    EXPECT_EQ(local.position, 100u);
    EXPECT_EQ(shifted[local.dataStart], 'a');
}
