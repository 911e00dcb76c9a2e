// Side names for journals of other vaults. Both journals live at fixed names
// in the temporary folder shared by every disk, so the one found there may
// belong to a vault on another disk whose add or delete was stopped. Before
// an add or a delete of this vault needs the fixed name, such a journal is
// renamed beside it ("<name>.1" .. "<name>.16", first free number) and
// RecoverVault looks at every one of them whenever it runs.
#pragma once

#include <string>
#include <vector>

namespace parking {

// How many side names each journal has.
constexpr int kParkingPlaces = 16;

// The side name number (1 .. kParkingPlaces) of journalPath.
std::string ParkedPath(const std::string& journalPath, int number);

// The side names of journalPath that hold a file, lowest number first.
std::vector<std::string> ParkedJournals(const std::string& journalPath);

// Renames the journal at journalPath to its first free side name (durable
// rename). False when every side name is taken or the rename fails; the
// journal then stays where it is.
bool ParkJournal(const std::string& journalPath, std::string* parkedAs);

// What freeing a journal's fixed name did.
struct PlaceReport {
    std::string parkedAs;  // the side name a journal of another vault went to
    std::string why;       // why that journal is not this vault's
    bool taken = false;    // another vault's journal is there and could not be parked
};

// Before an add: an add journal at journalPath that DecideJournal keeps
// (another vault's, or one it cannot read) is parked, so that the writer
// finds the name free. A damaged one, which no vault can use, stays for the
// writer to replace, as does one of this vault (RecoverVault's to act on).
// False only when another vault's journal is still at the name.
bool FreeAddJournalPlace(const std::string& vaultPath, const std::string& journalPath,
                         PlaceReport* report = nullptr);

}  // namespace parking
