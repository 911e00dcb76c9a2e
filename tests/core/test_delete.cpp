// Deleting entries from a vault: what the compaction leaves (offsets, moved
// bytes, names, the cut), when it must leave the vault alone, and the model's
// DelZipFromFile with its shown deletion and Cancel.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>

#include "PowerCut.h"
#include "VaultTestUtil.h"
#include "document/DeleteJournal.h"
#include "document/VaultCompaction.h"
#include "document/VaultModel.h"
#include "document/VaultRecovery.h"
#include "vault/format/VaultEntryRules.h"
#include "vault/format/VaultScan.h"

using namespace hbtest;

namespace {

std::vector<TestEntry> SomeEntries() {
    return {{"first.txt", MakeData(5000, 1, true)},   {"docs/", {}, true},
            {"docs/a.txt", MakeData(3000, 2, true)},  {"docs/sub/b.bin", MakeData(2000, 3, false)},

            {"docsx.txt", MakeData(1200, 4, true)},   {"Readme.txt", MakeData(700, 5, true)},
            {"README.TXT", MakeData(900, 6, false)},  {"last.bin", MakeData(4000, 7, false)},
            // One stored as UTF-8 (flag bit 11), one in the code page.
            {u8"\u03a9mega/\u65e5\u672c\U0001F600.txt", MakeData(1500, 8, true)},
            {u8"na\u00efve caf\u00e9.txt", MakeData(800, 9, false)}};
}

std::vector<ListedEntry> Listed(const std::string& path) {
    std::vector<ListedEntry> listed;
    EXPECT_TRUE(ReadWholeVault(path, &listed));
    return listed;
}

// Every entry of the vault is one of `entries`, in the same order, with its
// data intact, and exactly the names in `gone` are missing.
void ExpectVaultHoldsAllBut(const std::string& path, const std::vector<TestEntry>& entries,
                            const std::vector<std::string>& gone) {
    std::vector<TestEntry> expected;
    for (const TestEntry& e : entries)
        if (std::find(gone.begin(), gone.end(), e.name) == gone.end()) expected.push_back(e);
    const std::vector<ListedEntry> listed = Listed(path);
    ASSERT_EQ(listed.size(), expected.size());
    const Bytes image = ReadBytes(path);
    for (size_t i = 0; i < listed.size(); ++i) {
        EXPECT_EQ(listed[i].info.name, expected[i].name);
        // The stored bytes and the UTF-8 flag, in the central record too,
        // are what the writer made of the name.
        const vault::StoredName stored =
            vault::EncodeEntryName(vault::NormalizeEntryName(expected[i].name, expected[i].folder));
        EXPECT_EQ(listed[i].info.storedName, stored.bytes);
        EXPECT_EQ(listed[i].info.nameUtf8, stored.utf8) << expected[i].name;
        EXPECT_EQ((CentralHeaderAt(image, static_cast<int>(i)).flags & vault::kNameUtf8Flag) != 0, stored.utf8);
        EXPECT_EQ(listed[i].result, kVaultOk) << expected[i].name;
        EXPECT_EQ(listed[i].data, expected[i].data) << expected[i].name;
    }
}

compaction::Outcome DeleteNames(const std::string& vault, const std::string& journal,
                                const std::vector<std::string>& names) {
    compaction::Options options;
    options.journalPath = journal;
    return compaction::CompactVault(
        vault,
        compaction::NameSelector([&names](const std::string& n, bool utf8) {
            for (const std::string& x : names)
                if (UpperCaseName(x) == UpperCaseName(vault::DecodeEntryName(n, utf8))) return true;
            return false;
        }),
        options);
}

}  // namespace

TEST(VaultCompaction, DeletingTheLastEntryMovesNothing) {
    TempDir dir("del_last");
    const auto entries = SomeEntries();
    BuildVault(dir / "v.vfo", entries);
    const Bytes before = ReadBytes(dir / "v.vfo");
    const std::vector<ListedEntry> old = Listed(dir / "v.vfo");
    const uint32_t lastOffset = old.back().info.localOffset;

    const auto out = DeleteNames(dir / "v.vfo", dir / "d.jnl", {entries.back().name});
    ASSERT_EQ(out.status, compaction::Status::Done);
    EXPECT_EQ(out.bytesMoved, 0u);
    EXPECT_TRUE(out.moved.empty());
    EXPECT_EQ(out.entriesKept, entries.size() - 1);
    EXPECT_FALSE(fileio::Exists(dir / "d.jnl"));

    const Bytes after = ReadBytes(dir / "v.vfo");
    ASSERT_GT(after.size(), lastOffset);
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + lastOffset, after.begin()));
    EXPECT_EQ(EndOf(after).directoryOffset, lastOffset);
    EXPECT_EQ(after.size(), lastOffset + EndOf(after).directorySize + vault::kEndBlockSize);
    ExpectVaultHoldsAllBut(dir / "v.vfo", entries, {entries.back().name});
}

