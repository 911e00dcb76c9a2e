// The vault document model: rows of the current folder (real and implied
// folders), navigation, lookups and marks, cell texts and ordering, loading
// from real vaults, new folders and the journal rule of a single add.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VaultTestUtil.h"
#include "document/VaultModel.h"
#include "document/VaultRecovery.h"
#include "vault/format/VaultTime.h"

using namespace hbtest;

namespace {

// Display names of rows, folders marked with a trailing '\'.
std::vector<std::string> Names(const std::vector<Row>& rows) {
    std::vector<std::string> out;
    for (const Row& r : rows) out.push_back(r.displayName + (r.isFolder ? "\\" : ""));
    return out;
}

std::vector<std::string> Sorted(CVaultModel& model) {
    std::vector<Row> rows = model.BuildRows();
    SortRows(&rows, SortOrder());
    return Names(rows);
}

void Add(CVaultModel& m, const std::string& path, uint32_t size = 1) {
    const bool folder = !path.empty() && path.back() == '/';
    m.AppendEntry(path, folder ? 0x90 : 0x80, 0, size, size, 0, 0, 0);
}

std::vector<std::string> MarkedPaths(const CVaultModel& m) {
    std::vector<std::string> out;
    for (const auto& e : m.Entries()) {
        if (e->mark) out.push_back(e->path);
    }
    return out;
}

using Names_t = std::vector<std::string>;

}  // namespace

// --- rows and navigation over vaults written by the writer -----------------

TEST(VaultModelRows, FoldersFilesAndNavigationFromAWrittenVault) {
    TempDir dir("model_rows");
    const std::string path = dir / "v.vfo";
    BuildVault(path, {{"Docs/", {}, true},
                      {"Docs/a.txt", MakeData(3000, 1, true)},
                      {"Docs/Sub/", {}, true},
                      {"Docs/Sub/deep.bin", MakeData(100, 2, false)},
                      {"b.txt", MakeData(10, 3, true)}});
    CVaultModel m;
    m.SetVaultPath(path);
    ASSERT_TRUE(m.LoadVaultList());
    ASSERT_EQ(m.EntryCount(), 5u);

    std::vector<Row> rows = m.BuildRows();
    EXPECT_EQ(Names(rows), (Names_t{"Docs\\", "b.txt"}));
    // The Docs row stands for the real folder entry.
    EXPECT_FALSE(rows[0].entry->implied);
    EXPECT_EQ(rows[0].entry->path, "Docs/");
    EXPECT_EQ(rows[1].entry->size, 10u);

    m.EnterFolder("Docs");
    EXPECT_EQ(m.CurrentFolder(), "Docs\\");
    EXPECT_FALSE(m.AtRoot());
    EXPECT_EQ(Sorted(m), (Names_t{"Sub\\", "a.txt"}));
    m.EnterFolder("Sub");
    EXPECT_EQ(Sorted(m), (Names_t{"deep.bin"}));
    m.Up();
    EXPECT_EQ(m.CurrentFolder(), "Docs\\");
    m.Up();
    EXPECT_TRUE(m.AtRoot());
    m.Up();  // at the root: nothing
    EXPECT_TRUE(m.AtRoot());
}

