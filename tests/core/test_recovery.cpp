// Journal recovery: what RecoverVault does with each state a vault and its
// journal can be left in, and fault injection over every write of an add
// (a write that fails, a process that stops at that write, and a power cut
// there that loses every write not yet flushed).
#include <gtest/gtest.h>

#include <memory>

#include "PowerCut.h"
#include "VaultTestUtil.h"
#include "document/VaultRecovery.h"
#include "vault/fileio/FolderList.h"
#include "vault/reader/VaultHandleImpl.h"

using namespace hbtest;

namespace {

std::vector<TestEntry> OldEntries() {
    return {{"old/a.txt", MakeData(30000, 11, true)},
            {"old/", {}, true},
            {"old/b.bin", MakeData(20000, 12, false)}};
}

// The vault with OldEntries plus one more add; the image before that add,
// the image after it, and the journal the add left.
struct AddedVault {
    Bytes before, after, journal;
};

AddedVault MakeAddedVault(const TempDir& dir) {
    AddedVault v;
    const std::string path = dir / "v.vfo";
    BuildVault(path, OldEntries());
    v.before = ReadBytes(path);
    BuildVault(path, {{"new.txt", MakeData(9000, 13, true)}}, dir / "j.tmp");
    v.after = ReadBytes(path);
    v.journal = ReadBytes(dir / "j.tmp");
    fileio::Remove(dir / "j.tmp");
    return v;
}

// The names and contents of entries that must be in the vault, in order,
// before any others.
void ExpectVaultStartsWith(const std::string& path, const std::vector<TestEntry>& expected,
                           std::vector<ListedEntry>* listedOut = nullptr) {
    std::vector<ListedEntry> listed;
    ASSERT_TRUE(ReadWholeVault(path, &listed));
    ASSERT_GE(listed.size(), expected.size());
    for (size_t i = 0; i < listed.size(); ++i) {
        EXPECT_EQ(listed[i].result, kVaultOk) << listed[i].info.name;
        if (i < expected.size()) {
            EXPECT_EQ(listed[i].info.name, expected[i].name);
            EXPECT_EQ(listed[i].info.nameUtf8, vault::EncodeEntryName(expected[i].name).utf8) << expected[i].name;
            EXPECT_EQ(listed[i].data, expected[i].data) << expected[i].name;
        }
    }
    if (listedOut) *listedOut = std::move(listed);
}

}  // namespace

TEST(VaultRecovery, JournalPathIsInTheTemporaryFolder) {
    EXPECT_EQ(AddJournalPath(), fileio::TempFolder() + "qv0327711.tmp");
}

TEST(VaultRecovery, ListableVaultDropsAStaleJournal) {
    TempDir dir("rc_stale");
    AddedVault v = MakeAddedVault(dir);
    ASSERT_TRUE(WriteBytes(dir / "j.tmp", v.journal));
    EXPECT_EQ(RecoverVault(dir / "v.vfo", dir / "j.tmp"), 1);
    EXPECT_FALSE(fileio::Exists(dir / "j.tmp"));
    EXPECT_EQ(ReadBytes(dir / "v.vfo"), v.after);

    // No vault at all: nothing to do, and the journal stays.
    ASSERT_TRUE(WriteBytes(dir / "j.tmp", v.journal));
    EXPECT_EQ(RecoverVault(dir / "none.vfo", dir / "j.tmp"), 0);
    EXPECT_TRUE(fileio::Exists(dir / "j.tmp"));
}

TEST(VaultRecovery, LostTailComesBackFromTheJournalAndJunkBeyondIsCut) {
    TempDir dir("rc_restore");
    AddedVault v = MakeAddedVault(dir);
    const uint32_t offset = vault::GetU32(v.journal.data());
    ASSERT_EQ(offset, EndOf(v.after).directoryOffset);

    // The tail half written, then a longer run of junk.
    Bytes broken(v.after.begin(), v.after.begin() + offset + 40);
    const Bytes junk = MakeData(5000, 1, false);
    broken.insert(broken.end(), junk.begin(), junk.end());
    for (bool offsetFilled : {true, false}) {
        SCOPED_TRACE(offsetFilled ? "offset filled" : "offset still 0");
        Bytes journal = v.journal;
        if (!offsetFilled) vault::PutU32(journal.data(), 0);
        ASSERT_TRUE(WriteBytes(dir / "v.vfo", broken));
        ASSERT_TRUE(WriteBytes(dir / "j.tmp", journal));
        EXPECT_EQ(RecoverVault(dir / "v.vfo", dir / "j.tmp"), 1);
        EXPECT_EQ(ReadBytes(dir / "v.vfo"), v.after);
        EXPECT_FALSE(fileio::Exists(dir / "j.tmp"));
    }
}