TEST(VaultCompaction, DeletingTheFirstEntryMovesEveryOtherOneDown) {
    TempDir dir("del_first");
    const auto entries = SomeEntries();
    BuildVault(dir / "v.vfo", entries);
    const Bytes before = ReadBytes(dir / "v.vfo");
    const std::vector<ListedEntry> old = Listed(dir / "v.vfo");
    const uint32_t gap = old[1].info.localOffset - old[0].info.localOffset;

    const auto out = DeleteNames(dir / "v.vfo", dir / "d.jnl", {"FIRST.TXT"});
    ASSERT_EQ(out.status, compaction::Status::Done);
    EXPECT_EQ(out.moved.size(), entries.size() - 1);
    const Bytes after = ReadBytes(dir / "v.vfo");
    const std::vector<ListedEntry> now = Listed(dir / "v.vfo");
    ASSERT_EQ(now.size(), old.size() - 1);
    for (size_t i = 0; i < now.size(); ++i) {
        // The central record names the new place, and the local record and
        // data there are the old bytes.
        EXPECT_EQ(now[i].info.localOffset, old[i + 1].info.localOffset - gap);
        const uint32_t end = i + 2 < old.size() ? old[i + 2].info.localOffset : EndOf(before).directoryOffset;
        EXPECT_TRUE(std::equal(before.begin() + old[i + 1].info.localOffset, before.begin() + end,
                               after.begin() + now[i].info.localOffset))
            << now[i].info.name;
    }
    EXPECT_EQ(after.size(), before.size() - gap - (EndOf(before).directorySize - EndOf(after).directorySize));
    ExpectVaultHoldsAllBut(dir / "v.vfo", entries, {"first.txt"});
}

// Remembers how large the journal file grew.
class JournalGrowth : public fileio::IoObserver {
public:
    explicit JournalGrowth(std::string path) : m_path(std::move(path)) { fileio::SetIoObserver(this); }
    ~JournalGrowth() override { fileio::SetIoObserver(nullptr); }
    uint64_t Largest() const { return m_largest; }
    bool BeforeWrite(CFile& file, uint64_t pos, size_t bytes) override {
        if (file.Path().compare(0, m_path.size(), m_path) == 0) m_largest = std::max<uint64_t>(m_largest, pos + bytes);
        return true;
    }
    bool BeforeTruncate(CFile&, uint64_t) override { return true; }
    void AfterFlush(CFile&) override {}
    void AfterRename(const std::string&, const std::string&) override {}
    void AfterRemove(const std::string&) override {}

private:
    std::string m_path;
    uint64_t m_largest = 0;
};

// A rewrite that takes a couple of steps by its distance goes straight, with
// nothing but its plan in the journal; one that moves by a few bytes keeps
// what it writes in the journal first.
TEST(VaultCompaction, FewStraightStepsKeepOnlyThePlanInTheJournal) {
    TempDir dir("del_straight");
    const std::vector<TestEntry> entries = {{"tiny.bin", MakeData(100, 1, false)},
                                            {"big.bin", MakeData(8000, 2, false)},
                                            {"next.bin", MakeData(6000, 3, false)},
                                            {"last.bin", MakeData(3000, 4, false)}};
    for (const char* gone : {"big.bin", "tiny.bin"}) {
        fileio::Remove(dir / "v.vfo");
        BuildVault(dir / "v.vfo", entries);
        uint64_t largest = 0;
        compaction::Outcome out;
        {
            JournalGrowth growth(dir / "d.jnl");
            out = DeleteNames(dir / "v.vfo", dir / "d.jnl", {gone});
            largest = growth.Largest();
        }
        ASSERT_EQ(out.status, compaction::Status::Done) << gone;
        if (std::string(gone) == "big.bin") {
            EXPECT_LT(largest, 2048u);
            EXPECT_GT(out.bytesMoved, 9000u);
        } else {
            EXPECT_GT(largest, out.bytesMoved);
        }
        EXPECT_FALSE(fileio::Exists(dir / "d.jnl"));
        ExpectVaultHoldsAllBut(dir / "v.vfo", entries, {gone});
    }
}

