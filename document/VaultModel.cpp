#include "document/VaultModel.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>
#include <utility>

#include "document/AddJournal.h"
#include "document/EntryRename.h"
#include "document/JournalParking.h"
#include "document/VaultRecovery.h"
#include "vault/VaultApi.h"
#include "vault/format/NameCodec.h"
#include "vault/format/VaultEntryRules.h"
#include "vault/format/VaultRecords.h"
#include "vault/format/VaultTime.h"

// ---------------------------------------------------------------------------
// Name text helpers

namespace {

// Every byte of a UTF-8 text stands for itself as far as separators go.
std::string ReplaceSeparator(const std::string& path, char from, char to) {
    std::string out(path);
    for (char& c : out)
        if (c == from) c = to;
    return out;
}

size_t FindBackslash(const std::string& text, size_t start = 0) { return text.find('\\', start); }

size_t FindLastBackslash(const std::string& text) { return text.rfind('\\'); }

bool EndsWith(const std::string& text, char c) { return !text.empty() && text.back() == c; }

}  // namespace

std::string ToBackslashes(const std::string& path) { return ReplaceSeparator(path, '/', '\\'); }

std::string ToSlashes(const std::string& path) { return ReplaceSeparator(path, '\\', '/'); }

std::string LastComponent(const std::string& path) {
    std::string p = ToBackslashes(path);
    if (!p.empty() && p.back() == '\\') p.pop_back();
    const size_t slash = p.find_last_of('\\');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string UpperCaseName(const std::string& text) { return vault::UpperCaseUtf8(text); }

std::string EntryMatchKey(const std::string& storedName, bool utf8) {
    std::string decoded;
    if (vault::DecodeEntryNameExactly(storedName, utf8, &decoded)) return UpperCaseName(decoded);
    return std::string(1, '\0') + (utf8 ? 'U' : 'A') + storedName;
}

// ---------------------------------------------------------------------------
// Cell texts

namespace {

struct ScaledSize {
    double number;
    const char* unit;  // null: bytes
};

ScaledSize Scale(uint64_t value) {
    if (value > 1073741824ull) return {static_cast<double>(value) / 1073741824.0, " GB"};
    if (value > 1048576ull) return {static_cast<double>(value) / 1048576.0, " MB"};
    if (value > 1024ull) return {static_cast<double>(value) / 1024.0, " KB"};
    return {static_cast<double>(value), nullptr};
}

std::string OneDecimal(double number) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.1f", number);
    return buf;
}

}  // namespace

std::string FormatSize(uint64_t value, const ListTexts& texts) {
    const ScaledSize s = Scale(value);
    if (s.unit) return OneDecimal(s.number) + s.unit;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d ", static_cast<int32_t>(static_cast<uint32_t>(value)));
    return buf + texts.bytes;
}

std::string FormatSizeCell(uint32_t value, const ListTexts& texts) {
    return value ? FormatSize(value, texts) : std::string();
}

std::string FormatFreeSpace(uint64_t value, const std::string& drive, const ListTexts& texts) {
    const ScaledSize s = Scale(value);
    const std::string& format = texts.freeSpace;
    std::string out;
    bool driveDone = false, numberDone = false;
    for (size_t i = 0; i < format.size();) {
        if (format[i] == '%') {
            if (format.compare(i, 2, "%%") == 0) {
                out += '%';
                i += 2;
                continue;
            }
            if (!driveDone && format.compare(i, 2, "%s") == 0) {
                out += drive;
                driveDone = true;
                i += 2;
                continue;
            }
            if (!numberDone && format.compare(i, 4, "%.1f") == 0) {
                out += OneDecimal(s.number);
                numberDone = true;
                i += 4;
                continue;
            }
        }
        out += format[i++];
    }
    out += s.unit ? s.unit : texts.bytes.c_str();
    return out;
}

std::string FormatListDate(FileTime localTime, const ListTexts& texts) {
    const vault::CalendarTime c = vault::CalendarFromFileTime(localTime);
    const int hour12 = c.hour % 12 == 0 ? 12 : c.hour % 12;
    char date[32], clock[16];
    std::snprintf(date, sizeof date, "%04d/%02d/%02d ", c.year, c.month, c.day);
    std::snprintf(clock, sizeof clock, " %02d:%02d", hour12, c.minute);
    return date + (c.hour < 12 ? texts.am : texts.pm) + clock;
}

std::string ExtensionOf(const std::string& name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(dot + 1);
}

// ---------------------------------------------------------------------------
// Ordering

