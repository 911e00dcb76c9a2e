// Fault injection over every write of a delete or a rename: each write
// failing in turn, the process stopped at each write, and a power cut at
// each write (what was not flushed is lost). After RecoverVault the vault
// must be exactly as it was before or exactly as the rewrite leaves it.
#include <gtest/gtest.h>

#include "PowerCut.h"
#include "VaultTestUtil.h"
#include "document/DeleteJournal.h"
#include "document/EntryRename.h"
#include "document/VaultCompaction.h"
#include "document/VaultModel.h"
#include "document/VaultRecovery.h"

using namespace hbtest;

namespace {

enum class Fault { None, Fail, Stop, Cut };

const char* FaultName(Fault f) {
    switch (f) {
        case Fault::None: return "none";
        case Fault::Fail: return "failing";
        case Fault::Stop: return "stopping at";
        case Fault::Cut: return "power cut at";
    }
    return "?";
}

// Forty entries of mixed sizes, a few of them folders; every fourth file
// has a name stored as UTF-8 (flag bit 11), which must come through every
// stop exactly.
std::vector<TestEntry> FortyEntries() {
    std::vector<TestEntry> out;
    for (int i = 0; i < 40; ++i) {
        char name[64];
        if (i % 13 == 6) {
            std::snprintf(name, sizeof name, "dir%02d/", i);
            out.push_back({name, {}, true});
            continue;
        }
        std::snprintf(name, sizeof name,
                      i % 4 == 1 && i != 25 ? u8"dir%02d/\u03a9\u65e5%02d\U0001F600%s.dat" : "dir%02d/e%02d%s.dat",
                      i - i % 13 + 6, i, i == 25 ? "-named-at-length-to-be-cut-short" : "");
        const size_t size = 300 + (i * 977) % 2600 + (i == 20 ? 5000 : 0);
        out.push_back({name, MakeData(size, 100 + i, i % 3 == 0), false});
    }
    return out;
}

struct Scenario {
    const char* label;
    std::vector<int> gone;   // indexes into FortyEntries
    bool viaModel;           // DelZipFromFile with its own settings, else small steps
    uint64_t slot = 1024;    // small steps: room for a step's bytes in the journal
    // A rename instead of a delete: this stored name (a folder: its tree) gets
    // the last part renameTo.
    const char* renameFrom = nullptr;
    const char* renameTo = nullptr;
    uint64_t patched = 0;    // a rename's regions this short go with its new local records
};

// Small steps so that both kinds of step (saved in the slot, and straight
// moves by a long distance) happen many times on a small vault.
compaction::Options SmallSteps(const std::string& journal, uint64_t slot, uint64_t patched = 0) {
    compaction::Options o;
    o.journalPath = journal;
    o.slotBytes = slot;
    o.renameSlotBytes = slot;
    o.chunkBytes = 512;
    o.directDistance = 4000;
    o.patchedMove = patched;
    return o;
}

struct Bench {
    NoDiskWaits noWaits;
    TempDir dir{"del_faults"};
    std::vector<TestEntry> entries = FortyEntries();
    Bytes before;
    std::string vault = dir / "v.vfo";
    std::string addJournal = dir / kAddJournalName;
    std::string delJournal = deljournal::DeleteJournalPathFor(dir / kAddJournalName);

    Bench() {
        BuildVault(vault, entries);
        before = ReadBytes(vault);
    }

    void Reset() {
        ASSERT_TRUE(WriteBytes(vault, before));
        fileio::Remove(delJournal);
        fileio::Remove(delJournal + ".new");
    }

    void Rename(const Scenario& s) {
        if (s.viaModel) {
            CVaultModel model;
            model.SetVaultPath(vault);
            model.SetJournalPath(addJournal);
            if (model.LoadVaultList()) model.RenameEntry(s.renameFrom, s.renameTo);
            return;
        }
        std::vector<std::pair<std::string, std::string>> renames;
        std::vector<std::string> names;
        for (const TestEntry& e : entries) names.push_back(e.name);
        ASSERT_EQ(renaming::PlanRename(names, s.renameFrom, s.renameTo, &renames), renaming::Check::Ok);
        compaction::RenameEntries(
            vault,
            [&](const std::string& name, bool utf8, compaction::NewName* to) {
                for (const auto& r : renames)
                    if (r.first == vault::DecodeEntryName(name, utf8)) {
                        const vault::StoredName stored = renaming::StoredNameOf(r.second);
                        to->bytes = stored.bytes;
                        to->utf8 = stored.utf8;
                    }
                return !to->bytes.empty();
            },
            SmallSteps(delJournal, s.slot, s.patched));
    }

