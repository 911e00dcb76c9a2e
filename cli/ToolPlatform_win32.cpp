// Windows side of the tool's platform services: UTF-8 names through the W
// functions, and the console streams (wide text to a console, UTF-8 bytes
// when redirected).
#include "cli/ToolPlatform.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <ostream>
#include <streambuf>

#include "document/VaultRecovery.h"
#include "vault/fileio/WideText.h"

namespace hbcli {

namespace {

NodeKind KindOfAttributes(DWORD a) {
    if (a & FILE_ATTRIBUTE_DIRECTORY) {
        // Junctions and directory links could lead back up the tree.
        return (a & FILE_ATTRIBUTE_REPARSE_POINT) ? NodeKind::FolderLink : NodeKind::Folder;
    }
    if (a & FILE_ATTRIBUTE_DEVICE) return NodeKind::Other;
    return NodeKind::File;
}

}  // namespace

bool ListFolder(const std::string& path, std::vector<FolderItem>* items) {
    items->clear();
    std::string pattern = path;
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(fileio::Widen(pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        if (std::wcscmp(data.cFileName, L".") == 0 || std::wcscmp(data.cFileName, L"..") == 0) continue;
        FolderItem item;
        item.name = fileio::Narrow(data.cFileName);
        item.kind = KindOfAttributes(data.dwFileAttributes);
        items->push_back(std::move(item));
    } while (FindNextFileW(find, &data));
    bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(find);
    return complete;
}

bool ClassifyPath(const std::string& path, NodeKind* kind) {
    DWORD a = GetFileAttributesW(fileio::Widen(path).c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return false;
    *kind = (a & FILE_ATTRIBUTE_DIRECTORY) ? NodeKind::Folder : KindOfAttributes(a);
    return true;
}

PathState InspectNoFollow(const std::string& path) {
    const DWORD a = GetFileAttributesW(fileio::Widen(path).c_str());
    if (a == INVALID_FILE_ATTRIBUTES) {
        const DWORD e = GetLastError();
        return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? PathState::Missing
                                                                       : PathState::Other;
    }
    if (a & FILE_ATTRIBUTE_REPARSE_POINT) return PathState::Link;
    if (a & FILE_ATTRIBUTE_DIRECTORY) return PathState::Folder;
    if (a & FILE_ATTRIBUTE_DEVICE) return PathState::Other;
    return PathState::File;
}

bool SameFile(const std::string& a, const std::string& b) {
    auto identity = [](const std::string& p, BY_HANDLE_FILE_INFORMATION* info) {
        HANDLE h = CreateFileW(fileio::Widen(p).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        bool ok = GetFileInformationByHandle(h, info) != 0;
        CloseHandle(h);
        return ok;
    };
    BY_HANDLE_FILE_INFORMATION ia, ib;
    if (!identity(a, &ia) || !identity(b, &ib)) return false;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

std::string FullPath(const std::string& path) {
    wchar_t buf[MAX_PATH * 4];
    DWORD n = GetFullPathNameW(fileio::Widen(path).c_str(), MAX_PATH * 4, buf, nullptr);
    if (n == 0 || n >= MAX_PATH * 4) return path;
    return fileio::Narrow(std::wstring(buf, n));
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

void SetStdoutBinary() {
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
}

// The temporary folder of a Windows user is that user's own already.
bool PrivateFolder(const std::string& base, std::string* folder, std::string*) {
    *folder = base;
    if (!folder->empty() && folder->back() != '\\' && folder->back() != '/') *folder += '\\';
    return true;
}

bool DefaultJournalPath(std::string* path, std::string*) {
    *path = AddJournalPath();
    return true;
}

namespace {

// UTF-8 text out to a standard handle. A console gets it as UTF-16 through
// WriteConsoleW (whole characters only, so a character split between two
// writes waits for its rest); a file or pipe gets the UTF-8 bytes, standard
// error with CR LF line ends as the C runtime's text mode wrote them.
class ConsoleBuffer : public std::streambuf {
public:
    ConsoleBuffer(DWORD which, bool crlf) : m_handle(GetStdHandle(which)), m_crlf(crlf) {
        DWORD mode;
        m_console = m_handle != INVALID_HANDLE_VALUE && m_handle && GetConsoleMode(m_handle, &mode);
    }
    ~ConsoleBuffer() override { Flush(true); }

protected:
    int_type overflow(int_type c) override {
        if (c == traits_type::eof()) return traits_type::not_eof(c);
        m_pending.push_back(static_cast<char>(c));
        if (m_pending.size() >= kFlushAt && !Flush(false)) return traits_type::eof();
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        m_pending.append(s, static_cast<size_t>(n));
        if (m_pending.size() >= kFlushAt && !Flush(false)) return 0;
        return n;
    }
    int sync() override { return Flush(false) ? 0 : -1; }

private:
    static constexpr size_t kFlushAt = 4096;

    // Length of the leading part of m_pending that ends on a whole character.
    size_t WholeCharacters() const {
        size_t end = m_pending.size();
        size_t back = 0;
        while (back < 4 && back < end && (static_cast<unsigned char>(m_pending[end - 1 - back]) & 0xC0) == 0x80)
            ++back;
        if (back < end) {
            const unsigned char lead = static_cast<unsigned char>(m_pending[end - 1 - back]);
            const size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            if (need > back + 1) return end - back - 1;  // its trail bytes are still to come
        }
        return end;
    }

    bool Flush(bool all) {
        if (m_pending.empty()) return true;
        const size_t n = all || !m_console ? m_pending.size() : WholeCharacters();
        bool ok = true;
        if (m_console) {
            const std::wstring wide = fileio::Widen(m_pending.substr(0, n));
            DWORD written = 0;
            for (size_t at = 0; ok && at < wide.size(); at += written)
                ok = WriteConsoleW(m_handle, wide.data() + at, static_cast<DWORD>(wide.size() - at), &written,
                                   nullptr) != 0 && written > 0;
        } else {
            std::string bytes;
            if (m_crlf) {
                for (size_t i = 0; i < n; ++i) {
                    if (m_pending[i] == '\n') bytes.push_back('\r');
                    bytes.push_back(m_pending[i]);
                }
            } else {
                bytes.assign(m_pending, 0, n);
            }
            DWORD written = 0;
            for (size_t at = 0; ok && at < bytes.size(); at += written)
                ok = WriteFile(m_handle, bytes.data() + at, static_cast<DWORD>(bytes.size() - at), &written,
                               nullptr) != 0 && written > 0;
        }
        m_pending.erase(0, n);
        return ok;
    }

    HANDLE m_handle;
    bool m_crlf;
    bool m_console = false;
    std::string m_pending;
};

}  // namespace

std::ostream& ToolStdout() {
    static ConsoleBuffer buffer(STD_OUTPUT_HANDLE, false);
    static std::ostream stream(&buffer);
    return stream;
}

std::ostream& ToolStderr() {
    static ConsoleBuffer buffer(STD_ERROR_HANDLE, true);
    static std::ostream stream(&buffer);
    static const bool unbuffered = (stream.setf(std::ios::unitbuf), true);  // as std::cerr
    (void)unbuffered;
    return stream;
}

}  // namespace hbcli
