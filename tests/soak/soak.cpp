// hb-soak: a long random sequence of vault tool commands (adds of new and
// existing names, replaces, updates, deletes and renames of files and folders,
// recoveries), some stopped at a random write as a killed process leaves the
// disk and some cut off as a power cut does, each checked entry by entry and
// byte for byte against a model of the vault.
//
//   hb-soak [--seed N] [--ops N] [--dir FOLDER] [--verbose]
//
// The commands run in-process through VaultToolMain. A "kill" stops the
// command before its k-th write through the file layer (k drawn from the
// writes the same command makes when left alone), keeping everything written
// so far; a "power cut" does the same and then undoes every write no flush
// covered. Either is followed by "recover", as the program's next login
// would. After every step the vault must hold exactly the model's state
// before the step or after it. A failure prints the seed and the step, so
// the run can be replayed with the same --seed.
//
// A new operation is one row of kOperations and one Plan function.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "PowerCut.h"
#include "RunTool.h"
#include "cli/ToolCommon.h"
#include "cli/VaultTool.h"
#include "vault/fileio/FileIo.h"
#include "vault/format/VaultTime.h"

namespace fs = std::filesystem;

namespace {

struct ModelEntry {
    std::string name;      // as stored: "a/b.txt", folders "a/"
    bool folder = false;
    std::string data;
    uint32_t mtime = 0;    // Unix seconds of the source's write time
};
// By upper-case name without a trailing "/": the vault's notion of one name.
using Model = std::map<std::string, ModelEntry>;

std::string Key(std::string name) {
    while (!name.empty() && name.back() == '/') name.pop_back();
    for (char& c : name)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return name;
}

struct Step {
    std::string what;
    std::vector<std::string> args;  // the tool's command line after its name
    Model after;
    // A replace appends the new copies, then removes the old ones: stopped in
    // between it leaves both, and the same command run again finishes it.
    std::set<std::string> replaced;
};

class Soak {
public:
    Soak(uint64_t seed, const std::string& dir, bool verbose)
        : m_seed(seed), m_rng(seed), m_root(dir), m_verbose(verbose) {
        fs::remove_all(m_root);
        fs::create_directories(m_root / "v");
        fs::create_directories(m_root / "j");
        fs::create_directories(m_root / "src");
        m_vault = (m_root / "v" / "soak.vfo").string();
        m_journal = (m_root / "j" / "qv0327711.tmp").string();
    }

    bool Run(long ops);

    // Operations (see kOperations).
    bool PlanAddNew(Step* s);
    bool PlanAddExisting(Step* s);
    bool PlanReplace(Step* s);
    bool PlanUpdate(Step* s);
    bool PlanDelete(Step* s);
    bool PlanRename(Step* s);
    bool PlanRecover(Step* s);

private:
    size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(m_rng); }
    bool Chance(int percent) { return Pick(100) < static_cast<size_t>(percent); }

    std::string NewLeaf(bool folder);
    std::string Content();
    std::vector<std::string> Files() const;
    std::vector<std::string> Folders() const;
    // A fresh source folder; returns its path.
    fs::path Batch();
    // Writes a source file at base/relative with data and mtime.
    void Source(const fs::path& base, const std::string& relative, const std::string& data, uint32_t mtime);
    // Sources under a new batch folder for files (stored names) into the
    // vault's folders, with their folder entries; returns the paths to add.
    std::vector<std::string> Stage(const std::vector<std::pair<std::string, ModelEntry>>& files, Model* after);

    bool ReadVault(std::vector<ModelEntry>* entries, std::string* why);
    bool Same(const std::vector<ModelEntry>& got, const Model& want, std::string* why) const;
    bool WithOlderCopies(const std::vector<ModelEntry>& got, const Step& step) const;
    void Snapshot(const fs::path& to);
    void Restore(const fs::path& from);
    bool Fail(long index, const Step& step, const std::string& fault, const std::string& why);

    uint64_t m_seed;
    std::mt19937_64 m_rng;
    fs::path m_root;
    bool m_verbose;
    std::string m_vault, m_journal;
    Model m_model;
    uint32_t m_clock = 1577836800;  // 2020-01-01, two seconds per source file
    unsigned m_names = 0, m_batches = 0;
};

struct Operation {
    const char* name;
    int weight;
    bool (Soak::*plan)(Step*);  // false: not possible in this state
};

