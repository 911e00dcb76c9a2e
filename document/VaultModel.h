// The vault document model: everything behind the browser window that does
// not need a window. The entry list read from the vault, the current folder,
// marks, the rows of the current folder and their order, new folders and the
// single-entry add through the vault writer.
//
// The view (browser/) owns one CVaultModel and is a thin presenter over it:
//
//   model.SetVaultPath(drive + "\\diviz\\vfnest.vfo");
//   model.SetHooks(hooks);                  // write protection, flush, pump
//   if (model.LoadVaultList()) Show(model.BuildRows());
//   double-click on a folder row:  model.EnterFolder(row.displayName);
//                                  Show(model.BuildRows());      // ShowFolder
//   Up:                            model.Up(); Show(model.BuildRows());
//   sort:                          SortRows(&rows, ctx) or CompareEntries per
//                                  pair from the list control's own sort.
//
// Row pointers (Row::entry, and the VaultEntry* a row keeps as item data)
// stay valid until the next BuildRows, LoadVaultList, FreeEntries or
// RemoveMarkedEntries; rebuild the rows right after any of them.
//
// Paths: stored paths use '/' and a folder entry ends with '/'. The current
// folder and every name the view shows or hands in use '\', folders with a
// trailing '\'. Texts are UTF-8; each entry also keeps its name as the
// vault stores it (code page bytes, or UTF-8 with the flag), so that an
// entry whose bytes did not convert is still found and deleted exactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vault/fileio/FileIo.h"

// ---------------------------------------------------------------------------
// Name text helpers (UTF-8).

// Names are UTF-8 inside, where no byte of a longer character looks like a
// separator or a letter.

// Every '/' becomes '\' (and the other way).
std::string ToBackslashes(const std::string& path);
std::string ToSlashes(const std::string& path);
// The last component of a stored or shown path, either separator (a
// trailing one dropped).
std::string LastComponent(const std::string& path);
// Upper case for comparisons without regard to case: ASCII letters as
// always, and beyond ASCII the simple one-to-one fold of Latin-1, Latin
// Extended-A, Greek and Cyrillic (vault::UpperCaseUtf8). The byte length
// never changes.
std::string UpperCaseName(const std::string& text);
// What two entries' names are compared by when letter case does not count:
// UpperCaseName of the decoded name, or, for stored bytes that did not all
// convert, the stored bytes themselves (marked so that they meet no
// decoded name), since two such names may decode alike.
std::string EntryMatchKey(const std::string& storedName, bool utf8);

// ---------------------------------------------------------------------------
// One entry of the vault in memory.

constexpr uint32_t kEntryFolder = 0x10;  // attribute bit of a folder

struct VaultEntry {
    std::string path;            // UTF-8: '/' separators, folders end with '/'
    std::string storedName;      // the name's bytes in the vault
    bool nameUtf8 = false;       // stored as UTF-8 (flag bit 11)
    std::string pendingSource;   // file whose content is to replace this entry; empty = none
    uint32_t attributes = 0;     // Windows attribute bits; kEntryFolder for folders
    uint32_t localOffset = 0;    // offset of the local record in the vault file
    uint32_t packedSize = 0;
    uint32_t size = 0;
    FileTime modified = 0;       // UTC
    FileTime created = 0;        // UTC
    FileTime accessed = 0;       // UTC
    int mark = 0;                // 0 or 1
    // True only for the stand-in folder records that BuildRows makes for a
    // folder the vault holds entries under but no folder entry of its own
    // (Docs/a.txt without Docs/). Such a record is not in the entry list and
    // not in the vault; it has no sizes and no times.
    bool implied = false;

    bool IsFolder() const { return (attributes & kEntryFolder) != 0; }
};

// One row of the list: the name shown in column 0, the entry behind it (never
// null), and whether it is a folder row (the view gives it image 0). A row
// for an implied folder has isFolder set and entry->implied set.
struct Row {
    std::string displayName;
    VaultEntry* entry = nullptr;
    bool isFolder = false;
};