    // The names the scenario leaves, in directory order ("" for a deleted entry).
    std::vector<std::string> NamesAfter(const Scenario& s) const {
        std::vector<std::string> names, out;
        for (const TestEntry& e : entries) names.push_back(e.name);
        std::vector<std::pair<std::string, std::string>> renames;
        if (s.renameFrom) renaming::PlanRename(names, s.renameFrom, s.renameTo, &renames);
        for (size_t i = 0; i < entries.size(); ++i) {
            std::string name = entries[i].name;
            for (const auto& r : renames)
                if (r.first == name) name = r.second;
            for (int g : s.gone)
                if (entries[g].name == entries[i].name ||
                    (s.viaModel && entries[g].folder && entries[i].name.rfind(entries[g].name, 0) == 0))
                    name.clear();
            out.push_back(name);
        }
        return out;
    }

    void Delete(const Scenario& s) {
        if (s.renameFrom) {
            Rename(s);
            return;
        }
        if (s.viaModel) {
            CVaultModel model;
            model.SetVaultPath(vault);
            model.SetJournalPath(addJournal);
            if (!model.LoadVaultList()) return;
            for (int i : s.gone) model.MarkEntry(entries[i].name, entries[i].folder ? kEntryFolder : 0, "");
            model.DelZipFromFile(true);
        } else {
            compaction::CompactVault(
                vault,
                [&](const std::string& name) {
                    for (int i : s.gone)
                        if (entries[i].name == name) return true;
                    return false;
                },
                SmallSteps(delJournal, s.slot));
        }
    }

    // Runs the delete with the fault at write `at` (0: none); returns the
    // number of writes seen.
    int Run(const Scenario& s, Fault fault, int at) {
        if (fault == Fault::Fail) {
            int n = 0;
            WriteHookGuard hook([&n, at](size_t) { return ++n != at; });
            Delete(s);
            return n;
        }
        FaultModel model(fault == Fault::None ? 0 : at, fault == Fault::Cut);
        try {
            Delete(s);
        } catch (const ProcessStopped&) {
        }
        if (fault == Fault::Cut) model.DropUnflushed();
        return model.Writes();
    }
};

void ExpectBeforeOrAfter(const Bench& b, const Bytes& after) {
    RecoverVault(b.vault, b.addJournal);
    const Bytes now = ReadBytes(b.vault);
    EXPECT_TRUE(now == b.before || now == after) << "size " << now.size() << " before " << b.before.size()
                                                 << " after " << after.size();
    EXPECT_FALSE(fileio::Exists(b.delJournal));
    EXPECT_FALSE(fileio::Exists(b.delJournal + ".new"));
}

const std::vector<Scenario>& Scenarios() {
    static const std::vector<Scenario> k = {
        {"start, middle and end", {0, 1, 19, 20, 39}, false},
        {"start, middle and end, kept whole in the journal", {0, 1, 19, 20, 39}, false, 1 << 20},
        {"first, through the model", {0}, true},
        {"last two, through the model", {38, 39}, true},
        {"a folder in the middle, through the model", {19}, true},
        {"rename in the last third, longer", {}, false, 1024, "dir32/e27.dat", "e27-renamed-with-a-longer-name.dat"},
        {"rename in the middle, shorter, kept whole", {}, false, 1 << 20, "dir19/e25-named-at-length-to-be-cut-short.dat",
         "e25.dat"},
        {"rename a folder's tree, longer, through the model", {}, true, 0, "DIR19", "dir19-under-a-longer-name"},
        {"rename a folder's tree, longer, short regions in the journal", {}, false, 1024, "dir19\\", "folder-19", 2000},
    };
    return k;
}

}  // namespace

