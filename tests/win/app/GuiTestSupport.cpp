#include "GuiTestSupport.h"

#include <fstream>
#include <sstream>

#include "vault/fileio/WideText.h"

namespace hbtest {

bool WaitFor(const std::function<bool()>& cond, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    if (cond()) return true;
    if (GetTickCount() - start > timeoutMs) return cond();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(20);
  }
}

namespace {
struct FindData {
  const char* cls;
  const char* title;
  HWND found;
};
BOOL CALLBACK FindProc(HWND hwnd, LPARAM lp) {
  auto* d = reinterpret_cast<FindData*>(lp);
  char cls[128] = {0};
  wchar_t title[256] = {0};
  GetClassNameA(hwnd, cls, sizeof(cls));
  // Reading the title of another thread's window sends it a message: only
  // when the title is asked for, so a caller on another thread cannot wait
  // on a UI thread that is itself waiting for that caller.
  if (d->title) GetWindowTextW(hwnd, title, 256);
  if ((!d->cls || lstrcmpA(cls, d->cls) == 0) &&
      (!d->title || fileio::Narrow(title) == d->title)) {
    d->found = hwnd;
    return FALSE;
  }
  return TRUE;
}
}  // namespace

HWND FindThreadWindow(DWORD threadId, const char* className, const char* title) {
  FindData d{className, title, nullptr};
  EnumThreadWindows(threadId, FindProc, reinterpret_cast<LPARAM>(&d));
  return d.found;
}

std::string WindowText(HWND hwnd) {
  wchar_t buf[1024] = {0};
  SendMessageW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf));
  return fileio::Narrow(buf);
}

std::vector<LoggedBox> ReadBoxLog(const std::string& path) {
  std::vector<LoggedBox> boxes;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t t1 = line.find('\t'), t2 = line.rfind('\t');
    if (t1 == std::string::npos || t2 == t1) continue;
    LoggedBox b;
    b.caption = line.substr(0, t1);
    b.text = line.substr(t1 + 1, t2 - t1 - 1);
    b.style = static_cast<unsigned>(std::stoul(line.substr(t2 + 1), nullptr, 16));
    boxes.push_back(b);
  }
  return boxes;
}

void SetEnv(const char* name, const std::string& value) {
  SetEnvironmentVariableA(name, value.empty() ? nullptr : value.c_str());
}

EnvGuard::EnvGuard(std::vector<std::string> names) {
  for (const std::string& n : names) {
    char buf[4096];
    DWORD len = GetEnvironmentVariableA(n.c_str(), buf, sizeof(buf));
    bool had = len > 0 && len < sizeof(buf);
    m_had.push_back(had);
    m_saved.emplace_back(n, had ? std::string(buf, len) : std::string());
  }
}

EnvGuard::~EnvGuard() {
  for (size_t i = 0; i < m_saved.size(); ++i)
    SetEnvironmentVariableA(m_saved[i].first.c_str(), m_had[i] ? m_saved[i].second.c_str() : nullptr);
}

std::string TempDir() {
  char buf[MAX_PATH] = {0};
  GetTempPathA(MAX_PATH, buf);
  return buf;
}

bool FileExists(const std::string& path) {
  DWORD a = GetFileAttributesW(fileio::Widen(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirExists(const std::string& path) {
  DWORD a = GetFileAttributesW(fileio::Widen(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace hbtest