TEST(VaultRecovery, JournalOfAnotherVaultIsNotWrittenIntoThisOne) {
    // The journal's place in the temporary folder is shared by every disk: an
    // add to vault B that stopped must not be replayed into vault A.
    TempDir dir("rc_foreign");
    AddedVault a = MakeAddedVault(dir);
    const std::string other = dir / "b.vfo";
    BuildVault(other, {{"elsewhere/x.txt", MakeData(7000, 21, true)},
                       {"elsewhere/y.txt", MakeData(3000, 22, true)}});
    BuildVault(other, {{"z.txt", MakeData(500, 23, true)}}, dir / "j.tmp");
    ASSERT_TRUE(fileio::Exists(dir / "j.tmp"));

    // Vault A lost its directory tail.
    const uint32_t offset = EndOf(a.after).directoryOffset;
    const Bytes broken(a.after.begin(), a.after.begin() + offset + 40);
    ASSERT_TRUE(WriteBytes(dir / "v.vfo", broken));
    EXPECT_EQ(RecoverVault(dir / "v.vfo", dir / "j.tmp"), 0);
    EXPECT_EQ(ReadBytes(dir / "v.vfo"), broken);
    EXPECT_TRUE(fileio::Exists(dir / "j.tmp"));

    // Its own journal still repairs it.
    ASSERT_TRUE(WriteBytes(dir / "j.tmp", a.journal));
    EXPECT_EQ(RecoverVault(dir / "v.vfo", dir / "j.tmp"), 1);
    EXPECT_EQ(ReadBytes(dir / "v.vfo"), a.after);
}

TEST(VaultRecovery, MalformedJournalsAndUnreadableVaultsAreLeftAlone) {
    TempDir dir("rc_leave");
    AddedVault v = MakeAddedVault(dir);
    const uint32_t offset = EndOf(v.after).directoryOffset;
    const Bytes broken(v.after.begin(), v.after.begin() + offset + 100);

    std::vector<Bytes> journals;
    journals.push_back(Bytes(v.journal.begin(), v.journal.begin() + 35));  // shorter than 4 + 32
    journals.push_back(Bytes(v.journal.begin(), v.journal.end() - 1));    // sizes disagree
    Bytes j = v.journal;
    vault::PutU32(j.data(), offset - 32);  // offset not the one its end record names
    journals.push_back(j);
    j = v.journal;
    vault::PutU32(j.data(), 0);
    vault::PutU16(j.data() + j.size() - 32 + 8, 1);  // counts disagree
    journals.push_back(j);
    j = v.journal;
    vault::PutU32(j.data(), 0);
    j[j.size() - 32] = 'P';  // no end record at its end
    journals.push_back(j);
    j = v.journal;
    vault::PutU32(j.data() + j.size() - 32 + 16, static_cast<uint32_t>(broken.size() + 64));
    vault::PutU32(j.data(), static_cast<uint32_t>(broken.size() + 64));  // beyond the vault's end
    journals.push_back(j);

    for (size_t k = 0; k < journals.size(); ++k) {
        SCOPED_TRACE("journal " + std::to_string(k));
        ASSERT_TRUE(WriteBytes(dir / "v.vfo", broken));
        ASSERT_TRUE(WriteBytes(dir / "j.tmp", journals[k]));
        EXPECT_EQ(RecoverVault(dir / "v.vfo", dir / "j.tmp"), 0);
        EXPECT_EQ(ReadBytes(dir / "v.vfo"), broken);
        EXPECT_TRUE(fileio::Exists(dir / "j.tmp"));
    }

    // No journal and a directory that cannot be read: the vault may still
    // hold every entry's data, so it is kept.
    fileio::Remove(dir / "j.tmp");
    ASSERT_TRUE(WriteBytes(dir / "v.vfo", broken));
    EXPECT_EQ(RecoverVault(dir / "v.vfo", dir / "j.tmp"), 0);
    EXPECT_EQ(ReadBytes(dir / "v.vfo"), broken);
    Bytes badCentral = v.after;
    badCentral[offset + 3] ^= 0x40;
    ASSERT_TRUE(WriteBytes(dir / "v.vfo", badCentral));
    EXPECT_EQ(RecoverVault(dir / "v.vfo", dir / "j.tmp"), 0);
    EXPECT_EQ(ReadBytes(dir / "v.vfo"), badCentral);

    // No journal and an end record that lists nothing: the vault goes.
    BuildVault(dir / "empty.vfo", {});
    EXPECT_EQ(RecoverVault(dir / "empty.vfo", dir / "j.tmp"), 1);
    EXPECT_FALSE(fileio::Exists(dir / "empty.vfo"));
}

