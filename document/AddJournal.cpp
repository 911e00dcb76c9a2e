// Add-journal examination: the journal is a 4-byte vault offset followed by
// the vault's directory tail (central records and the end record block). It
// belongs to a vault when the local records its central records point at are
// there in that vault.
#include "document/AddJournal.h"

#include <vector>

#include "vault/fileio/FileIo.h"
#include "vault/format/VaultRecords.h"
#include "vault/format/VaultScan.h"

namespace journal {

namespace {

// A directory tail is at most 65535 central records of at most
// 46 + 3 * 65535 bytes each; anything larger is not a journal.
constexpr uint64_t kMaxJournalSize = 64ull * 1024 * 1024;

JournalReport Damaged(JournalReport r, const std::string& why) {
    r.state = JournalState::Damaged;
    r.detail = why;
    return r;
}

}  // namespace

bool ParseJournalTail(const std::vector<uint8_t>& bytes, JournalTail* tail, std::string* why) {
    using namespace vault;
    auto fail = [why](const char* text) {
        if (why) *why = text;
        return false;
    };
    if (bytes.size() < 4 + kEndBlockSize) return fail("too short to hold a directory tail");
    const size_t tailSize = bytes.size() - 4;
    EndRecord end;
    if (DecodeEndRecord(bytes.data() + bytes.size() - kEndBlockSize, kEndBlockSize, &end) !=
            VaultStatus::Ok ||
        end.diskNumber != 0 || end.directoryDisk != 0 || end.entriesOnDisk != end.entriesTotal ||
        end.commentLength != 0)
        return fail("holds no end record");
    if (uint64_t(end.directorySize) + kEndBlockSize != tailSize)
        return fail("directory size does not match its length");
    const uint32_t stated = GetU32(bytes.data());
    if (stated != 0 && stated != end.directoryOffset)
        return fail("offset field disagrees with its end record");
    tail->offset = end.directoryOffset;
    tail->offsetMissing = stated == 0 && end.directoryOffset != 0;
    tail->end = end;
    return true;
}

JournalReport ExamineJournal(const std::string& vaultPath, const std::string& journalPath) {
    using namespace vault;
    JournalReport report;
    if (!fileio::Exists(journalPath)) return report;

    CFile journal;
    uint64_t size = 0;
    if (!journal.Open(journalPath, CFile::Mode::Read) || !journal.Size(&size))
        return Damaged(report, "cannot be read");
    if (size < 4 + kEndBlockSize) return Damaged(report, "too short to hold a directory tail");
    if (size > kMaxJournalSize) return Damaged(report, "too large to be an add journal");
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (!journal.ReadAt(0, bytes.data(), bytes.size())) return Damaged(report, "cannot be read");
    journal.Close();

    JournalTail parsed;
    std::string why;
    if (!ParseJournalTail(bytes, &parsed, &why)) return Damaged(report, why);
    const EndRecord& end = parsed.end;
    if (end.entriesTotal == 0) return Damaged(report, "lists no entries");
    report.offset = parsed.offset;
    report.offsetMissing = parsed.offsetMissing;
    report.entries = end.entriesTotal;
    const uint8_t* tail = bytes.data() + 4;
    const size_t tailSize = bytes.size() - 4;

    // Walk the tail's central records (plain after deciphering).
    std::vector<CentralRecord> records;
    size_t pos = 0;
    while (pos < end.directorySize) {
        if (end.directorySize - pos < kCentralProbeSize) return Damaged(report, "central record cut short");
        uint8_t probe[kCentralProbeSize];
        CentralHeader header;
        if (!DecipherRecord(tail + pos, probe, sizeof probe) ||
            DecodeCentralHeader(probe, sizeof probe, &header) != VaultStatus::Ok)
            return Damaged(report, "central record " + std::to_string(records.size()) + " is not readable");
        uint64_t length = header.RecordLength();
        if (length % kRecordBlock != 0 || length > end.directorySize - pos)
            return Damaged(report, "central record " + std::to_string(records.size()) + " has a bad length");
        std::vector<uint8_t> plain(static_cast<size_t>(length));
        CentralRecord record;
        if (!DecipherRecord(tail + pos, plain.data(), plain.size()) ||
            DecodeCentralRecord(plain.data(), plain.size(), &record) != VaultStatus::Ok)
            return Damaged(report, "central record " + std::to_string(records.size()) + " is not readable");
        records.push_back(std::move(record));
        pos += static_cast<size_t>(length);
    }
    if (records.size() != end.entriesTotal) return Damaged(report, "entry count does not match");

    // The first and the last entry must be local records of this vault,
    // lying in front of the offset where the tail belongs.
    CFile vaultFile;
    uint64_t vaultSize = 0;
    if (!vaultFile.Open(vaultPath, CFile::Mode::Read) || !vaultFile.Size(&vaultSize)) {
        report.state = JournalState::Foreign;
        report.detail = "the vault cannot be read";
        return report;
    }
    DirectoryInfo directory;
    directory.fileSize = vaultSize > report.offset + tailSize ? vaultSize : report.offset + tailSize;
    directory.endPosition = report.offset + uint64_t(end.directorySize);
    directory.end = end;
    directory.prefixBytes = 0;
    directory.directoryStart = report.offset;
    directory.entryCount = end.entriesTotal;
    const CentralRecord* probes[2] = {&records.front(), &records.back()};
    for (const CentralRecord* central : probes) {
        LocalEntry local;
        if (vaultSize < report.offset ||
            CheckLocalRecord(vaultFile, directory, central->header, &local) != VaultStatus::Ok ||
            local.record.name != central->name) {
            report.state = JournalState::Foreign;
            report.detail = "entry \"" + central->name + "\" is not in this vault";
            return report;
        }
    }
    report.state = JournalState::Matches;
    return report;
}

}  // namespace journal