TEST(VaultModelRows, FilesWithoutAFolderEntryShowOneFolderRowThatOpens) {
    TempDir dir("model_implied");
    const std::string path = dir / "v.vfo";
    BuildVault(path, {{"Docs/a.txt", MakeData(500, 1, true)},
                      {"Docs/b.txt", MakeData(600, 2, true)},
                      {"Docs/Deep/c.txt", MakeData(700, 3, true)},
                      {"x.txt", MakeData(5, 4, true)}});
    CVaultModel m;
    m.SetVaultPath(path);
    ASSERT_TRUE(m.LoadVaultList());

    std::vector<Row> rows = m.BuildRows();
    ASSERT_EQ(Names(rows), (Names_t{"Docs\\", "x.txt"}));
    const VaultEntry& docs = *rows[0].entry;
    EXPECT_TRUE(docs.implied);
    EXPECT_TRUE(docs.IsFolder());
    EXPECT_EQ(docs.size, 0u);  // not the sizes of a file below it
    EXPECT_EQ(docs.path, "Docs/");

    // Opening it works like a real folder, also one level further down.
    std::vector<Row> inside = m.ShowFolder(rows[0].displayName);
    SortRows(&inside, SortOrder());
    EXPECT_EQ(Names(inside), (Names_t{"Deep\\", "a.txt", "b.txt"}));
    m.EnterFolder("Deep");
    EXPECT_EQ(Sorted(m), (Names_t{"c.txt"}));

    // Choosing the implied folder chooses everything below it.
    m.ClearCurrentFolder();
    m.MarkEntry("Docs", kEntryFolder, "");
    EXPECT_EQ(MarkedPaths(m), (Names_t{"Docs/a.txt", "Docs/b.txt", "Docs/Deep/c.txt"}));
}

TEST(VaultModelRows, FolderEntryStoredAfterItsFilesTakesOverTheRow) {
    CVaultModel m;
    Add(m, "old/a.txt");
    Add(m, "old/");
    Add(m, "old/b.txt");
    std::vector<Row> rows = m.BuildRows();
    ASSERT_EQ(Names(rows), (Names_t{"old\\"}));
    EXPECT_FALSE(rows[0].entry->implied);
    EXPECT_EQ(rows[0].entry, m.EntryAt(1));
}

TEST(VaultModelRows, CaseDifferingNamesAreListedButFoundAsOne) {
    CVaultModel m;
    Add(m, "Read.me", 10);
    Add(m, "READ.ME", 20);
    Add(m, "Docs/");
    Add(m, "DOCS/");
    EXPECT_EQ(Sorted(m), (Names_t{"Docs\\", "DOCS\\", "Read.me", "READ.ME"}));

    uint32_t attributes = 0;
    EXPECT_TRUE(m.FindEntry("read.ME", &attributes));
    EXPECT_EQ(attributes, 0x80u);
    EXPECT_TRUE(m.FindEntry("docs\\", &attributes));  // either separator
    EXPECT_EQ(attributes, 0x90u);
    EXPECT_FALSE(m.FindEntry("docs"));  // a folder's stored name ends with '/'
    EXPECT_FALSE(m.FindEntry("read.m"));

    VaultEntry e;
    ASSERT_TRUE(m.GetEntry("READ.ME", &e));
    EXPECT_EQ(e.size, 20u);
    EXPECT_FALSE(m.GetEntry("read.me", &e));
}

TEST(VaultModelRows, LongAndOddPathsNeverBreakTheRows) {
    CVaultModel m;
    const std::string longName(5000, 'n');
    Add(m, longName);
    Add(m, longName + "/x/");
    Add(m, "/");
    Add(m, "//");
    Add(m, "a//b");
    Add(m, "\\\\");
    Add(m, "");
    Add(m, "z");
    std::vector<Row> rows = m.BuildRows();
    EXPECT_EQ(rows.size(), 4u);  // longName (file and folder), a, z
    m.EnterFolder(longName);
    m.EnterFolder(longName);
    EXPECT_TRUE(m.BuildRows().empty());
    EXPECT_TRUE(m.FindEntry(longName));
    m.Up();
    m.Up();
    EXPECT_TRUE(m.AtRoot());
    m.EnterFolder("a");
    EXPECT_TRUE(m.BuildRows().empty());  // "a\\b" holds an empty name under a
    m.EnterFolder("");                   // no change
    EXPECT_EQ(m.CurrentFolder(), "a\\");
}

