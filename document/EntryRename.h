// Renaming entries by name: which new names can be given, the stored bytes
// of a new name, and which stored names a rename takes and what they
// become. Shared by the model (the view's label edit) and the vault tool.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "vault/format/NameCodec.h"

namespace renaming {

using vault::StoredName;

// The stored form of a name given in UTF-8. The one place a renamed
// entry's name bytes and flag come from.
StoredName StoredNameOf(const std::string& utf8);

// A leaf name the user may give: not empty, not "." or "..", none of the
// characters Windows forbids in a name (\ / : * ? " < > | and the control
// characters), valid UTF-8, not ending in a blank or '.' (Windows would drop them).
bool IsUsableLeafName(const std::string& name);

enum class Check {
    Ok,        // *renames holds what goes where (empty: the name is already that)
    NotFound,  // `from` names no entry
    Unusable,  // the new name is not a usable leaf, or a new stored name is too long
    Taken,     // another entry of the folder has the new name (any case)
};

// Works out a rename over the stored names of a vault. `from` names an entry
// as stored ("dir/a.txt", "dir/") or with backslashes, in any case; a
// folder (with or without its trailing separator) takes every entry below
// it. The entries keep their folder: the last part of `from` becomes
// newLeaf. *renames receives (old stored name, new name in UTF-8) for every
// entry whose name changes; a change of case only is a rename.
Check PlanRename(const std::vector<std::string>& stored, const std::string& from, const std::string& newLeaf,
                 std::vector<std::pair<std::string, std::string>>* renames);

}  // namespace renaming