// Many slot steps, each saved in the journal beside the vault's write of
// the step before it.
TEST(VaultCompaction, SlotStepsMoveEveryByteWhileTheNextOneIsSaved) {
    TempDir dir("del_slots");
    std::vector<TestEntry> entries = {{"small.bin", MakeData(300, 1, false)}};
    for (int i = 0; i < 12; ++i)
        entries.push_back({"part" + std::to_string(i) + ".bin", MakeData(50000 + 977 * i, 10 + i, false)});
    BuildVault(dir / "v.vfo", entries);
    compaction::Options options;
    options.journalPath = dir / "d.jnl";
    options.slotBytes = 16 * 1024;
    const auto out = compaction::CompactVault(
        dir / "v.vfo", [](const std::string& n) { return n == "small.bin"; }, options);
    ASSERT_EQ(out.status, compaction::Status::Done);
    EXPECT_GT(out.bytesMoved, 600000u);
    EXPECT_FALSE(fileio::Exists(dir / "d.jnl"));
    ExpectVaultHoldsAllBut(dir / "v.vfo", entries, {"small.bin"});
}

TEST(VaultCompaction, DeletingEverythingLeavesTheEndBlockAndRecoveryDropsIt) {
    TempDir dir("del_all");
    const auto entries = SomeEntries();
    BuildVault(dir / "v.vfo", entries);
    std::vector<std::string> all;
    for (const auto& e : entries) all.push_back(e.name);
    const auto out = DeleteNames(dir / "v.vfo", dir / "d.jnl", all);
    ASSERT_EQ(out.status, compaction::Status::Done);
    EXPECT_EQ(out.entriesKept, 0u);
    const Bytes after = ReadBytes(dir / "v.vfo");
    ASSERT_EQ(after.size(), vault::kEndBlockSize);
    EXPECT_EQ(EndOf(after).entriesTotal, 0);
    EXPECT_EQ(EndOf(after).directoryOffset, 0u);
    RecoverVault(dir / "v.vfo", dir / "qv0327711.tmp");
    EXPECT_FALSE(fileio::Exists(dir / "v.vfo"));
}

TEST(VaultCompaction, NamesDifferingOnlyInCaseBothGo) {
    TempDir dir("del_case");
    const auto entries = SomeEntries();
    BuildVault(dir / "v.vfo", entries);
    const auto out = DeleteNames(dir / "v.vfo", dir / "d.jnl",
                                 {"readme.txt", u8"\u03c9MEGA/\u65e5\u672c\U0001F600.TXT", u8"NA\u00cfVE CAF\u00c9.TXT"});
    ASSERT_EQ(out.status, compaction::Status::Done);
    ASSERT_EQ(out.deletedUtf8.size(), out.deleted.size());
    std::vector<std::string> deleted;
    for (size_t i = 0; i < out.deleted.size(); ++i)
        deleted.push_back(vault::DecodeEntryName(out.deleted[i], out.deletedUtf8[i]));
    const std::vector<std::string> gone = {"Readme.txt", "README.TXT", u8"\u03a9mega/\u65e5\u672c\U0001F600.txt",
                                           u8"na\u00efve caf\u00e9.txt"};
    EXPECT_EQ(deleted, gone);
    ExpectVaultHoldsAllBut(dir / "v.vfo", entries, gone);
}