TEST(VaultDeleteFaults, EveryWriteFailingStoppingOrLosingPower) {
    Bench b;
    for (const Scenario& s : Scenarios()) {
        SCOPED_TRACE(s.label);
        b.Reset();
        const int writes = b.Run(s, Fault::None, 0);
        const Bytes after = ReadBytes(b.vault);
        ASSERT_NE(after, b.before);
        ASSERT_GT(writes, 3);
        // The clean result holds every other entry, byte for byte, under
        // its new name.
        std::vector<ListedEntry> listed;
        ASSERT_TRUE(ReadWholeVault(b.vault, &listed));
        const std::vector<std::string> names = b.NamesAfter(s);
        size_t next = 0;
        for (size_t i = 0; i < b.entries.size(); ++i) {
            if (names[i].empty()) continue;
            ASSERT_LT(next, listed.size());
            EXPECT_EQ(listed[next].info.name, names[i]);
            EXPECT_EQ(listed[next].data, b.entries[i].data);
            EXPECT_EQ(listed[next].result, kVaultOk);
            ++next;
        }
        EXPECT_EQ(next, listed.size());

        for (Fault fault : {Fault::Fail, Fault::Stop, Fault::Cut}) {
            for (int at = 1; at <= writes + 1; ++at) {
                SCOPED_TRACE(std::string(FaultName(fault)) + " write " + std::to_string(at));
                b.Reset();
                b.Run(s, fault, at);
                ExpectBeforeOrAfter(b, after);
                if (HasFailure()) return;
            }
        }
    }
}

// A recovery can itself be stopped by a power cut, at any of its writes; the
// next one still ends in the before or the after state.
TEST(VaultDeleteFaults, RecoveryCutShortIsRecoveredAgain) {
    Bench b;
    const Scenario& s = Scenarios()[0];
    b.Reset();
    const int writes = b.Run(s, Fault::None, 0);
    const Bytes after = ReadBytes(b.vault);
    for (int at = 5; at <= writes; at += 60) {
        for (int again = 1;; ++again) {
            SCOPED_TRACE("cut at write " + std::to_string(at) + ", recovery cut at " + std::to_string(again));
            b.Reset();
            b.Run(s, Fault::Cut, at);
            int recoveryWrites = 0;
            {
                FaultModel model(again, true);
                try {
                    RecoverVault(b.vault, b.addJournal);
                } catch (const ProcessStopped&) {
                }
                recoveryWrites = model.Writes();
                model.DropUnflushed();
            }
            ExpectBeforeOrAfter(b, after);
            if (HasFailure() || recoveryWrites < again) break;
        }
    }
}

// The cut of the file reached the disk but the new directory written just
// before it did not (a disk may order its writes so): the next recovery
// still writes the directory, whether the rewrite was kept whole in the
// journal or went step by step.
TEST(VaultDeleteFaults, CutWithoutItsDirectoryIsRepaired) {
    Bench b;
    for (uint64_t slot : {uint64_t(1) << 20, uint64_t(1024)}) {
        SCOPED_TRACE("slot " + std::to_string(slot));
        const Scenario s{"start, middle and end", {0, 1, 19, 20, 39}, false, slot};
        b.Reset();
        const int writes = b.Run(s, Fault::None, 0);
        const Bytes after = ReadBytes(b.vault);
        b.Reset();
        b.Run(s, Fault::Stop, writes);  // the last change is the cut
        ASSERT_TRUE(fileio::Exists(b.delJournal));
        Bytes torn = ReadBytes(b.vault);
        ASSERT_GT(torn.size(), after.size());
        torn.resize(after.size());
        const size_t tail = after.size() - EndOf(after).directorySize - vault::kEndBlockSize;
        std::fill(torn.begin() + tail, torn.end(), 0);
        ASSERT_TRUE(WriteBytes(b.vault, torn));
        RecoverVault(b.vault, b.addJournal);
        EXPECT_EQ(ReadBytes(b.vault), after);
        EXPECT_FALSE(fileio::Exists(b.delJournal));
    }
}
