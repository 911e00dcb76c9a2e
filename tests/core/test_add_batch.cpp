// The add batch: folder trees and single files into the vault, the replace
// decisions, move mode, free space, the vault's limits, the program's own
// files, Cancel, and the checkpoints of the writer kept open across a batch.
// Every case reads the vault back and checks its entries, order and bytes.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "PowerCut.h"
#include "VaultTestUtil.h"
#include "document/VaultRecovery.h"
#include "document/AddBatch.h"
#include "document/SourceFolder.h"
#include "vault/writer/VaultWriter.h"

#ifndef _WIN32
#include <unistd.h>
#endif

using namespace hbtest;

namespace {

// A vault under dir, the model bound to it, a source tree beside it.
struct BatchBench {
    explicit BatchBench(const std::string& tag) : dir(tag) {
        vault = dir / "disk";
        vault += fileio::Separator();
        vault += "vfnest.vfo";
        src = dir / "src";
        fileio::MakeDirectoryChain(src);
        fileio::MakeDirectoryChain(dir / "disk");
        model.SetVaultPath(vault);
        model.SetJournalPath(dir / "journal.tmp");
    }
    std::string Src(const std::string& rel) const { return JoinSourcePath(src, Native(rel)); }
    static std::string Native(std::string rel) {
        for (char& c : rel) {
            if (c == '/') c = fileio::Separator();
        }
        return rel;
    }
    // A file below src ("a/b.txt"), its folders made first.
    std::string File(const std::string& rel, const Bytes& data) {
        const std::string path = Src(rel);
        const size_t cut = path.find_last_of(fileio::Separator());
        fileio::MakeDirectoryChain(path.substr(0, cut));
        EXPECT_TRUE(WriteBytes(path, data));
        return path;
    }
    // name -> data of every vault entry (folders map to an empty vector),
    // in vault order.
    std::vector<std::pair<std::string, Bytes>> Contents() const {
        std::vector<ListedEntry> listed;
        EXPECT_TRUE(ReadWholeVault(vault, &listed));
        std::vector<std::pair<std::string, Bytes>> out;
        for (const ListedEntry& e : listed) {
            EXPECT_EQ(e.result, kVaultOk) << e.info.name;
            out.emplace_back(e.info.name, e.data);
        }
        return out;
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> out;
        for (const auto& c : Contents()) out.push_back(c.first);
        return out;
    }
    std::vector<std::string> ListNames() const {
        std::vector<std::string> out;
        for (const auto& e : model.Entries()) out.push_back(e->path);
        return out;
    }

    TempDir dir;
    std::string vault, src;
    CVaultModel model;
};

using Strings = std::vector<std::string>;

struct LimitGuard {
    LimitGuard(uint64_t bytes, uint32_t entries) { vault::SetWriterLimitsForTest(bytes, entries); }
    ~LimitGuard() { vault::SetWriterLimitsForTest(0, 0); }
};

}  // namespace