TEST(VaultCompaction, UntouchedWhenNothingMatchesOrNoEndRecord) {
    TempDir dir("del_none");
    BuildVault(dir / "v.vfo", SomeEntries());
    const Bytes before = ReadBytes(dir / "v.vfo");
    auto out = DeleteNames(dir / "v.vfo", dir / "d.jnl", {"absent.txt", "docs"});
    EXPECT_EQ(out.status, compaction::Status::NothingMatched);
    EXPECT_EQ(out.entriesKept, SomeEntries().size());
    EXPECT_EQ(ReadBytes(dir / "v.vfo"), before);

    // Without its end record the file is not a vault to rewrite.
    Bytes cut(before.begin(), before.end() - vault::kEndBlockSize);
    ASSERT_TRUE(WriteBytes(dir / "v.vfo", cut));
    out = DeleteNames(dir / "v.vfo", dir / "d.jnl", {"first.txt"});
    EXPECT_EQ(out.status, compaction::Status::NotAVault);
    EXPECT_EQ(ReadBytes(dir / "v.vfo"), cut);

    out = DeleteNames(dir / "missing.vfo", dir / "d.jnl", {"first.txt"});
    EXPECT_EQ(out.status, compaction::Status::NotOpened);
    EXPECT_FALSE(fileio::Exists(dir / "d.jnl"));
}

// A central record whose name is longer than the program's own limit is
// kept whole when it moves (the writer refuses such names, so the vault is
// put together from the record codec).
TEST(VaultCompaction, OverlongNameIsKeptWhole) {
    TempDir dir("del_long");
    const std::string longName = std::string(300, 'n') + ".txt";
    const std::vector<std::pair<std::string, Bytes>> parts = {{"gone.txt", MakeData(100, 8, true)},
                                                              {longName, MakeData(64, 9, true)}};
    Bytes image, directory;
    for (const auto& p : parts) {
        vault::LocalRecord local;
        local.header.method = vault::kMethodStored;
        local.header.compressedSize = local.header.uncompressedSize = static_cast<uint32_t>(p.second.size());
        local.name = p.first;
        local.extra = vault::BuildLocalTimestamp(1, 1, 1);
        vault::CentralRecord central;
        central.header.method = vault::kMethodStored;
        central.header.compressedSize = central.header.uncompressedSize = local.header.compressedSize;
        central.header.localOffset = static_cast<uint32_t>(image.size());
        central.name = p.first;
        central.extra = vault::BuildCentralTimestamp(1);
        Bytes rec;
        ASSERT_EQ(vault::EncodeLocalRecord(local, &rec), vault::VaultStatus::Ok);
        image.insert(image.end(), rec.begin(), rec.end());
        image.insert(image.end(), p.second.begin(), p.second.end());
        ASSERT_EQ(vault::EncodeCentralRecord(central, &rec), vault::VaultStatus::Ok);
        directory.insert(directory.end(), rec.begin(), rec.end());
    }
    vault::EndRecord end;
    end.entriesOnDisk = end.entriesTotal = 2;
    end.directorySize = static_cast<uint32_t>(directory.size());
    end.directoryOffset = static_cast<uint32_t>(image.size());
    image.insert(image.end(), directory.begin(), directory.end());
    const auto block = vault::EncodeEndRecord(end);
    image.insert(image.end(), block.begin(), block.end());
    ASSERT_TRUE(WriteBytes(dir / "v.vfo", image));

    const auto out = DeleteNames(dir / "v.vfo", dir / "d.jnl", {"gone.txt"});
    ASSERT_EQ(out.status, compaction::Status::Done);
    std::vector<std::string> names;
    ASSERT_TRUE(compaction::ReadStoredNames(dir / "v.vfo", &names));
    EXPECT_EQ(names, std::vector<std::string>{longName});
    const Bytes after = ReadBytes(dir / "v.vfo");
    EXPECT_EQ(EndOf(after).entriesTotal, 1);
    CFile f;
    ASSERT_TRUE(f.Open(dir / "v.vfo", CFile::Mode::Read));
    vault::LocalHeader h;
    ASSERT_EQ(vault::ReadLocalHeader(f, 0, after.size(), &h), vault::VaultStatus::Ok);
    EXPECT_EQ(h.nameLength, longName.size());
}

// ---------------------------------------------------------------------------
// The model.

namespace {

struct ModelFixture {
    TempDir dir{"del_model"};
    CVaultModel model;
    std::vector<std::string> shown;
    std::vector<int> messages;
    size_t cancelAfter = SIZE_MAX;   // the user presses Cancel after this many shown files

