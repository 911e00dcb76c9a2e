// What recovery, the writer and the vault tool may do with an add journal
// and a vault: the shared decision (apply, discard, keep) taken the same way
// by RecoverVault and "recover", empty tails, a journal left by a failed
// close, the empty vault, oversized journals and temporary files that
// someone else planted.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "VaultTestUtil.h"
#include "cli/ToolPlatform.h"
#include "cli/VaultTool.h"
#include "document/AddJournal.h"
#include "document/VaultModel.h"
#include "document/VaultRecovery.h"

using namespace hbtest;

namespace {

std::vector<TestEntry> Entries() {
    return {{"docs/a.txt", MakeData(30000, 31, true)},
            {"docs/", {}, true},
            {"docs/b.bin", MakeData(12000, 32, false)}};
}

// One vault's images and journals, and another vault's journal.
struct Materials {
    Bytes after;    // the vault after an add that completed
    Bytes broken;   // the same vault, its new directory tail lost
    Bytes own;      // the journal that add left
    Bytes foreign;  // the journal of an add to another vault
};

Materials MakeMaterials(const TempDir& dir) {
    Materials m;
    const std::string v = dir / "m.vfo", j = dir / "m.tmp";
    BuildVault(v, Entries());
    BuildVault(v, {{"late.txt", MakeData(5000, 33, true)}}, j);
    m.after = ReadBytes(v);
    m.own = ReadBytes(j);
    m.broken.assign(m.after.begin(), m.after.begin() + EndOf(m.after).directoryOffset + 40);
    BuildVault(dir / "o.vfo", {{"other/x.txt", MakeData(9000, 34, true)}});
    BuildVault(dir / "o.vfo", {{"other/y.txt", MakeData(700, 35, true)}}, dir / "o.tmp");
    m.foreign = ReadBytes(dir / "o.tmp");
    fileio::Remove(v);
    fileio::Remove(j);
    return m;
}

Bytes EmptyTailJournal(uint32_t offset) {
    Bytes j(4, 0);
    vault::PutU32(j.data(), offset);
    vault::EndRecord end;
    end.directoryOffset = offset;
    const auto block = vault::EncodeEndRecord(end);
    j.insert(j.end(), block.begin(), block.end());
    return j;
}

Bytes EmptyVault() {
    const auto block = vault::EncodeEndRecord(vault::EndRecord());
    return Bytes(block.begin(), block.end());
}

int RunRecoverTool(const std::string& vaultPath, const std::string& journalPath) {
    std::vector<std::string> all = {"hollowbox-vault", "recover", vaultPath, "--journal", journalPath};
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    std::ostringstream out, err;
    return VaultToolMain(static_cast<int>(all.size()), argv.data(), out, err);
}

// Vault bytes (empty when the file is gone) and whether the journal stayed.
struct Outcome {
    Bytes vault;
    bool vaultThere = false;
    bool journalKept = false;
};

Outcome Observe(const std::string& v, const std::string& j) {
    Outcome o;
    o.vaultThere = fileio::Exists(v);
    o.vault = ReadBytes(v);
    o.journalKept = fileio::Exists(j);
    return o;
}

void Put(const std::string& v, const Bytes& vaultBytes, const std::string& j, const Bytes& journalBytes) {
    ASSERT_TRUE(WriteBytes(v, vaultBytes));
    fileio::Remove(j);
    if (!journalBytes.empty()) {
        ASSERT_TRUE(WriteBytes(j, journalBytes));
    }
}

}  // namespace

