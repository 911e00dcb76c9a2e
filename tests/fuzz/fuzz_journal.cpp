// libFuzzer target for the add journal: its parser (ParseJournalTail) and
// ExamineJournal, which decides whether a journal belongs to a vault. The
// first input byte chooses the vault: bit 0 clear, a small sound vault made
// once by the writer (one of its names stored as UTF-8 under flag bit 11);
// bit 0 set, the next two bytes give the length of a vault taken from the
// input itself. The rest is the journal; with bit 1 set there is no journal
// file at all.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "document/AddJournal.h"

namespace {

const std::string& SoundVault() {
    static const std::string path = [] {
        const std::string p = hbfuzz::ScratchFile("sound");
        fileio::Remove(p);
        const std::string journal = hbfuzz::ScratchFile("writer-journal");
        VaultHandle* w = OpenVaultWriter(p.c_str(), 0, kVaultSourcePath, journal.c_str());
        if (!w) std::abort();
        // One name stored as UTF-8 with flag bit 11, one in the code page.
        const char* names[] = {"docs/", "docs/a.txt", "b.bin", u8"docs/\u03a9\u65e5\U0001F600.txt",
                               u8"caf\u00e9.txt"};
        const std::string body(700, 'x');
        for (const char* n : names) {
            const bool folder = n[std::char_traits<char>::length(n) - 1] == '/';
            if (AddVaultEntry(w, n, folder ? nullptr : body.data(), folder ? 0 : 700,
                              folder ? kVaultSourceFolder : kVaultSourceMemory, nullptr, nullptr,
                              nullptr, nullptr) != kVaultOk)
                std::abort();
        }
        if (CloseVaultHandle(w) != kVaultOk) std::abort();
        fileio::Remove(journal);
        return p;
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    size_t pos = 1;
    std::string vaultPath = SoundVault();
    if (mode & 1) {
        if (size < 3) return 0;
        size_t vaultSize = data[1] | (size_t(data[2]) << 8);
        pos = 3;
        if (vaultSize > size - pos) vaultSize = size - pos;
        vaultPath = hbfuzz::ScratchFile("vfo");
        hbfuzz::WriteWhole(vaultPath, data + pos, vaultSize);
        pos += vaultSize;
    }
    const std::vector<uint8_t> journalBytes(data + pos, data + size);
    const std::string& journalPath = hbfuzz::ScratchFile("journal");
    const bool absent = (mode & 2) != 0;
    if (absent) fileio::Remove(journalPath);
    else hbfuzz::WriteWhole(journalPath, journalBytes.data(), journalBytes.size());

    journal::JournalTail tail;
    std::string why;
    const bool parsed = journal::ParseJournalTail(journalBytes, &tail, &why);
    if (parsed) {
        // A parsed tail is exactly its directory and end block.
        if (uint64_t(tail.end.directorySize) + vault::kEndBlockSize + 4 != journalBytes.size()) std::abort();
        if (tail.offset != tail.end.directoryOffset) std::abort();
    } else if (why.empty()) {
        std::abort();  // a refusal always says why
    }

    const journal::JournalReport report = journal::ExamineJournal(vaultPath, journalPath);
    switch (report.state) {
        case journal::JournalState::Absent:
            if (!absent) std::abort();
            break;
        case journal::JournalState::Matches:
        case journal::JournalState::Foreign:
            // Only a journal that parses can belong to a vault or another one.
            if (absent || !parsed || report.offset != tail.offset) std::abort();
            if (report.state == journal::JournalState::Foreign && report.detail.empty()) std::abort();
            break;
        case journal::JournalState::Damaged:
            if (absent || report.detail.empty()) std::abort();
            break;
        case journal::JournalState::Unreadable:
            // Larger than any tail of this vault, or not readable at all.
            if (absent) std::abort();
            break;
        default:
            std::abort();
    }
    return 0;
}