namespace {

inline char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Portable stand-in for the locale-aware comparison: alphabetical without
// regard to case first, lower case before upper case next, bytes last.
int DefaultCompareText(const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    // The fold keeps every character's length, so the folded texts line up.
    const std::string fa = UpperCaseName(a), fb = UpperCaseName(b);
    for (size_t i = 0; i < n; ++i) {
        const unsigned char x = static_cast<unsigned char>(LowerAscii(fa[i]));
        const unsigned char y = static_cast<unsigned char>(LowerAscii(fb[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) {
            const bool aLower = a[i] >= 'a' && a[i] <= 'z';
            const bool bLower = b[i] >= 'a' && b[i] <= 'z';
            if (aLower != bLower) return aLower ? -1 : 1;
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]) ? -1 : 1;
        }
    }
    return 0;
}

template <typename T>
int Order(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

int CompareByColumn(const VaultEntry& a, const VaultEntry& b, const SortOrder& order) {
    switch (order.column) {
        case 1: return Order(a.size, b.size);
        case 2: return Order(a.packedSize, b.packedSize);
        case 3: {
            const std::string ta = order.typeName ? order.typeName(a) : std::string();
            const std::string tb = order.typeName ? order.typeName(b) : std::string();
            return order.compareText ? order.compareText(ta, tb) : DefaultCompareText(ta, tb);
        }
        case 4: return Order(a.modified, b.modified);
        default:
            return order.compareText ? order.compareText(a.path, b.path)
                                     : DefaultCompareText(a.path, b.path);
    }
}

}  // namespace

int CompareEntries(const VaultEntry& a, const VaultEntry& b, const SortOrder& order) {
    const bool fa = a.IsFolder(), fb = b.IsFolder();
    if (fa != fb) {
        const int folderFirst = fa ? -1 : 1;
        return order.ascending ? folderFirst : -folderFirst;
    }
    const int c = order.ascending ? CompareByColumn(a, b, order) : CompareByColumn(b, a, order);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

void SortRows(std::vector<Row>* rows, const SortOrder& order) {
    std::stable_sort(rows->begin(), rows->end(), [&order](const Row& x, const Row& y) {
        return CompareEntries(*x.entry, *y.entry, order) < 0;
    });
}

// ---------------------------------------------------------------------------
// CVaultModel

CVaultModel::CVaultModel() : m_journalPath(AddJournalPath()) {}

CVaultModel::~CVaultModel() = default;

bool CVaultModel::VaultFileExists() const {
    FileInfo info;
    return !m_vaultPath.empty() && fileio::GetInfo(m_vaultPath, &info) &&
           !(info.attributes & kAttrDirectory);
}

bool CVaultModel::MakeVaultFolder() const {
    const size_t cut = m_vaultPath.find_last_of("\\/");
    if (cut == std::string::npos || cut == 0) return true;
    const std::string folder = m_vaultPath.substr(0, cut);
    if (EndsWith(folder, ':')) return true;  // the drive root
    return fileio::MakeDirectoryChain(folder);
}

void CVaultModel::BeginWriteBatch() {
    if (m_batchDepth++ > 0) return;
    m_liftedProtection = false;
    if (m_hooks.isWriteProtected && m_hooks.isWriteProtected()) {
        if (m_hooks.setWriteProtected) m_hooks.setWriteProtected(false);
        m_liftedProtection = true;
    }
}

void CVaultModel::EndWriteBatch() {
    if (m_batchDepth == 0 || --m_batchDepth > 0) return;
    if (m_liftedProtection && m_hooks.setWriteProtected) m_hooks.setWriteProtected(true);
    m_liftedProtection = false;
}

void CVaultModel::EnterFolder(const std::string& name) {
    if (name.empty()) return;
    m_currentFolder += name;
    m_currentFolder += '\\';
}

void CVaultModel::Up() {
    if (m_currentFolder.empty()) return;
    std::string folder = m_currentFolder;
    if (EndsWith(folder, '\\')) folder.pop_back();
    const size_t last = FindLastBackslash(folder);
    if (last == std::string::npos || last == 0) {
        m_currentFolder.clear();
    } else {
        folder.resize(last + 1);
        m_currentFolder = folder;
    }
}

size_t CVaultModel::AppendEntry(const std::string& path, uint32_t attributes,
                                uint32_t localOffset, uint32_t packedSize, uint32_t size,
                                FileTime modified, FileTime accessed, FileTime created) {
    auto entry = std::make_unique<VaultEntry>();
    entry->path = path;
    vault::StoredName stored = vault::EncodeEntryName(path);
    entry->storedName = std::move(stored.bytes);
    entry->nameUtf8 = stored.utf8;
    entry->attributes = attributes;
    entry->localOffset = localOffset;
    entry->packedSize = packedSize;
    entry->size = size;
    entry->modified = modified;
    entry->accessed = accessed;
    entry->created = created;
    m_entries.push_back(std::move(entry));
    return m_entries.size();
}

void CVaultModel::FreeEntries() {
    m_entries.clear();
    m_impliedFolders.clear();
}

void CVaultModel::RemoveMarkedEntries() {
    m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(),
                                   [](const std::unique_ptr<VaultEntry>& e) { return e->mark != 0; }),
                    m_entries.end());
}

