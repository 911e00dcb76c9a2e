// hollowbox-vault extract and cat: entries out to a folder or to standard output.
#include <algorithm>

#include "cli/ExtractWorkers.h"
#include "cli/ToolCommon.h"
#include "cli/ToolPlatform.h"
#include "vault/fileio/FileIo.h"

namespace hbcli {
namespace {

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
        std::string prefix = FoldName(RequestedName(exact ? exact->name : n)) + "/";
        bool any = false;
        for (size_t i = 0; i < entries.size(); ++i) {
            const Entry& e = entries[i];
            std::string upper = FoldName(e.name);
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

// Makes (or finds) the folders DIR/parts[0]/.../parts[count - 1], each one a
// real folder: a link, a file or anything else in the way stops it, so
// nothing is ever written through a link that already lies below DIR.
// checked holds the folders already found sound.
bool SafeFolderChain(Session& s, const std::string& dir, const std::vector<std::string>& parts,
                     size_t count, std::set<std::string>* checked) {
    for (size_t i = 1; i <= count; ++i) {
        const std::string path = JoinPath(dir, parts, i);
        if (checked->count(path)) continue;
        PathState state = InspectNoFollow(path);
        if (state == PathState::Missing) {
            fileio::MakeDirectory(path);
            state = InspectNoFollow(path);
        }
        if (state != PathState::Folder) {
            s.Error(path + (state == PathState::Link ? ": is a link; not followed"
                            : state == PathState::Missing ? ": folder cannot be created"
                                                          : ": not a folder"));
            return false;
        }
        checked->insert(path);
    }
    return true;
}

// Opens a temporary name beside target that did not exist before.
bool OpenPartial(const std::string& target, CFile* out, std::string* partial) {
    for (int n = 0; n < 100; ++n) {
        *partial = target + ".hbpart" + (n ? std::to_string(n) : std::string());
        if (out->Open(*partial, CFile::Mode::CreateNew)) return true;
        if (InspectNoFollow(*partial) == PathState::Missing) return false;  // not a collision
    }
    return false;
}

bool ExtractFile(Session& s, VaultHandle* reader, const Entry& e, const std::string& target, bool replace) {
    // A new file is created exclusively under its name (never through a
    // link planted there) and removed on a failure. A file that is replaced
    // is written beside it first and renamed over it, so the old content
    // survives any failure.
    CFile out;
    std::string partial = target;
    if (replace ? !OpenPartial(target, &out, &partial) : !out.Open(target, CFile::Mode::CreateNew)) {
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
    // The rename replaces the old name in one step; it is never removed first.
    if (!fileio::Rename(partial, target)) {
        fileio::Remove(partial);
        s.Error(target + ": cannot be replaced; the old file is kept");
        return false;
    }
    return true;
}

}  // namespace

int CommandExtract(Session& s, const Arguments& a) {
    auto dv = a.values.find("--dir");
    if (dv == a.values.end()) throw UsageError{"extract needs -d DIR"};
    if (a.positional.empty()) throw UsageError{"extract needs a VAULT"};
    const std::string vaultPath = a.positional[0];
    const std::string dir = dv->second;
    const bool overwrite = a.flags.count("--overwrite") != 0;
    ApplyThreadsOption(a);
    std::vector<std::string> names(a.positional.begin() + 1, a.positional.end());

    OpenVault v;
    if (!LoadVault(s, vaultPath, &v, false)) return kExitFailure;
    // Entries are only ever appended; entries that share bytes make a vault
    // that unpacks one stream many times over. Nothing is written then.
    std::vector<std::string> shared;
    if (FindSharedBytes(vaultPath, &shared)) {
        std::string list;
        for (size_t i = 0; i < shared.size() && i < 3; ++i) list += (i ? ", " : "") + Quoted(shared[i]);
        if (shared.size() > 3) list += " and " + std::to_string(shared.size() - 3) + " more";
        s.Error(vaultPath + ": " + std::to_string(shared.size()) +
                " entries share bytes of the vault (" + list +
                "); the vault is damaged or forged; nothing extracted");
        return kExitFailure;
    }
    std::vector<const Entry*> chosen = SelectEntries(s, v.entries, names);
    if (!fileio::MakeDirectoryChain(dir)) {
        s.Error(dir + ": folder cannot be created");
        return kExitFailure;
    }
    size_t n = 0;
    std::set<std::string> checkedFolders;  // saves a walk up the path per file
    // Folders are made here, in order; files are unpacked by the workers.
    ExtractWorkers workers(vaultPath, v.reader.get(), vault::VaultThreads(),
                           [&s](VaultHandle* reader, const Entry& e, const std::string& target,
                                bool replace) { ExtractFile(s, reader, e, target, replace); });
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
        for (size_t i = 1; i <= parts.size(); ++i) workers.Settle(JoinPath(dir, parts, i));
        if (e->IsFolder()) {
            SafeFolderChain(s, dir, parts, parts.size(), &checkedFolders);
            continue;
        }
        if (!SafeFolderChain(s, dir, parts, parts.size() - 1, &checkedFolders)) continue;
        const std::string target = JoinPath(dir, parts, parts.size());
        const PathState state = InspectNoFollow(target);
        if (state == PathState::Folder) {
            s.Error(target + ": a folder of that name exists; not extracted");
            continue;
        }
        if (state == PathState::Other) {
            s.Error(target + ": not a plain file; not extracted");
            continue;
        }
        if (state != PathState::Missing && !overwrite) {
            s.Error(target + ": exists; not overwritten (use -o)");
            continue;
        }
        // With -o a link of that name is replaced itself, not written through.
        workers.Extract(*e, target, state != PathState::Missing);
    }
    workers.Finish();
    s.ClearProgress();
    return s.Failed() ? kExitFailure : kExitOk;
}

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

}  // namespace hbcli