TEST(JournalDecision, ProgramAndToolTreatEveryJournalAlike) {
    TempDir dir("jd_same");
    const Materials m = MakeMaterials(dir);
    Bytes damaged(m.own.begin(), m.own.end() - 1);
    struct Case {
        const char* what;
        Bytes vault, journal;
        bool journalKept;
        Bytes vaultAfter;
    } cases[] = {
        {"own journal, vault lists: no longer needed", m.after, m.own, false, m.after},
        {"another vault's journal, vault lists", m.after, m.foreign, true, m.after},
        {"damaged journal, vault lists", m.after, damaged, true, m.after},
        {"own journal, tail lost: put back", m.broken, m.own, false, m.after},
        {"another vault's journal, tail lost", m.broken, m.foreign, true, m.broken},
        {"damaged journal, tail lost", m.broken, damaged, true, m.broken},
    };
    const std::string v = dir / "v.vfo", j = dir / "j.tmp";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(journal::DecideJournal(v, dir / "none.tmp").action, journal::JournalAction::None);
        Put(v, c.vault, j, c.journal);
        RecoverVault(v, j);
        const Outcome program = Observe(v, j);
        Put(v, c.vault, j, c.journal);
        RunRecoverTool(v, j);
        const Outcome tool = Observe(v, j);

        EXPECT_EQ(program.journalKept, c.journalKept);
        EXPECT_TRUE(program.vault == c.vaultAfter);
        EXPECT_EQ(tool.journalKept, program.journalKept);
        EXPECT_TRUE(tool.vault == program.vault);
        if (c.journalKept) {
            EXPECT_EQ(ReadBytes(j), c.journal);
        }
    }
}

TEST(JournalDecision, EmptyTailJournalNeverCutsAVaultThatHoldsEntries) {
    // What a first add to a new vault on some other disk, stopped half-way,
    // leaves behind: a journal listing nothing, at offset 0.
    TempDir dir("jd_empty");
    const Materials m = MakeMaterials(dir);
    const std::string v = dir / "v.vfo", j = dir / "j.tmp";
    const Bytes lastBlockLost(m.after.begin(), m.after.end() - 32);
    for (const Bytes* image : {&m.after, &m.broken, &lastBlockLost}) {
        for (uint32_t offset : {0u, EndOf(m.after).directoryOffset}) {
            SCOPED_TRACE("image of " + std::to_string(image->size()) + " bytes, offset " +
                         std::to_string(offset));
            Put(v, *image, j, EmptyTailJournal(offset));
            EXPECT_NE(journal::ExamineJournal(v, j).state, journal::JournalState::Matches);
            RecoverVault(v, j);
            EXPECT_TRUE(ReadBytes(v) == *image);
            EXPECT_TRUE(fileio::Exists(j));
        }
    }

    // It does belong to a vault that holds nothing finished: an empty file,
    // or only the first record of an add that never completed.
    BuildVault(dir / "one.vfo", {{"first.txt", MakeData(4000, 36, false)}});
    Bytes unfinished = ReadBytes(dir / "one.vfo");
    uint8_t plain[32];
    ASSERT_TRUE(vault::DecipherRecord(unfinished.data(), plain, sizeof plain));
    const size_t localLength = 30 + vault::GetU16(plain + 26) + vault::GetU16(plain + 28);
    PatchRecord(&unfinished, 0, localLength, [](uint8_t* p) { p[6] |= vault::kFlagDescriptor; });
    unfinished.resize(localLength + 1000);
    for (const Bytes& image : {Bytes(), unfinished}) {
        SCOPED_TRACE("vault of " + std::to_string(image.size()) + " bytes");
        Put(v, image, j, EmptyTailJournal(0));
        EXPECT_EQ(RecoverVault(v, j), 1);
        EXPECT_FALSE(fileio::Exists(j));
        EXPECT_TRUE(!fileio::Exists(v) || ReadBytes(v) == EmptyVault());
    }
}

TEST(JournalDecision, WithoutAJournalOnlyTheExactEmptyVaultIsGivenUp) {
    TempDir dir("jd_nojournal");
    // A stored entry whose data holds what looks like an empty vault's end
    // record: once the real end record is lost, the backward scan finds it.
    Bytes data = MakeData(3000, 37, false);
    const Bytes empty = EmptyVault();
    data.insert(data.end(), empty.begin(), empty.end());
    const Bytes more = MakeData(90, 38, false);
    data.insert(data.end(), more.begin(), more.end());
    BuildVault(dir / "p.vfo", {{"keep/pack.zip", data}});
    Bytes lostEnd = ReadBytes(dir / "p.vfo");
    lostEnd.resize(lostEnd.size() - 32);
    Bytes emptyWithJunk = empty;
    emptyWithJunk.push_back(0);
    Bytes junkThenEmpty = MakeData(64, 39, false);
    junkThenEmpty.insert(junkThenEmpty.end(), empty.begin(), empty.end());

    const std::string v = dir / "v.vfo", j = dir / "j.tmp";
    for (const Bytes* image : {&lostEnd, &emptyWithJunk, &junkThenEmpty}) {
        SCOPED_TRACE("image of " + std::to_string(image->size()) + " bytes");
        Put(v, *image, j, Bytes());
        EXPECT_EQ(RecoverVault(v, j), 0);
        EXPECT_TRUE(ReadBytes(v) == *image);
    }
    Put(v, empty, j, Bytes());
    EXPECT_EQ(RecoverVault(v, j), 1);
    EXPECT_FALSE(fileio::Exists(v));
}

