// hollowbox-vault commands: list, add, extract, cat, check, recover.
#include "cli/VaultTool.h"

#include <zlib.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/ToolPlatform.h"
#include "document/AddJournal.h"
#include "document/VaultRecovery.h"
#include "vault/VaultApi.h"
#include "vault/fileio/FileIo.h"
#include "vault/format/VaultEntryRules.h"
#include "vault/format/VaultRecords.h"
#include "vault/format/VaultScan.h"
#include "vault/format/VaultTime.h"

namespace {

volatile std::sig_atomic_t g_stopRequested = 0;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr const char kTool[] = "hollowbox-vault";

// The writer is closed and opened again after this many entries or bytes,
// so an add that is killed loses at most the entries of one round.
constexpr size_t kEntriesPerRound = 1024;
constexpr uint64_t kBytesPerRound = 64ull * 1024 * 1024;
// Offsets and sizes in the vault are 32-bit, the entry count 16-bit.
constexpr uint64_t kVaultSizeLimit = 0xFFFFFFFFull;
constexpr size_t kMaxEntries = 65535;
constexpr size_t kChunk = 256 * 1024;

// ---------------------------------------------------------------------------
// Help texts.

const char kToolHelp[] =
    "Usage: hollowbox-vault COMMAND [OPTIONS] ARGS...\n"
    "\n"
    "Works on a vault file outside the program.\n"
    "\n"
    "Commands:\n"
    "  list VAULT                   list the entries\n"
    "  add VAULT PATH...            add files and folder trees\n"
    "  extract VAULT [NAME...] -d DIR\n"
    "                               unpack entries (all, or the named ones) into DIR\n"
    "  cat VAULT NAME               write one entry's data to standard output\n"
    "  check VAULT                  verify every record and every entry's CRC-32\n"
    "  recover VAULT [--journal FILE]\n"
    "                               repair the vault from an unfinished add\n"
    "\n"
    "\"hollowbox-vault COMMAND --help\" describes a command.\n"
    "Exit status: 0 success, 1 failure, 2 usage error.\n";

struct CommandHelp {
    const char* name;
    const char* text;
};

const CommandHelp kCommandHelp[] = {
    {"list",
     "Usage: hollowbox-vault list VAULT\n"
     "\n"
     "Lists every entry with its size, packed size, method, modification time\n"
     "(UTC) and attributes (D folder, R read-only, H hidden, S system, A archive).\n"},
    {"add",
     "Usage: hollowbox-vault add [--journal FILE] VAULT PATH...\n"
     "\n"
     "Adds files and folder trees; the vault is created when it does not exist.\n"
     "Names are stored relative to each PATH's parent: adding /x/Docs stores\n"
     "Docs/, Docs/a.txt, ... A folder's entry comes before its contents.\n"
     "Entries already in the vault are skipped. Paths that cannot be read are\n"
     "reported and skipped; the rest is added (exit status 1).\n"
     "The add is guarded by the add journal (default: the program's own, in the\n"
     "temporary folder), so an interrupted add can be repaired by \"recover\" or\n"
     "by the program.\n"},
    {"extract",
     "Usage: hollowbox-vault extract [-o] VAULT [NAME...] -d DIR\n"
     "\n"
     "Unpacks all entries, or the named entries and folders (with everything\n"
     "below them), into DIR, keeping modification times. Names that would land\n"
     "outside DIR (\"..\", absolute paths, drive letters, device names) are\n"
     "refused. Existing files are left alone unless -o (--overwrite) is given.\n"
     "Every file's CRC-32 and size are verified before it takes its name.\n"},
    {"cat",
     "Usage: hollowbox-vault cat VAULT NAME\n"
     "\n"
     "Writes the data of one file entry to standard output, byte for byte.\n"},
    {"check",
     "Usage: hollowbox-vault check VAULT\n"
     "\n"
     "Reads every central and local record and unpacks every entry, comparing\n"
     "its CRC-32 and size with its central record. Exit status 1 names the\n"
     "first fault.\n"},
    {"recover",
     "Usage: hollowbox-vault recover VAULT [--journal FILE]\n"
     "\n"
     "Puts the add journal (default: the program's own, in the temporary folder)\n"
     "back into a vault whose add did not finish. A journal that belongs to\n"
     "another vault is not applied.\n"},
};

const char* HelpFor(const std::string& command) {
    for (const CommandHelp& h : kCommandHelp)
        if (command == h.name) return h.text;
    return nullptr;
}

// ---------------------------------------------------------------------------
// Command line.

struct UsageError {
    std::string message;
};

struct Arguments {
    std::vector<std::string> positional;
    std::map<std::string, std::string> values;   // by canonical option name
    std::set<std::string> flags;
    bool help = false;
};

struct OptionSpec {
    const char* name;      // canonical, e.g. "--dir"
    const char* alias;     // e.g. "-d", or nullptr
    bool takesValue;
};

Arguments ParseArguments(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs) {
    Arguments parsed;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            parsed.positional.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        if (a == "--help" || a == "-h") {
            parsed.help = true;
            continue;
        }
        std::string name = a, value;
        bool inlineValue = false;
        size_t eq = a.find('=');
        if (a.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            name = a.substr(0, eq);
            value = a.substr(eq + 1);
            inlineValue = true;
        }
        const OptionSpec* match = nullptr;
        for (const OptionSpec& s : specs)
            if (name == s.name || (s.alias && name == s.alias)) match = &s;
        if (!match) throw UsageError{"unknown option " + a};
        if (match->takesValue) {
            if (!inlineValue) {
                if (i + 1 >= args.size()) throw UsageError{"option " + name + " needs a value"};
                value = args[++i];
            }
            if (value.empty()) throw UsageError{"option " + name + " needs a value"};
            parsed.values[match->name] = value;
        } else {
            if (inlineValue) throw UsageError{"option " + name + " takes no value"};
            parsed.flags.insert(match->name);
        }
    }
    return parsed;
}