namespace {

struct Killed {};  // thrown by the write hook: the process stops at that write

enum class Fault { Fail, Stop, PowerCut };

struct AddRun {
    int writes = 0;       // write hook calls seen
    bool opened = false;
    uint32_t closeResult = 0xFFFFFFFF;
};

// The first name is stored as UTF-8 (flag bit 11): the journal carries the
// flag back into the vault like every other field.
std::vector<TestEntry> NewEntries() {
    return {{u8"new/\u03a9\u65e5\U0001F600.txt", MakeData(50000, 21, true)},
            {"new/", {}, true},
            {"new/pack.zip", MakeData(20000, 22, false)},
            {"new/noise.bin", MakeData(40000, 23, false)}};
}

// Adds NewEntries to the vault (the last one from a file); write number
// `at` (from 1; 0 for none) fails or stops the process.
AddRun RunAdd(const TempDir& dir, Fault fault, int at) {
    const std::vector<TestEntry> entries = NewEntries();
    const std::string source = dir / "noise.src";
    WriteBytes(source, entries.back().data);
    AddRun run;
    std::unique_ptr<FaultModel> power;
    std::unique_ptr<WriteHookGuard> hook;
    if (fault == Fault::PowerCut) {
        power.reset(new FaultModel(at, true));
    } else {
        hook.reset(new WriteHookGuard([&](size_t) {
            ++run.writes;
            if (at > 0 && run.writes >= at && fault == Fault::Stop) throw Killed();
            return !(at > 0 && run.writes == at);
        }));
    }
    VaultHandle* w = nullptr;
    bool closing = false;
    try {
        w = OpenVaultWriter((dir / "v.vfo").c_str(), 0, kVaultSourcePath, (dir / "j.tmp").c_str());
        if (!w) return run;
        run.opened = true;
        for (size_t i = 0; i + 1 < entries.size(); ++i) {
            const TestEntry& e = entries[i];
            if (e.folder) {
                AddVaultEntry(w, e.name.c_str(), nullptr, 0, kVaultSourceFolder, nullptr, nullptr,
                              nullptr, nullptr);
            } else {
                AddVaultEntry(w, e.name.c_str(), e.data.data(), static_cast<uint32_t>(e.data.size()),
                              kVaultSourceMemory, nullptr, nullptr, nullptr, nullptr);
            }
        }
        AddVaultEntry(w, entries.back().name.c_str(), source.c_str(), 0, kVaultSourcePath, nullptr,
                      nullptr, nullptr, nullptr);
        closing = true;
        run.closeResult = CloseVaultHandle(w);
    } catch (const Killed&) {
        // The process is gone: the handle is only freed (every write from
        // here on stops again, so nothing more reaches the disk).
        if (w && !closing) {
            try {
                CloseVaultHandle(w);
            } catch (const Killed&) {
            }
        }
    } catch (const ProcessStopped&) {
        // The power is gone: the handle is freed without another write or
        // flush reaching the disk.
        if (!closing) delete w;
    }
    if (power) {
        run.writes = power->Writes();
        power->DropUnflushed();
    }
    return run;
}

// Removes what an interrupted add may leave beside the vault and the journal.
void ClearAddFiles(const TempDir& dir) {
    for (const char* name : {"j.tmp", "j.tmp.new", "v.vfo.new"}) fileio::Remove(dir / name);
}

// The added entries that made it must be some of NewEntries, in order,
// each with its content.
void ExpectAddedSubsequence(const std::vector<ListedEntry>& listed, size_t from) {
    const std::vector<TestEntry> added = NewEntries();
    size_t next = 0;
    for (size_t i = from; i < listed.size(); ++i) {
        while (next < added.size() && added[next].name != listed[i].info.name) ++next;
        ASSERT_LT(next, added.size()) << listed[i].info.name;
        EXPECT_EQ(listed[i].data, added[next].data);
        EXPECT_EQ(listed[i].info.storedName, vault::EncodeEntryName(added[next].name).bytes);
        EXPECT_EQ(listed[i].info.nameUtf8, vault::EncodeEntryName(added[next].name).utf8);
        ++next;
    }
}

}  // namespace