const Operation kOperations[] = {
    {"add", 30, &Soak::PlanAddNew},
    {"add-existing", 5, &Soak::PlanAddExisting},
    {"replace", 15, &Soak::PlanReplace},
    {"update", 10, &Soak::PlanUpdate},
    {"delete", 20, &Soak::PlanDelete},
    {"rename", 10, &Soak::PlanRename},
    {"recover", 5, &Soak::PlanRecover},
};

std::string Soak::NewLeaf(bool folder) {
    static const char* const kExt[] = {".txt", ".bin", ".dat", ".zip", ".gz", ""};
    std::string n = (folder ? "Dir" : "file") + std::to_string(++m_names);
    if (!folder) n += kExt[Pick(6)];
    return n;
}

std::string Soak::Content() {
    const size_t size = Chance(10) ? 0 : Chance(70) ? Pick(4000) : Pick(70000);
    std::string d(size, '\0');
    const bool text = Chance(50);
    for (char& c : d) c = text ? "abc def\n"[Pick(8)] : static_cast<char>(Pick(256));
    return d;
}

std::vector<std::string> Soak::Files() const {
    std::vector<std::string> v;
    for (const auto& e : m_model)
        if (!e.second.folder) v.push_back(e.first);
    return v;
}

std::vector<std::string> Soak::Folders() const {
    std::vector<std::string> v;
    for (const auto& e : m_model)
        if (e.second.folder) v.push_back(e.first);
    return v;
}

fs::path Soak::Batch() {
    // The previous step's sources are done with: a long run stays small.
    if (m_batches > 0) fs::remove_all(m_root / "src" / ("b" + std::to_string(m_batches)));
    fs::path p = m_root / "src" / ("b" + std::to_string(++m_batches));
    fs::remove_all(p);
    fs::create_directories(p);
    return p;
}

void Soak::Source(const fs::path& base, const std::string& relative, const std::string& data, uint32_t mtime) {
    fs::path p = base / fs::u8path(relative);
    fs::create_directories(p.parent_path());
    CFile f;
    if (!f.Open(p.string(), CFile::Mode::CreateWrite) || !f.Write(data.data(), data.size())) {
        std::cerr << "hb-soak: cannot write the source " << p << "\n";
        std::exit(2);
    }
    const FileTime t = vault::FileTimeFromUnixTime(mtime);
    f.SetTimes(t, t, t);
}

std::vector<std::string> Soak::Stage(const std::vector<std::pair<std::string, ModelEntry>>& files, Model* after) {
    // Each top-level component is added as one path from the batch folder;
    // its folder entries already in the vault are passed over by the tool.
    const fs::path base = Batch();
    std::set<std::string> tops;
    for (const auto& f : files) {
        const std::string& name = f.first;
        Source(base, name, f.second.data, f.second.mtime);
        tops.insert(name.substr(0, name.find('/')));
        (*after)[Key(name)] = f.second;
        for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1)) {
            const std::string folder = name.substr(0, slash + 1);
            if (!after->count(Key(folder))) (*after)[Key(folder)] = ModelEntry{folder, true, "", 0};
        }
    }
    std::vector<std::string> paths;
    for (const std::string& t : tops) paths.push_back((base / fs::u8path(t)).string());
    return paths;
}

bool Soak::PlanAddNew(Step* s) {
    s->after = m_model;
    std::vector<std::pair<std::string, ModelEntry>> files;
    const std::vector<std::string> folders = Folders();
    const size_t n = 1 + Pick(3);
    for (size_t i = 0; i < n; ++i) {
        std::string prefix;
        if (!folders.empty() && Chance(50)) prefix = m_model.at(folders[Pick(folders.size())]).name;
        if (Chance(25)) prefix += NewLeaf(true) + "/";
        const std::string name = prefix + NewLeaf(false);
        files.push_back({name, ModelEntry{name, false, Content(), m_clock += 2}});
    }
    std::vector<std::string> paths = Stage(files, &s->after);
    s->args = {"add", "--journal", m_journal, m_vault};
    s->args.insert(s->args.end(), paths.begin(), paths.end());
    s->what = "add " + std::to_string(n) + " new";
    return true;
}

bool Soak::PlanAddExisting(Step* s) {
    const std::vector<std::string> files = Files();
    if (files.empty()) return false;
    const ModelEntry& e = m_model.at(files[Pick(files.size())]);
    s->after = m_model;
    std::vector<std::string> paths = Stage({{e.name, ModelEntry{e.name, false, Content(), m_clock += 2}}}, &s->after);
    s->after = m_model;  // refused: nothing changes
    s->args = {"add", "--journal", m_journal, m_vault};
    s->args.insert(s->args.end(), paths.begin(), paths.end());
    s->what = "add existing " + e.name;
    return true;
}