TEST(JournalDecision, JournalOfAFailedCloseIsNeverOverwrittenByTheNextAdd) {
    TempDir dir("jd_failclose");
    const std::string v = dir / "v.vfo", j = dir / "j.tmp";
    BuildVault(v, Entries());
    // A folder entry is shorter than the old directory, so the old end record
    // survives behind it; the close's last write (the new tail) fails.
    size_t writes = 0;
    BuildVault(dir / "twin.vfo", Entries());
    {
        WriteHookGuard hook([&](size_t) { ++writes; return true; });
        BuildVault(dir / "twin.vfo", {{"late/", {}, true}}, dir / "twin.tmp");
    }
    {
        size_t seen = 0;
        WriteHookGuard hook([&](size_t) { return ++seen != writes; });
        VaultHandle* w = OpenVaultWriter(v.c_str(), 0, kVaultSourcePath, j.c_str());
        ASSERT_NE(w, nullptr);
        AddEntries(w, {{"late/", {}, true}});
        EXPECT_NE(CloseVaultHandle(w), kVaultOk);
    }
    const Bytes journalBytes = ReadBytes(j);
    ASSERT_FALSE(journalBytes.empty());
    const Bytes damaged = ReadBytes(v);

    // The next open must neither copy the stale directory over the journal
    // nor write into the vault.
    EXPECT_EQ(OpenVaultWriter(v.c_str(), 0, kVaultSourcePath, j.c_str()), nullptr);
    EXPECT_EQ(ReadBytes(j), journalBytes);
    EXPECT_TRUE(ReadBytes(v) == damaged);

    // Without the journal, the end record that points at entry data is refused.
    EXPECT_EQ(OpenVaultWriter(v.c_str(), 0, kVaultSourcePath, (dir / "other.tmp").c_str()), nullptr);
    EXPECT_TRUE(ReadBytes(v) == damaged);

    // The document's add puts the journal back first, then adds.
    CVaultModel model;
    model.SetVaultPath(v);
    model.SetJournalPath(j);
    ASSERT_TRUE(WriteBytes(dir / "src.txt", MakeData(800, 40, true)));
    EXPECT_EQ(model.AddToVault("late\\src.txt", dir / "src.txt", kVaultSourcePath, nullptr), kVaultOk);
    std::vector<ListedEntry> listed;
    ASSERT_TRUE(ReadWholeVault(v, &listed));
    ASSERT_EQ(listed.size(), Entries().size() + 2);
    EXPECT_EQ(listed[3].info.name, std::string("late/"));
    EXPECT_EQ(listed[4].info.name, std::string("late/src.txt"));
    EXPECT_FALSE(fileio::Exists(j));
}

TEST(JournalDecision, AnotherVaultsJournalOutlivesTheDocumentsAdds) {
    TempDir dir("jd_model");
    const Materials m = MakeMaterials(dir);
    const std::string v = dir / "v.vfo", j = dir / "j.tmp";
    ASSERT_TRUE(WriteBytes(j, m.foreign));
    ASSERT_TRUE(WriteBytes(dir / "src.txt", MakeData(600, 43, true)));
    CVaultModel model;
    model.SetVaultPath(v);
    model.SetJournalPath(j);
    // The journal moves beside its name before the first add, and adds go
    // on (the second one needs the name).
    EXPECT_EQ(model.AddToVault("a.txt", dir / "src.txt", kVaultSourcePath, nullptr), kVaultOk);
    EXPECT_FALSE(fileio::Exists(j));
    EXPECT_EQ(ReadBytes(j + ".1"), m.foreign);
    EXPECT_EQ(model.AddToVault("b.txt", dir / "src.txt", kVaultSourcePath, nullptr), kVaultOk);
    EXPECT_FALSE(fileio::Exists(j));
    // Logins to this vault leave it parked for its own.
    RecoverVault(v, j);
    EXPECT_EQ(ReadBytes(j + ".1"), m.foreign);
    EXPECT_FALSE(fileio::Exists(j + ".2"));
}

