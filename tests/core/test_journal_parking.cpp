// Journals of another disk's vault at the fixed names: an add or a delete of
// this vault parks them beside the name instead of refusing or replacing
// them, and the other vault's login puts them to use, with the process
// stopped (or the power cut) at every write of that vault's add or delete.
#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "PowerCut.h"
#include "VaultTestUtil.h"
#include "document/DeleteJournal.h"
#include "document/JournalParking.h"
#include "document/VaultCompaction.h"
#include "document/VaultModel.h"
#include "document/VaultRecovery.h"
#include "vault/reader/VaultHandleImpl.h"

using namespace hbtest;

namespace {

enum class Fault { Stop, Cut };

// Disk A's vault and disk B's vault, one temporary folder for both journals.
struct TwoDisks {
    NoDiskWaits noWaits;
    TempDir dir{"parking"};
    std::string a = dir / "a.vfo", b = dir / "b.vfo";
    std::string addJournal = dir / kAddJournalName;
    std::string delJournal = deljournal::DeleteJournalPathFor(dir / kAddJournalName);

    void ClearJournals() {
        for (const std::string& j : {addJournal, delJournal}) {
            fileio::Remove(j);
            fileio::Remove(j + ".new");
            for (const std::string& p : parking::ParkedJournals(j)) fileio::Remove(p);
        }
    }
};

std::vector<TestEntry> EntriesOf(const char* disk, int count, uint32_t seed) {
    std::vector<TestEntry> out;
    for (int i = 0; i < count; ++i)
        out.push_back({std::string(disk) + "/e" + std::to_string(i) + ".dat",
                       MakeData(700 + (i * 1931) % 3000, seed + i, i % 2 == 0)});
    return out;
}

// The vault lists exactly these entries, in order, each with its bytes.
void ExpectEntries(const std::string& path, const std::vector<TestEntry>& expected) {
    std::vector<ListedEntry> listed;
    ASSERT_TRUE(ReadWholeVault(path, &listed)) << path;
    ASSERT_EQ(listed.size(), expected.size()) << path;
    for (size_t i = 0; i < listed.size(); ++i) {
        EXPECT_EQ(listed[i].info.name, expected[i].name);
        EXPECT_EQ(listed[i].result, kVaultOk) << expected[i].name;
        EXPECT_TRUE(listed[i].data == expected[i].data) << expected[i].name;
    }
}

std::vector<TestEntry> Join(std::vector<TestEntry> x, const std::vector<TestEntry>& y) {
    x.insert(x.end(), y.begin(), y.end());
    return x;
}

// Adds entries to the vault through the writer with the add journal; the
// process stops (or the power goes) at write `at` (0: never). The writes
// the add made.
int AddStopped(const std::string& vaultPath, const std::string& journal, const std::vector<TestEntry>& entries,
               Fault fault, int at) {
    FaultModel model(at, fault == Fault::Cut);
    VaultHandle* w = nullptr;
    try {
        w = OpenVaultWriter(vaultPath.c_str(), 0, kVaultSourcePath, journal.c_str());
        if (w) {
            for (const TestEntry& e : entries)
                AddVaultEntry(w, e.name.c_str(), e.data.data(), static_cast<uint32_t>(e.data.size()),
                              kVaultSourceMemory, nullptr, nullptr, nullptr, nullptr);
            VaultHandle* closing = w;
            w = nullptr;
            CloseVaultHandle(closing);
        }
    } catch (const ProcessStopped&) {
        delete w;  // gone with the process: nothing more reaches the disk
    }
    if (fault == Fault::Cut) model.DropUnflushed();
    return model.Writes();
}

// The program adds one file to the vault (the model's add, as the window does).
uint32_t ProgramAdds(const TwoDisks& d, const std::string& vaultPath, const TestEntry& e) {
    const std::string source = d.dir / "source.dat";
    EXPECT_TRUE(WriteBytes(source, e.data));
    CVaultModel model;
    model.SetVaultPath(vaultPath);
    model.SetJournalPath(d.addJournal);
    CVaultModel::AddResult added;
    return model.AddToVault(e.name, source, kVaultSourcePath, &added);
}

}  // namespace

