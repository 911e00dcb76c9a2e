// hollowbox-vault list: every entry with its sizes, method, time and attributes, as a table or as JSON.
#include <cstdio>

#include "cli/ToolCommon.h"
#include "vault/format/VaultTime.h"

namespace hbcli {

const char kListHelp[] =
    "Usage: hollowbox-vault list [--json] [--codepage N] VAULT\n"
    "\n"
    "Lists every entry with its size, packed size, method, modification time\n"
    "(UTC) and attributes (D folder, R read-only, H hidden, S system, A archive).\n"
    "--json writes one JSON array instead, an object per entry in directory\n"
    "order: name (decoded, '/' between folders, folders end in \"/\"), folder (true/false), size,\n"
    "packed, method (\"Deflate\" or \"Stored\"), modified (\"YYYY-MM-DDThh:mm:ssZ\"),\n"
    "attributes (the Windows attribute bits, a number) and crc32 (a number).\n"
    "A name stored without the UTF-8 flag is read in code page N (--codepage;\n"
    "default 1252 on Linux, the system's on Windows); bytes that do not\n"
    "convert show as U+FFFD.\n";

namespace {

// A JSON string: quotes, backslashes and control characters escaped; bytes
// that are not UTF-8 come out as \u00XX, one per byte.
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    char buf[8];
    for (size_t i = 0; i < n;) {
        unsigned char c = p[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        if (c < 0x20 || c == 0x7F) {
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
            ++i;
            continue;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        // A whole, shortest-form UTF-8 sequence passes as it is.
        size_t len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
        bool whole = len > 0 && i + len <= n;
        for (size_t k = 1; whole && k < len; ++k) whole = (p[i + k] & 0xC0) == 0x80;
        if (whole && len == 3) {
            whole = !(c == 0xE0 && p[i + 1] < 0xA0) && !(c == 0xED && p[i + 1] >= 0xA0);
        }
        if (whole && len == 4) whole = !(c == 0xF0 && p[i + 1] < 0x90) && !(c == 0xF4 && p[i + 1] >= 0x90);
        if (whole) {
            out.append(text, i, len);
            i += len;
        } else {
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
            ++i;
        }
    }
    return out + "\"";
}

std::string JsonTime(FileTime t) {
    vault::CalendarTime c = vault::CalendarFromFileTime(t);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", c.year, c.month, c.day, c.hour, c.minute,
                  c.second);
    return buf;
}

int ListJson(Session& s, const std::string& path, const OpenVault& v) {
    std::ostream& out = s.Out();
    out << "[";
    bool first = true;
    for (const Entry& e : v.entries) {
        if (!e.infoOk) {
            s.Error(path + ": entry " + std::to_string(e.index) + " " + Quoted(e.name) + ": " +
                    ReaderText(e.infoResult));
            continue;
        }
        out << (first ? "\n  " : ",\n  ");
        first = false;
        out << "{\"name\": " << JsonString(e.name) << ", \"folder\": " << (e.IsFolder() ? "true" : "false")
            << ", \"size\": " << static_cast<uint32_t>(e.info.uncompressedSize)
            << ", \"packed\": " << static_cast<uint32_t>(e.info.compressedSize)
            << ", \"method\": " << (e.centralOk ? JsonString(MethodName(e.method)) : "null")
            << ", \"modified\": \"" << JsonTime(e.info.modificationTime) << "\""
            << ", \"attributes\": " << e.info.attributes
            << ", \"crc32\": ";
        if (e.centralOk) out << e.crc;
        else out << "null";
        out << "}";
    }
    out << (first ? "]\n" : "\n]\n");
    return s.Failed() ? kExitFailure : kExitOk;
}

}  // namespace

int CommandList(Session& s, const Arguments& a) {
    if (a.positional.size() != 1) throw UsageError{"list needs exactly one VAULT"};
    const std::string& path = a.positional[0];
    OpenVault v;
    if (!LoadVault(s, path, &v, true)) return kExitFailure;
    if (a.flags.count("--json")) return ListJson(s, path, v);
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
