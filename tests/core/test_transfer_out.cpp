// Taking entries out of the vault: what a selection expands to, relative
// names, what a reported move takes out, the on-demand entry reader and the
// opened copies in their own folder, told from their entries and put back.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "VaultTestUtil.h"
#include "document/CopyPutBack.h"
#include "document/EntryReader.h"
#include "document/OpenedCopies.h"
#include "document/TransferOut.h"
#include "document/VaultModel.h"
#include "vault/fileio/FolderList.h"

using namespace hbtest;

namespace {

void Add(CVaultModel& m, const std::string& path, uint32_t size = 1) {
    const bool folder = !path.empty() && path.back() == '/';
    m.AppendEntry(path, folder ? 0x90 : 0x80, 0, size, size, 0, 0, 0);
}

std::vector<std::string> MarkedPaths(const CVaultModel& m) {
    std::vector<std::string> out;
    for (const auto& e : m.Entries())
        if (e->mark) out.push_back(e->path);
    return out;
}

using Names = std::vector<std::string>;

// A tree with a name that another begins with, and a sub-folder whose
// entries are listed before and after other entries.
void Tree(CVaultModel& m) {
    for (const char* p : {"Docs/", "Docs/a.txt", "Docs/a.txt.bak", "Docs/Sub/", "Docs/Sub/deep.bin",
                          "Docs2/", "Docs2/x", "b.txt", "Docs/z.txt", "Docs/Sub/late.bin"})
        Add(m, p);
}

}  // namespace

TEST(TransferOutExpand, FilesTakeOnlyThemselvesFoldersTheirWholeSubtree) {
    struct Case {
        const char* path;
        Names items;
        Names folders;
    };
    const Case cases[] = {
        {"Docs\\a.txt", {"Docs/a.txt"}, {}},
        {"Docs/a.txt.bak", {"Docs/a.txt.bak"}, {}},
        {"Docs\\a", {}, {}},
        {"Docs\\Sub\\",
         {"Docs/Sub/", "Docs/Sub/deep.bin", "Docs/Sub/late.bin"},
         {"Docs/Sub/"}},
        // The sub-folder's subtree comes right after it; Docs2 is not under Docs.
        {"Docs\\",
         {"Docs/", "Docs/a.txt", "Docs/a.txt.bak", "Docs/Sub/", "Docs/Sub/deep.bin",
          "Docs/Sub/late.bin", "Docs/z.txt"},
         {"Docs/", "Docs/Sub/"}},
        {"docs\\", {}, {}},  // case-sensitive, like the exact lookup
    };
    for (const Case& c : cases) {
        CVaultModel m;
        Tree(m);
        Names items, folders;
        ExpandPath(m, c.path, &items, &folders, true);
        EXPECT_EQ(c.items, items) << c.path;
        EXPECT_EQ(c.folders, folders) << c.path;
        // Everything taken is marked (marks come in entry order).
        std::set<std::string> taken(c.items.begin(), c.items.end());
        Names marked = MarkedPaths(m);
        EXPECT_EQ(taken, std::set<std::string>(marked.begin(), marked.end())) << c.path;
    }
}

TEST(TransferOutExpand, MarkedEntriesArePassedOverAndNoListsMayBeGiven) {
    CVaultModel m;
    Tree(m);
    m.EntryAt(1)->mark = 1;  // Docs/a.txt
    Names items;
    ExpandPath(m, "Docs\\", &items, nullptr, true);
    EXPECT_EQ(6u, items.size());
    for (const std::string& p : items) EXPECT_NE("Docs/a.txt", p);
    m.ClearMarks();
    ExpandPath(m, "b.txt", nullptr, nullptr, true);
    EXPECT_EQ(Names{"b.txt"}, MarkedPaths(m));
}