TEST(JournalDecision, JournalReadIsBoundedByTheVaultsSize) {
    TempDir dir("jd_bound");
    const Materials m = MakeMaterials(dir);
    const std::string v = dir / "v.vfo", j = dir / "j.tmp";
    const Bytes small(m.broken.begin(), m.broken.begin() + 200);
    // Twice the vault and more: no journal of this vault can be that long.
    Bytes big(4 + 32 + 2 * small.size() + 64, 0);
    Put(v, small, j, big);
    const journal::JournalReport r = journal::ExamineJournal(v, j);
    EXPECT_EQ(r.state, journal::JournalState::Unreadable);
    EXPECT_EQ(r.detail, "larger than any journal of this vault");
    EXPECT_EQ(journal::JournalSizeLimit(small.size()), 4 + 32 + 2 * small.size());
    EXPECT_EQ(RecoverVault(v, j), 0);
    EXPECT_TRUE(ReadBytes(v) == small);
    EXPECT_TRUE(fileio::Exists(j));
    // A vault's own journal is well inside its bound.
    EXPECT_LE(m.own.size(), journal::JournalSizeLimit(m.broken.size()));
}

TEST(JournalTempFiles, NamesPlantedBesideTheJournalAndTheVaultAreNeverWrittenThrough) {
    TempDir dir("jd_planted");
    const std::string v = dir / "v.vfo", j = dir / "j.tmp", victim = dir / "victim.txt";
    const Bytes victimBytes = MakeData(100, 41, true);
    ASSERT_TRUE(WriteBytes(victim, victimBytes));
    // A new vault (built beside itself) and an add to it (through the journal).
    int round = 0;
    for (const std::string& planted : {v + ".new", j + ".new"}) {
        SCOPED_TRACE(planted);
#ifndef _WIN32
        ASSERT_EQ(::symlink(victim.c_str(), planted.c_str()), 0);
#else
        ASSERT_TRUE(WriteBytes(planted, victimBytes));
#endif
        BuildVault(v, {{"n" + std::to_string(++round) + ".txt", MakeData(3000, 42, true)}}, j);
        EXPECT_TRUE(ReadBytes(victim) == victimBytes);
        EXPECT_TRUE(ReadBytes(planted) == victimBytes);
        fileio::Remove(planted);
    }
    std::vector<ListedEntry> listed;
    ASSERT_TRUE(ReadWholeVault(v, &listed));
    EXPECT_EQ(listed.size(), 2u);
}

#ifndef _WIN32
TEST(JournalTempFiles, ToolKeepsItsJournalInAPrivateFolderWithoutTmpdir) {
    TempDir dir("jd_private");
    const std::string base = dir.Path();
    std::string folder, why;
    ASSERT_TRUE(hbcli::PrivateFolder(base, &folder, &why)) << why;
    struct stat st;
    ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, ::getuid());

    // Opened up by someone: made private again.
    ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    ASSERT_TRUE(hbcli::PrivateFolder(base, &folder, &why)) << why;
    ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // A link planted in its place is refused, not followed.
    TempDir other("jd_private_link");
    std::string linkFolder;
    ASSERT_TRUE(hbcli::PrivateFolder(other.Path(), &linkFolder, &why));
    ASSERT_EQ(::rmdir(linkFolder.c_str()), 0);
    linkFolder.pop_back();
    ASSERT_EQ(::symlink(folder.c_str(), linkFolder.c_str()), 0);
    EXPECT_FALSE(hbcli::PrivateFolder(other.Path(), &folder, &why));

    // Without TMPDIR the default journal lives in such a folder below /tmp.
    const char* saved = std::getenv("TMPDIR");
    const std::string savedValue = saved ? saved : "";
    ::unsetenv("TMPDIR");
    std::string path;
    const bool ok = hbcli::DefaultJournalPath(&path, &why);
    if (saved) ::setenv("TMPDIR", savedValue.c_str(), 1);
    ASSERT_TRUE(ok) << why;
    EXPECT_EQ(path, "/tmp/hollowbox-" + std::to_string(::getuid()) + "/" + kAddJournalName);
    ASSERT_EQ(::stat(("/tmp/hollowbox-" + std::to_string(::getuid())).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}
#endif