TEST(AddBatch, FolderTreeGivesFolderEntriesBeforeTheirFilesWithTheirBytes) {
    BatchBench s("tree");
    const Bytes a = MakeData(5000, 1, true), c = MakeData(777, 2, false);
    s.File("Pics/a.txt", a);
    s.File("Pics/Old/c.bin", c);
    s.File("Pics/empty.dat", {});
    fileio::MakeDirectoryChain(s.Src("Pics/None"));
    FileInfo aInfo;
    ASSERT_TRUE(fileio::GetInfo(s.Src("Pics/a.txt"), &aInfo));
    {
        // The files are read and compressed ahead on other threads, never
        // on the batch's own.
        ParallelGuard threads(2, 0);
        const std::thread::id self = std::this_thread::get_id();
        const std::string src = s.src;
        fileio::SetReadHook([self, src](const std::string& path, size_t) {
            return std::this_thread::get_id() != self || path.compare(0, src.size(), src) != 0;
        });
        CAddBatch batch(s.model, {}, false);
        batch.AddPath(s.Src("Pics") + fileio::Separator());  // a trailing separator is ignored
        batch.Finish();
        fileio::SetReadHook(nullptr);
        EXPECT_EQ(batch.Stored(), 6u);
        EXPECT_FALSE(batch.WriterOpen());
    }
    const Strings expected{"Pics/", "Pics/None/", "Pics/Old/", "Pics/Old/c.bin", "Pics/a.txt",
                           "Pics/empty.dat"};
    ASSERT_EQ(s.Names(), expected);
    EXPECT_EQ(s.ListNames(), expected);
    const auto contents = s.Contents();
    EXPECT_EQ(contents[3].second, c);
    EXPECT_EQ(contents[4].second, a);
    EXPECT_TRUE(contents[5].second.empty());
    // The list has the writer's offsets and sizes and the listing's times.
    VaultEntry e;
    ASSERT_TRUE(s.model.GetEntry("Pics/a.txt", &e));
    EXPECT_EQ(e.size, a.size());
    EXPECT_EQ(e.modified, aInfo.writeTime);
    EXPECT_TRUE(s.model.EntryAt(0)->IsFolder());
    // Copy mode changes nothing in the file system; the journal is gone.
    EXPECT_EQ(ReadBytes(s.Src("Pics/a.txt")), a);
    EXPECT_FALSE(fileio::Exists(s.model.JournalPath()));
}

TEST(AddBatch, PathsLandInTheCurrentFolderAndDepthPicksTheirComponents) {
    BatchBench s("current");
    BuildVault(s.vault, {{"Docs/", {}, true}});
    ASSERT_TRUE(s.model.LoadVaultList());
    s.model.EnterFolder("Docs");
    const Bytes one = MakeData(10, 3, true), two = MakeData(20, 4, true);
    s.File("one.txt", one);
    s.File("X/Y/two.txt", two);
    CAddBatch batch(s.model, {}, false);
    batch.AddPath(s.Src("one.txt"));
    batch.AddPath(s.Src("X/Y"), 1);       // the last two components: X\Y
    batch.AddPath(s.Src("missing.txt"));  // gone before the paste: skipped
    batch.Finish();
    EXPECT_EQ(s.Names(), (Strings{"Docs/", "Docs/one.txt", "Docs/X/Y/", "Docs/X/Y/two.txt"}));
    EXPECT_EQ(s.Contents()[1].second, one);
    EXPECT_EQ(s.Contents()[3].second, two);
}

TEST(AddBatch, OneWriterServesTheBatchWithACheckpointEvery1024Entries) {
    BatchBench s("checkpoints");
    const int kFiles = 1100;
    for (int i = 0; i < kFiles; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Many/f%05d.txt", i);
        s.File(name, MakeData(8, static_cast<uint32_t>(i), true));
    }
    VaultHooks hooks;
    int texts = 0;
    size_t checkpointsSeen = 0;
    std::vector<std::string> vaultAtCheckpoint;
    CAddBatch* running = nullptr;
    hooks.progressText = [&](const std::string&, int id, const std::string&) {
        EXPECT_EQ(id, 22);
        ++texts;
        if (running && running->Checkpoints() > checkpointsSeen) {
            checkpointsSeen = running->Checkpoints();
#ifndef _WIN32  // the open writer shares nothing on Windows
            // The vault on disk is whole at a checkpoint, with every entry so far.
            vaultAtCheckpoint = s.Names();
#endif
        }
    };
    s.model.SetHooks(hooks);
    CAddBatch batch(s.model, {}, false);
    running = &batch;
    batch.AddPath(s.Src("Many"));
    EXPECT_TRUE(batch.WriterOpen());
    EXPECT_EQ(batch.Checkpoints(), 1u);  // the folder and 1,023 files
    batch.Finish();
    EXPECT_EQ(batch.Checkpoints(), 2u);
    EXPECT_EQ(texts, kFiles);
#ifndef _WIN32
    ASSERT_EQ(vaultAtCheckpoint.size(), 1024u);
    EXPECT_EQ(vaultAtCheckpoint.back(), "Many/f01022.txt");
#endif
    const Strings names = s.Names();
    ASSERT_EQ(names.size(), static_cast<size_t>(kFiles + 1));
    EXPECT_EQ(names[kFiles], "Many/f01099.txt");
    EXPECT_EQ(s.ListNames(), names);
}