    ModelFixture() {
        BuildVault(dir / "v.vfo", SomeEntries());
        model.SetVaultPath(dir / "v.vfo");
        model.SetJournalPath(dir / kAddJournalName);
        VaultHooks hooks;
        hooks.progressText = [this](const std::string& path, int id, const std::string&) {
            messages.push_back(id);
            if (id == 26) shown.push_back(path);
        };
        hooks.cancelled = [this] { return shown.size() >= cancelAfter; };
        model.SetHooks(hooks);
        EXPECT_TRUE(model.LoadVaultList());
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> out;
        for (const auto& e : model.Entries()) out.push_back(e->path);
        return out;
    }
};

}  // namespace

TEST(VaultModelDelete, FolderGoesWithEverythingBelowAndTheListFollows) {
    ModelFixture f;
    f.model.MarkEntry("docs\\", kEntryFolder, "");
    f.model.MarkEntry("first.txt", 0, "");
    EXPECT_EQ(f.model.DelZipFromFile(true), 6);
    EXPECT_EQ(f.shown, (std::vector<std::string>{"first.txt", "docs\\a.txt", "docs\\sub\\b.bin"}));
    EXPECT_EQ(f.messages.back(), 27);
    EXPECT_EQ(f.Names(), (std::vector<std::string>{"docsx.txt", "Readme.txt", "README.TXT", "last.bin",
                                                   u8"\u03a9mega/\u65e5\u672c\U0001F600.txt",
                                                   u8"na\u00efve caf\u00e9.txt"}));
    ExpectVaultHoldsAllBut(f.dir / "v.vfo", SomeEntries(), {"first.txt", "docs/", "docs/a.txt", "docs/sub/b.bin"});
    // The offsets in the list are those of the vault now.
    const std::vector<ListedEntry> listed = Listed(f.dir / "v.vfo");
    for (size_t i = 0; i < listed.size(); ++i)
        EXPECT_EQ(f.model.Entries()[i]->localOffset, listed[i].info.localOffset);
}

TEST(VaultModelDelete, CancelSparesWhatWasNotShownAndTheFoldersAboveIt) {
    ModelFixture f;
    f.cancelAfter = 2;  // first.txt and docs/a.txt are shown, then Cancel
    f.model.MarkEntry("first.txt", 0, "");
    f.model.MarkEntry("docs\\", kEntryFolder, "");
    f.model.MarkEntry("last.bin", 0, "");
    EXPECT_EQ(f.model.DelZipFromFile(true), 8);
    EXPECT_EQ(f.shown, (std::vector<std::string>{"first.txt", "docs\\a.txt"}));
    // docs/sub/b.bin was not shown: it stays, and so does docs/ above it.
    ExpectVaultHoldsAllBut(f.dir / "v.vfo", SomeEntries(), {"first.txt", "docs/a.txt"});
    EXPECT_EQ(f.model.EntryCount(), 8u);
}

TEST(VaultModelDelete, ReplacementKeepsTheEntriesInTheList) {
    ModelFixture f;
    f.model.MarkEntry("docsx.txt", 0, "");
    EXPECT_EQ(f.model.DelZipFromFile(false), 9);
    EXPECT_TRUE(f.shown.empty());
    EXPECT_EQ(f.model.EntryCount(), SomeEntries().size());
    ExpectVaultHoldsAllBut(f.dir / "v.vfo", SomeEntries(), {"docsx.txt"});
    EXPECT_FALSE(fileio::Exists(deljournal::DeleteJournalPathFor(f.dir / kAddJournalName)));
}

