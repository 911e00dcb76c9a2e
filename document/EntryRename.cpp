// Which stored names a rename takes, what they become, and the checks
// of a new name.
#include "document/EntryRename.h"

#include <algorithm>
#include <set>

#include "vault/format/VaultRecords.h"

namespace renaming {

namespace {

std::string Upper(const std::string& s) { return vault::UpperCaseUtf8(s); }

// '/' separators and no trailing one.
std::string Plain(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    while (!name.empty() && name.back() == '/') name.pop_back();
    return name;
}

}  // namespace

StoredName StoredNameOf(const std::string& utf8) { return vault::EncodeEntryName(utf8); }

bool IsUsableLeafName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    if (name.back() == ' ' || name.back() == '.') return false;
    if (!vault::IsValidUtf8(name)) return false;
    for (const char ch : name) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x20) return false;
        switch (c) {
            case '\\': case '/': case ':': case '*': case '?':
            case '"': case '<': case '>': case '|':
                return false;
            default: break;
        }
    }
    return true;
}

Check PlanRename(const std::vector<std::string>& stored, const std::string& from, const std::string& newLeaf,
                 std::vector<std::pair<std::string, std::string>>* renames) {
    renames->clear();
    const std::string want = Upper(Plain(from));
    if (want.empty()) return Check::NotFound;
    std::vector<bool> taken(stored.size(), false);
    bool any = false;
    for (size_t i = 0; i < stored.size(); ++i) {
        const std::string name = Upper(stored[i]);
        taken[i] = Upper(Plain(stored[i])) == want || name.compare(0, want.size() + 1, want + "/") == 0;
        any = any || taken[i];
    }
    if (!any) return Check::NotFound;
    if (!IsUsableLeafName(newLeaf)) return Check::Unusable;

    // The folder part stays as the first match spells it.
    const size_t cut = want.rfind('/');
    std::string first;
    for (size_t i = 0; i < stored.size() && first.empty(); ++i)
        if (taken[i]) first = stored[i];
    const std::string prefix = (cut == std::string::npos ? std::string() : first.substr(0, cut + 1)) + newLeaf;
    const std::string base = Upper(prefix);
    std::set<std::string> fresh;
    std::vector<std::pair<std::string, std::string>> out;
    for (size_t i = 0; i < stored.size(); ++i) {
        if (!taken[i]) {
            // Another entry of the folder with the new name, as a file, a
            // folder or a folder implied by what lies below it.
            const std::string name = Upper(stored[i]);
            if (Upper(Plain(stored[i])) == base || name.compare(0, base.size() + 1, base + "/") == 0)
                return Check::Taken;
            continue;
        }
        const std::string renamed = prefix + stored[i].substr(want.size());
        if (StoredNameOf(renamed).bytes.size() > vault::kMaxNameLength) return Check::Unusable;
        // Two entries that differ only in case would end up with one name.
        if (!fresh.insert(renamed).second) return Check::Taken;
        if (renamed != stored[i]) out.emplace_back(stored[i], renamed);
    }
    *renames = std::move(out);
    return Check::Ok;
}

}  // namespace renaming