// ---------------------------------------------------------------------------
// Cell texts and ordering (Size, Packed Size, Date columns; free space).

// Texts from the program's string table; English defaults.
struct ListTexts {
    std::string bytes = "Bytes";   // string 37
    std::string am = "AM";         // string 11
    std::string pm = "PM";         // string 12
    std::string folder = "Folder"; // string 10
    std::string freeSpace = "%s Free Space: %.1f";  // string 35
};

// "512 Bytes", "1024 Bytes", "1.0 KB", "1.5 KB", "1.0 MB", "4.7 GB".
std::string FormatSize(uint64_t value, const ListTexts& texts = ListTexts());
// Size cell: empty for 0, else FormatSize.
std::string FormatSizeCell(uint32_t value, const ListTexts& texts = ListTexts());
// Free-space text: the freeSpace text with its "%s" taken by drive and its
// "%.1f" by the number, then the unit: "E: Free Space: 512.0Bytes",
// "E: Free Space: 2.0 GB". The text is never used as a printf format, so a
// translation with other '%' sequences cannot do harm; they stay as written.
std::string FormatFreeSpace(uint64_t value, const std::string& drive,
                            const ListTexts& texts = ListTexts());
// Date cell of a time already converted to local time by the caller:
// "2008/03/05 PM 02:07" with the AM/PM word from texts.
std::string FormatListDate(FileTime localTime, const ListTexts& texts = ListTexts());
// Extension for the type lookup: the text after the last '.', or the whole
// name when it has none.
std::string ExtensionOf(const std::string& name);

// How rows are ordered. column: 0 Name, 1 Size, 2 Packed Size, 3 Type, 4 Date.
struct SortOrder {
    int column = 0;
    bool ascending = true;
    // Locale-aware comparison of UTF-8 texts (the view passes its own);
    // empty: a portable stand-in (letters alphabetically without regard to
    // case, beyond ASCII through UpperCaseName's fold, then lower case
    // before upper case, then bytes).
    std::function<int(const std::string&, const std::string&)> compareText;
    // Type name of an entry's extension as the view's icon cache knows it
    // ("" when not cached); empty: every type name is "".
    std::function<std::string(const VaultEntry&)> typeName;
};

// <0, 0, >0. Exactly one folder: it comes first ascending, last descending,
// whatever the column. Otherwise by the column; descending exchanges a and b.
int CompareEntries(const VaultEntry& a, const VaultEntry& b, const SortOrder& order);
// Stable sort of rows by CompareEntries.
void SortRows(std::vector<Row>* rows, const SortOrder& order);

// ---------------------------------------------------------------------------
// What the model asks of the window side. Every member may stay empty.

struct VaultHooks {
    // Write protection of the logged-in disk: query (true = protected) and
    // set. A write batch lifts it when on and puts it back afterwards.
    std::function<bool()> isWriteProtected;
    std::function<void(bool on)> setWriteProtected;
    // Called after every add through the writer (the Windows 2000 flush).
    std::function<void()> flush;
    // AddToVault could not open the source file (result 0x200): the view
    // shows string 36 with the file's short name.
    std::function<void(const std::string& sourcePath)> sourceNotOpened;
    // Keeps the window alive between the steps of a long operation (the
    // writer's own calls go through SetVaultMessagePump, which the view sets).
    std::function<void()> pumpMessages;
    // Progress text of a long operation (the view's progress dialog): a
    // vault path ('/' or '\\'; only its last part is shown), the string id
    // of the message (22, 23, 26, 27) and the path whose folder goes into the
    // second line (may be empty).
    std::function<void(const std::string& path, int messageId, const std::string& secondPath)>
        progressText;
    // True once the user asked the running operation to stop (the progress
    // dialog's cancel flag).
    std::function<bool()> cancelled;
};

// ---------------------------------------------------------------------------