TEST(VaultModelDelete, NamesWhoseBytesDoNotConvertAreDeletedByTheirBytes) {
    TempDir dir("del_bytes");
    // Two names flagged UTF-8 whose bytes are not: both list as U+FFFD twice
    // and "a.txt", yet only the marked one may go.
    VaultHandle* w = OpenVaultWriter((dir / "v.vfo").c_str(), 0, kVaultSourcePath, nullptr);
    ASSERT_NE(w, nullptr);
    for (const char* bytes : {"\xFF\xFE" "a.txt", "\xFF\xFD" "a.txt", "b.txt"})
        ASSERT_EQ(AddVaultEntryStored(w, vault::StoredName{bytes, true}, "x", 1, kVaultSourceMemory, nullptr,
                                      nullptr, nullptr, nullptr),
                  kVaultOk);
    ASSERT_EQ(CloseVaultHandle(w), kVaultOk);
    CVaultModel model;
    model.SetVaultPath(dir / "v.vfo");
    model.SetJournalPath(dir / kAddJournalName);
    ASSERT_TRUE(model.LoadVaultList());
    ASSERT_EQ(model.EntryCount(), 3u);
    EXPECT_EQ(model.EntryAt(0)->path, u8"\ufffd\ufffda.txt");
    EXPECT_EQ(model.EntryAt(1)->path, model.EntryAt(0)->path);
    EXPECT_EQ(model.EntryAt(1)->storedName, "\xFF\xFD" "a.txt");
    EXPECT_TRUE(model.EntryAt(1)->nameUtf8);
    model.EntryAt(1)->mark = 1;
    EXPECT_EQ(model.DelZipFromFile(true), 2);
    const std::vector<ListedEntry> listed = Listed(dir / "v.vfo");
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].info.storedName, "\xFF\xFE" "a.txt");
    EXPECT_EQ(listed[0].data, Bytes{'x'});
    ASSERT_EQ(model.EntryCount(), 2u);
    EXPECT_EQ(model.EntryAt(0)->storedName, "\xFF\xFE" "a.txt");
}

// Renaming through the model: each refusal leaves vault and list alone; a
// folder's tree, a change of case and a name that moves the entries behind
// it each leave the vault holding every entry's data under its new name,
// with the list following it (names and offsets).
TEST(VaultModelRename, RefusalsChangeNothingAndRenamesTheListFollows) {
    ModelFixture f;
    const Bytes before = ReadBytes(f.dir / "v.vfo");
    std::vector<uint32_t> offsets;
    for (const auto& e : f.model.Entries()) offsets.push_back(e->localOffset);
    using R = CVaultModel::RenameResult;
    EXPECT_EQ(f.model.RenameEntry("absent.txt", "x.txt"), R::NotFound);
    for (const std::string bad : {"", ".", "..", "a|b", "a\\b", "tab\t", "end."})
        EXPECT_EQ(f.model.RenameEntry("first.txt", bad), R::Unusable) << bad;
    EXPECT_EQ(f.model.RenameEntry("docs/", std::string(250, 'd')), R::Unusable);  // docs/sub/b.bin too long
    EXPECT_EQ(f.model.RenameEntry("first.txt", "DOCSX.TXT"), R::Taken);
    EXPECT_EQ(f.model.RenameEntry("last.bin", "Docs"), R::Taken);
    EXPECT_EQ(f.model.RenameEntry("readme.txt", "new.txt"), R::Taken);  // both case forms would be new.txt
    EXPECT_EQ(f.model.RenameEntry("last.bin", u8"\u03c9MEGA"), R::Taken);   // the folder, in Greek lower case
    EXPECT_EQ(ReadBytes(f.dir / "v.vfo"), before);
    EXPECT_EQ(f.Names(), (std::vector<std::string>{"first.txt", "docs/", "docs/a.txt", "docs/sub/b.bin", "docsx.txt",
                                                   "Readme.txt", "README.TXT", "last.bin",
                                                   u8"\u03a9mega/\u65e5\u672c\U0001F600.txt",
                                                   u8"na\u00efve caf\u00e9.txt"}));

    EXPECT_EQ(f.model.RenameEntry("docs\\", "Papers"), R::Renamed);
    EXPECT_EQ(f.model.RenameEntry("FIRST.TXT", "First.txt"), R::Renamed);
    EXPECT_EQ(f.model.RenameEntry("papers/sub/b.bin", "b-with-a-name-long-enough-to-move-what-follows.bin"),
              R::Renamed);
    // Matched without regard to case beyond ASCII; the new name leaves the
    // code page, so it is stored as UTF-8 with the flag.
    EXPECT_EQ(f.model.RenameEntry(u8"NA\u00cfVE CAF\u00c9.TXT", u8"\u03a9m\u00e9ga.txt"), R::Renamed);
    std::vector<TestEntry> renamed = SomeEntries();
    const char* const names[] = {"First.txt", "Papers/", "Papers/a.txt",
                                 "Papers/sub/b-with-a-name-long-enough-to-move-what-follows.bin"};
    for (size_t i = 0; i < 4; ++i) renamed[i].name = names[i];
    renamed[9].name = u8"\u03a9m\u00e9ga.txt";
    ExpectVaultHoldsAllBut(f.dir / "v.vfo", renamed, {});
    const std::vector<ListedEntry> listed = Listed(f.dir / "v.vfo");
    EXPECT_TRUE(listed.back().info.nameUtf8);
    EXPECT_EQ(listed.back().info.storedName, u8"\u03a9m\u00e9ga.txt");
    EXPECT_TRUE(f.model.Entries().back()->nameUtf8);
    ASSERT_EQ(listed.size(), f.model.EntryCount());
    for (size_t i = 0; i < listed.size(); ++i) {
        EXPECT_EQ(f.model.Entries()[i]->path, listed[i].info.name);
        EXPECT_EQ(f.model.Entries()[i]->localOffset, listed[i].info.localOffset);
    }
    EXPECT_GT(listed.back().info.localOffset, offsets.back());  // moved up behind the longer name
    EXPECT_FALSE(fileio::Exists(deljournal::DeleteJournalPathFor(f.dir / kAddJournalName)));
}