bool CVaultModel::FindEntry(const std::string& path, uint32_t* attributes) const {
    const std::string key = UpperCaseName(ToSlashes(path));
    for (const auto& e : m_entries) {
        if (e->path.size() == key.size() && UpperCaseName(e->path) == key) {
            if (attributes) *attributes = e->attributes;
            return true;
        }
    }
    return false;
}

bool CVaultModel::GetEntry(const std::string& path, VaultEntry* out) const {
    const std::string key = ToSlashes(path);
    for (const auto& e : m_entries) {
        if (e->path == key) {
            if (out) *out = *e;
            return true;
        }
    }
    return false;
}

void CVaultModel::ClearMarks() {
    for (auto& e : m_entries) e->mark = 0;
}

void CVaultModel::MarkEntry(const std::string& path, uint32_t attributes, const std::string& source) {
    std::string key = UpperCaseName(ToSlashes(path));
    if (key.empty()) return;
    const bool folder = (attributes & kEntryFolder) != 0;
    if (folder && !EndsWith(key, '/')) key += '/';
    for (auto& e : m_entries) {
        if (e->path.size() != key.size() || UpperCaseName(e->path) != key) continue;
        if (e->IsFolder()) {
            MarkFolder(e->path);
        } else {
            e->pendingSource = source;
            e->mark = 1;
        }
        return;
    }
    // A folder the vault holds entries under but no entry of its own: its
    // entries are what the user chose.
    if (folder) MarkFolder(key);
}

void CVaultModel::MarkFolder(const std::string& folderPath) {
    std::string key = UpperCaseName(ToSlashes(folderPath));
    if (key.empty() || key == "/") return;
    if (!EndsWith(key, '/')) key += '/';
    for (auto& e : m_entries) {
        if (e->path.size() >= key.size() && UpperCaseName(e->path).compare(0, key.size(), key) == 0) {
            e->mark = 1;
        }
    }
}

void CVaultModel::MarkNamed(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        for (auto& e : m_entries) {
            if (e->path.size() == name.size() && ToBackslashes(e->path) == name) {
                e->mark = 1;
                break;
            }
        }
    }
}

size_t CVaultModel::MarkedCount() const {
    return static_cast<size_t>(std::count_if(
        m_entries.begin(), m_entries.end(), [](const std::unique_ptr<VaultEntry>& e) { return e->mark != 0; }));
}

bool CVaultModel::LoadVaultList() {
    if (m_vaultPath.empty()) return false;
    VaultHandle* reader = OpenVaultReader(m_vaultPath.c_str(), 0, kVaultSourcePath, nullptr);
    if (!reader) return false;
    ZipEntryInfo countInfo;
    const int count = ReadEntryInfo(reader, -1, &countInfo) == kVaultOk ? countInfo.index : 0;
    std::vector<std::unique_ptr<VaultEntry>> fresh;
    fresh.reserve(count > 0 ? static_cast<size_t>(count) : 0);
    for (int i = 0; i < count; ++i) {
        ZipEntryInfo info;
        if (ReadEntryInfo(reader, i, &info) != kVaultOk) continue;
        auto entry = std::make_unique<VaultEntry>();
        entry->path = std::move(info.name);
        entry->storedName = std::move(info.storedName);
        entry->nameUtf8 = info.nameUtf8;
        entry->attributes = info.attributes;
        entry->localOffset = info.localOffset;
        entry->packedSize = static_cast<uint32_t>(info.compressedSize);
        entry->size = static_cast<uint32_t>(info.uncompressedSize);
        entry->modified = info.modificationTime;
        entry->accessed = info.accessTime;
        entry->created = info.creationTime;
        fresh.push_back(std::move(entry));
    }
    CloseVaultHandle(reader);
    m_entries.swap(fresh);
    m_impliedFolders.clear();
    return true;
}

