// What every hollowbox-vault command shares: option parsing, reporting, help texts, vault reading and entry names.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "vault/VaultApi.h"

namespace hbcli {

// Set by RequestVaultToolStop; a running add stops after its current entry.
extern volatile std::sig_atomic_t g_stopRequested;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr const char kTool[] = "hollowbox-vault";

// Offsets and sizes in the vault are 32-bit, the entry count 16-bit.
constexpr uint64_t kVaultSizeLimit = 0xFFFFFFFFull;
constexpr size_t kMaxEntries = 65535;

// ---------------------------------------------------------------------------
// Help texts: the general help's opening and closing lines (the command
// lines between them come from the command table) and each command's own.

extern const char kToolHelpHead[];
extern const char kToolHelpTail[];

extern const char kListHelp[];
extern const char kAddHelp[];
extern const char kExtractHelp[];
extern const char kCatHelp[];
extern const char kCheckHelp[];
extern const char kRecoverHelp[];
extern const char kDeleteHelp[];
extern const char kRenameHelp[];

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

// --codepage N, shared by every command that reads names: the code page of
// names stored without the UTF-8 flag.
extern const OptionSpec kCodePageOption;
// Sets the name code page from --codepage (the platform's default when it
// is absent); throws UsageError on a number this system cannot convert.
void ApplyCodePageOption(const Arguments& a);

// Splits the arguments after the command into options and positional
// arguments; throws UsageError on an unknown or malformed option.
Arguments ParseArguments(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs);

// ---------------------------------------------------------------------------
// Output and reporting.

class Session {
public:
    Session(const char* command, std::ostream& out, std::ostream& err, bool progress)
        : m_command(command), m_out(out), m_err(err), m_progress(progress) {}

    std::ostream& Out() { return m_out; }
    bool Failed() const { return m_failed; }

    // A fault: reported, and the command ends with status 1.
    void Error(const std::string& message);
    void Note(const std::string& message);

    // One progress line, rewritten in place, at most every 100 ms.
    void Progress(const std::string& text, bool force = false);
    void ClearProgress();

private:
    const char* m_command;
    std::ostream& m_out;
    std::ostream& m_err;
    bool m_progress;
    bool m_failed = false;
    bool m_shown = false;
    std::recursive_mutex m_lock;  // workers of a command report through it too
    size_t m_width = 0;
    uint32_t m_lastTick = 0;
};

std::string Hex(uint32_t v);
std::string ReaderText(uint32_t code);
std::string WriterText(uint32_t code);
std::string Quoted(const std::string& s);
std::string UpperAscii(std::string s);
// A UTF-8 name upper-cased for comparisons without regard to case (ASCII,
// and beyond it the simple fold of vault::UpperCaseUtf8).
std::string FoldName(const std::string& s);
std::string FormatTime(FileTime t);
std::string FormatAttributes(uint32_t a);
const char* MethodName(int method);

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
    std::string name;        // UTF-8, decoded from the stored bytes
    std::string storedName;  // the bytes as stored
    bool nameUtf8 = false;   // flag bit 11: stored as UTF-8
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
bool IsEmptyVault(const std::string& path);

// Opens the vault and reads every entry's description through the reader,
// and with withCentral each central record through the codec too (for the
// method and CRC-32; the reader checks the CRC-32 itself when unpacking).
// Entries whose description cannot be read are kept with infoOk false.
bool LoadVault(Session& s, const std::string& path, OpenVault* v, bool withCentral);

// True when some entries of the vault claim the same bytes (their local
// records and data overlap); names receives those entries' names in
// directory order. False for a sound vault or one whose directory cannot
// be read (the reader reports that).
bool FindSharedBytes(const std::string& path, std::vector<std::string>* names);

// Receives an entry's data chunk by chunk; false stops the stream.
using EntrySink = std::function<bool(const uint8_t* data, size_t length)>;

// Streams one file entry's data to sink in chunks, computing its CRC-32 and
// length, and compares both with the central record. fault receives the
// first problem (empty when the sink stopped the stream).
bool StreamEntry(VaultHandle* reader, const Entry& e, const EntrySink& sink, std::string* fault);

// ---------------------------------------------------------------------------
// Entry names.

// Splits a stored name into the components of a relative path that stays
// inside the target folder; false (with the reason) when it would not.
bool SafeComponents(const std::string& name, std::vector<std::string>* parts, std::string* why);

// base followed by the first count of parts, joined with the platform's
// separator.
std::string JoinPath(const std::string& base, const std::vector<std::string>& parts, size_t count);

// Entry name as given on the command line, in stored form, without a
// trailing "/".
std::string RequestedName(std::string name);

// The entry a name selects: exact match first, else without regard to case.
const Entry* FindEntry(const std::vector<Entry>& entries, const std::string& requested);

// ---------------------------------------------------------------------------
// Before a command changes a vault.

// --threads N (1 to 1024): sets the threads the vault core may use; without
// it, one per processor. Throws UsageError on a bad value.
void ApplyThreadsOption(const Arguments& a);

// The add journal's path: --journal, else DefaultJournalPath. False (with
// the error reported) when there is no safe default.
bool JournalPathOption(Session& s, const Arguments& a, std::string* journalPath);

// Runs the journal replay the program runs before every add. A journal that
// does not belong to this vault is never replayed. Returns false (with the
// error reported) when the vault must not be touched. forAdd: the command
// writes the journal itself, so a journal of another vault at its name is
// parked beside it (an error only when every side name is taken).
bool RecoverBeforeWrite(Session& s, const std::string& vaultPath, const std::string& journalPath,
                        bool forAdd);

// ---------------------------------------------------------------------------
// The commands, one source file each (extract and cat share one, check and
// recover another). Each returns the exit status and throws UsageError on
// wrong arguments.

int CommandList(Session& s, const Arguments& a);
int CommandAdd(Session& s, const Arguments& a);
int CommandExtract(Session& s, const Arguments& a);
int CommandCat(Session& s, const Arguments& a);
int CommandCheck(Session& s, const Arguments& a);
int CommandRecover(Session& s, const Arguments& a);
int CommandDelete(Session& s, const Arguments& a);
int CommandRename(Session& s, const Arguments& a);

}  // namespace hbcli