TEST(TransferOutNames, RelativeToTheCurrentFolder) {
    struct Case {
        const char* stored;
        const char* current;
        const char* name;
    };
    const Case cases[] = {
        {"b.txt", "", "b.txt"},
        {"Docs/", "", "Docs"},
        {"Docs/Sub/deep.bin", "", "Docs\\Sub\\deep.bin"},
        {"Docs/Sub/deep.bin", "Docs\\", "Sub\\deep.bin"},
        {"Docs/Sub/", "Docs\\", "Sub"},
        {"Docs/Sub/", "Docs\\Sub\\", ""},
        {"Other/x", "Docs\\", "Other\\x"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.name, RelativeName(c.stored, c.current)) << c.stored;
}

TEST(TransferOutItems, SelectionInsideAFolderWithTimesSizesAndImpliedFolders) {
    CVaultModel m;
    m.AppendEntry("Docs/", 0x90, 0, 0, 0, 10, 11, 12);
    m.AppendEntry("Docs/a.txt", 0x20, 0, 7, 300, 20, 21, 22);
    m.AppendEntry("Docs/a.txt.bak", 0x20, 0, 7, 9, 0, 0, 0);
    m.AppendEntry("Docs/Sub/", 0x90, 0, 0, 0, 30, 31, 32);
    m.AppendEntry("Docs/Sub/deep.bin", 0x20, 0, 5, 4000, 40, 41, 42);
    m.AppendEntry("Docs/Loose/x.txt", 0x20, 0, 1, 1, 0, 0, 0);  // no Docs/Loose/ entry
    m.EnterFolder("Docs");
    Names cut;
    std::vector<TransferItem> items =
        CollectTransferItems(m, {"Docs\\a.txt", "Docs\\Sub\\", "Docs\\Loose\\"}, &cut);
    ASSERT_EQ(5u, items.size());
    EXPECT_EQ("a.txt", items[0].relativeName);
    EXPECT_EQ(300u, items[0].size);
    EXPECT_EQ(20u, items[0].modified);  // AppendEntry takes modified, accessed, created
    EXPECT_EQ(21u, items[0].accessed);
    EXPECT_EQ(22u, items[0].created);
    EXPECT_EQ("Sub", items[1].relativeName);
    EXPECT_TRUE(items[1].IsFolder());
    EXPECT_EQ("Sub\\deep.bin", items[2].relativeName);
    EXPECT_EQ("Docs/Sub/deep.bin", items[2].path);
    EXPECT_EQ("Loose", items[3].relativeName);  // made up for the implied folder
    EXPECT_TRUE(items[3].IsFolder());
    EXPECT_EQ("Loose\\x.txt", items[4].relativeName);
    EXPECT_EQ((Names{"Docs/Sub/"}), cut);
    EXPECT_EQ(0u, m.MarkedCount());
}

TEST(TransferOutMove, OnlyWhatWasHandedOverInFullLeaves) {
    struct Case {
        const char* what;
        Names cut;
        std::set<std::string> moved;
        Names marked;
    };
    const Case cases[] = {
        {"all files of the folder moved",
         {"Docs/", "Docs/Sub/"},
         {"Docs/a.txt", "Docs/a.txt.bak", "Docs/Sub/deep.bin", "Docs/Sub/late.bin", "Docs/z.txt"},
         {"Docs/", "Docs/a.txt", "Docs/a.txt.bak", "Docs/Sub/", "Docs/Sub/deep.bin",
          "Docs/z.txt", "Docs/Sub/late.bin"}},
        {"one file of the sub-folder missing: it and the folders above stay",
         {"Docs/", "Docs/Sub/"},
         {"Docs/a.txt", "Docs/a.txt.bak", "Docs/Sub/deep.bin", "Docs/z.txt"},
         {"Docs/a.txt", "Docs/a.txt.bak", "Docs/Sub/deep.bin", "Docs/z.txt"}},
        {"single file", {}, {"b.txt"}, {"b.txt"}},
        {"nothing handed over", {"Docs2/"}, {}, {}},
    };
    for (const Case& c : cases) {
        CVaultModel m;
        Tree(m);
        EXPECT_EQ(c.marked.size(), MarkMovedEntries(m, c.cut, c.moved)) << c.what;
        EXPECT_EQ(c.marked, MarkedPaths(m)) << c.what;
    }
    // An empty folder that was cut goes with the move.
    CVaultModel m;
    Add(m, "Empty/");
    Add(m, "Empty/Inner/");
    EXPECT_EQ(2u, MarkMovedEntries(m, {"Empty/", "Empty/Inner/"}, {}));
}

// --- data of real vaults ---------------------------------------------------

namespace {

struct Fixture {
    TempDir dir{"transfer_out"};
    std::string vault = dir / "v.vfo";
    Bytes big = MakeData(300000, 7, true);
    Bytes noise = MakeData(70000, 8, false);
    void Build() {
        BuildVault(vault, {{"Docs/", {}, true},
                           {"Docs/big.txt", big},
                           {"Docs/noise.bin", noise},
                           {"empty.txt", {}},
                           {"README", MakeData(10, 9, true)}});
    }
};

Bytes ReadAll(CEntryReader& r, size_t chunk) {
    Bytes out;
    Bytes buf(chunk);
    for (;;) {
        const long n = r.Read(buf.data(), buf.size());
        if (n <= 0) {
            if (n < 0) out.push_back(0xEE);  // marks a failure for the comparison
            break;
        }
        out.insert(out.end(), buf.begin(), buf.begin() + n);
    }
    return out;
}

}  // namespace

TEST(EntryReader, ReadsInAnyChunkSizeSeeksBothWaysAndLetsGoAtTheEnd) {
    Fixture f;
    f.Build();
    for (size_t chunk : {size_t(1000), size_t(16384), size_t(1 << 20)}) {
        CEntryReader r;
        ASSERT_TRUE(r.Open(f.vault, "Docs\\big.txt"));
        ASSERT_TRUE(r.Found());
        EXPECT_EQ(f.big.size(), r.Size());
        EXPECT_EQ(f.big, ReadAll(r, chunk)) << chunk;
        EXPECT_TRUE(r.Complete());
    }
    CEntryReader r;
    ASSERT_TRUE(r.Open(f.vault, "Docs/noise.bin"));
    ASSERT_TRUE(r.Seek(50000));  // forwards
    Bytes tail = ReadAll(r, 4096);
    EXPECT_EQ(Bytes(f.noise.begin() + 50000, f.noise.end()), tail);
    // The vault file is let go at the end: it can be replaced now.
    ASSERT_TRUE(fileio::Rename(f.vault, f.vault + ".moved"));
    ASSERT_TRUE(fileio::Rename(f.vault + ".moved", f.vault));
    ASSERT_TRUE(r.Seek(10));  // backwards: starts the entry over
    Bytes part(100);
    ASSERT_EQ(100, r.Read(part.data(), part.size()));
    EXPECT_EQ(Bytes(f.noise.begin() + 10, f.noise.begin() + 110), part);
    EXPECT_FALSE(r.Seek(f.noise.size() + 1));
}

TEST(EntryReader, MissingEntriesFoldersAndEmptyFilesReadAsEmpty) {
    Fixture f;
    f.Build();
    for (const char* path : {"nothing.txt", "Docs/", "Docs", "docs/big.txt", "empty.txt"}) {
        CEntryReader r;
        ASSERT_TRUE(r.Open(f.vault, path)) << path;
        EXPECT_EQ(0u, r.Size()) << path;
        char c;
        EXPECT_EQ(0, r.Read(&c, 1)) << path;
    }
    CEntryReader none;
    EXPECT_FALSE(none.Open(f.dir / "absent.vfo", "x"));
}

TEST(EntryReader, DamagedDataIsAnErrorNotShortData) {
    Fixture f;
    f.Build();
    // Flip bytes inside the deflated data of big.txt (it follows its local
    // record; the local record of the first file comes after Docs/).
    Bytes image = ReadBytes(f.vault);
    VaultHandle* h = OpenVaultReader(f.vault.c_str(), 0, kVaultSourcePath, nullptr);
    ZipEntryInfo info;
    ASSERT_EQ(kVaultOk, ReadEntryInfo(h, 1, &info));
    CloseVaultHandle(h);
    const size_t at = info.localOffset + 200;
    ASSERT_LT(at + 64, image.size());
    for (size_t i = 0; i < 64; ++i) image[at + i] ^= 0x5A;
    ASSERT_TRUE(WriteBytes(f.vault, image));
    CEntryReader r;
    ASSERT_TRUE(r.Open(f.vault, "Docs/big.txt"));
    Bytes got = ReadAll(r, 8192);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(0xEE, got.back());
    EXPECT_FALSE(r.Complete());
}

TEST(OpenedCopies, EachExtractionIsANewFileInItsOwnFolderWithTheEntrysData) {
    Fixture f;
    f.Build();
    const std::string folder = OpenedCopiesFolder(f.dir.Path());
    EXPECT_EQ(f.dir.Path() + "hbopened" + fileio::Separator(), folder);
    std::string first, second;
    ASSERT_TRUE(ExtractToTemp(f.vault, "Docs\\big.txt", folder, &first));
    ASSERT_TRUE(ExtractToTemp(f.vault, "Docs/big.txt", folder, &second));
    EXPECT_NE(first, second);
    EXPECT_EQ(0u, first.find(folder));
    EXPECT_EQ(".txt", first.substr(first.size() - 4));
    EXPECT_EQ(f.big, ReadBytes(first));
    EXPECT_EQ(f.big, ReadBytes(second));
    std::string readme;
    ASSERT_TRUE(ExtractToTemp(f.vault, "README", folder, &readme));
    EXPECT_EQ(".README", readme.substr(readme.size() - 7));
    EXPECT_EQ(3u, fileio::ListFiles(folder).size());

    std::string none;
    EXPECT_FALSE(ExtractToTemp(f.vault, "Docs/", folder, &none));
    EXPECT_FALSE(ExtractToTemp(f.vault, "absent", folder, &none));
    EXPECT_EQ(3u, fileio::ListFiles(folder).size());

    // Read-only copies are wiped and removed; a kept one stays.
    ASSERT_TRUE(fileio::SetAttributes(first, kAttrReadOnly));
    EXPECT_EQ(2u, SweepOpenedCopies(folder, {second}));
    EXPECT_EQ(std::vector<std::string>{second.substr(folder.size())}, fileio::ListFiles(folder));
    EXPECT_TRUE(WipeAndRemove(second));
    EXPECT_TRUE(fileio::ListFiles(folder).empty());
    EXPECT_TRUE(WipeAndRemove(second));  // already gone
}

TEST(OpenedCopies, ANameThatIsTakenIsNeverWrittenThrough) {
    Fixture f;
    f.Build();
    const std::string folder = OpenedCopiesFolder(f.dir.Path());
    fileio::MakeDirectoryChain(folder);
    // Occupy a run of the names the next extraction may pick.
    const uint32_t now = fileio::TickCount();
    Bytes mine = {'k', 'e', 'e', 'p'};
    for (uint32_t i = 0; i < 50; ++i)
        ASSERT_TRUE(WriteBytes(folder + "qv" + std::to_string(now + i) + ".txt", mine));
    std::string copy;
    ASSERT_TRUE(ExtractToTemp(f.vault, "Docs/big.txt", folder, &copy));
    for (uint32_t i = 0; i < 50; ++i)
        EXPECT_EQ(mine, ReadBytes(folder + "qv" + std::to_string(now + i) + ".txt")) << i;
    EXPECT_EQ(f.big, ReadBytes(copy));
}

// A copy is told from its entry by size and CRC-32; a changed one goes back
// under its entry's name, or, with its entry renamed away, as a new entry;
// an entry replaced meanwhile is told apart. The vault is read back each time.
TEST(OpenedCopies, ChangedCopyIsToldFromItsEntryAndPutBack) {
    Fixture f;
    f.Build();
    CVaultModel model;
    model.SetVaultPath(f.vault);
    model.SetJournalPath(f.dir / "qv0327711.tmp");
    ASSERT_TRUE(model.LoadVaultList());
    EntryStamp base;
    ASSERT_TRUE(ReadEntryStamp(f.vault, "Docs\\big.txt", &base));
    EXPECT_FALSE(ReadEntryStamp(f.vault, "docs/big.txt", &base));  // exact names only
    EXPECT_EQ(base.size, f.big.size());
    const std::string folder = OpenedCopiesFolder(f.dir.Path());
    std::string copy, other;
    ASSERT_TRUE(ExtractToTemp(f.vault, "Docs/big.txt", folder, &copy));
    ASSERT_TRUE(ExtractToTemp(f.vault, "Docs/big.txt", folder, &other));
    EXPECT_EQ(CompareOpenedCopy(f.vault, base, copy), CopyState::Unchanged);

    Bytes edited = f.big;
    edited[1000] ^= 1;  // same size, other CRC
    ASSERT_TRUE(WriteBytes(copy, edited));
    EXPECT_EQ(CompareOpenedCopy(f.vault, base, copy), CopyState::Changed);
    EntryStamp now;
    ASSERT_EQ(PutBackCopy(model, AddBatchHooks(), "Docs/big.txt", copy, &now), PutBackResult::Replaced);
    std::vector<ListedEntry> listed;
    ASSERT_TRUE(ReadWholeVault(f.vault, &listed));
    ASSERT_EQ(listed.size(), 5u);
    std::set<std::string> names;
    for (const ListedEntry& e : listed) {
        names.insert(e.info.name);
        if (std::string(e.info.name) == "Docs/big.txt") EXPECT_EQ(e.data, edited);
        if (std::string(e.info.name) == "Docs/noise.bin") EXPECT_EQ(e.data, f.noise);
        EXPECT_EQ(e.result, kVaultOk) << e.info.name;
    }
    EXPECT_EQ(names, (std::set<std::string>{"Docs/", "Docs/big.txt", "Docs/noise.bin", "empty.txt", "README"}));
    EXPECT_EQ(CompareOpenedCopy(f.vault, now, copy), CopyState::Unchanged);

    // The other copy was made from the entry before it was replaced.
    ASSERT_TRUE(WriteBytes(other, MakeData(500, 11, true)));
    EXPECT_EQ(CompareOpenedCopy(f.vault, base, other), CopyState::EntryChanged);

    // Renamed away: the copy goes back as a new entry of its old name.
    ASSERT_TRUE(WriteBytes(copy, MakeData(800, 12, true)));
    ASSERT_EQ(model.RenameEntry("Docs/big.txt", "moved.txt"), CVaultModel::RenameResult::Renamed);
    EXPECT_EQ(CompareOpenedCopy(f.vault, now, copy), CopyState::EntryGone);
    ASSERT_EQ(AddCopyAs(model, "Docs/big.txt", copy, &now), PutBackResult::Added);
    EXPECT_EQ(AddCopyAs(model, "Docs/BIG.txt", copy, &now), PutBackResult::Taken);
    ASSERT_TRUE(ReadWholeVault(f.vault, &listed));
    ASSERT_EQ(listed.size(), 6u);
    EXPECT_EQ(std::string(listed.back().info.name), "Docs/big.txt");
    EXPECT_EQ(listed.back().data, MakeData(800, 12, true));
    EXPECT_TRUE(model.FindEntry("Docs/moved.txt"));
    EXPECT_TRUE(model.FindEntry("Docs/big.txt"));

    // Copies the vault can no longer take are kept under their entry's name,
    // beside (never over) one kept before; the sweep of the copies' folder
    // leaves them.
    const std::string first = KeepCopy(copy, folder, "big.txt");
    EXPECT_EQ(first, KeptCopiesFolder(folder) + "big.txt");
    EXPECT_EQ(ReadBytes(first), MakeData(800, 12, true));
    EXPECT_FALSE(fileio::Exists(copy));
    EXPECT_EQ(KeepCopy(other, folder, "big.txt"), KeptCopiesFolder(folder) + "big (2).txt");
    EXPECT_EQ(ReadBytes(first), MakeData(800, 12, true));
    SweepOpenedCopies(folder, {});
    EXPECT_TRUE(fileio::Exists(first));
}
