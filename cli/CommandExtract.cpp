// hollowbox-vault extract and cat: entries out to a folder or to standard output.
#include <algorithm>

#include "cli/ToolCommon.h"
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

}  // namespace

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
