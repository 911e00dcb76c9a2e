// hollowbox-vault list: every entry with its sizes, method, time and attributes.
#include <cstdio>

#include "cli/ToolCommon.h"

namespace hbcli {

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

}  // namespace hbcli