class CVaultModel {
public:
    CVaultModel();
    ~CVaultModel();
    CVaultModel(const CVaultModel&) = delete;
    CVaultModel& operator=(const CVaultModel&) = delete;

    // --- binding
    void SetVaultPath(const std::string& path) { m_vaultPath = path; }
    const std::string& VaultPath() const { return m_vaultPath; }
    bool VaultFileExists() const;
    // Add journal; defaults to AddJournalPath() (temporary folder).
    void SetJournalPath(const std::string& path) { m_journalPath = path; }
    const std::string& JournalPath() const { return m_journalPath; }
    void SetHooks(VaultHooks hooks) { m_hooks = std::move(hooks); }
    const VaultHooks& Hooks() const { return m_hooks; }
    // Creates the vault's folder (\diviz) when it is missing.
    bool MakeVaultFolder() const;

    // Write batches: the first Begin lifts write protection when it is on,
    // the matching last End restores it. Nested batches are fine.
    void BeginWriteBatch();
    void EndWriteBatch();
    class WriteBatch {
    public:
        explicit WriteBatch(CVaultModel& model) : m_model(model) { m_model.BeginWriteBatch(); }
        ~WriteBatch() { m_model.EndWriteBatch(); }
        WriteBatch(const WriteBatch&) = delete;
        WriteBatch& operator=(const WriteBatch&) = delete;
    private:
        CVaultModel& m_model;
    };

    // --- current folder ("A\B\", empty at the root)
    const std::string& CurrentFolder() const { return m_currentFolder; }
    bool AtRoot() const { return m_currentFolder.empty(); }
    // Appends name + '\'; an empty name changes nothing.
    void EnterFolder(const std::string& name);
    // One level up; nothing at the root.
    void Up();
    void ClearCurrentFolder() { m_currentFolder.clear(); }

    // --- entry list
    size_t EntryCount() const { return m_entries.size(); }
    VaultEntry* EntryAt(size_t i) { return i < m_entries.size() ? m_entries[i].get() : nullptr; }
    const std::vector<std::unique_ptr<VaultEntry>>& Entries() const { return m_entries; }
    // Appends a new entry; returns the new number of entries. Its stored
    // form is the path through EncodeEntryName, as the writer stored it.
    size_t AppendEntry(const std::string& path, uint32_t attributes, uint32_t localOffset,
                       uint32_t packedSize, uint32_t size, FileTime modified, FileTime accessed,
                       FileTime created);
    // Frees every entry (and the implied folder records behind the rows).
    void FreeEntries();
    // Takes every marked entry out of the list (after a delete removed them
    // from the vault).
    void RemoveMarkedEntries();

    // Case-insensitive whole-path lookup of a stored path ('/' form; '\' is
    // accepted too). True and the attributes when found.
    bool FindEntry(const std::string& path, uint32_t* attributes = nullptr) const;
    // Exact, case-sensitive lookup ('\' turned into '/' first); copies the
    // record. False when none matches.
    bool GetEntry(const std::string& path, VaultEntry* out) const;

    // --- marks
    void ClearMarks();
    // path: a vault path in either form; a folder (attributes with
    // kEntryFolder) marks itself and everything below it, even when the
    // vault has no entry of the folder's own. A file has its pending source
    // replaced by source (cleared when source is empty) and is marked. No
    // matching entry changes nothing.
    void MarkEntry(const std::string& path, uint32_t attributes, const std::string& source);
    // Marks every entry whose path begins (case-insensitively) with the
    // folder path ('/' or '\' form; a missing trailing separator is added).
    void MarkFolder(const std::string& folderPath);
    // '\' names, folders with a trailing '\': marks the entry whose path
    // equals the name exactly.
    void MarkNamed(const std::vector<std::string>& names);
    size_t MarkedCount() const;