TEST(VaultRecoveryFaults, EveryWriteOfAnAddToAnExistingVault) {
    // One thread, then the large entries' data compressed on two.
    for (unsigned threads : {1u, 2u}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        ParallelGuard parallel(threads, 16 * 1024);
        TempDir dir("rc_faults");
        const std::vector<TestEntry> old = OldEntries();
        BuildVault(dir / "v.vfo", old);
        const Bytes base = ReadBytes(dir / "v.vfo");

        const AddRun clean = RunAdd(dir, Fault::Fail, 0);
        ASSERT_EQ(clean.closeResult, kVaultOk);
        ASSERT_GT(clean.writes, 10);
        std::vector<ListedEntry> listed;
        ExpectVaultStartsWith(dir / "v.vfo", old, &listed);
        ASSERT_EQ(listed.size(), old.size() + NewEntries().size());

        for (Fault fault : {Fault::Fail, Fault::Stop}) {
            for (int at = 1; at <= clean.writes; ++at) {
                SCOPED_TRACE(std::string(fault == Fault::Fail ? "failing" : "stopping") + " write " +
                             std::to_string(at));
                ASSERT_TRUE(WriteBytes(dir / "v.vfo", base));
                fileio::Remove(dir / "j.tmp");
                const AddRun run = RunAdd(dir, fault, at);
                // The document deletes the journal only after a close that succeeded.
                if (fault == Fault::Fail && run.closeResult == kVaultOk) fileio::Remove(dir / "j.tmp");

                RecoverVault(dir / "v.vfo", dir / "j.tmp");
                EXPECT_FALSE(fileio::Exists(dir / "j.tmp"));
                ExpectVaultStartsWith(dir / "v.vfo", old, &listed);
                ExpectAddedSubsequence(listed, old.size());
                if (fault == Fault::Stop) {
                    // All of the add or none of it.
                    EXPECT_TRUE(listed.size() == old.size() ||
                                listed.size() == old.size() + NewEntries().size())
                        << listed.size();
                }
                if (HasFatalFailure() || HasNonfatalFailure()) return;
            }
        }
    }
}

TEST(VaultRecoveryFaults, StoppedAddToANewVault) {
    TempDir dir("rc_new");
    const AddRun clean = RunAdd(dir, Fault::Stop, 0);
    ASSERT_EQ(clean.closeResult, kVaultOk);
    for (int at = 1; at <= clean.writes; ++at) {
        SCOPED_TRACE("stopping write " + std::to_string(at));
        fileio::Remove(dir / "v.vfo");
        ClearAddFiles(dir);
        RunAdd(dir, Fault::Stop, at);
        RecoverVault(dir / "v.vfo", dir / "j.tmp");
        RecoverVault(dir / "v.vfo", dir / "j.tmp");  // at the next login
        EXPECT_FALSE(fileio::Exists(dir / "j.tmp"));
        if (!fileio::Exists(dir / "v.vfo") || ReadBytes(dir / "v.vfo").empty()) continue;
        std::vector<ListedEntry> listed;
        ExpectVaultStartsWith(dir / "v.vfo", {}, &listed);
        EXPECT_EQ(listed.size(), NewEntries().size());
        ExpectAddedSubsequence(listed, 0);
        if (HasFatalFailure() || HasNonfatalFailure()) return;
    }
}

