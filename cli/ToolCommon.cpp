// Option parsing, reporting, help texts, vault reading and entry-name rules shared by the vault tool's commands.
#include "cli/ToolCommon.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>

#include "cli/ToolPlatform.h"
#include "document/AddJournal.h"
#include "document/JournalParking.h"
#include "document/VaultRecovery.h"
#include "vault/fileio/FileIo.h"
#include "vault/format/VaultRecords.h"
#include "vault/format/VaultScan.h"
#include "vault/format/VaultTime.h"
#include "vault/threads/ThreadPool.h"

namespace hbcli {

volatile std::sig_atomic_t g_stopRequested = 0;

namespace {
constexpr size_t kChunk = 256 * 1024;
}  // namespace

// ---------------------------------------------------------------------------
// Help texts.

const char kToolHelpHead[] =
    "Usage: hollowbox-vault COMMAND [OPTIONS] ARGS...\n"
    "\n"
    "Works on a vault file outside the program.\n"
    "\n"
    "Commands:\n";

const char kToolHelpTail[] =
    "\n"
    "\"hollowbox-vault COMMAND --help\" describes a command.\n"
    "Names are taken and shown as Unicode (UTF-8 on Linux). A name stored\n"
    "without the UTF-8 flag is in a code page: --codepage N names it (default:\n"
    "1252 on Linux, the system's ANSI code page on Windows).\n"
    "Exit status: 0 success, 1 failure, 2 usage error.\n";

const char kExtractHelp[] =
    "Usage: hollowbox-vault extract [-o] [--codepage N] [--threads N] VAULT [NAME...] -d DIR\n"
    "\n"
    "Unpacks all entries, or the named entries and folders (with everything\n"
    "below them), into DIR, keeping modification times. Names that would land\n"
    "outside DIR (\"..\", absolute paths, drive letters, device names) are\n"
    "refused. Existing files are left alone unless -o (--overwrite) is given.\n"
    "Every file's CRC-32 and size are verified before it takes its name.\n"
    "Files get the entries' exact names (decoded as for list).\n"
    "Several files are unpacked at once, one per processor; --threads N uses N\n"
    "threads (1: one file at a time).\n";

const char kCatHelp[] =
    "Usage: hollowbox-vault cat [--codepage N] VAULT NAME\n"
    "\n"
    "Writes the data of one file entry to standard output, byte for byte.\n";

const char kCheckHelp[] =
    "Usage: hollowbox-vault check [--codepage N] VAULT\n"
    "\n"
    "Reads every central and local record and unpacks every entry, comparing\n"
    "its CRC-32 and size with its central record. Exit status 1 names the\n"
    "first fault.\n";

const char kRecoverHelp[] =
    "Usage: hollowbox-vault recover VAULT [--journal FILE]\n"
    "\n"
    "Puts the add journal (default: as for add) back into a vault whose add did\n"
    "not finish, and finishes a delete that was stopped from the delete journal\n"
    "beside it. A journal is applied only to the vault it belongs to, and\n"
    "deleted only when it belongs to this vault and is no longer needed; any\n"
    "other journal is left in place.\n";

// ---------------------------------------------------------------------------
// Command line.

const OptionSpec kCodePageOption = {"--codepage", nullptr, true};

void ApplyCodePageOption(const Arguments& a) {
    vault::SetNameCodePage(0);
    auto it = a.values.find(kCodePageOption.name);
    if (it == a.values.end()) return;
    const std::string& text = it->second;
    unsigned value = 0;
    bool number = !text.empty() && text.size() <= 5;
    for (char c : text) {
        if (c < '0' || c > '9') number = false;
        else value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (!number || value == 0 || !vault::IsNameCodePageSupported(value))
        throw UsageError{"--codepage " + text + ": not a code page this system can convert"};
    vault::SetNameCodePage(value);
}

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

void Session::Error(const std::string& message) {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    ClearProgress();
    m_err << kTool << ": " << m_command << ": " << message << "\n";
    m_failed = true;
}

void Session::Note(const std::string& message) {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    ClearProgress();
    m_err << kTool << ": " << m_command << ": " << message << "\n";
}

void Session::Progress(const std::string& text, bool force) {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    if (!m_progress) return;
    uint32_t now = fileio::TickCount();
    if (!force && m_shown && now - m_lastTick < 100) return;
    m_lastTick = now;
    size_t cut = 75;  // never inside a character
    while (cut > 0 && cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    std::string line = text.size() > 78 ? text.substr(0, cut) + "..." : text;
    m_err << "\r" << line << std::string(m_width > line.size() ? m_width - line.size() : 0, ' ')
          << std::flush;
    m_width = line.size();
    m_shown = true;
}

void Session::ClearProgress() {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    if (!m_shown) return;
    m_err << "\r" << std::string(m_width, ' ') << "\r" << std::flush;
    m_shown = false;
    m_width = 0;
}

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

std::string FoldName(const std::string& s) { return vault::UpperCaseUtf8(s); }

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

namespace {

bool HasDefaultJournal() {
    std::string path, why;
    return DefaultJournalPath(&path, &why) && fileio::Exists(path);
}

}  // namespace

bool IsEmptyVault(const std::string& path) {
    // Only the whole file: an end record listing nothing can also be bytes
    // inside some entry's data, found once the real one is damaged.
    return journal::IsExactlyEmptyVault(path);
}

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
                (HasDefaultJournal() ? " (an add journal exists: try \"recover\")" : ""));
        return false;
    }
    const int count = head.index;