bool Soak::PlanReplace(Step* s) {
    const std::vector<std::string> files = Files();
    if (files.empty()) return false;
    s->after = m_model;
    std::vector<std::pair<std::string, ModelEntry>> staged;
    std::set<std::string> chosen;
    for (size_t i = 0, n = 1 + Pick(3); i < n; ++i) chosen.insert(files[Pick(files.size())]);
    for (const std::string& k : chosen) {
        const ModelEntry& e = m_model.at(k);
        // Given in another case now and then: the entry keeps its stored name.
        std::string given = e.name;
        if (Chance(30))
            for (char& c : given) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
        staged.push_back({given, ModelEntry{given, false, Content(), m_clock += 2}});
        s->replaced.insert(k);
    }
    if (Chance(30)) {
        const std::string name = NewLeaf(false);
        staged.push_back({name, ModelEntry{name, false, Content(), m_clock += 2}});
    }
    std::vector<std::string> paths = Stage(staged, &s->after);
    for (const std::string& k : chosen) s->after[k].name = m_model.at(k).name;
    // A folder given in another case keeps its stored name too.
    for (auto& e : s->after)
        if (m_model.count(e.first)) e.second.name = m_model.at(e.first).name;
    s->args = {"add", "--replace", "--journal", m_journal, m_vault};
    s->args.insert(s->args.end(), paths.begin(), paths.end());
    s->what = "replace " + std::to_string(chosen.size());
    return true;
}

bool Soak::PlanUpdate(Step* s) {
    const std::vector<std::string> files = Files();
    if (files.empty()) return false;
    s->after = m_model;
    std::vector<std::pair<std::string, ModelEntry>> staged;
    std::set<std::string> chosen;
    for (size_t i = 0, n = 1 + Pick(3); i < n; ++i) chosen.insert(files[Pick(files.size())]);
    Model older;  // files that are not newer: the vault keeps its copy
    for (const std::string& k : chosen) {
        const ModelEntry& e = m_model.at(k);
        const bool newer = Chance(60);
        const uint32_t t = newer ? (m_clock += 2) : e.mtime - static_cast<uint32_t>(Pick(2) * 2);
        staged.push_back({e.name, ModelEntry{e.name, false, Content(), t}});
        if (newer) s->replaced.insert(k);
        else older[k] = e;
    }
    std::vector<std::string> paths = Stage(staged, &s->after);
    for (const auto& o : older) s->after[o.first] = o.second;
    s->args = {"add", "--update", "--journal", m_journal, m_vault};
    s->args.insert(s->args.end(), paths.begin(), paths.end());
    s->what = "update " + std::to_string(chosen.size());
    return true;
}

bool Soak::PlanDelete(Step* s) {
    if (m_model.empty()) return false;
    std::vector<std::string> keys;
    for (const auto& e : m_model) keys.push_back(e.first);
    s->after = m_model;
    s->args = {"delete", "--journal", m_journal, m_vault};
    // Many entries: delete more at a time, so the vault stays small.
    const size_t n = 1 + Pick(m_model.size() > 40 ? 6 : 2);
    std::set<std::string> chosen;
    for (size_t i = 0; i < n; ++i) chosen.insert(keys[Pick(keys.size())]);
    for (const std::string& k : chosen) {
        std::string given = m_model.at(k).name;
        if (Chance(20)) given = k;  // upper case
        s->args.push_back(given);
        for (auto it = s->after.begin(); it != s->after.end();) {
            const bool below = it->first == k || it->first.compare(0, k.size() + 1, k + "/") == 0;
            it = below ? s->after.erase(it) : std::next(it);
        }
    }
    s->what = "delete " + std::to_string(chosen.size());
    return true;
}