TEST(JournalParking, AnotherVaultsStoppedAddNeitherBlocksThisVaultNorIsLost) {
    TwoDisks d;
    const std::vector<TestEntry> aOld = EntriesOf("a", 4, 10), aNew = EntriesOf("a/more", 3, 20);
    const std::vector<TestEntry> bOld = EntriesOf("b", 3, 30), bNew = EntriesOf("b/new", 2, 40);
    BuildVault(d.a, aOld);
    const Bytes aBefore = ReadBytes(d.a);
    BuildVault(d.b, bOld);
    const Bytes bBefore = ReadBytes(d.b);
    const int writes = AddStopped(d.a, d.addJournal, aNew, Fault::Stop, 0);
    ASSERT_GT(writes, 5);

    for (Fault fault : {Fault::Stop, Fault::Cut}) {
        for (int at = 1; at <= writes; ++at) {
            SCOPED_TRACE(std::string(fault == Fault::Stop ? "stopped" : "power cut") + " at write " +
                         std::to_string(at));
            d.ClearJournals();
            ASSERT_TRUE(WriteBytes(d.a, aBefore));
            ASSERT_TRUE(WriteBytes(d.b, bBefore));
            AddStopped(d.a, d.addJournal, aNew, fault, at);
            const bool left = fileio::Exists(d.addJournal);
            const Bytes aJournal = ReadBytes(d.addJournal);

            // Disk B: every add goes in, and A's journal waits beside the name.
            for (const TestEntry& e : bNew) EXPECT_EQ(ProgramAdds(d, d.b, e), kVaultOk) << e.name;
            ExpectEntries(d.b, Join(bOld, bNew));
            EXPECT_FALSE(fileio::Exists(d.addJournal));
            const std::vector<std::string> parked = parking::ParkedJournals(d.addJournal);
            ASSERT_EQ(parked.size(), left ? 1u : 0u);
            if (left) {
                EXPECT_EQ(parked[0], d.addJournal + ".1");
                EXPECT_TRUE(ReadBytes(parked[0]) == aJournal);
            }

            // Disk A's login: all of its add or none of it, and nothing parked.
            RecoverVault(d.a, d.addJournal);
            std::vector<ListedEntry> listed;
            ASSERT_TRUE(ReadWholeVault(d.a, &listed));
            ExpectEntries(d.a, listed.size() == aOld.size() ? aOld : Join(aOld, aNew));
            EXPECT_TRUE(parking::ParkedJournals(d.addJournal).empty());
            ExpectEntries(d.b, Join(bOld, bNew));
            if (HasFatalFailure() || HasNonfatalFailure()) return;
        }
    }
}

TEST(JournalParking, AnotherVaultsStoppedDeleteIsParkedAndFinishedAtItsLogin) {
    TwoDisks d;
    const std::vector<TestEntry> aEntries = EntriesOf("a", 12, 50), bEntries = EntriesOf("b", 6, 70);
    BuildVault(d.a, aEntries);
    const Bytes aBefore = ReadBytes(d.a);
    BuildVault(d.b, bEntries);
    const Bytes bBefore = ReadBytes(d.b);
    const std::set<std::string> aGone = {aEntries[1].name, aEntries[6].name, aEntries[11].name};
    std::vector<TestEntry> aKept;
    for (const TestEntry& e : aEntries)
        if (!aGone.count(e.name)) aKept.push_back(e);
    std::vector<TestEntry> bKept(bEntries.begin() + 1, bEntries.end());

    // Small steps, so that A's rewrite has many writes to stop at.
    compaction::Options small;
    small.journalPath = d.delJournal;
    small.slotBytes = 1024;
    small.chunkBytes = 512;
    small.directDistance = 4000;
    auto deleteFromA = [&](Fault fault, int at) {
        FaultModel model(at, fault == Fault::Cut);
        try {
            compaction::CompactVault(d.a, [&](const std::string& n) { return aGone.count(n) != 0; }, small);
        } catch (const ProcessStopped&) {
        }
        if (fault == Fault::Cut) model.DropUnflushed();
        return model.Writes();
    };
    const int writes = deleteFromA(Fault::Stop, 0);
    ExpectEntries(d.a, aKept);
    const Bytes aAfter = ReadBytes(d.a);
    ASSERT_GT(writes, 10);

    int parkedRuns = 0;
    for (Fault fault : {Fault::Stop, Fault::Cut}) {
        for (int at = 1; at <= writes; ++at) {
            SCOPED_TRACE(std::string(fault == Fault::Stop ? "stopped" : "power cut") + " at write " +
                         std::to_string(at));
            d.ClearJournals();
            ASSERT_TRUE(WriteBytes(d.a, aBefore));
            ASSERT_TRUE(WriteBytes(d.b, bBefore));
            deleteFromA(fault, at);
            const bool left = fileio::Exists(d.delJournal);
            const Bytes aJournal = ReadBytes(d.delJournal);
            const bool touched = ReadBytes(d.a) != aBefore;

            // Disk B: the program's delete, with A's journal in the way.
            CVaultModel model;
            model.SetVaultPath(d.b);
            model.SetJournalPath(d.addJournal);
            ASSERT_TRUE(model.LoadVaultList());
            model.MarkEntry(bEntries[0].name, 0, "");
            EXPECT_EQ(model.DelZipFromFile(true), static_cast<int>(bKept.size()));
            ExpectEntries(d.b, bKept);
            EXPECT_FALSE(fileio::Exists(d.delJournal));
            const std::vector<std::string> parked = parking::ParkedJournals(d.delJournal);
            if (left) {
                ASSERT_EQ(parked.size(), 1u);
                EXPECT_TRUE(ReadBytes(parked[0]) == aJournal);
                ++parkedRuns;
            } else {
                EXPECT_TRUE(parked.empty());
                EXPECT_FALSE(touched) << "a rewrite began without its journal";
            }

            // Disk A's login.
            RecoverVault(d.a, d.addJournal);
            const Bytes now = ReadBytes(d.a);
            EXPECT_TRUE(now == aBefore || now == aAfter);
            ExpectEntries(d.a, now == aBefore ? aEntries : aKept);
            EXPECT_TRUE(parking::ParkedJournals(d.delJournal).empty());
            if (HasFatalFailure() || HasNonfatalFailure()) return;
        }
    }
    EXPECT_GT(parkedRuns, 0);
}

