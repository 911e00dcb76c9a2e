// The folder view: a report list of the current vault folder (Name, Size,
// Packed Size, Type, Date).  It owns the login state that the vault binds to
// and handles the Login/Logout command.
#pragma once

#include <string>

#include "device/DeviceLibrary.h"
#include "framework/Controls.h"
#include "framework/Handles.h"

class CRovErarodDoc;

class CRovErarodView : public CListCtrl {
public:
  explicit CRovErarodView(CRovErarodDoc* doc);
  ~CRovErarodView() override;

  bool CreateView(HWND frame);
  // Device handle, columns, images, clock; logged in when a disk is.
  void OnInitialUpdate();

  bool IsLoggedIn() const { return m_bLoggedIn; }
  // Shows the Disk Login dialog and binds to the chosen disk.
  void Login();
  // Forgets the password and empties the list; the disk stays remembered.
  void Logout();

  // "%Y/%m/%d %p %I:%M" with the localised AM/PM words.
  static std::string FormatClock(const SYSTEMTIME& local);

  static const UINT kClockTimer = 1;

protected:
  LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
  void PostNcDestroy() override { delete this; }

private:
  void ShowClock();
  void SetStatusPane(int pane, const std::string& text);

  CRovErarodDoc* m_pDoc;
  CDeviceLibrary m_device;
  UDLL_HANDLE m_hDevice = 0;
  bool m_bLoggedIn = false;
  int m_nSortColumn = 0;
  CImageList m_imagesSmall;
};