TEST(VaultRecoveryFaults, PowerCutAtEveryWriteOfAnAdd) {
    for (unsigned threads : {1u, 2u}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        ParallelGuard parallel(threads, 16 * 1024);
        TempDir dir("rc_power");
        const std::vector<TestEntry> old = OldEntries();
        BuildVault(dir / "v.vfo", old);
        const Bytes base = ReadBytes(dir / "v.vfo");
        for (bool fresh : {false, true}) {
            SCOPED_TRACE(fresh ? "new vault" : "existing vault");
            auto reset = [&] {
                ClearAddFiles(dir);
                if (fresh) fileio::Remove(dir / "v.vfo");
                else ASSERT_TRUE(WriteBytes(dir / "v.vfo", base));
                // A stop before left the usual side names taken: the files
                // go to names with a random part, which a stop leaves too.
                ASSERT_TRUE(WriteBytes(dir / "j.tmp.new", Bytes()));
                ASSERT_TRUE(WriteBytes(dir / "v.vfo.new", Bytes()));
            };
            reset();
            const AddRun clean = RunAdd(dir, Fault::PowerCut, 0);
            ASSERT_EQ(clean.closeResult, kVaultOk);
            ASSERT_GT(clean.writes, 5);
            for (int at = 1; at <= clean.writes; ++at) {
                SCOPED_TRACE("power cut at write " + std::to_string(at));
                reset();
                RunAdd(dir, Fault::PowerCut, at);
                RecoverVault(dir / "v.vfo", dir / "j.tmp");
                RecoverVault(dir / "v.vfo", dir / "j.tmp");  // at the next login
                EXPECT_FALSE(fileio::Exists(dir / "j.tmp"));
                EXPECT_FALSE(fileio::Exists(dir / "v.vfo.new"));  // an unfinished new vault
                for (const std::string& name : fileio::ListFiles(dir.Path()))
                    EXPECT_TRUE(name.size() < 4 || name.compare(name.size() - 4, 4, ".new") != 0) << name;
                std::vector<ListedEntry> listed;
                if (fresh && !fileio::Exists(dir / "v.vfo")) continue;
                ExpectVaultStartsWith(dir / "v.vfo", fresh ? std::vector<TestEntry>() : old, &listed);
                const size_t before = fresh ? 0 : old.size();
                ExpectAddedSubsequence(listed, before);
                // All of the add or none of it.
                EXPECT_TRUE(listed.size() == before || listed.size() == before + NewEntries().size())
                    << listed.size();
                if (HasFatalFailure() || HasNonfatalFailure()) return;
            }
        }
    }
}

namespace {

// Watches the order of an add's steps on the disk: whether the vault had
// writes that no flush covered yet when a journal took its name.
class OrderWatch : public fileio::IoObserver {
public:
    OrderWatch(const std::string& vault, const std::string& journal) : m_vault(vault), m_journal(journal) {
        fileio::SetIoObserver(this);
    }
    ~OrderWatch() override { fileio::SetIoObserver(nullptr); }
    OrderWatch(const OrderWatch&) = delete;
    OrderWatch& operator=(const OrderWatch&) = delete;

    bool BeforeWrite(CFile& file, uint64_t, size_t) override {
        if (file.Path() == m_vault) m_dirty = true;
        return true;
    }
    bool BeforeTruncate(CFile& file, uint64_t) override {
        if (file.Path() == m_vault) m_dirty = true;
        return true;
    }
    void AfterFlush(CFile& file) override {
        if (file.Path() == m_vault) m_dirty = false;
    }
    void AfterRename(const std::string&, const std::string& to) override {
        if (to != m_journal) return;
        ++renames;
        if (m_dirty) ++early;
    }
    void AfterRemove(const std::string&) override {}

    int renames = 0;  // journals put in place
    int early = 0;    // ... while vault writes were not yet on the disk

private:
    std::string m_vault, m_journal;
    bool m_dirty = false;
};

}  // namespace

TEST(VaultRecoveryFaults, VaultIsFlushedBeforeTheJournalSaysTheAddIsDone) {
    TempDir dir("rc_order");
    BuildVault(dir / "v.vfo", OldEntries());
    OrderWatch watch(dir / "v.vfo", dir / "j.tmp");
    BuildVault(dir / "v.vfo", NewEntries(), dir / "j.tmp");
    EXPECT_EQ(watch.renames, 2);  // the old tail, then the new one
    EXPECT_EQ(watch.early, 0);
}
