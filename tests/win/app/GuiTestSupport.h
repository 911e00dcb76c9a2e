// Helpers of the GUI tests: waiting for conditions, finding windows of a
// thread or process, the message-box log.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace hbtest {

// Polls cond every 20 ms until it is true or timeoutMs passed; processes
// this thread's messages meanwhile.  Returns the last result of cond.
bool WaitFor(const std::function<bool()>& cond, DWORD timeoutMs = 60000);

// A visible-or-not top-level window of the given thread with that class
// and title (UTF-8; null: any), or null.
HWND FindThreadWindow(DWORD threadId, const char* className, const char* title);

// Text of a control in UTF-8, read with WM_GETTEXT (works across processes).
std::string WindowText(HWND hwnd);

// The message-box log named by HB_MSGBOX_LOG: one entry per box.
struct LoggedBox {
  std::string caption, text;
  unsigned style;
};
std::vector<LoggedBox> ReadBoxLog(const std::string& path);

// Sets an environment variable for this process (and its children); an
// empty value removes it.
void SetEnv(const char* name, const std::string& value);

// Restores environment variables when it goes out of scope.
class EnvGuard {
public:
  explicit EnvGuard(std::vector<std::string> names);
  ~EnvGuard();

private:
  std::vector<std::pair<std::string, std::string>> m_saved;
  std::vector<bool> m_had;
};

std::string TempDir();  // with trailing "\"
// Paths in UTF-8.
bool FileExists(const std::string& path);
bool DirExists(const std::string& path);

}  // namespace hbtest