TEST(VaultModelRows, UnicodeNamesSplitAndFoldAsCharacters) {
    // Names are UTF-8: no byte of a longer character is taken for '\'.
    const std::string kanji = "\xE8\xA1\xA8";  // U+8868, whose cp932 form ends in '\\'
    EXPECT_EQ(ToSlashes(kanji + "\\a"), kanji + "/a");
    // The fold: ASCII, Latin-1, Latin Extended-A, Greek (final sigma too),
    // Cyrillic; sharp s and the dotless i have no one-to-one partner.
    EXPECT_EQ(UpperCaseName(u8"na\u00efve caf\u00e9 \u00ff \u0151 \u03c9\u03ac\u03c2 \u0436\u0451 \u00df\u0131 x"),
              u8"NA\u00cfVE CAF\u00c9 \u0178 \u0150 \u03a9\u0386\u03a3 \u0416\u0401 \u00df\u0131 X");
    EXPECT_EQ(UpperCaseName("\x82\x61" "b"), "\x82" "AB");  // a byte that is not UTF-8 stays

    CVaultModel m;
    Add(m, kanji + "/");
    Add(m, kanji + "/f.txt");
    Add(m, kanji + ".txt");
    Add(m, u8"\u03a9mega.txt");
    EXPECT_EQ(Sorted(m), (Names_t{kanji + "\\", u8"\u03a9mega.txt", kanji + ".txt"}));  // code point order
    m.EnterFolder(kanji);
    EXPECT_EQ(Sorted(m), (Names_t{"f.txt"}));
    m.Up();
    EXPECT_TRUE(m.AtRoot());
    EXPECT_TRUE(m.FindEntry(kanji + "\\f.txt"));
    EXPECT_TRUE(m.FindEntry(u8"\u03c9MEGA.TXT"));  // ω finds Ω
    EXPECT_FALSE(m.FindEntry(u8"\u03c9MEGA.TX"));
}

// --- marks ------------------------------------------------------------------

TEST(VaultModelMarks, FolderMarksEverythingBelowAtAnyDepth) {
    CVaultModel m;
    Add(m, "A/");
    Add(m, "A/f.txt");
    Add(m, "A/B/");
    Add(m, "A/B/C/");
    Add(m, "A/B/C/g.txt");
    Add(m, "AB.txt");  // shares the text prefix, not the folder
    Add(m, "other.txt");

    m.MarkEntry("a", kEntryFolder, "");  // case-insensitive, separator added
    EXPECT_EQ(MarkedPaths(m), (Names_t{"A/", "A/f.txt", "A/B/", "A/B/C/", "A/B/C/g.txt"}));
    m.ClearMarks();
    EXPECT_EQ(m.MarkedCount(), 0u);

    m.MarkFolder("A\\B");
    EXPECT_EQ(MarkedPaths(m), (Names_t{"A/B/", "A/B/C/", "A/B/C/g.txt"}));
    m.BuildRows();  // rebuilding the rows clears marks
    EXPECT_EQ(m.MarkedCount(), 0u);
}

TEST(VaultModelMarks, FileMarksTakeTheSourceAndMissingPathsChangeNothing) {
    CVaultModel m;
    Add(m, "Docs/");
    Add(m, "Docs/a.txt");
    Add(m, "Docs/a.txt2");

    m.MarkEntry("docs\\A.TXT", 0, "C:\\src\\a.txt");
    EXPECT_EQ(MarkedPaths(m), (Names_t{"Docs/a.txt"}));
    EXPECT_EQ(m.EntryAt(1)->pendingSource, "C:\\src\\a.txt");
    m.MarkEntry("Docs/a.txt", 0, "");
    EXPECT_EQ(m.EntryAt(1)->pendingSource, "");

    m.ClearMarks();
    m.MarkEntry("Docs/missing.txt", 0, "C:\\x");
    m.MarkEntry("Nowhere", kEntryFolder, "");
    m.MarkEntry("", 0, "");
    EXPECT_EQ(m.MarkedCount(), 0u);
    for (const auto& e : m.Entries()) EXPECT_TRUE(e->pendingSource.empty()) << e->path;
}