// ---------------------------------------------------------------------------
// The delete journal.

deljournal::Plan SlotPlan() {
    deljournal::Plan plan;
    plan.oldSize = 10000;
    plan.oldDirStart = 9000;
    plan.moves = {{5000, 1000, 4000}};
    plan.newDirOffset = 5000;
    plan.tail.assign(vault::kEndBlockSize, 0);
    plan.newSize = plan.newDirOffset + plan.tail.size();
    plan.slotCapacity = 512;
    return plan;
}

TEST(DeleteJournal, PowerCutWhileAStepIsSavedLeavesThatStepOrTheOneBefore) {
    TempDir dir("del_journal");
    const deljournal::Plan plan = SlotPlan();
    const Bytes first = MakeData(512, 1, false), second = MakeData(512, 2, false);
    bool sawFirst = false, sawSecond = false;
    for (int at = 1;; ++at) {
        deljournal::CJournal j;
        ASSERT_TRUE(j.Create(dir / "d.jnl", plan));
        ASSERT_TRUE(j.SaveStep(0, 0, first.data(), first.size()));
        bool finished = false;
        {
            FaultModel cut(at, true);
            try {
                finished = j.SaveStep(0, 512, second.data(), second.size());
            } catch (const ProcessStopped&) {
            }
            j.Close();
            cut.DropUnflushed();
        }
        // The second write is the record: by then the slot is on the disk.
        if (at == 2) {
            const Bytes raw = ReadBytes(dir / "d.jnl");
            const size_t place = static_cast<size_t>(deljournal::PlanBytes(plan) + 2 * 64 + plan.slotCapacity);
            ASSERT_GE(raw.size(), place + second.size());
            EXPECT_TRUE(std::equal(second.begin(), second.end(), raw.begin() + place));
        }
        // Whatever reached the disk, the journal names a step whose saved
        // bytes are whole.
        bool uncommitted = true;
        deljournal::CJournal k;
        ASSERT_TRUE(k.Load(dir / "d.jnl", &uncommitted)) << "cut at write " << at;
        Bytes slot;
        ASSERT_TRUE(k.ReadSlot(&slot));
        if (k.GetProgress().done == 0) {
            EXPECT_EQ(slot, first) << "cut at write " << at;
            EXPECT_FALSE(finished);
            sawFirst = true;
        } else {
            EXPECT_EQ(k.GetProgress().done, 512u);
            EXPECT_EQ(slot, second) << "cut at write " << at;
            sawSecond = true;
        }
        k.Close();
        if (finished) break;
    }
    EXPECT_TRUE(sawFirst);
    EXPECT_TRUE(sawSecond);
}