bool Soak::PlanRename(Step* s) {
    if (m_model.empty()) return false;
    std::vector<std::string> keys;
    for (const auto& e : m_model) keys.push_back(e.first);
    const std::string k = keys[Pick(keys.size())];
    const ModelEntry& e = m_model.at(k);
    std::string plain = e.name;  // without a folder's trailing '/'
    if (e.folder) plain.pop_back();
    const size_t slash = plain.rfind('/');
    const std::string leaf = NewLeaf(e.folder);
    const std::string renamed = (slash == std::string::npos ? std::string() : plain.substr(0, slash + 1)) + leaf;
    // The entry, and a folder's whole tree, under the new name.
    s->after.clear();
    for (const auto& m : m_model) {
        if (m.first != k && m.first.compare(0, k.size() + 1, k + "/") != 0) {
            s->after.insert(m);
            continue;
        }
        ModelEntry moved = m.second;
        moved.name = renamed + m.second.name.substr(plain.size());
        s->after[Key(moved.name)] = moved;
    }
    s->args = {"rename", "--journal", m_journal, m_vault, Chance(20) ? k : e.name, leaf};
    s->what = "rename " + e.name + " to " + leaf;
    return true;
}

bool Soak::PlanRecover(Step* s) {
    s->after = m_model;
    s->args = {"recover", "--journal", m_journal, m_vault};
    s->what = "recover";
    return true;
}

bool Soak::ReadVault(std::vector<ModelEntry>* entries, std::string* why) {
    entries->clear();
    if (!fileio::Exists(m_vault) || hbcli::IsEmptyVault(m_vault)) return true;
    std::ostringstream sink;
    hbcli::Session session("soak", sink, sink, false);
    hbcli::OpenVault v;
    if (!hbcli::LoadVault(session, m_vault, &v, true)) {
        *why = "the vault cannot be read: " + sink.str();
        return false;
    }
    for (const hbcli::Entry& e : v.entries) {
        if (!e.infoOk) {
            *why = "entry " + std::to_string(e.index) + " cannot be read";
            return false;
        }
        ModelEntry m{e.name, e.IsFolder(), "", 0};
        if (!m.folder) {
            std::string fault;
            if (!hbcli::StreamEntry(v.reader.get(), e, [&m](const uint8_t* d, size_t n) {
                    m.data.append(reinterpret_cast<const char*>(d), n);
                    return true;
                }, &fault)) {
                *why = e.name + ": " + fault;
                return false;
            }
        }
        entries->push_back(std::move(m));
    }
    return true;
}

bool Soak::Same(const std::vector<ModelEntry>& got, const Model& want, std::string* why) const {
    std::set<std::string> seen;
    for (const ModelEntry& e : got) {
        const std::string k = Key(e.name);
        auto it = want.find(k);
        if (!seen.insert(k).second) {
            *why = "two entries named " + e.name;
            return false;
        }
        if (it == want.end()) {
            *why = "unexpected entry " + e.name;
            return false;
        }
        if (it->second.name != e.name || it->second.folder != e.folder || it->second.data != e.data) {
            *why = "entry " + e.name + " differs (" + std::to_string(e.data.size()) + " bytes, expected " +
                   it->second.name + " with " + std::to_string(it->second.data.size()) + ")";
            return false;
        }
    }
    if (seen.size() != want.size()) {
        for (const auto& w : want)
            if (!seen.count(w.first)) *why = "missing entry " + w.second.name;
        return false;
    }
    return true;
}

// A replace stopped between its two halves: the new copies are in, and each
// replaced name still has its old copy ahead of the new one.
bool Soak::WithOlderCopies(const std::vector<ModelEntry>& got, const Step& step) const {
    std::vector<ModelEntry> rest;
    std::map<std::string, int> seen;
    for (const ModelEntry& e : got) {
        const std::string k = Key(e.name);
        if (step.replaced.count(k) && seen[k]++ == 0 && m_model.count(k) && m_model.at(k).data == e.data &&
            std::count_if(got.begin(), got.end(), [&](const ModelEntry& o) { return Key(o.name) == k; }) == 2)
            continue;  // the older copy
        rest.push_back(e);
    }
    std::string why;
    return rest.size() < got.size() && Same(rest, step.after, &why);
}

void Soak::Snapshot(const fs::path& to) {
    fs::remove_all(to);
    fs::create_directories(to);
    fs::copy(m_root / "v", to / "v", fs::copy_options::recursive);
    fs::copy(m_root / "j", to / "j", fs::copy_options::recursive);
}

void Soak::Restore(const fs::path& from) {
    fs::remove_all(m_root / "v");
    fs::remove_all(m_root / "j");
    fs::copy(from / "v", m_root / "v", fs::copy_options::recursive);
    fs::copy(from / "j", m_root / "j", fs::copy_options::recursive);
}