// ---------------------------------------------------------------------------
// Output and reporting.

class Session {
public:
    Session(const char* command, std::ostream& out, std::ostream& err, bool progress)
        : m_command(command), m_out(out), m_err(err), m_progress(progress) {}

    std::ostream& Out() { return m_out; }
    bool Failed() const { return m_failed; }

    // A fault: reported, and the command ends with status 1.
    void Error(const std::string& message) {
        ClearProgress();
        m_err << kTool << ": " << m_command << ": " << message << "\n";
        m_failed = true;
    }
    void Note(const std::string& message) {
        ClearProgress();
        m_err << kTool << ": " << m_command << ": " << message << "\n";
    }

    // One progress line, rewritten in place, at most every 100 ms.
    void Progress(const std::string& text, bool force = false) {
        if (!m_progress) return;
        uint32_t now = fileio::TickCount();
        if (!force && m_shown && now - m_lastTick < 100) return;
        m_lastTick = now;
        std::string line = text.size() > 78 ? text.substr(0, 75) + "..." : text;
        m_err << "\r" << line << std::string(m_width > line.size() ? m_width - line.size() : 0, ' ')
              << std::flush;
        m_width = line.size();
        m_shown = true;
    }
    void ClearProgress() {
        if (!m_shown) return;
        m_err << "\r" << std::string(m_width, ' ') << "\r" << std::flush;
        m_shown = false;
        m_width = 0;
    }

private:
    const char* m_command;
    std::ostream& m_out;
    std::ostream& m_err;
    bool m_progress;
    bool m_failed = false;
    bool m_shown = false;
    size_t m_width = 0;
    uint32_t m_lastTick = 0;
};

std::string Hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", v);
    return buf;
}

std::string ReaderText(uint32_t code) {
    char buf[128] = {};
    FormatVaultResult(code, buf, sizeof buf);
    return code == 1 ? std::string(buf) : std::string(buf) + " (" + Hex(code) + ")";
}