TEST(JournalParking, FullSideNamesRefuseAndDamagedJournalsAreLeftAlone) {
    TwoDisks d;
    const std::vector<TestEntry> aOld = EntriesOf("a", 3, 80), aNew = EntriesOf("a/more", 1, 90);
    const std::vector<TestEntry> bOld = EntriesOf("b", 3, 100);
    BuildVault(d.a, aOld);
    BuildVault(d.a, aNew, d.addJournal);  // A's journal, its add complete
    const Bytes aJournal = ReadBytes(d.addJournal);
    BuildVault(d.b, bOld);
    const Bytes bBefore = ReadBytes(d.b);
    const Bytes junk = MakeData(300, 7, false);

    struct Case {
        const char* what;
        std::vector<int> taken;  // side names already holding a damaged journal
        bool addGoesIn;
        std::string parkedAt;    // where A's journal is afterwards
    } cases[] = {
        {"all side names free", {}, true, ".1"},
        {"first free number", {1, 2, 4}, true, ".3"},
        {"every side name taken", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        d.ClearJournals();
        ASSERT_TRUE(WriteBytes(d.b, bBefore));
        ASSERT_TRUE(WriteBytes(d.addJournal, aJournal));
        for (int n : c.taken) ASSERT_TRUE(WriteBytes(parking::ParkedPath(d.addJournal, n), junk));

        EXPECT_EQ(ProgramAdds(d, d.b, {"b/x.dat", MakeData(500, 3, true)}) == kVaultOk, c.addGoesIn);
        EXPECT_TRUE(ReadBytes(d.addJournal + c.parkedAt) == aJournal);
        if (!c.addGoesIn) EXPECT_TRUE(ReadBytes(d.b) == bBefore);
        // Damaged parked journals stay as they are through both logins.
        RecoverVault(d.b, d.addJournal);
        RecoverVault(d.a, d.addJournal);
        for (int n : c.taken) EXPECT_TRUE(ReadBytes(parking::ParkedPath(d.addJournal, n)) == junk) << n;
        ExpectEntries(d.a, Join(aOld, aNew));
    }

    // A damaged journal at the name is no vault's: the add replaces it, as
    // it always did, instead of parking it.
    d.ClearJournals();
    ASSERT_TRUE(WriteBytes(d.addJournal, junk));
    EXPECT_EQ(ProgramAdds(d, d.b, {"b/y.dat", MakeData(400, 4, true)}), kVaultOk);
    EXPECT_TRUE(parking::ParkedJournals(d.addJournal).empty());

    // A whole delete journal of another vault with every side name taken:
    // the delete leaves this vault and that journal as they are.
    d.ClearJournals();
    const Bytes bNow = ReadBytes(d.b);
    compaction::Options o;
    o.journalPath = d.delJournal;
    const std::string c = d.dir / "c.vfo";
    BuildVault(c, EntriesOf("c", 4, 110));
    const Bytes cBefore = ReadBytes(c);
    // Vault C's delete, stopped at the first write that leaves its journal.
    for (int at = 1; at < 200 && !fileio::Exists(d.delJournal); ++at) {
        ASSERT_TRUE(WriteBytes(c, cBefore));
        FaultModel model(at, false);
        try {
            compaction::CompactVault(c, [](const std::string& n) { return n == "c/e0.dat"; }, o);
        } catch (const ProcessStopped&) {
        }
    }
    ASSERT_TRUE(fileio::Exists(d.delJournal));
    const Bytes cJournal = ReadBytes(d.delJournal);
    for (int n = 1; n <= parking::kParkingPlaces; ++n)
        ASSERT_TRUE(WriteBytes(parking::ParkedPath(d.delJournal, n), junk));
    const compaction::Outcome out =
        compaction::CompactVault(d.b, [](const std::string& n) { return n == "b/e1.dat"; }, o);
    EXPECT_EQ(out.status, compaction::Status::JournalFailed);
    EXPECT_TRUE(ReadBytes(d.b) == bNow);
    EXPECT_TRUE(ReadBytes(d.delJournal) == cJournal);
    // C's login finishes its rewrite; the damaged parked ones stay.
    RecoverVault(c, d.addJournal);
    EXPECT_FALSE(fileio::Exists(d.delJournal));
    std::vector<TestEntry> cKept = EntriesOf("c", 4, 110);
    cKept.erase(cKept.begin());
    ExpectEntries(c, cKept);
    for (int n = 1; n <= parking::kParkingPlaces; ++n)
        EXPECT_TRUE(ReadBytes(parking::ParkedPath(d.delJournal, n)) == junk) << n;
}