bool Soak::Fail(long index, const Step& step, const std::string& fault, const std::string& why) {
    std::cerr << "hb-soak: FAILED at step " << index << " (" << step.what << ", " << fault << "): " << why
              << "\nhb-soak: command:";
    for (const std::string& a : step.args) std::cerr << " " << a;
    std::cerr << "\nhb-soak: replay with --seed " << m_seed << " --ops " << index + 1 << "\n";
    return false;
}

bool Soak::Run(long ops) {
    int total = 0;
    for (const Operation& o : kOperations) total += o.weight;
    hbtest::NoDiskWaits noWaits;
    long kills = 0, cuts = 0, halfway = 0;
    for (long i = 0; i < ops; ++i) {
        Step step;
        const Operation* op = nullptr;
        while (!op) {
            int r = static_cast<int>(Pick(static_cast<size_t>(total)));
            for (const Operation& o : kOperations) {
                if (r < o.weight) {
                    if ((this->*o.plan)(&step)) op = &o;
                    break;
                }
                r -= o.weight;
            }
        }
        const int faultKind = static_cast<int>(Pick(4));  // 0, 1 clean; 2 kill; 3 power cut
        std::string fault = "clean";
        if (faultKind >= 2) {
            const fs::path snap = m_root / "snap";
            Snapshot(snap);
            int writes = 0;
            {
                hbtest::FaultModel count(0, false);
                RunTool(step.args);
                writes = count.Writes();
            }
            Restore(snap);
            if (writes > 0) {
                const int k = 1 + static_cast<int>(Pick(static_cast<size_t>(writes)));
                fault = std::string(faultKind == 2 ? "killed" : "power cut") + " at write " + std::to_string(k) +
                        " of " + std::to_string(writes);
                hbtest::FaultModel model(k, faultKind == 3);
                try {
                    RunTool(step.args);
                } catch (const hbtest::ProcessStopped&) {
                }
                if (faultKind == 3) model.DropUnflushed();
                ++(faultKind == 2 ? kills : cuts);
                // The model is gone at the end of this block: the disk works again.
            } else {
                RunTool(step.args);
            }
            // The next login's repair, or the user's "recover".
            RunTool({"recover", "--journal", m_journal, m_vault});
        } else {
            RunTool(step.args);
        }
        std::vector<ModelEntry> got;
        std::string why, whyAfter;
        if (!ReadVault(&got, &why)) return Fail(i, step, fault, why);
        if (Same(got, step.after, &whyAfter)) {
            m_model = step.after;
        } else if (Same(got, m_model, &why)) {
            // The state before: the command did not get far enough.
        } else if (!step.replaced.empty() && WithOlderCopies(got, step)) {
            // Run again, as the tool's message asks; then it must be done.
            ++halfway;
            RunTool(step.args);
            if (!ReadVault(&got, &why)) return Fail(i, step, fault + ", run again", why);
            if (!Same(got, step.after, &why)) return Fail(i, step, fault + ", run again", why);
            m_model = step.after;
        } else {
            return Fail(i, step, fault, "neither before nor after: " + whyAfter + "; against before: " + why);
        }
        if (m_verbose)
            std::cout << i << ": " << op->name << " (" << step.what << "), " << fault << ": " << m_model.size()
                      << " entries\n";
        else if ((i + 1) % 1000 == 0)
            std::cout << "hb-soak: " << i + 1 << " steps passed" << std::endl;
    }
    std::cout << "hb-soak: seed " << m_seed << ": " << ops << " steps passed (" << kills << " killed, " << cuts
              << " power cuts, " << halfway << " replaces finished by a second run), " << m_model.size()
              << " entries at the end\n";
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t seed = 1;
    long ops = 300;
    std::string dir = fileio::TempFolder() + "hb-soak-" + std::to_string(fileio::TickCount());
    bool verbose = false, ownDir = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seed" && i + 1 < argc) seed = std::stoull(argv[++i]);
        else if (a == "--ops" && i + 1 < argc) ops = std::stol(argv[++i]);
        else if (a == "--dir" && i + 1 < argc) dir = argv[++i], ownDir = false;
        else if (a == "--verbose") verbose = true;
        else {
            std::cerr << "usage: hb-soak [--seed N] [--ops N] [--dir FOLDER] [--verbose]\n";
            return 2;
        }
    }
    std::cout << "hb-soak: seed " << seed << ", " << ops << " steps in " << dir << std::endl;
    bool ok = Soak(seed, dir, verbose).Run(ops);
    if (ok && ownDir) fs::remove_all(dir);
    return ok ? 0 : 1;
}