std::string WriterText(uint32_t code) {
    char buf[128] = {};
    FormatVaultWriterResult(code, buf, sizeof buf);
    return code == 1 ? std::string(buf) : std::string(buf) + " (" + Hex(code) + ")";
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::string UpperAscii(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string FormatTime(FileTime t) {
    vault::CalendarTime c = vault::CalendarFromFileTime(t);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour,
                  c.minute, c.second);
    return buf;
}

std::string FormatAttributes(uint32_t a) {
    std::string s = "-----";
    if (a & kAttrDirectory) s[0] = 'D';
    if (a & kAttrReadOnly) s[1] = 'R';
    if (a & kAttrHidden) s[2] = 'H';
    if (a & kAttrSystem) s[3] = 'S';
    if (a & kAttrArchive) s[4] = 'A';
    return s;
}

const char* MethodName(int method) {
    switch (method) {
        case vault::kMethodStored: return "Stored";
        case vault::kMethodDeflate: return "Deflate";
        default: return "?";
    }
}

// ---------------------------------------------------------------------------
// Reading a vault.

struct HandleCloser {
    void operator()(VaultHandle* h) const {
        if (h) CloseVaultHandle(h);
    }
};
using HandlePtr = std::unique_ptr<VaultHandle, HandleCloser>;

struct Entry {
    int index = 0;
    ZipEntryInfo info;
    std::string name;        // as stored
    bool infoOk = false;     // ReadEntryInfo succeeded
    uint32_t infoResult = 0;
    bool centralOk = false;  // the codec read the central record too
    uint16_t method = 0;
    uint32_t crc = 0;
    uint32_t size = 0;       // from the central record
    bool IsFolder() const {
        return infoOk ? (info.attributes & kAttrDirectory) != 0 : (!name.empty() && name.back() == '/');
    }
};

struct OpenVault {
    HandlePtr reader;
    std::vector<Entry> entries;
};

// True when the file holds an intact end record listing no entries: the
// reader cannot list such a vault, but it is simply empty.
bool IsEmptyVault(const std::string& path) {
    CFile f;
    vault::DirectoryInfo dir;
    return f.Open(path, CFile::Mode::Read) && vault::LocateDirectory(f, &dir) == vault::VaultStatus::Ok &&
           dir.entryCount == 0;
}

// Opens the vault and reads every entry's description through the reader,
// and with withCentral each central record through the codec too (for the
// method and CRC-32; the reader checks the CRC-32 itself when unpacking).
// Entries whose description cannot be read are kept with infoOk false.
bool LoadVault(Session& s, const std::string& path, OpenVault* v, bool withCentral) {
    hbcli::NodeKind kind;
    if (!hbcli::ClassifyPath(path, &kind) || kind != hbcli::NodeKind::File) {
        s.Error(path + ": " + ReaderText(kVaultNoFile));
        return false;
    }
    v->reader.reset(OpenVaultReader(path.c_str(), 0, kVaultSourcePath, ""));
    if (!v->reader) {
        s.Error(path + ": " + ReaderText(1));
        return false;
    }
    ZipEntryInfo head;
    uint32_t rc = ReadEntryInfo(v->reader.get(), -1, &head);
    if (rc != kVaultOk) {
        if (IsEmptyVault(path)) return true;
        s.Error(path + ": " + ReaderText(kVaultCorrupt) + "; the directory cannot be read" +
                (fileio::Exists(AddJournalPath()) ? " (an add journal exists: try \"recover\")" : ""));
        return false;
    }
    const int count = head.index;

    CFile file;
    vault::DirectoryInfo dir;
    vault::CentralDirectoryWalker walker;
    bool walking = withCentral && file.Open(path, CFile::Mode::Read) &&
                   vault::LocateDirectory(file, &dir) == vault::VaultStatus::Ok;
    if (walking) {
        walker.Reset(&file, dir);
        walking = walker.First() == vault::VaultStatus::Ok;
    }
    v->entries.reserve(count > 0 ? count : 0);
    for (int i = 0; i < count; ++i) {
        Entry e;
        e.index = i;
        if (walking && i > 0) walking = walker.Next() == vault::VaultStatus::Ok;
        if (walking) {
            const vault::CentralRecord& c = walker.Record();
            e.centralOk = true;
            e.method = c.header.method;
            e.crc = c.header.crc;
            e.size = c.header.uncompressedSize;
            e.name = c.name;
        }
        e.infoResult = ReadEntryInfo(v->reader.get(), i, &e.info);
        e.infoOk = e.infoResult == kVaultOk;
        if (e.infoOk && e.info.name[0]) e.name = e.info.name;
        if (e.infoOk && !e.centralOk) e.size = static_cast<uint32_t>(e.info.uncompressedSize);
        v->entries.push_back(std::move(e));
    }
    return true;
}

// Streams one file entry's data to sink in chunks, computing its CRC-32 and
// length, and compares both with the central record. fault receives the
// first problem. The reader hands out memory chunks without their length,
// so each request asks for no more than is still due: every chunk but a
// short final one is then full, and a short one shows in the CRC.
template <typename Sink>
bool StreamEntry(VaultHandle* reader, const Entry& e, Sink&& sink, std::string* fault) {
    static std::vector<uint8_t> buffer(kChunk);
    const uint32_t declared = static_cast<uint32_t>(e.info.uncompressedSize);
    uint32_t remaining = declared;
    uLong crc = crc32(0L, Z_NULL, 0);
    while (remaining > 0) {
        uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(kChunk, remaining));
        uint32_t rc = ExtractEntry(reader, e.index, buffer.data(), want, kExtractToMemory, nullptr);
        if (rc == kVaultOk) {
            *fault = "data ends after " + std::to_string(declared - remaining) + " of " +
                     std::to_string(declared) + " bytes";
            return false;
        }
        if (rc != kVaultMoreData) {
            *fault = "data cannot be unpacked: " + ReaderText(rc);
            return false;
        }
        crc = crc32(crc, buffer.data(), want);
        if (!sink(buffer.data(), want)) {
            *fault = "";
            return false;
        }
        remaining -= want;
    }
    // Nothing may follow; this call also ends the extraction.
    uint32_t rc = ExtractEntry(reader, e.index, buffer.data(), static_cast<uint32_t>(buffer.size()),
                               kExtractToMemory, nullptr);
    if (rc == kVaultMoreData) {
        *fault = "data runs past its recorded size";
        return false;
    }
    if (e.centralOk && static_cast<uint32_t>(crc) != e.crc) {
        *fault = "CRC-32 mismatch (recorded " + Hex(e.crc) + ", data " + Hex(static_cast<uint32_t>(crc)) + ")";
        return false;
    }
    if (rc != kVaultOk) {
        // At the end of the data the reader reports a CRC-32 mismatch as corrupt.
        *fault = (rc == kVaultCorrupt ? "CRC-32 mismatch: " : "data cannot be unpacked: ") + ReaderText(rc);
        return false;
    }
    if (e.centralOk && e.size != declared) {
        *fault = "size mismatch (central record " + std::to_string(e.size) + ", reader " +
                 std::to_string(declared) + ")";
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Entry names on the way out.

bool IsReservedDeviceName(const std::string& component) {
    std::string base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    base = UpperAscii(base);
    static const char* const kNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    for (const char* n : kNames)
        if (base == n) return true;
    if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
        base[3] >= '1' && base[3] <= '9')
        return true;
    return false;
}

// Splits a stored name into the components of a relative path that stays
// inside the target folder; false (with the reason) when it would not.
bool SafeComponents(const std::string& name, std::vector<std::string>* parts, std::string* why) {
    parts->clear();
    if (name.empty()) {
        *why = "empty name";
        return false;
    }
    if (fileio::IsSeparator(name[0])) {
        *why = "absolute path";
        return false;
    }
    for (unsigned char c : name) {
        if (c < 0x20) {
            *why = "control character in the name";
            return false;
        }
        if (c == ':') {
            *why = "drive letter or stream name";
            return false;
        }
    }
    size_t i = 0;
    while (i < name.size()) {
        size_t j = i;
        while (j < name.size() && !fileio::IsSeparator(name[j])) ++j;
        std::string part = name.substr(i, j - i);
        bool last = j >= name.size() - 1;  // a trailing separator marks a folder
        if (part.empty()) {
            *why = "empty path component";
            return false;
        }
        // Windows drops trailing dots and spaces, so ". ." and "..." are ".." too.
        if (part.find_first_not_of(". ") == std::string::npos) {
            *why = "\"..\" or \".\" component";
            return false;
        }
        if (IsReservedDeviceName(part)) {
            *why = "reserved device name";
            return false;
        }
        parts->push_back(part);
        if (last) break;
        i = j + 1;
    }
    return true;
}

std::string JoinPath(const std::string& base, const std::vector<std::string>& parts, size_t count) {
    std::string path = base;
    for (size_t i = 0; i < count; ++i) {
        if (!path.empty() && !fileio::IsSeparator(path.back())) path += fileio::Separator();
        path += parts[i];
    }
    return path;
}

// Entry name as given on the command line, in stored form, without a
// trailing "/".
std::string RequestedName(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    while (!name.empty() && name.back() == '/') name.pop_back();
    return name;
}

// The entry a name selects: exact match first, else without regard to case.
const Entry* FindEntry(const std::vector<Entry>& entries, const std::string& requested) {
    std::string want = RequestedName(requested);
    for (const Entry& e : entries)
        if (RequestedName(e.name) == want) return &e;
    std::string upper = UpperAscii(want);
    for (const Entry& e : entries)
        if (UpperAscii(RequestedName(e.name)) == upper) return &e;
    return nullptr;
}

// ---------------------------------------------------------------------------
// list

int CommandList(Session& s, const Arguments& a) {
    if (a.positional.size() != 1) throw UsageError{"list needs exactly one VAULT"};
    const std::string& path = a.positional[0];
    OpenVault v;
    if (!LoadVault(s, path, &v, true)) return kExitFailure;
    std::ostream& out = s.Out();
    char line[512];
    std::snprintf(line, sizeof line, "%12s %12s  %-7s  %-19s  %-5s  %s\n", "Size", "Packed", "Method",
                  "Modified (UTC)", "Attr", "Name");
    out << line;
    uint64_t total = 0, packed = 0;
    for (const Entry& e : v.entries) {
        if (!e.infoOk) {
            s.Error(path + ": entry " + std::to_string(e.index) + " " + Quoted(e.name) + ": " +
                    ReaderText(e.infoResult));
            continue;
        }
        uint32_t size = static_cast<uint32_t>(e.info.uncompressedSize);
        uint32_t psize = static_cast<uint32_t>(e.info.compressedSize);
        total += size;
        packed += psize;
        std::snprintf(line, sizeof line, "%12u %12u  %-7s  %-19s  %-5s  ", size, psize,
                      e.centralOk ? MethodName(e.method) : "?", FormatTime(e.info.modificationTime).c_str(),
                      FormatAttributes(e.info.attributes).c_str());
        out << line << (e.name.empty() ? "<name too long>" : e.name) << "\n";
    }
    out << v.entries.size() << (v.entries.size() == 1 ? " entry, " : " entries, ") << total << " bytes, "
        << packed << " packed\n";
    return s.Failed() ? kExitFailure : kExitOk;
}

// ---------------------------------------------------------------------------
// Journal handling shared by add and recover.

// Runs the journal replay the program runs before every add. A journal that
// does not belong to this vault is never replayed. Returns false (with the
// error reported) when the vault must not be touched.
bool RecoverBeforeWrite(Session& s, const std::string& vaultPath, const std::string& journalPath,
                        bool forAdd) {
    journal::JournalReport j = journal::ExamineJournal(vaultPath, journalPath);
    bool vaultExists = fileio::Exists(vaultPath);
    bool vaultListable = false;
    if (vaultExists) {
        HandlePtr r(OpenVaultReader(vaultPath.c_str(), 0, kVaultSourcePath, ""));
        ZipEntryInfo head;
        vaultListable = (r && ReadEntryInfo(r.get(), -1, &head) == kVaultOk) || IsEmptyVault(vaultPath);
    }
    switch (j.state) {
        case journal::JournalState::Absent:
            break;
        case journal::JournalState::Matches:
            break;  // RecoverVault also fills in an offset the writer never wrote
        case journal::JournalState::Foreign:
        case journal::JournalState::Damaged: {
            std::string why = journalPath + ": " +
                              (j.state == journal::JournalState::Foreign ? "add journal of another vault"
                                                                       : "damaged add journal") +
                              " (" + j.detail + ")";
            if (!vaultListable && vaultExists) {
                s.Error(why + "; not applied to " + vaultPath + ", whose directory cannot be read");
                return false;
            }
            if (j.state == journal::JournalState::Foreign) {
                if (forAdd) {
                    // Our own add would overwrite it.
                    s.Error(why + "; recover that vault first or remove the journal");
                    return false;
                }
                s.Note(why + "; left in place");
                return true;
            }
            break;  // damaged, and the vault needs nothing: the program removes it too
        }
    }
    RecoverVault(vaultPath, journalPath);
    return true;
}

// ---------------------------------------------------------------------------
// add

struct AddItem {
    std::string source;   // path on disk
    std::string name;     // entry name, "/" separated, folders without trailing "/"
    bool folder = false;
    uint64_t size = 0;
};

class AddPlanner {
public:
    AddPlanner(Session& s, const std::string& vaultPath, const std::string& journalPath)
        : m_s(s), m_vault(vaultPath), m_journal(journalPath) {
        m_vaultLeaf = UpperAscii(Leaf(hbcli::FullPath(vaultPath)));
        m_journalLeaf = UpperAscii(Leaf(hbcli::FullPath(journalPath)));
    }

    void AddPath(const std::string& given) {
        std::string path = given;
        while (path.size() > 1 && fileio::IsSeparator(path.back()) &&
               !(path.size() == 3 && path[1] == ':'))
            path.pop_back();
        hbcli::NodeKind kind;
        if (!hbcli::ClassifyPath(path, &kind)) {
            m_s.Error(given + ": cannot be read (no such file or folder); skipped");
            return;
        }
        std::string leaf = Leaf(hbcli::FullPath(path));
        if (kind == hbcli::NodeKind::Folder) {
            if (leaf.empty()) {
                WalkFolder(path, "");  // a root: its contents at the top of the vault
            } else {
                WalkFolder(path, leaf);
            }
        } else if (kind == hbcli::NodeKind::File) {
            AddFile(path, leaf);
        } else {
            m_s.Error(given + ": not a regular file or folder; skipped");
        }
    }

    std::vector<AddItem>& Items() { return m_items; }

private:
    static std::string Leaf(const std::string& full) {
        size_t end = full.size();
        while (end > 0 && fileio::IsSeparator(full[end - 1])) --end;
        size_t start = end;
        while (start > 0 && !fileio::IsSeparator(full[start - 1])) --start;
        std::string leaf = full.substr(start, end - start);
        if (leaf.size() == 2 && leaf[1] == ':') return std::string();  // a drive root
        return leaf;
    }

    bool IsOwnFile(const std::string& path, const std::string& leaf) {
        std::string upper = UpperAscii(leaf);
        return (upper == m_vaultLeaf && hbcli::SameFile(path, m_vault)) ||
               (upper == m_journalLeaf && hbcli::SameFile(path, m_journal));
    }

    void AddFile(const std::string& path, const std::string& name) {
        if (IsOwnFile(path, Leaf(path))) {
            m_s.Note(path + ": the vault (or its journal) itself; skipped");
            return;
        }
        FileInfo info;
        if (!fileio::GetInfo(path, &info)) {
            m_s.Error(path + ": cannot be read; skipped");
            return;
        }
        if (info.size >= kVaultSizeLimit) {
            m_s.Error(path + ": 4 GiB or larger, more than a vault entry can hold; skipped");
            return;
        }
        AddItem item;
        item.source = path;
        item.name = name;
        item.size = info.size;
        m_items.push_back(std::move(item));
    }

    void WalkFolder(const std::string& path, const std::string& name) {
        std::vector<hbcli::FolderItem> children;
        if (!hbcli::ListFolder(path, &children)) {
            m_s.Error(path + ": folder cannot be read; skipped");
            return;
        }
        if (!name.empty()) {
            AddItem item;
            item.source = path;
            item.name = name;
            item.folder = true;
            m_items.push_back(std::move(item));
        }
        std::sort(children.begin(), children.end(),
                  [](const hbcli::FolderItem& x, const hbcli::FolderItem& y) { return x.name < y.name; });
        std::string base = path;
        if (!fileio::IsSeparator(base.back())) base += fileio::Separator();
        for (const hbcli::FolderItem& c : children) {
            std::string childPath = base + c.name;
            std::string childName = name.empty() ? c.name : name + "/" + c.name;
            switch (c.kind) {
                case hbcli::NodeKind::File: AddFile(childPath, childName); break;
                case hbcli::NodeKind::Folder: WalkFolder(childPath, childName); break;
                case hbcli::NodeKind::FolderLink:
                    m_s.Note(childPath + ": link to a folder, not followed; skipped");
                    break;
                case hbcli::NodeKind::Other:
                    m_s.Error(childPath + ": not a regular file or folder; skipped");
                    break;
            }
        }
    }

    Session& m_s;
    std::string m_vault, m_journal, m_vaultLeaf, m_journalLeaf;
    std::vector<AddItem> m_items;
};

class VaultAppender {
public:
    VaultAppender(Session& s, const std::string& vault, const std::string& journal)
        : m_s(s), m_vault(vault), m_journal(journal) {}
    ~VaultAppender() { Finish(); }

    bool Open() {
        m_writer = OpenVaultWriter(m_vault.c_str(), 0, kVaultSourcePath, m_journal.c_str());
        if (!m_writer) {
            m_s.Error(m_vault + ": " + WriterText(1));
            return false;
        }
        m_roundEntries = 0;
        m_roundBytes = 0;
        return true;
    }

    // Ends the vault (directory written) and removes the journal, as the
    // program does after each add. On failure the journal stays for recovery.
    bool Finish() {
        if (!m_writer) return true;
        uint32_t rc = CloseVaultHandle(m_writer);
        m_writer = nullptr;
        if (rc != kVaultOk) {
            m_s.Error(m_vault + ": the directory could not be written: " + WriterText(rc) +
                      "; the journal " + m_journal + " is kept for \"recover\"");
            return false;
        }
        fileio::Remove(m_journal);
        return true;
    }

    // Adds one entry; false only when the writer can take no more.
    bool Add(const AddItem& item, bool* added) {
        *added = false;
        if (m_roundEntries >= kEntriesPerRound || m_roundBytes >= kBytesPerRound) {
            if (!Finish() || !Open()) return false;
        }
        uint32_t attrs = 0, offset = 0, packed = 0, size = 0;
        uint32_t rc = AddVaultEntry(m_writer, item.name.c_str(), item.folder ? nullptr : item.source.c_str(), 0,
                                    item.folder ? kVaultSourceFolder : kVaultSourcePath, &attrs, &offset,
                                    &packed, &size);
        ++m_roundEntries;
        m_roundBytes += item.size;
        if (rc == kVaultOk) {
            *added = true;
            return true;
        }
        m_s.Error(item.source + ": not added as " + Quoted(item.name) + ": " + WriterText(rc));
        return rc != kVaultPreviousError && rc != kVaultSeekError && rc != kVaultEnded;
    }

private:
    Session& m_s;
    std::string m_vault, m_journal;
    VaultHandle* m_writer = nullptr;
    size_t m_roundEntries = 0;
    uint64_t m_roundBytes = 0;
};

int CommandAdd(Session& s, const Arguments& a) {
    if (a.positional.size() < 2) throw UsageError{"add needs a VAULT and at least one PATH"};
    const std::string vaultPath = a.positional[0];
    auto jv = a.values.find("--journal");
    const std::string journalPath = jv != a.values.end() ? jv->second : AddJournalPath();

    if (fileio::IsDirectory(vaultPath)) {
        s.Error(vaultPath + ": is a folder, not a vault");
        return kExitFailure;
    }
    if (!RecoverBeforeWrite(s, vaultPath, journalPath, true)) return kExitFailure;

    // What is in the vault already (nothing when it does not exist yet).
    std::set<std::string> present;
    size_t existingEntries = 0;
    uint64_t vaultSize = 0;
    if (fileio::Exists(vaultPath)) {
        OpenVault v;
        if (!LoadVault(s, vaultPath, &v, false)) return kExitFailure;
        for (const Entry& e : v.entries) present.insert(UpperAscii(RequestedName(e.name)));
        existingEntries = v.entries.size();
        FileInfo info;
        if (fileio::GetInfo(vaultPath, &info)) vaultSize = info.size;
    }

    AddPlanner planner(s, vaultPath, journalPath);
    for (size_t i = 1; i < a.positional.size(); ++i) planner.AddPath(a.positional[i]);

    size_t added = 0, skipped = 0, entries = existingEntries;
    uint64_t projected = vaultSize;
    VaultAppender appender(s, vaultPath, journalPath);
    bool open = false;
    std::vector<AddItem>& items = planner.Items();
    for (size_t i = 0; i < items.size(); ++i) {
        const AddItem& item = items[i];
        if (g_stopRequested) {
            s.Error("interrupted; " + std::to_string(items.size() - i) + " entries not added");
            break;
        }
        std::string key = UpperAscii(item.name);
        if (present.count(key)) {
            if (!item.folder) {
                s.Error(item.source + ": " + Quoted(item.name) + " is already in the vault; skipped");
                ++skipped;
            }
            continue;
        }
        std::string stored = item.folder ? item.name + "/" : item.name;
        if (stored.size() > vault::kMaxNameLength) {
            s.Error(item.source + ": the name " + Quoted(stored) + " is longer than " +
                    std::to_string(vault::kMaxNameLength) + " bytes; skipped");
            ++skipped;
            continue;
        }
        // Worst case growth: deflate's stored-block overhead plus records.
        uint64_t growth = item.size + item.size / 256 + 1024;
        if (entries >= kMaxEntries || projected + growth + 64ull * (entries + 1) > kVaultSizeLimit) {
            s.Error(item.source + ": the vault would exceed its limits (65535 entries, 4 GiB); " +
                    std::to_string(items.size() - i) + " entries not added");
            break;
        }
        if (!open) {
            if (!appender.Open()) return kExitFailure;
            open = true;
        }
        s.Progress("adding " + std::to_string(i + 1) + "/" + std::to_string(items.size()) + " " + item.name);
        bool ok = false;
        if (!appender.Add(item, &ok)) break;
        if (ok) {
            ++added;
            ++entries;
            projected += growth;
            present.insert(key);
        } else {
            ++skipped;
        }
    }
    bool finished = appender.Finish();
    s.ClearProgress();
    s.Out() << vaultPath << ": " << added << (added == 1 ? " entry" : " entries") << " added";
    if (skipped) s.Out() << ", " << skipped << " skipped";
    s.Out() << "\n";
    return (s.Failed() || !finished) ? kExitFailure : kExitOk;
}

// ---------------------------------------------------------------------------
// extract

// Selected entries: all, or the named ones and everything below named folders.
std::vector<const Entry*> SelectEntries(Session& s, const std::vector<Entry>& entries,
                                        const std::vector<std::string>& names) {
    std::vector<const Entry*> chosen;
    if (names.empty()) {
        for (const Entry& e : entries) chosen.push_back(&e);
        return chosen;
    }
    std::vector<bool> taken(entries.size(), false);
    for (const std::string& n : names) {
        const Entry* exact = FindEntry(entries, n);
        std::string prefix = UpperAscii(RequestedName(exact ? exact->name : n)) + "/";
        bool any = false;
        for (size_t i = 0; i < entries.size(); ++i) {
            const Entry& e = entries[i];
            std::string upper = UpperAscii(e.name);
            if (&e == exact || (upper.size() > prefix.size() && upper.compare(0, prefix.size(), prefix) == 0)) {
                any = true;
                if (!taken[i]) chosen.push_back(&e);
                taken[i] = true;
            }
        }
        if (!any) s.Error(Quoted(n) + ": not in the vault");
    }
    std::sort(chosen.begin(), chosen.end(), [](const Entry* x, const Entry* y) { return x->index < y->index; });
    return chosen;
}

bool ExtractFile(Session& s, VaultHandle* reader, const Entry& e, const std::string& target, bool replace) {
    // A file that is replaced is written beside it first, so the old content
    // survives a failure; a new file is written in place and removed on one.
    const std::string partial = replace ? target + ".hbpart" : target;
    CFile out;
    if (!out.Open(partial, CFile::Mode::CreateWrite)) {
        s.Error(target + ": " + ReaderText(kVaultNoFile));
        return false;
    }
    bool writeFailed = false;
    std::string fault;
    bool ok = StreamEntry(reader, e, [&](const uint8_t* p, size_t n) {
        if (out.Write(p, n)) return true;
        writeFailed = true;
        return false;
    }, &fault);
    // Times are kept where the platform allows; a failure there is no data loss.
    if (ok) out.SetTimes(e.info.creationTime, e.info.accessTime, e.info.modificationTime);
    out.Close();
    if (!ok) {
        fileio::Remove(partial);
        if (writeFailed) s.Error(target + ": " + ReaderText(kVaultWriteError));
        else s.Error(Quoted(e.name) + ": " + fault + "; not extracted");
        return false;
    }
    if (!replace) return true;
    fileio::Remove(target);
    if (!fileio::Rename(partial, target)) {
        fileio::Remove(partial);
        s.Error(target + ": cannot be replaced");
        return false;
    }
    return true;
}

int CommandExtract(Session& s, const Arguments& a) {
    auto dv = a.values.find("--dir");
    if (dv == a.values.end()) throw UsageError{"extract needs -d DIR"};
    if (a.positional.empty()) throw UsageError{"extract needs a VAULT"};
    const std::string vaultPath = a.positional[0];
    const std::string dir = dv->second;
    const bool overwrite = a.flags.count("--overwrite") != 0;
    std::vector<std::string> names(a.positional.begin() + 1, a.positional.end());

    OpenVault v;
    if (!LoadVault(s, vaultPath, &v, false)) return kExitFailure;
    std::vector<const Entry*> chosen = SelectEntries(s, v.entries, names);
    if (!fileio::MakeDirectoryChain(dir)) {
        s.Error(dir + ": folder cannot be created");
        return kExitFailure;
    }
    size_t n = 0;
    std::set<std::string> madeFolders;  // saves a walk up the path per file
    for (const Entry* e : chosen) {
        ++n;
        if (!e->infoOk) {
            s.Error(vaultPath + ": entry " + std::to_string(e->index) + " " + Quoted(e->name) + ": " +
                    ReaderText(e->infoResult));
            continue;
        }
        std::vector<std::string> parts;
        std::string why;
        if (!SafeComponents(e->name, &parts, &why)) {
            s.Error(Quoted(e->name) + ": refused (" + why + ")");
            continue;
        }
        s.Progress("extracting " + std::to_string(n) + "/" + std::to_string(chosen.size()) + " " + e->name);
        std::string target = JoinPath(dir, parts, parts.size());
        if (e->IsFolder()) {
            if (!fileio::MakeDirectoryChain(target)) s.Error(target + ": folder cannot be created");
            continue;
        }
        std::string parent = JoinPath(dir, parts, parts.size() - 1);
        if (!madeFolders.count(parent)) {
            if (!fileio::MakeDirectoryChain(parent)) {
                s.Error(parent + ": folder cannot be created");
                continue;
            }
            madeFolders.insert(parent);
        }
        const bool exists = fileio::Exists(target);
        if (exists && fileio::IsDirectory(target)) {
            s.Error(target + ": a folder of that name exists; not extracted");
            continue;
        }
        if (exists && !overwrite) {
            s.Error(target + ": exists; not overwritten (use -o)");
            continue;
        }
        ExtractFile(s, v.reader.get(), *e, target, exists);
    }
    s.ClearProgress();
    return s.Failed() ? kExitFailure : kExitOk;
}

// ---------------------------------------------------------------------------
// cat

int CommandCat(Session& s, const Arguments& a) {
    if (a.positional.size() != 2) throw UsageError{"cat needs a VAULT and one NAME"};
    const std::string& vaultPath = a.positional[0];
    OpenVault v;
    if (!LoadVault(s, vaultPath, &v, false)) return kExitFailure;
    const Entry* e = FindEntry(v.entries, a.positional[1]);
    if (!e) {
        s.Error(Quoted(a.positional[1]) + ": not in the vault");
        return kExitFailure;
    }
    if (!e->infoOk) {
        s.Error(vaultPath + ": " + Quoted(e->name) + ": " + ReaderText(e->infoResult));
        return kExitFailure;
    }
    if (e->IsFolder()) {
        s.Error(Quoted(e->name) + ": is a folder");
        return kExitFailure;
    }
    std::ostream& out = s.Out();
    std::string fault;
    bool ok = StreamEntry(v.reader.get(), *e, [&](const uint8_t* p, size_t n) {
        out.write(reinterpret_cast<const char*>(p), static_cast<std::streamsize>(n));
        return static_cast<bool>(out);
    }, &fault);
    out.flush();
    if (!ok) {
        s.Error(fault.empty() ? std::string("error writing to standard output") : Quoted(e->name) + ": " + fault);
        return kExitFailure;
    }
    return kExitOk;
}

// ---------------------------------------------------------------------------
// check

int CommandCheck(Session& s, const Arguments& a) {
    if (a.positional.size() != 1) throw UsageError{"check needs exactly one VAULT"};
    const std::string& path = a.positional[0];
    std::vector<std::string> faults;
    auto fault = [&](const std::string& f) {
        s.Error(path + ": " + f);
        faults.push_back(f);
    };

    CFile file;
    if (!file.Open(path, CFile::Mode::Read)) {
        s.Error(path + ": " + ReaderText(kVaultNoFile));
        return kExitFailure;
    }
    vault::DirectoryInfo dir;
    vault::VaultStatus st = vault::LocateDirectory(file, &dir);
    if (st != vault::VaultStatus::Ok) {
        fault(std::string("no valid end record (") + vault::VaultStatusName(st) + ")");
        return kExitFailure;
    }
    if (dir.prefixBytes != 0)
        fault(std::to_string(dir.prefixBytes) + " unexplained bytes in front of the central directory");

    // Every central record and the local record it points at.
    std::vector<vault::CentralRecord> centrals;
    vault::CentralDirectoryWalker walker(&file, dir);
    uint64_t expectedLocal = 0;
    for (uint32_t i = 0; i < dir.entryCount; ++i) {
        st = i == 0 ? walker.First() : walker.Next();
        if (st != vault::VaultStatus::Ok) {
            fault("central record " + std::to_string(i) + " cannot be read (" + vault::VaultStatusName(st) + ")");
            break;
        }
        const vault::CentralRecord& c = walker.Record();
        centrals.push_back(c);
        std::string label = "entry " + std::to_string(i) + " " + Quoted(c.name);
        vault::LocalEntry local;
        st = vault::CheckLocalRecord(file, dir, c.header, &local);
        if (st != vault::VaultStatus::Ok) {
            fault(label + ": local record does not match its central record (" + vault::VaultStatusName(st) + ")");
            continue;
        }
        if (local.record.name != c.name) fault(label + ": local record holds another name");
        if (c.header.localOffset + dir.prefixBytes < expectedLocal)
            fault(label + ": local record overlaps the entry before it");
        expectedLocal = local.dataStart + c.header.compressedSize;
    }
    if (faults.empty() && walker.Valid() && dir.entryCount &&
        walker.Position() + walker.RecordLength() != dir.endPosition)
        fault("central directory size does not match its records");

    // Every entry's data through the reader, against its central record.
    if (faults.empty() && dir.entryCount > 0) {
        OpenVault v;
        if (!LoadVault(s, path, &v, true)) return kExitFailure;
        if (v.entries.size() != dir.entryCount) fault("the reader lists a different number of entries");
        for (size_t i = 0; i < v.entries.size(); ++i) {
            const Entry& e = v.entries[i];
            std::string label = "entry " + std::to_string(i) + " " + Quoted(e.name);
            s.Progress("checking " + std::to_string(i + 1) + "/" + std::to_string(v.entries.size()) + " " + e.name);
            if (!e.infoOk) {
                fault(label + ": " + ReaderText(e.infoResult));
                continue;
            }
            if (i < centrals.size() && centrals[i].name != e.name && e.info.name[0])
                fault(label + ": the reader and the directory disagree on the name");
            if (e.IsFolder()) {
                if (e.info.uncompressedSize != 0 || e.info.compressedSize != 0) fault(label + ": folder with data");
                continue;
            }
            std::string why;
            if (!StreamEntry(v.reader.get(), e, [](const uint8_t*, size_t) { return true; }, &why))
                fault(label + ": " + why);
        }
    }
    s.ClearProgress();
    if (!faults.empty()) {
        s.Note(path + ": " + std::to_string(faults.size()) + (faults.size() == 1 ? " fault" : " faults") +
               "; first: " + faults.front());
        return kExitFailure;
    }
    s.Out() << path << ": OK, " << dir.entryCount << (dir.entryCount == 1 ? " entry" : " entries") << "\n";
    return kExitOk;
}

// ---------------------------------------------------------------------------
// recover

int CommandRecover(Session& s, const Arguments& a) {
    if (a.positional.size() != 1) throw UsageError{"recover needs exactly one VAULT"};
    const std::string& vaultPath = a.positional[0];
    auto jv = a.values.find("--journal");
    const std::string journalPath = jv != a.values.end() ? jv->second : AddJournalPath();
    if (!fileio::Exists(vaultPath)) {
        s.Error(vaultPath + ": " + ReaderText(kVaultNoFile));
        return kExitFailure;
    }
    const bool hadJournal = fileio::Exists(journalPath);
    if (!RecoverBeforeWrite(s, vaultPath, journalPath, false)) return kExitFailure;
    if (!fileio::Exists(vaultPath)) {
        s.Out() << vaultPath << ": empty vault removed; the next add creates it anew\n";
        return kExitOk;
    }
    HandlePtr r(OpenVaultReader(vaultPath.c_str(), 0, kVaultSourcePath, ""));
    ZipEntryInfo head;
    if (r && ReadEntryInfo(r.get(), -1, &head) == kVaultOk) {
        const bool used = hadJournal && !fileio::Exists(journalPath);
        s.Out() << vaultPath << ": " << (used ? "recovered" : "intact") << ", " << head.index
                << (head.index == 1 ? " entry" : " entries") << "\n";
        return s.Failed() ? kExitFailure : kExitOk;
    }
    if (IsEmptyVault(vaultPath)) {
        s.Out() << vaultPath << ": intact, 0 entries\n";
        return kExitOk;
    }
    s.Error(vaultPath + ": the directory cannot be read and " +
            (fileio::Exists(journalPath) ? "the journal could not repair it" : "there is no journal to repair it from"));
    return kExitFailure;
}

}  // namespace