TEST(VaultModelMarks, MarkNamedIsExact) {
    CVaultModel m;
    Add(m, "Docs/");
    Add(m, "Docs/a.txt");
    Add(m, "Docs/a.txt2");
    Add(m, "Docs/A.TXT");
    m.MarkNamed({"Docs\\a.txt"});
    EXPECT_EQ(MarkedPaths(m), (Names_t{"Docs/a.txt"}));
    m.ClearMarks();
    m.MarkNamed({"Docs\\", "docs\\a.txt2", "Docs\\a.tx"});
    EXPECT_EQ(MarkedPaths(m), (Names_t{"Docs/"}));

    m.MarkNamed({"Docs\\A.TXT"});
    m.RemoveMarkedEntries();
    EXPECT_EQ(m.EntryCount(), 2u);
    EXPECT_EQ(m.EntryAt(0)->path, "Docs/a.txt");
}

// --- cell texts and order ---------------------------------------------------

TEST(VaultModelTexts, SizesAndFreeSpace) {
    EXPECT_EQ(FormatSizeCell(0), "");
    EXPECT_EQ(FormatSize(0), "0 Bytes");
    EXPECT_EQ(FormatSize(512), "512 Bytes");
    EXPECT_EQ(FormatSize(1024), "1024 Bytes");
    EXPECT_EQ(FormatSize(1025), "1.0 KB");
    EXPECT_EQ(FormatSize(1536), "1.5 KB");
    EXPECT_EQ(FormatSize(1048576), "1024.0 KB");
    EXPECT_EQ(FormatSize(1048577), "1.0 MB");
    EXPECT_EQ(FormatSize(1073741824ull), "1024.0 MB");
    EXPECT_EQ(FormatSize(5000000000ull), "4.7 GB");
    ListTexts local;
    local.bytes = "Byte";
    EXPECT_EQ(FormatSizeCell(7, local), "7 Byte");

    EXPECT_EQ(FormatFreeSpace(512, "E:"), "E: Free Space: 512.0Bytes");
    EXPECT_EQ(FormatFreeSpace(2147483648ull, "E:"), "E: Free Space: 2.0 GB");
    // A translated text with other '%' sequences is copied, never formatted.
    ListTexts odd;
    odd.freeSpace = "%.1f %n%x%% %s %s";
    EXPECT_EQ(FormatFreeSpace(1536, "F:", odd), "1.5 %n%x% F: %s KB");
}

TEST(VaultModelTexts, DateCell) {
    vault::CalendarTime c;
    c.year = 2008, c.month = 3, c.day = 5, c.hour = 14, c.minute = 7;
    FileTime t = 0;
    ASSERT_TRUE(vault::FileTimeFromCalendar(c, &t));
    EXPECT_EQ(FormatListDate(t), "2008/03/05 PM 02:07");
    c.hour = 0;
    ASSERT_TRUE(vault::FileTimeFromCalendar(c, &t));
    ListTexts texts;
    texts.am = "am";
    EXPECT_EQ(FormatListDate(t, texts), "2008/03/05 am 12:07");
    EXPECT_EQ(ExtensionOf("a.b.TXT"), "TXT");
    EXPECT_EQ(ExtensionOf("README"), "README");
}

TEST(VaultModelOrder, FoldersFirstAscendingLastDescendingInEveryColumn) {
    VaultEntry folder, file;
    folder.path = "zzz/";
    folder.attributes = 0x90;
    file.path = "aaa.txt";
    file.attributes = 0x80;
    file.size = file.packedSize = 1;   // file smaller than folder would be
    folder.size = folder.packedSize = 100;
    folder.modified = 5;
    SortOrder order;
    order.typeName = [](const VaultEntry& e) { return e.IsFolder() ? "Z" : "A"; };
    for (int column = 0; column < 5; ++column) {
        order.column = column;
        order.ascending = true;
        EXPECT_LT(CompareEntries(folder, file, order), 0) << column;
        EXPECT_GT(CompareEntries(file, folder, order), 0) << column;
        order.ascending = false;
        EXPECT_GT(CompareEntries(folder, file, order), 0) << column;
        EXPECT_LT(CompareEntries(file, folder, order), 0) << column;
    }
}

