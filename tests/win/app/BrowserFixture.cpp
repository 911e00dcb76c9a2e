// Helpers of the folder-view tests: the vault tool, generated files, and
// what the vault reader finds in a vault.
#include "BrowserFixture.h"

#include "vault/VaultApi.h"
#include "vault/fileio/WideText.h"

namespace hbtest {

std::string WinPath(const char* unixPath) {
  std::string p = std::string("Z:") + unixPath;
  for (char& c : p)
    if (c == '/') c = '\\';
  return p;
}

int RunTool(const std::string& args, std::string* output) {
  // A file of its own for each run: a console host that outlives the tool
  // for a moment may still hold the previous run's file open.
  static int s_run = 0;
  std::string outFile = TempDir() + "hb_browser_tool_" + std::to_string(GetCurrentProcessId()) +
                        "_" + std::to_string(++s_run) + ".txt";
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  HANDLE out = CreateFileA(outFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = out;
  si.hStdError = out;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi{};
  std::string cmd = "\"" + WinPath(HB_VAULT_TOOL) + "\" " + args;
  DWORD code = static_cast<DWORD>(-1);
  if (CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                     &si, &pi)) {
    if (WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0)
      GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(out);
  if (output) {
    std::ifstream in(outFile, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    *output = ss.str();
  }
  DeleteFileA(outFile.c_str());
  return static_cast<int>(code);
}

FILETIME Utc(WORD y, WORD mo, WORD d, WORD h, WORD mi) {
  SYSTEMTIME st{};
  st.wYear = y; st.wMonth = mo; st.wDay = d; st.wHour = h; st.wMinute = mi;
  FILETIME ft{};
  SystemTimeToFileTime(&st, &ft);
  return ft;
}

std::string FileBytes(size_t bytes) {
  std::string data(bytes, 'x');
  for (size_t i = 0; i < bytes; ++i) data[i] = static_cast<char>('a' + (i * 7919) % 26);
  return data;
}

void WriteFileOf(const std::string& path, size_t bytes, FILETIME modified) {
  HANDLE f = CreateFileW(fileio::Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, f) << path;
  std::string data = FileBytes(bytes);
  DWORD written = 0;
  if (bytes) WriteFile(f, data.data(), static_cast<DWORD>(bytes), &written, nullptr);
  SetFileTime(f, nullptr, nullptr, &modified);
  CloseHandle(f);
}

void RemoveTree(const std::string& dir) {
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(fileio::Widen(dir + "\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::string name = fileio::Narrow(fd.cFileName);
      if (name == "." || name == "..") continue;
      std::string p = dir + "\\" + name;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(p);
      else
        DeleteFileW(fileio::Widen(p).c_str());
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  RemoveDirectoryW(fileio::Widen(dir).c_str());
}

std::map<std::string, std::string> StoredContents(const char* vault) {
  std::map<std::string, std::string> out;
  VaultHandle* h = OpenVaultReader(vault, 0, kVaultSourcePath, nullptr);
  if (!h) return out;
  ZipEntryInfo info;
  int count = ReadEntryInfo(h, -1, &info) == 0 ? info.index : 0;
  for (int i = 0; i < count; ++i) {
    ZipEntryInfo e;
    if (ReadEntryInfo(h, i, &e) != 0) continue;
    std::string data(static_cast<size_t>(e.uncompressedSize), '\0');
    if (e.uncompressedSize > 0) {
      // The first call fills the buffer ("more data"); the next one finds
      // the end and checks the CRC.
      char extra = 0;
      uint32_t rc = ExtractEntry(h, i, &data[0], static_cast<uint32_t>(data.size()),
                                 kExtractToMemory, nullptr);
      if (rc == kVaultMoreData) rc = ExtractEntry(h, i, &extra, 1, kExtractToMemory, nullptr);
      if (rc != kVaultOk) data = "<unpack failed>";
    }
    out[e.name] = data;
  }
  CloseVaultHandle(h);
  return out;
}

}  // namespace hbtest