void RequestVaultToolStop() { g_stopRequested = 1; }

int VaultToolMain(int argc, char** argv, std::ostream& out, std::ostream& err) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
    if (args.empty()) {
        err << kToolHelp;
        return kExitUsage;
    }
    const std::string command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        if (args.size() > 1) {
            const char* text = HelpFor(args[1]);
            if (!text) {
                err << kTool << ": unknown command \"" << args[1] << "\"\n";
                return kExitUsage;
            }
            out << text;
        } else {
            out << kToolHelp;
        }
        return kExitOk;
    }
    const char* help = HelpFor(command);
    if (!help) {
        err << kTool << ": unknown command \"" << command << "\"\n" << kToolHelp;
        return kExitUsage;
    }

    std::vector<OptionSpec> specs;
    if (command == "add" || command == "recover") specs.push_back({"--journal", nullptr, true});
    if (command == "extract") {
        specs.push_back({"--dir", "-d", true});
        specs.push_back({"--overwrite", "-o", false});
    }
    g_stopRequested = 0;
    bool progress = &err == &std::cerr && hbcli::StderrIsTerminal();
    Session session(help == nullptr ? "" : command.c_str(), out, err, progress);
    try {
        Arguments parsed = ParseArguments(std::vector<std::string>(args.begin() + 1, args.end()), specs);
        if (parsed.help) {
            out << help;
            return kExitOk;
        }
        if (command == "list") return CommandList(session, parsed);
        if (command == "add") return CommandAdd(session, parsed);
        if (command == "extract") return CommandExtract(session, parsed);
        if (command == "cat") return CommandCat(session, parsed);
        if (command == "check") return CommandCheck(session, parsed);
        return CommandRecover(session, parsed);
    } catch (const UsageError& e) {
        err << kTool << ": " << command << ": " << e.message << "\n" << help;
        return kExitUsage;
    }
}