TEST(VaultModelOrder, ColumnsAndDirection) {
    VaultEntry a, b;
    a.path = "apple.txt";
    b.path = "Banana.doc";
    a.size = b.size = 10;
    a.packedSize = 3, b.packedSize = 9;
    a.modified = 200, b.modified = 100;
    SortOrder order;
    EXPECT_LT(CompareEntries(a, b, order), 0);  // letters before case
    order.ascending = false;
    EXPECT_GT(CompareEntries(a, b, order), 0);
    order.ascending = true;
    order.column = 1;
    EXPECT_EQ(CompareEntries(a, b, order), 0);  // equal sizes compare equal
    order.column = 2;
    EXPECT_LT(CompareEntries(a, b, order), 0);
    order.column = 4;
    EXPECT_GT(CompareEntries(a, b, order), 0);
    order.column = 3;
    EXPECT_EQ(CompareEntries(a, b, order), 0);  // no type names known
    order.typeName = [](const VaultEntry& e) { return "T " + ExtensionOf(e.path); };
    EXPECT_GT(CompareEntries(a, b, order), 0);  // "T txt" after "T doc"
    order.column = 0;
    order.compareText = [](const std::string& x, const std::string& y) { return x.compare(y); };
    EXPECT_GT(CompareEntries(a, b, order), 0);  // byte order: "B" before "a"

    CVaultModel m;
    Add(m, "b.txt", 5);
    Add(m, "F2/");
    Add(m, "a.txt", 9);
    Add(m, "F1/");
    std::vector<Row> rows = m.BuildRows();
    SortOrder bySize;
    bySize.column = 1;
    bySize.ascending = false;
    SortRows(&rows, bySize);
    // Folders last, equal sizes keep their list order.
    EXPECT_EQ(Names(rows), (Names_t{"a.txt", "b.txt", "F2\\", "F1\\"}));
}

// --- loading and writing ------------------------------------------------------

TEST(VaultModelLoad, MissingVaultKeepsTheListAndAnEmptyVaultEmptiesIt) {
    TempDir dir("model_load");
    CVaultModel m;
    Add(m, "kept.txt");
    m.SetVaultPath(dir / "missing.vfo");
    EXPECT_FALSE(m.LoadVaultList());
    ASSERT_EQ(m.EntryCount(), 1u);
    EXPECT_EQ(m.EntryAt(0)->path, "kept.txt");
    m.SetVaultPath("");
    EXPECT_FALSE(m.LoadVaultList());
    EXPECT_EQ(m.EntryCount(), 1u);
    EXPECT_FALSE(m.VaultFileExists());

    const std::string empty = dir / "empty.vfo";
    BuildVault(empty, {});
    m.SetVaultPath(empty);
    EXPECT_TRUE(m.VaultFileExists());
    EXPECT_TRUE(m.LoadVaultList());
    EXPECT_EQ(m.EntryCount(), 0u);
    EXPECT_TRUE(m.BuildRows().empty());
}

TEST(VaultModelWrite, NewFolderIsWrittenListedAndGuardedByWriteProtection) {
    TempDir dir("model_newfolder");
    CVaultModel m;
    m.SetVaultPath(dir / "diviz" + fileio::Separator() + "vfnest.vfo");  // folder missing
    m.SetJournalPath(dir / "journal.tmp");
    std::vector<std::string> calls;
    bool protectedNow = true;
    VaultHooks hooks;
    hooks.isWriteProtected = [&] { calls.push_back("query"); return protectedNow; };
    hooks.setWriteProtected = [&](bool on) { calls.push_back(on ? "on" : "off"); protectedNow = on; };
    hooks.flush = [&] { calls.push_back("flush"); };
    m.SetHooks(hooks);

    VaultEntry* created = nullptr;
    ASSERT_EQ(m.CreateNewFolder("New", &created), 1);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->path, "New/");
    EXPECT_TRUE(created->IsFolder());
    EXPECT_NE(created->modified, 0u);
    EXPECT_EQ(calls, (Names_t{"query", "off", "flush", "on"}));
    EXPECT_TRUE(protectedNow);
    EXPECT_FALSE(fileio::Exists(dir / "journal.tmp"));

    calls.clear();
    EXPECT_EQ(m.CreateNewFolder("NEW", &created), 0);  // taken, whatever the case
    EXPECT_EQ(created, nullptr);
    EXPECT_TRUE(calls.empty());  // nothing written
    for (const char* bad : {"", ".", "..", "a\\b", "a/b", "a:b", "end.", "tab\t"}) {
        EXPECT_EQ(m.CreateNewFolder(bad, &created), -1) << bad;
    }
    EXPECT_EQ(m.CreateNewFolder(std::string(300, 'x'), &created), -1);

    m.EnterFolder("New");
    ASSERT_EQ(m.CreateNewFolder("Inner", &created), 1);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->path, "New/Inner/");

    // What the reader lists is what the model holds.
    CVaultModel reread;
    reread.SetVaultPath(m.VaultPath());
    ASSERT_TRUE(reread.LoadVaultList());
    ASSERT_EQ(reread.EntryCount(), 2u);
    EXPECT_EQ(reread.EntryAt(0)->path, "New/");
    EXPECT_EQ(reread.EntryAt(0)->attributes, m.EntryAt(0)->attributes);
    EXPECT_EQ(reread.EntryAt(1)->localOffset, m.EntryAt(1)->localOffset);
    EXPECT_EQ(Names(reread.BuildRows()), (Names_t{"New\\"}));
}