    // --- reading the vault
    // Reads the vault's directory into the entry list (current folder kept).
    // False when the vault cannot be opened: list, marks and rows as before.
    bool LoadVaultList();
    // Rows of the current folder in entry-list order (sort them with
    // SortRows); clears every mark, as a rebuild of the rows does.
    std::vector<Row> BuildRows();
    // EnterFolder(name) when name is not empty, then BuildRows.
    std::vector<Row> ShowFolder(const std::string& name);
    // Runs hooks.pumpMessages when set.
    void PumpMessages() const;

    // --- writing the vault
    // New folder `name` in the current folder. 1: the name was free (then
    // *created is the new entry, or null when the vault write failed);
    // 0: an entry of that name exists (case-insensitively); -1: not a usable
    // name (empty, "." or "..", a separator or control character, or a path
    // too long for the vault). Lifts write protection around the write.
    int CreateNewFolder(const std::string& name, VaultEntry** created);

    struct AddResult {
        uint32_t attributes = 0;   // Windows attribute bits (as the reader lists them)
        uint32_t localOffset = 0;
        uint32_t packedSize = 0;
        uint32_t size = 0;
    };
    // One entry through the writer: vaultInternalPath ('\' or '/'), the
    // source file (type kVaultSourcePath) or empty (type kVaultSourceFolder).
    // Returns the result code, 0 = added. The journal is deleted only when
    // the writer's close succeeded; after a failed close it stays for
    // RecoverVault. Calls hooks.flush after the close and
    // hooks.sourceNotOpened for 0x200. Does not touch the entry list.
    uint32_t AddToVault(const std::string& vaultInternalPath, const std::string& sourcePath,
                        int type, AddResult* out);

    // --- deleting
    // Removes every marked entry from the vault file in place: the entries
    // behind the first deleted one move down, the directory is written
    // anew behind them and the file is cut there; a journal in the
    // temporary folder makes the rewrite safe against a stop at any write.
    // withList (Delete command, cut-out): each marked file is first shown
    // through hooks.progressText (message 26), and once hooks.cancelled
    // answers true every entry not yet shown, and every folder above a
    // spared entry, is unmarked; the deleted entries are then freed and
    // taken out of the entry list. Without it (replacing content) nothing
    // is shown and the entries stay in the list. Matching is by stored
    // name, case-insensitively. Lifts write protection around the rewrite.
    // Returns the number of entries the vault keeps.
    int DelZipFromFile(bool withList);
    // Delete journal; defaults to the one beside the add journal, where
    // RecoverVault looks for it.
    void SetDeleteJournalPath(const std::string& path) { m_deleteJournalPath = path; }
    const std::string& DeleteJournalPathOf() const { return m_deleteJournalPath; }

    // --- renaming
    enum class RenameResult {
        Renamed,   // done (also when the name was already that)
        NotFound,  // no entry has that path
        Unusable,  // empty, "." or "..", a character Windows forbids, or too long
        Taken,     // another entry of the folder has the name, in any case
        Failed,    // the vault could not be rewritten; list and vault as before
    };
    // Renames the entry storedPath ('/' or '\' form, any case; a folder
    // takes every entry below it) to newLeafName within its folder, in the
    // vault and in the entry list. The entries' data, sizes and times stay;
    // the rewrite goes in one pass under the delete journal (see
    // DelZipFromFile). A change of case only is a rename. Lifts write
    // protection around the rewrite; rebuild the rows afterwards.
    RenameResult RenameEntry(const std::string& storedPath, const std::string& newLeafName);

private:
    std::string m_deleteJournalPath;
    std::string m_vaultPath;
    std::string m_journalPath;
    std::string m_currentFolder;
    VaultHooks m_hooks;
    int m_batchDepth = 0;
    bool m_liftedProtection = false;
    std::vector<std::unique_ptr<VaultEntry>> m_entries;
    // Stand-in folder records behind the rows of implied folders.
    std::vector<std::unique_ptr<VaultEntry>> m_impliedFolders;
};