// Journals written before slots were flushed ahead of their records told a
// torn slot by its check value; such a journal is still read that way.
TEST(DeleteJournal, FirstVersionJournalTellsATornSlotByItsCheckValue) {
    TempDir dir("del_journal_v1");
    const deljournal::Plan plan = SlotPlan();
    deljournal::CJournal j;
    ASSERT_TRUE(j.Create(dir / "d.jnl", plan));
    const Bytes first = MakeData(512, 1, false), second = MakeData(512, 2, false);
    ASSERT_TRUE(j.SaveStep(0, 0, first.data(), first.size()));
    ASSERT_TRUE(j.SaveStep(0, 512, second.data(), second.size()));
    j.Close();

    // Rewrite it as version 1: the version, the plan's CRC, and each
    // record's slot check value and CRC.
    Bytes bytes = ReadBytes(dir / "d.jnl");
    const size_t planBytes = static_cast<size_t>(deljournal::PlanBytes(plan));
    auto crc = [](const uint8_t* p, size_t n) {
        return static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), p, static_cast<uInt>(n)));
    };
    vault::PutU32(bytes.data() + 4, 1);
    vault::PutU32(bytes.data() + planBytes - 4, crc(bytes.data(), planBytes - 4));
    for (size_t place = 0; place < 2; ++place) {
        uint8_t* state = bytes.data() + planBytes + place * 64;
        const uint32_t sequence = vault::GetU32(state + 4);
        const Bytes& saved = sequence == 2 ? first : second;
        vault::PutU32(state + 24, deljournal::SlotCrc(saved.data(), saved.size()));
        vault::PutU32(state + 28, crc(state, 28));
    }
    ASSERT_TRUE(WriteBytes(dir / "d.jnl", bytes));

    bool uncommitted = true;
    deljournal::CJournal k;
    ASSERT_TRUE(k.Load(dir / "d.jnl", &uncommitted));
    EXPECT_EQ(k.GetProgress().done, 512u);
    Bytes slot;
    ASSERT_TRUE(k.ReadSlot(&slot));
    EXPECT_EQ(slot, second);
    k.Close();

    // The second step's slot is torn: its record no longer counts, and the
    // first step (whose slot lies in the other place) is done again.
    const size_t secondSlot = planBytes + 2 * 64 + static_cast<size_t>(plan.slotCapacity);
    ASSERT_EQ(bytes.size(), secondSlot + plan.slotCapacity);
    bytes[secondSlot + 100] ^= 0x40;
    ASSERT_TRUE(WriteBytes(dir / "d.jnl", bytes));
    ASSERT_TRUE(k.Load(dir / "d.jnl", &uncommitted));
    EXPECT_EQ(k.GetProgress().done, 0u);
    ASSERT_TRUE(k.ReadSlot(&slot));
    EXPECT_EQ(slot, first);

    // A recovery that goes on with such a journal writes records its own
    // kind of reader accepts.
    const Bytes third = MakeData(512, 3, false);
    ASSERT_TRUE(k.SaveStep(0, 512, third.data(), third.size()));
    k.Close();
    ASSERT_TRUE(k.Load(dir / "d.jnl", &uncommitted));
    EXPECT_EQ(k.GetProgress().done, 512u);
    ASSERT_TRUE(k.ReadSlot(&slot));
    EXPECT_EQ(slot, third);
}

TEST(DeleteJournal, JournalOfAnotherVaultIsLeftForItsOwnVault) {
    TempDir dir("del_foreign");
    auto entries = SomeEntries();
    BuildVault(dir / "a.vfo", entries);
    entries[0].data = MakeData(6000, 99, false);
    BuildVault(dir / "b.vfo", entries);
    const Bytes a = ReadBytes(dir / "a.vfo"), b = ReadBytes(dir / "b.vfo");
    const std::string addJournal = dir / kAddJournalName;
    const std::string journal = deljournal::DeleteJournalPathFor(addJournal);

    // A's delete stops halfway through its moves.
    compaction::Options small;
    small.journalPath = journal;
    small.slotBytes = 600;
    small.chunkBytes = 256;
    {
        hbtest::FaultModel stop(12, false);
        EXPECT_THROW(compaction::CompactVault(dir / "a.vfo", [](const std::string& n) { return n == "first.txt"; },
                                              small),
                     hbtest::ProcessStopped);
    }
    ASSERT_TRUE(fileio::Exists(journal));
    EXPECT_NE(ReadBytes(dir / "a.vfo"), a);

    // B is not A: its recovery leaves both B and A's journal alone.
    EXPECT_EQ(RecoverVault(dir / "b.vfo", addJournal), 1);
    EXPECT_EQ(ReadBytes(dir / "b.vfo"), b);
    EXPECT_TRUE(fileio::Exists(journal));

    EXPECT_EQ(RecoverVault(dir / "a.vfo", addJournal), 1);
    EXPECT_FALSE(fileio::Exists(journal));
    ExpectVaultHoldsAllBut(dir / "a.vfo", SomeEntries(), {"first.txt"});
}