TEST(VaultModelWrite, AddToVaultDeletesTheJournalOnlyAfterASuccessfulClose) {
    TempDir dir("model_add");
    const std::string source = dir / "src.txt";
    const Bytes data = MakeData(20000, 7, true);
    ASSERT_TRUE(WriteBytes(source, data));
    BuildVault(dir / "v.vfo", {{"Docs/", {}, true}});
    BuildVault(dir / "w.vfo", {{"Docs/", {}, true}});  // the same vault, for a dry run

    CVaultModel m;
    m.SetVaultPath(dir / "v.vfo");
    m.SetJournalPath(dir / "j.tmp");
    std::string notOpened;
    VaultHooks hooks;
    hooks.sourceNotOpened = [&](const std::string& s) { notOpened = s; };
    m.SetHooks(hooks);

    // A source that cannot be opened: reported, nothing added, journal gone.
    CVaultModel::AddResult out;
    EXPECT_EQ(m.AddToVault("Docs\\none.txt", dir / "none.txt", kVaultSourcePath, &out), kVaultNoFile);
    EXPECT_EQ(notOpened, dir / "none.txt");
    EXPECT_FALSE(fileio::Exists(dir / "j.tmp"));

    // Count the writes of the same add on the twin vault.
    CVaultModel twin;
    twin.SetVaultPath(dir / "w.vfo");
    twin.SetJournalPath(dir / "jw.tmp");
    size_t writes = 0;
    {
        WriteHookGuard hook([&](size_t) { ++writes; return true; });
        ASSERT_EQ(twin.AddToVault("Docs\\a.txt", source, kVaultSourcePath, &out), kVaultOk);
    }
    EXPECT_FALSE(fileio::Exists(dir / "jw.tmp"));
    EXPECT_EQ(out.size, data.size());
    EXPECT_FALSE(out.attributes & kEntryFolder);
    ASSERT_GE(writes, 3u);

    // The last write is the vault's new directory: when it fails the close
    // fails, and the journal must stay to repair the vault.
    size_t seen = 0;
    {
        WriteHookGuard hook([&](size_t) { return ++seen != writes; });
        EXPECT_NE(m.AddToVault("Docs\\a.txt", source, kVaultSourcePath, &out), kVaultOk);
    }
    ASSERT_TRUE(fileio::Exists(dir / "j.tmp"));
    EXPECT_EQ(RecoverVault(m.VaultPath(), dir / "j.tmp"), 1);
    ASSERT_TRUE(m.LoadVaultList());
    m.EnterFolder("Docs");
    EXPECT_EQ(Names(m.BuildRows()), (Names_t{"a.txt"}));
    VaultEntry entry;
    ASSERT_TRUE(m.GetEntry("Docs\\a.txt", &entry));
    EXPECT_EQ(entry.size, data.size());
}