std::vector<Row> CVaultModel::BuildRows() {
    m_impliedFolders.clear();
    std::vector<Row> rows;
    // Folder rows by display name (case-sensitive): a folder shows once.
    std::unordered_map<std::string, size_t> folderRows;
    const std::string& current = m_currentFolder;
    for (auto& owned : m_entries) {
        VaultEntry* e = owned.get();
        e->mark = 0;
        const std::string path = ToBackslashes(e->path);
        if (path.size() < current.size() || path.compare(0, current.size(), current) != 0) continue;
        const std::string rest = path.substr(current.size());
        const size_t sep = FindBackslash(rest);
        std::string name = sep == std::string::npos ? rest : rest.substr(0, sep);
        if (name.empty()) continue;  // the current folder's own entry
        // The entry is this folder's own entry when nothing follows the name
        // but a separator; anything further down implies the folder.
        const bool ownEntry = sep == std::string::npos || sep + 1 == rest.size();
        const bool isFolder = e->IsFolder() || sep != std::string::npos;
        if (!isFolder) {
            rows.push_back(Row{std::move(name), e, false});
            continue;
        }
        const bool real = ownEntry && e->IsFolder();
        auto found = folderRows.find(name);
        if (found != folderRows.end()) {
            // A folder entry stored after entries below it takes over from
            // the stand-in record.
            Row& row = rows[found->second];
            if (real && row.entry->implied) row.entry = e;
            continue;
        }
        VaultEntry* rowEntry = e;
        if (!real) {
            auto implied = std::make_unique<VaultEntry>();
            implied->path = ToSlashes(current + name) + "/";
            implied->attributes = kEntryFolder;
            implied->implied = true;
            rowEntry = implied.get();
            m_impliedFolders.push_back(std::move(implied));
        }
        folderRows.emplace(name, rows.size());
        rows.push_back(Row{std::move(name), rowEntry, true});
    }
    return rows;
}

std::vector<Row> CVaultModel::ShowFolder(const std::string& name) {
    EnterFolder(name);
    return BuildRows();
}

void CVaultModel::PumpMessages() const {
    if (m_hooks.pumpMessages) m_hooks.pumpMessages();
}

int CVaultModel::CreateNewFolder(const std::string& name, VaultEntry** created) {
    if (created) *created = nullptr;
    // A new folder's name follows the same rule as a rename's.
    if (!renaming::IsUsableLeafName(name)) return -1;
    const std::string folder = m_currentFolder + name;
    const std::string stored = ToSlashes(folder) + "/";
    if (vault::EncodeEntryName(stored).bytes.size() > vault::kMaxNameLength) return -1;
    if (FindEntry(stored)) return 0;

    WriteBatch batch(*this);
    MakeVaultFolder();
    AddResult added;
    if (AddToVault(folder, std::string(), kVaultSourceFolder, &added) == kVaultOk) {
        const FileTime now = fileio::CurrentTime();
        AppendEntry(stored, added.attributes | kEntryFolder, added.localOffset, added.packedSize,
                    added.size, now, now, now);
        if (created) *created = m_entries.back().get();
    }
    return 1;
}

uint32_t CVaultModel::AddToVault(const std::string& vaultInternalPath,
                                 const std::string& sourcePath, int type, AddResult* out) {
    if (out) *out = AddResult();
    if (m_vaultPath.empty() || vaultInternalPath.empty()) return kVaultBadArguments;
    if (type != kVaultSourceFolder && type != kVaultSourcePath) return kVaultBadArguments;
    if (type == kVaultSourcePath && sourcePath.empty()) return kVaultBadArguments;

    // The writer never overwrites a journal that this vault still needs: an
    // earlier add whose close failed is put back first. Another vault's is
    // parked beside the name for that vault's next login.
    bool journalBefore = !m_journalPath.empty() && fileio::Exists(m_journalPath);
    if (journalBefore) {
        ::RecoverVault(m_vaultPath, m_journalPath);
        parking::FreeAddJournalPlace(m_vaultPath, m_journalPath);
        journalBefore = fileio::Exists(m_journalPath);  // damaged, or no side name free
    }
    VaultHandle* writer = OpenVaultWriter(m_vaultPath.c_str(), 0, kVaultSourcePath,
                                          m_journalPath.empty() ? nullptr : m_journalPath.c_str());
    if (!writer) return kVaultNoFile;
    uint32_t external = 0, offset = 0, packed = 0, size = 0;
    uint32_t rc = AddVaultEntry(writer, vaultInternalPath.c_str(),
                                type == kVaultSourceFolder ? nullptr : sourcePath.c_str(), 0, type,
                                &external, &offset, &packed, &size);
    const uint32_t closed = CloseVaultHandle(writer);
    if (m_hooks.flush) m_hooks.flush();
    if (rc == kVaultNoFile && m_hooks.sourceNotOpened) m_hooks.sourceNotOpened(sourcePath);
    // Only a completed close makes the journal useless; otherwise it is what
    // repairs the vault's directory. One that was there before the writer
    // opened (a new vault is built without touching it) is deleted only when
    // it belongs to this vault and is no longer needed.
    if (closed == kVaultOk && !m_journalPath.empty() &&
        (!journalBefore ||
         journal::DecideJournal(m_vaultPath, m_journalPath).action == journal::JournalAction::Discard))
        fileio::Remove(m_journalPath);
    if (rc == kVaultOk && closed != kVaultOk) rc = closed;
    if (rc == kVaultOk && out) {
        out->attributes = vault::WindowsAttributesFromExternal(external);
        out->localOffset = offset;
        out->packedSize = packed;
        out->size = size;
    }
    return rc;
}
