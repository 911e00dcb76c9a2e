// What the folder view and its data objects need of the window around them,
// without knowing its class: status texts, a toolbar refresh, the login
// state, and the route by which the shell's requests reach the view.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

// The frame side of the folder view.  The view is a child of the host's
// window, which owns the view's dialogs and message boxes.
class CViewHost {
public:
  // Text of status bar pane `pane` (1 free space, 2 clock).
  virtual void SetStatusText(int pane, const std::string& text) = 0;
  // Shows and hides the toolbar buttons: the host asks the view for the
  // state of each button's command through the command-update route.
  virtual void RefreshToolbar() = 0;
  // The login the view binds to: the disk ("E:", kept after a logout) and
  // the password typed at the last login.
  virtual std::string& LoginDisk() = 0;
  virtual std::string& LoginPassword() = 0;

protected:
  ~CViewHost() = default;
};

// Requests of the shell data object of Copy, Cut and drag.  The object
// holds the window that owns it; that window passes them to the view
// unchanged (browser/TransfersOut.cpp says what the view does with them).
class CTransferRoute {
public:
  virtual HRESULT ExtractToStream(const std::string& vaultPath, const std::string& path,
                                  IStream* target, IStream** created, bool* complete,
                                  std::function<void()> onComplete = nullptr) = 0;
  virtual void OnTransferComplete(const std::string& vaultPath, DWORD effect,
                                  const std::vector<std::string>& cutFolders,
                                  const std::set<std::string>& moved) = 0;

protected:
  ~CTransferRoute() = default;
};
