// The application object: relaunch from the temporary folder, single
// instance, deployment of the device library, first login, and clean-up.
#pragma once

#include <memory>
#include <string>

#include "framework/Handles.h"
#include "framework/WinApp.h"

class CMainFrame;
class CRovErarodDoc;

class CRovErarodApp : public CWinApp {
public:
  CRovErarodApp();
  ~CRovErarodApp() override;

  BOOL InitInstance() override;
  int ExitInstance() override;
  HFONT GetDialogFont() const override { return m_fontDialog.Get(); }

  // Writes resource (id, type) of the program's own file to path; 1 when the
  // file was written whole, 0 otherwise (a partly written file is deleted).
  static int ExtractResourceToFile(const char* path, UINT id, const char* type);
  // Starts a hidden script that deletes the running executable (and its
  // folder when empty) once this process is gone.
  void WriteSelfDeleteScript();
  // The script's text for the executable exe, given the temporary folder as
  // the system names it: it removes exe's folder too, but never when that
  // is the temporary folder itself.
  static std::string SelfDeleteScriptText(const std::string& exe, const std::string& tempFolder,
                                          const std::string& script);
  // True when both name the same folder: compared as long paths (an 8.3
  // name and its long name are one folder), without regard to case or a
  // trailing backslash.
  static bool IsSameFolder(const std::string& a, const std::string& b);
  // *refuse = 1 when the logged-in disk reports the unsupported security
  // area state (bit 0x2), else 0.
  void CheckSecurityArea(int* refuse);
  static bool RegisterFrameClass();
  // Every message of the program goes through here (see framework/MessageBox.h
  // for the test hook).
  static int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption,
                            UINT style);

  // Copies the executable into the temporary folder and starts the copy with
  // the command line "FromAP".  Returns false when the copy could not be
  // started.
  bool RelaunchFromTemp();

  std::string m_strDisk;
  std::string m_strDeviceLibraryPath;
  int m_bRelaunched = 0;
  CFont m_fontDialog;
  std::string m_strPassword;

  CMainFrame* GetMainFrame() const { return m_pFrame.get(); }

  static const char kRelaunchMarker[];
  static const char kFrameClass[];

  // Document, frame and view (steps 12 to 14 of the start-up).
  bool CreateMainWindow();

private:

  std::unique_ptr<CRovErarodDoc> m_pDoc;
  std::unique_ptr<CMainFrame> m_pFrame;
};

CRovErarodApp& GetApp();

// Index just past the last "\" of a path in the ANSI code page (a trail byte
// of a double-byte character is not taken for a "\"); 0 when there is none.
size_t PathNameOffset(const std::string& path);