TEST(AddBatch, ReplaceDecisionsYesNoYesReplaceAllAndCancel) {
    struct Case {
        const char* what;
        std::vector<int> answers;   // given in turn
        size_t questions;           // how many were asked
        Strings order;              // vault order afterwards
        std::vector<bool> replaced; // a.txt, B.txt, c.txt carry new bytes
        bool newFileStored;         // d.txt (new, after the three)
    };
    const std::vector<Case> cases = {
        // Replaced files are stored again at the end, in list order.
        {"yes no yes", {1, 2, 1}, 3, {"Box/", "Box/B.TXT", "Box/d.txt", "Box/a.txt", "Box/c.txt"},
         {true, false, true}, true},
        {"replace all", {3}, 1, {"Box/", "Box/d.txt", "Box/a.txt", "Box/B.TXT", "Box/c.txt"},
         {true, true, true}, true},
        {"cancel first", {0}, 1, {"Box/", "Box/a.txt", "Box/B.TXT", "Box/c.txt"},
         {false, false, false}, false},
        {"no no no", {2, 2, 2}, 3, {"Box/", "Box/a.txt", "Box/B.TXT", "Box/c.txt", "Box/d.txt"},
         {false, false, false}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BatchBench s("replace");
        const Bytes oldA = MakeData(100, 1, true), oldB = MakeData(200, 2, true),
                    oldC = MakeData(300, 3, true);
        // Stored names differ in letter case from the sources: still the same names.
        BuildVault(s.vault, {{"Box/", {}, true}, {"Box/a.txt", oldA}, {"Box/B.TXT", oldB},
                             {"Box/c.txt", oldC}});
        ASSERT_TRUE(s.model.LoadVaultList());
        const VaultEntry* entryA = s.model.EntryAt(1);
        const Bytes newA = MakeData(1000, 11, true), newB = MakeData(2000, 12, false),
                    newC = MakeData(3000, 13, true), d = MakeData(50, 14, true);
        s.File("Box/a.txt", newA);
        s.File("Box/b.txt", newB);
        s.File("Box/c.txt", newC);
        s.File("Box/d.txt", d);
        AddBatchHooks hooks;
        size_t asked = 0;
        Strings askedNames;
        hooks.askReplace = [&](const std::string& name) {
            askedNames.push_back(name);
            return c.answers[std::min(asked++, c.answers.size() - 1)];
        };
        {
            CAddBatch batch(s.model, hooks, false);
            batch.AddPath(s.Src("Box"));
            batch.UpdateMarkedEntries();
            batch.Finish();
        }
        EXPECT_EQ(asked, c.questions);
        EXPECT_EQ(askedNames[0], "Box/a.txt");
        // A replaced entry keeps its stored name (B.TXT for the source b.txt).
        Strings order = c.order;
        EXPECT_EQ(s.Names(), order);
        std::map<std::string, Bytes> data;
        for (const auto& e : s.Contents()) data[e.first] = e.second;
        EXPECT_EQ(data["Box/a.txt"], c.replaced[0] ? newA : oldA);
        EXPECT_EQ(data["Box/B.TXT"], c.replaced[1] ? newB : oldB);
        EXPECT_EQ(data["Box/c.txt"], c.replaced[2] ? newC : oldC);
        EXPECT_EQ(data.count("Box/d.txt"), c.newFileStored ? 1u : 0u);
        // A replaced file keeps its VaultEntry, with the new size; the list
        // holds what the vault holds.
        EXPECT_EQ(s.model.EntryAt(1), entryA);
        EXPECT_EQ(entryA->size, c.replaced[0] ? newA.size() : oldA.size());
        Strings list = s.ListNames();
        std::sort(list.begin(), list.end());
        std::sort(order.begin(), order.end());
        EXPECT_EQ(list, order);
        for (const auto& e : s.model.Entries()) EXPECT_TRUE(e->pendingSource.empty());
    }
}

TEST(AddBatch, ReplaceAllLastsOneBatch) {
    BatchBench s("replaceall");
    BuildVault(s.vault, {{"a.txt", MakeData(10, 1, true)}, {"b.txt", MakeData(10, 2, true)}});
    ASSERT_TRUE(s.model.LoadVaultList());
    s.File("a.txt", MakeData(20, 3, true));
    s.File("b.txt", MakeData(20, 4, true));
    AddBatchHooks hooks;
    int asked = 0;
    hooks.askReplace = [&](const std::string&) { return ++asked, 3; };
    for (int round = 1; round <= 2; ++round) {
        CAddBatch batch(s.model, hooks, false);
        EXPECT_EQ(batch.ReplaceDecision(), -1);
        batch.AddPath(s.Src("a.txt"));
        batch.AddPath(s.Src("b.txt"));
        batch.UpdateMarkedEntries();
        batch.Finish();
        EXPECT_EQ(asked, round);
    }
    EXPECT_EQ(s.Contents()[0].second, MakeData(20, 3, true));
    EXPECT_EQ(s.Contents()[1].second, MakeData(20, 4, true));
}

TEST(AddBatch, MoveDeletesStoredSourcesAndTheFoldersItEmptied) {
    BatchBench s("move");
    BuildVault(s.vault, {{"Tree/keep.txt", MakeData(10, 1, true)}});
    ASSERT_TRUE(s.model.LoadVaultList());
    s.File("Tree/Sub/a.txt", MakeData(100, 2, true));
    s.File("Tree/keep.txt", MakeData(100, 3, true));  // answered No: stays
    fileio::MakeDirectoryChain(s.Src("Tree/Empty"));
    s.File("loose.txt", MakeData(100, 4, true));
    AddBatchHooks hooks;
    hooks.askReplace = [](const std::string&) { return 2; };
    {
        CAddBatch batch(s.model, hooks, true);
        batch.AddPath(s.Src("Tree"));
        batch.AddPath(s.Src("loose.txt"));
        batch.UpdateMarkedEntries();
        batch.Finish();
    }
    EXPECT_EQ(s.Names(), (Strings{"Tree/keep.txt", "Tree/", "Tree/Empty/", "Tree/Sub/",
                                  "Tree/Sub/a.txt", "loose.txt"}));
    EXPECT_EQ(s.Contents()[4].second, MakeData(100, 2, true));
    EXPECT_FALSE(fileio::Exists(s.Src("Tree/Sub/a.txt")));
    EXPECT_FALSE(fileio::Exists(s.Src("Tree/Sub")));
    EXPECT_FALSE(fileio::Exists(s.Src("Tree/Empty")));
    EXPECT_FALSE(fileio::Exists(s.Src("loose.txt")));
    EXPECT_TRUE(fileio::Exists(s.Src("Tree/keep.txt")));
    EXPECT_TRUE(fileio::Exists(s.Src("Tree")));
}

TEST(AddBatch, TooLittleSpaceStopsTheBatchAndKeepsWhatWasAdded) {
    BatchBench s("space");
    s.File("F/a.txt", MakeData(100, 1, true));
    s.File("F/b.txt", MakeData(5000, 2, true));
    s.File("F/c.txt", MakeData(10, 3, true));
    AddBatchHooks hooks;
    int full = 0;
    hooks.freeSpace = [](uint64_t* bytes) { return *bytes = CAddBatch::kSpaceReserve + 1000, true; };
    hooks.diskFull = [&] { ++full; };
    CAddBatch batch(s.model, hooks, false);
    batch.AddPath(s.Src("F"));
    batch.AddPath(s.Src("F/c.txt"));  // passed over
    batch.Finish();
    EXPECT_EQ(full, 1);
    EXPECT_TRUE(batch.Stopped());
    EXPECT_EQ(s.Names(), (Strings{"F/", "F/a.txt"}));
    EXPECT_EQ(s.ListNames(), s.Names());
}

TEST(AddBatch, TheVolumeIsReadAgainOnlyWhenTheEstimateRunsShort) {
    BatchBench s("spaceestimate");
    for (int i = 0; i < 40; ++i) s.File("E/f" + std::to_string(100 + i), MakeData(1000, i, true));
    AddBatchHooks hooks;
    int readings = 0;
    uint64_t free = 1ull << 40;
    // A volume that the vault fills.
    const std::string* vault = &s.vault;
    hooks.freeSpace = [&](uint64_t* bytes) {
        // A new vault is built under a side name until its first close.
        FileInfo info;
        uint64_t used = fileio::GetInfo(*vault, &info) ? info.size : 0;
        if (fileio::GetInfo(*vault + ".new", &info)) used += info.size;
        ++readings;
        *bytes = free - std::min(free, used);
        return true;
    };
    {
        CAddBatch batch(s.model, hooks, false);
        batch.AddPath(s.Src("E"));
        batch.Finish();
    }
    EXPECT_EQ(readings, 1);
    EXPECT_EQ(s.Names().size(), 41u);
    // Room for some: the estimate runs out after about ten files and the
    // volume is read again, now and then, until a file does not fit.
    BatchBench t("spaceestimate2");
    vault = &t.vault;
    for (int i = 0; i < 40; ++i) t.File("E/f" + std::to_string(100 + i), MakeData(1000, i, true));
    readings = 0;
    free = CAddBatch::kSpaceReserve + 10 * 2100;
    int full = 0;
    hooks.diskFull = [&] { ++full; };
    CAddBatch batch(t.model, hooks, false);
    batch.AddPath(t.Src("E"));
    batch.Finish();
    EXPECT_EQ(full, 1);
    EXPECT_GE(readings, 2);
    EXPECT_LT(readings, 20);
    const size_t stored = t.Names().size();
    EXPECT_GT(stored, 11u);
    EXPECT_LT(stored, 41u);
    FileInfo info;
    ASSERT_TRUE(fileio::GetInfo(t.vault, &info));
    EXPECT_LE(info.size, free);  // the reserve absorbs the records
}

// A name too long is that file's own fault: it is skipped and the rest of
// the batch goes in. A full vault stops the batch.
TEST(AddBatch, LimitsNameTheFileStopTheBatchAndLeaveAWholeVault) {
    struct Case {
        const char* what;
        uint64_t maxBytes;
        uint32_t maxEntries;
        std::string folder;  // current folder of the view
        AddLimit limit;
    };
    // A current folder deep enough that "Lim/" + a 60-byte name passes 259 bytes.
    const std::string deep(200, 'p');
    const std::vector<Case> cases = {
        {"name", 0, 0, deep, AddLimit::NameLength},
        {"entries", 0, 2, "", AddLimit::VaultFull},
        {"vault bytes", 3000, 0, "", AddLimit::VaultFull},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BatchBench s("limits");
        s.File("Lim/a.txt", MakeData(100, 1, true));
        const std::string second = c.folder.empty() ? "b.bin" : std::string(60, 'n');
        s.File("Lim/" + second, MakeData(5000, 2, false));
        s.File("Lim/z.txt", MakeData(10, 3, true));
        s.model.EnterFolder(c.folder);
        LimitGuard guard(c.maxBytes, c.maxEntries);
        AddBatchHooks hooks;
        std::vector<std::pair<std::string, AddLimit>> reported;
        hooks.limitReached = [&](const std::string& src, AddLimit l) { reported.emplace_back(src, l); };
        const bool skips = c.limit == AddLimit::NameLength;
        // As a move: the file that did not go in stays where it was.
        CAddBatch batch(s.model, hooks, skips);
        batch.AddPath(s.Src("Lim"));
        batch.Finish();
        if (skips) {
            FileInfo info;
            EXPECT_TRUE(fileio::GetInfo(s.Src("Lim/" + second), &info));
            EXPECT_FALSE(fileio::GetInfo(s.Src("Lim/a.txt"), &info));
            EXPECT_FALSE(fileio::GetInfo(s.Src("Lim/z.txt"), &info));
        }
        if (skips) {
            EXPECT_TRUE(reported.empty());
            ASSERT_EQ(batch.Skipped().size(), 1u);
            EXPECT_EQ(batch.Skipped()[0].path, s.Src("Lim/" + second));
            EXPECT_EQ(batch.Skipped()[0].reason, SkipReason::NameLength);
        } else {
            ASSERT_EQ(reported.size(), 1u);
            EXPECT_EQ(reported[0].first, s.Src("Lim/" + second));
            EXPECT_EQ(reported[0].second, c.limit);
            EXPECT_TRUE(batch.Skipped().empty());
        }
        const std::string base = c.folder.empty() ? "" : c.folder + "/";
        Strings stored{base + "Lim/", base + "Lim/a.txt"};
        if (skips) stored.push_back(base + "Lim/z.txt");
        EXPECT_EQ(s.Names(), stored);
        EXPECT_EQ(s.ListNames(), stored);
    }
}

#ifndef _WIN32
TEST(AddBatch, AFileOf4GiBIsRefusedBeforeAnyByteIsRead) {
    BatchBench s("bigfile");
    const std::string big = s.File("huge.bin", {});
    ASSERT_EQ(::truncate(big.c_str(), 0x100000000ll), 0);  // sparse
    s.File("small.txt", MakeData(10, 1, true));
    AddBatchHooks hooks;
    bool stopped = false;
    hooks.limitReached = [&](const std::string&, AddLimit) { stopped = true; };
    CAddBatch batch(s.model, hooks, false);
    batch.AddPath(s.Src("small.txt"));
    batch.AddPath(big);
    batch.Finish();
    EXPECT_FALSE(stopped);
    ASSERT_EQ(batch.Skipped().size(), 1u);
    EXPECT_EQ(batch.Skipped()[0].path, big);
    EXPECT_EQ(batch.Skipped()[0].reason, SkipReason::FileSize);
    EXPECT_EQ(s.Names(), (Strings{"small.txt"}));
}

TEST(AddBatch, ASourceThatCannotBeOpenedIsReportedAndTheBatchGoesOn) {
    BatchBench s("unreadable");
    s.File("D/a.txt", MakeData(10, 1, true));
    ASSERT_EQ(::symlink("/nonexistent/target", s.Src("D/b.txt").c_str()), 0);
    s.File("D/c.txt", MakeData(10, 2, true));
    VaultHooks vh;
    Strings notOpened;
    vh.sourceNotOpened = [&](const std::string& p) {
        // The vault is whole while the message is up.
        EXPECT_EQ(s.Names(), (Strings{"D/", "D/a.txt"}));
        notOpened.push_back(p);
    };
    s.model.SetHooks(vh);
    CAddBatch batch(s.model, {}, false);
    batch.AddPath(s.Src("D"));
    batch.Finish();
    EXPECT_EQ(notOpened, (Strings{s.Src("D/b.txt")}));
    ASSERT_EQ(batch.Skipped().size(), 1u);
    EXPECT_EQ(batch.Skipped()[0].reason, SkipReason::NotOpened);
    EXPECT_EQ(s.Names(), (Strings{"D/", "D/a.txt", "D/c.txt"}));
}
#endif

TEST(AddBatch, TheVaultAndTheProgramsFilesAreNeverAddedIntoTheVault) {
    BatchBench s("own");
    BuildVault(s.vault, {{"x.txt", MakeData(10, 1, true)}});
    ASSERT_TRUE(s.model.LoadVaultList());
    const std::string disk = s.dir / "disk";
    WriteBytes(JoinSourcePath(disk, "hollowbox.exe"), MakeData(64, 2, false));
    WriteBytes(JoinSourcePath(disk, "notes.txt"), MakeData(64, 3, true));
    AddBatchHooks hooks;
    Strings said;
    hooks.ownFilesSkipped = [&](const std::string& first) { said.push_back(first); };
    {
        CAddBatch batch(s.model, hooks, false);
        batch.SetOwnFiles({s.vault, JoinSourcePath(disk, "hollowbox.exe")});
        batch.AddPath(disk);                // the folder that holds the vault
        batch.AddPath(s.vault);             // the vault itself
        batch.Finish();
    }
    EXPECT_EQ(said, (Strings{JoinSourcePath(disk, "hollowbox.exe")}));
    EXPECT_EQ(s.Names(), (Strings{"x.txt", "disk/", "disk/notes.txt"}));
}

TEST(AddBatch, CancelKeepsEveryFileStoredBeforeIt) {
    BatchBench s("cancel");
    for (int i = 0; i < 6; ++i) s.File("C/f" + std::to_string(i), MakeData(30, i, true));
    VaultHooks vh;
    int texts = 0;
    vh.progressText = [&](const std::string&, int, const std::string&) { ++texts; };
    vh.cancelled = [&] { return texts >= 3; };
    s.model.SetHooks(vh);
    CAddBatch batch(s.model, {}, false);
    batch.AddPath(s.Src("C"));
    EXPECT_FALSE(batch.WriterOpen());  // closed at the Cancel
    batch.AddPath(s.Src("C/f5"));      // passed over
    batch.Finish();
    EXPECT_EQ(s.Names(), (Strings{"C/", "C/f0", "C/f1", "C/f2"}));
    EXPECT_EQ(s.ListNames(), s.Names());
}

TEST(AddBatch, NobodyLoggedInAddsNothing) {
    BatchBench s("loggedout");
    s.File("a.txt", MakeData(10, 1, true));
    AddBatchHooks hooks;
    hooks.loggedIn = [] { return false; };
    CAddBatch batch(s.model, hooks, false);
    batch.AddPath(s.Src("a.txt"));
    batch.Finish();
    EXPECT_FALSE(fileio::Exists(s.vault));
    EXPECT_EQ(s.model.EntryCount(), 0u);
}

// A process stopped at any write late in a move of 1,100 files: after the
// journal's repair the vault holds every file up to the last checkpoint at
// least, each whole, and every source whose entry is not in it still exists.
TEST(AddBatch, AStopLosesAtMostTheFilesSinceTheLastCheckpointAndNoSource) {
    const int kFiles = 1100;
    auto fill = [&](BatchBench& s) {
        for (int i = 0; i < kFiles; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "S/f%05d", i);
            s.File(name, MakeData(16, static_cast<uint32_t>(i), true));
        }
    };
    int total = 0;
    {
        BatchBench s("stopcount");
        fill(s);
        FaultModel counter(0, false);
        CAddBatch batch(s.model, {}, true);
        batch.AddPath(s.Src("S"));
        batch.Finish();
        total = counter.Writes();
    }
    for (int back : {40, 7}) {
        SCOPED_TRACE(back);
        BatchBench s("stop");
        fill(s);
        bool stopped = false;
        {
            FaultModel model(total - back, false);
            try {
                CAddBatch batch(s.model, {}, true);
                batch.AddPath(s.Src("S"));
                batch.Finish();
            } catch (const ProcessStopped&) {
                stopped = true;
            }
        }
        ASSERT_TRUE(stopped);
        RecoverVault(s.vault, s.model.JournalPath());
        std::vector<ListedEntry> listed;
        ASSERT_TRUE(ReadWholeVault(s.vault, &listed));
        ASSERT_GE(listed.size(), 1024u);  // the first checkpoint: the folder and 1,023 files
        for (size_t i = 1; i < listed.size(); ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "S/f%05d", static_cast<int>(i - 1));
            EXPECT_EQ(listed[i].info.name, name);
            EXPECT_EQ(listed[i].data, MakeData(16, static_cast<uint32_t>(i - 1), true));
        }
        for (int i = static_cast<int>(listed.size()) - 1; i < kFiles; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "S/f%05d", i);
            EXPECT_TRUE(fileio::Exists(s.Src(name))) << name;
        }
    }
}
