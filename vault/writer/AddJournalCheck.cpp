// Add-journal examination and the decision built on it: the journal is a
// 4-byte vault offset followed by the vault's directory tail (central records
// and the end record block).
#include "vault/writer/AddJournalCheck.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

#include "vault/VaultApi.h"
#include "vault/format/VaultScan.h"

namespace journal {

namespace {

using namespace vault;

// A directory tail is at most 65,535 central records of at most
// 46 + 259 + 9 bytes (padded) each as this format writes them; anything
// larger is not a journal, whatever the vault.
constexpr uint64_t kMaxJournalSize = 64ull * 1024 * 1024;

JournalReport With(JournalReport r, JournalState state, const std::string& why) {
    r.state = state;
    r.detail = why;
    return r;
}

// Reads the whole journal when it is no larger than a journal of a vault of
// vaultSize bytes can be. Never throws: an allocation that fails is a
// journal that cannot be read.
JournalReport ReadJournal(const std::string& journalPath, uint64_t vaultSize,
                          std::vector<uint8_t>* bytes) {
    JournalReport report;
    CFile journal;
    uint64_t size = 0;
    if (!journal.Open(journalPath, CFile::Mode::Read) || !journal.Size(&size))
        return With(report, JournalState::Unreadable, "cannot be read");
    if (size < 4 + kEndBlockSize)
        return With(report, JournalState::Damaged, "too short to hold a directory tail");
    if (size > kMaxJournalSize) return With(report, JournalState::Damaged, "too large to be an add journal");
    if (size > JournalSizeLimit(vaultSize))
        return With(report, JournalState::Unreadable, "larger than any journal of this vault");
    try {
        bytes->resize(static_cast<size_t>(size));
    } catch (const std::exception&) {  // bad_alloc, length_error
        return With(report, JournalState::Unreadable, "no memory to read it");
    }
    if (!journal.ReadAt(0, bytes->data(), bytes->size()))
        return With(report, JournalState::Unreadable, "cannot be read");
    report.state = JournalState::Matches;  // so far
    return report;
}

// ExamineJournal's work; the journal's bytes stay in *bytes for the caller
// that goes on to apply them.
JournalReport Examine(const std::string& vaultPath, const std::string& journalPath,
                      std::vector<uint8_t>* bytes) {
    JournalReport report;
    if (!fileio::Exists(journalPath)) return report;

    CFile vaultFile;
    uint64_t vaultSize = 0;
    if (!vaultFile.Open(vaultPath, CFile::Mode::Read) || !vaultFile.Size(&vaultSize))
        return With(report, JournalState::Foreign, "the vault cannot be read");
    report = ReadJournal(journalPath, vaultSize, bytes);
    if (report.state != JournalState::Matches) return report;

    JournalTail parsed;
    std::string why;
    if (!ParseJournalTail(*bytes, &parsed, &why)) return With(report, JournalState::Damaged, why);
    const EndRecord& end = parsed.end;
    report.offset = parsed.offset;
    report.offsetMissing = parsed.offsetMissing;
    report.entries = end.entriesTotal;
    // The tail goes right after the last entry's data; a position beyond the
    // file's end cannot belong to this vault.
    if (report.offset > vaultSize)
        return With(report, JournalState::Foreign, "its offset lies beyond the vault's end");

    if (end.entriesTotal == 0) {
        if (report.offset != 0)
            return With(report, JournalState::Foreign, "an empty directory belongs at offset 0");
        if (HoldsLocalRecords(vaultFile, vaultSize))
            return With(report, JournalState::Foreign, "lists no entries, and this vault holds local records");
        report.state = JournalState::Matches;
        return report;
    }

    // Walk the tail's central records (plain after deciphering).
    const uint8_t* tail = bytes->data() + 4;
    std::vector<CentralRecord> records;
    try {
        size_t pos = 0;
        while (pos < end.directorySize) {
            const std::string label = "central record " + std::to_string(records.size());
            if (end.directorySize - pos < kCentralProbeSize)
                return With(report, JournalState::Damaged, label + " cut short");
            uint8_t probe[kCentralProbeSize];
            CentralHeader header;
            if (!DecipherRecord(tail + pos, probe, sizeof probe) ||
                DecodeCentralHeader(probe, sizeof probe, &header) != VaultStatus::Ok)
                return With(report, JournalState::Damaged, label + " is not readable");
            const uint64_t length = header.RecordLength();
            if (length % kRecordBlock != 0 || length > end.directorySize - pos)
                return With(report, JournalState::Damaged, label + " has a bad length");
            std::vector<uint8_t> plain(static_cast<size_t>(length));
            CentralRecord record;
            if (!DecipherRecord(tail + pos, plain.data(), plain.size()) ||
                DecodeCentralRecord(plain.data(), plain.size(), &record) != VaultStatus::Ok)
                return With(report, JournalState::Damaged, label + " is not readable");
            records.push_back(std::move(record));
            pos += static_cast<size_t>(length);
        }
    } catch (const std::exception&) {
        return With(report, JournalState::Unreadable, "no memory to read it");
    }
    if (records.size() != end.entriesTotal)
        return With(report, JournalState::Damaged, "entry count does not match");

    // The first and the last entry must be local records of this vault,
    // lying in front of the offset where the tail belongs.
    DirectoryInfo directory;
    const uint64_t tailEnd = report.offset + uint64_t(end.directorySize) + kEndBlockSize;
    directory.fileSize = std::max(vaultSize, tailEnd);
    directory.endPosition = report.offset + uint64_t(end.directorySize);
    directory.end = end;
    directory.prefixBytes = 0;
    directory.directoryStart = report.offset;
    directory.entryCount = end.entriesTotal;
    const CentralRecord* probes[2] = {&records.front(), &records.back()};
    for (const CentralRecord* central : probes) {
        LocalEntry local;
        if (CheckLocalRecord(vaultFile, directory, central->header, &local) != VaultStatus::Ok ||
            local.record.name != central->name)
            return With(report, JournalState::Foreign, "entry \"" + central->name + "\" is not in this vault");
    }
    report.state = JournalState::Matches;
    return report;
}

bool VaultLists(const std::string& vaultPath) {
    VaultHandle* reader = OpenVaultReader(vaultPath.c_str(), 0, kVaultSourcePath, nullptr);
    if (!reader) return false;
    ZipEntryInfo info;
    const uint32_t rc = ReadEntryInfo(reader, -1, &info);
    CloseVaultHandle(reader);
    return rc == kVaultOk && info.index != 0;
}

}  // namespace

uint64_t JournalSizeLimit(uint64_t vaultSize) {
    return std::min(kMaxJournalSize, 4 + kEndBlockSize + 2 * std::min(vaultSize, kMaxJournalSize));
}

bool ParseJournalTail(const std::vector<uint8_t>& bytes, JournalTail* tail, std::string* why) {
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
    std::vector<uint8_t> bytes;
    return Examine(vaultPath, journalPath, &bytes);
}

JournalDecision DecideJournal(const std::string& vaultPath, const std::string& journalPath) {
    JournalDecision d;
    std::vector<uint8_t> bytes;
    d.report = Examine(vaultPath, journalPath, &bytes);
    if (d.report.state == JournalState::Absent) return d;
    d.vaultListable = VaultLists(vaultPath);
    if (d.report.state != JournalState::Matches) d.action = JournalAction::Keep;
    else d.action = d.vaultListable ? JournalAction::Discard : JournalAction::Apply;
    return d;
}

bool ApplyJournal(const std::string& vaultPath, const std::string& journalPath) {
    std::vector<uint8_t> bytes;
    const JournalReport report = Examine(vaultPath, journalPath, &bytes);
    if (report.state != JournalState::Matches) return false;
    CFile vaultFile;
    if (!vaultFile.Open(vaultPath, CFile::Mode::ReadWriteExisting)) return false;
    // Cut first, then write: should this stop halfway, the journal is still
    // there to be applied again.
    const uint64_t offset = report.offset;
    return vaultFile.Truncate(offset) && vaultFile.Seek(offset) &&
           vaultFile.Write(bytes.data() + 4, bytes.size() - 4) && vaultFile.Flush();
}

bool IsExactlyEmptyVault(const std::string& vaultPath) {
    CFile f;
    uint64_t size = 0;
    uint8_t block[kEndBlockSize];
    if (!f.Open(vaultPath, CFile::Mode::Read) || !f.Size(&size) || size != kEndBlockSize ||
        !f.ReadAt(0, block, sizeof block))
        return false;
    const auto empty = EncodeEndRecord(EndRecord());
    return std::memcmp(block, empty.data(), sizeof block) == 0;
}

bool HoldsLocalRecords(CFile& vault, uint64_t size) {
    // Nothing that fits a record, or the empty vault: nothing to lose.
    if (size < kLocalProbeSize) return false;
    uint8_t block[kLocalProbeSize];
    if (!vault.ReadAt(0, block, sizeof block)) return true;
    const auto empty = EncodeEndRecord(EndRecord());
    if (size == kEndBlockSize && std::memcmp(block, empty.data(), sizeof block) == 0) return false;
    // The writer marks a local record finished (clears the descriptor flag)
    // only once all of its data is written; a first record still marked is
    // what an add that never completed left.
    uint8_t plain[kLocalProbeSize];
    LocalHeader header;
    if (DecipherRecord(block, plain, sizeof plain) &&
        DecodeLocalHeader(plain, sizeof plain, &header) == VaultStatus::Ok &&
        (header.flags & kFlagDescriptor) != 0)
        return false;
    return true;
}

}  // namespace journal
