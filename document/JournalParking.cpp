// Parking of journals that belong to other vaults under side names, and the
// freeing of the add journal's name before an add.
#include "document/JournalParking.h"

#include "document/AddJournal.h"
#include "vault/fileio/FileIo.h"

namespace parking {

std::string ParkedPath(const std::string& journalPath, int number) {
    return journalPath + "." + std::to_string(number);
}

std::vector<std::string> ParkedJournals(const std::string& journalPath) {
    std::vector<std::string> out;
    for (int n = 1; n <= kParkingPlaces; ++n) {
        const std::string path = ParkedPath(journalPath, n);
        if (fileio::Exists(path)) out.push_back(path);
    }
    return out;
}

bool ParkJournal(const std::string& journalPath, std::string* parkedAs) {
    for (int n = 1; n <= kParkingPlaces; ++n) {
        const std::string path = ParkedPath(journalPath, n);
        if (fileio::Exists(path)) continue;
        // The rename replaces what is at the side name; it was free a moment
        // ago, and only this program writes there.
        if (!fileio::Rename(journalPath, path)) return false;
        if (parkedAs) *parkedAs = path;
        return true;
    }
    return false;
}

bool FreeAddJournalPlace(const std::string& vaultPath, const std::string& journalPath, PlaceReport* report) {
    PlaceReport local;
    PlaceReport& r = report ? *report : local;
    r = PlaceReport();
    if (journalPath.empty() || !fileio::Exists(journalPath)) return true;
    const journal::JournalDecision d = journal::DecideJournal(vaultPath, journalPath);
    if (d.action != journal::JournalAction::Keep || d.report.state == journal::JournalState::Damaged) return true;
    r.why = d.report.detail;
    if (ParkJournal(journalPath, &r.parkedAs)) return true;
    r.taken = true;
    return false;
}

}  // namespace parking
