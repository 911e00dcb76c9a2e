#include "framework/MessageBox.h"

#include <cstdlib>
#include <cstdio>

#include "framework/Handles.h"
#include "vault/fileio/WideText.h"

int DefaultMessageBoxAnswer(UINT style) {
  static const int kButtons[][3] = {
      {IDOK, 0, 0},                   // MB_OK
      {IDOK, IDCANCEL, 0},            // MB_OKCANCEL
      {IDABORT, IDRETRY, IDIGNORE},   // MB_ABORTRETRYIGNORE
      {IDYES, IDNO, IDCANCEL},        // MB_YESNOCANCEL
      {IDYES, IDNO, 0},               // MB_YESNO
      {IDRETRY, IDCANCEL, 0},         // MB_RETRYCANCEL
      {IDCANCEL, IDTRYAGAIN, IDCONTINUE},  // MB_CANCELTRYCONTINUE
  };
  UINT type = style & MB_TYPEMASK;
  if (type >= sizeof(kButtons) / sizeof(kButtons[0])) type = 0;
  UINT index = (style & MB_DEFMASK) >> 8;
  if (index > 2 || kButtons[type][index] == 0) index = 0;
  return kButtons[type][index];
}

namespace {

std::string OneLine(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\t')
      out += "\\t";
    else
      out += c;
  }
  return out;
}

}  // namespace

int HbMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT style) {
  wchar_t logPath[MAX_PATH];
  DWORD n = ::GetEnvironmentVariableW(L"HB_MSGBOX_LOG", logPath, MAX_PATH);
  if (n == 0 || n >= MAX_PATH)
    return ::MessageBoxW(owner, fileio::Widen(text).c_str(), fileio::Widen(caption).c_str(), style);

  char line[64];
  std::snprintf(line, sizeof(line), "\t0x%08X\r\n", style);
  std::string record = OneLine(caption) + "\t" + OneLine(text) + line;
  // The log holds the texts in UTF-8.
  CFileHandle file(::CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.IsValid()) {
    DWORD written = 0;
    ::WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
  }
  wchar_t answer[64];
  n = ::GetEnvironmentVariableW(L"HB_MSGBOX_ANSWER", answer, 64);
  if (n == 0 || n >= 64) return DefaultMessageBoxAnswer(style);
  // "7,6": this box takes the first answer, the next box the rest; the last
  // one stays for every box after it.
  wchar_t* rest = nullptr;
  const int first = static_cast<int>(std::wcstol(answer, &rest, 10));
  if (rest && *rest == L',') ::SetEnvironmentVariableW(L"HB_MSGBOX_ANSWER", rest + 1);
  return first;
}