    // The codec's view of the directory, read whole.
    std::vector<vault::CentralEntry> centrals;
    if (withCentral) {
        CFile file;
        vault::DirectoryInfo dir;
        if (file.Open(path, CFile::Mode::Read) && vault::LocateDirectory(file, &dir) == vault::VaultStatus::Ok)
            vault::ReadCentralDirectory(file, dir, &centrals);
    }
    v->entries.reserve(count > 0 ? count : 0);
    for (int i = 0; i < count; ++i) {
        Entry e;
        e.index = i;
        if (static_cast<size_t>(i) < centrals.size()) {
            const vault::CentralEntry& c = centrals[static_cast<size_t>(i)];
            e.centralOk = true;
            e.method = c.header.method;
            e.crc = c.header.crc;
            e.size = c.header.uncompressedSize;
            e.storedName = c.name;
            e.nameUtf8 = (c.header.flags & vault::kNameUtf8Flag) != 0;
            e.name = vault::DecodeEntryName(e.storedName, e.nameUtf8);
        }
        e.infoResult = ReadEntryInfo(v->reader.get(), i, &e.info);
        e.infoOk = e.infoResult == kVaultOk;
        if (e.infoOk && !e.info.storedName.empty()) {
            e.name = e.info.name;
            e.storedName = e.info.storedName;
            e.nameUtf8 = e.info.nameUtf8;
        }
        if (e.infoOk && !e.centralOk) e.size = static_cast<uint32_t>(e.info.uncompressedSize);
        v->entries.push_back(std::move(e));
    }
    return true;
}

bool FindSharedBytes(const std::string& path, std::vector<std::string>* names) {
    names->clear();
    CFile file;
    vault::DirectoryInfo dir;
    std::vector<vault::CentralEntry> centrals;
    if (!file.Open(path, CFile::Mode::Read) || vault::LocateDirectory(file, &dir) != vault::VaultStatus::Ok)
        return false;
    vault::ReadCentralDirectory(file, dir, &centrals);
    std::vector<vault::LocalSpan> spans;
    for (const vault::CentralEntry& c : centrals) spans.push_back(vault::CentralLocalSpan(dir, c.header));
    std::vector<bool> shared;
    if (vault::MarkOverlappingSpans(spans, &shared) == 0) return false;
    for (size_t i = 0; i < centrals.size(); ++i)
        if (shared[i])
            names->push_back(vault::DecodeEntryName(centrals[i].name,
                                                    (centrals[i].header.flags & vault::kNameUtf8Flag) != 0));
    return true;
}

// The reader hands out memory chunks without their length,
// so each request asks for no more than is still due: every chunk but a
// short final one is then full, and a short one shows in the CRC.
bool StreamEntry(VaultHandle* reader, const Entry& e, const EntrySink& sink, std::string* fault) {
    std::vector<uint8_t> buffer(kChunk);
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
// Entry names.

namespace {

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

}  // namespace

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

std::string RequestedName(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    while (!name.empty() && name.back() == '/') name.pop_back();
    return name;
}

const Entry* FindEntry(const std::vector<Entry>& entries, const std::string& requested) {
    std::string want = RequestedName(requested);
    for (const Entry& e : entries)
        if (RequestedName(e.name) == want) return &e;
    std::string upper = FoldName(want);
    for (const Entry& e : entries)
        if (FoldName(RequestedName(e.name)) == upper) return &e;
    return nullptr;
}

// ---------------------------------------------------------------------------
// Journal handling shared by add and recover.

void ApplyThreadsOption(const Arguments& a) {
    auto it = a.values.find("--threads");
    unsigned threads = 0;  // one per processor
    if (it != a.values.end()) {
        const std::string& v = it->second;
        unsigned long n = 0;
        bool ok = !v.empty() && v.size() <= 4;
        for (char c : v) {
            if (c < '0' || c > '9') ok = false;
            else n = n * 10 + static_cast<unsigned long>(c - '0');
        }
        if (!ok || n < 1 || n > 1024) throw UsageError{"--threads takes a number from 1 to 1024"};
        threads = static_cast<unsigned>(n);
    }
    vault::SetVaultThreads(threads);
}

bool JournalPathOption(Session& s, const Arguments& a, std::string* journalPath) {
    auto jv = a.values.find("--journal");
    if (jv != a.values.end()) {
        *journalPath = jv->second;
        return true;
    }
    std::string why;
    if (DefaultJournalPath(journalPath, &why)) return true;
    s.Error("no safe place for the add journal: " + why + "; name one with --journal");
    return false;
}

bool RecoverBeforeWrite(Session& s, const std::string& vaultPath, const std::string& journalPath,
                        bool forAdd) {
    // This vault's journals (parked ones too) are used first; then the same
    // decision RecoverVault acted on names what is left at the journal's name.
    RecoverVault(vaultPath, journalPath);
    const journal::JournalDecision d = journal::DecideJournal(vaultPath, journalPath);
    if (d.action != journal::JournalAction::Keep) return true;
    const journal::JournalState state = d.report.state;
    const char* what = state == journal::JournalState::Foreign  ? "add journal of another vault"
                       : state == journal::JournalState::Damaged ? "damaged add journal"
                                                                 : "add journal that cannot be read";
    const std::string why = journalPath + ": " + what + " (" + d.report.detail + ")";
    if (fileio::Exists(vaultPath) && !d.vaultListable && !IsEmptyVault(vaultPath)) {
        s.Error(why + "; not applied to " + vaultPath + ", whose directory cannot be read");
        return false;
    }
    // The add needs the journal's place (from its second round on, even for
    // a new vault), and the journal is still some vault's only repair: it is
    // parked beside its name, as the program does.
    parking::PlaceReport place;
    if (forAdd && !parking::FreeAddJournalPlace(vaultPath, journalPath, &place)) {
        s.Error(why + "; it cannot be parked beside its name (every side name taken?): " +
                "recover those vaults first or remove the journal");
        return false;
    }
    s.Note(why + (place.parkedAs.empty() ? "; left in place" : "; parked as " + place.parkedAs));
    return true;
}

}  // namespace hbcli
