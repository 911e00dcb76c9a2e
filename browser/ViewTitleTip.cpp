// The folder view's side of the title tips: which cell of the list lies
// under the mouse, and asking the tip to show that cell's text.
#include <algorithm>

#include "browser/RovErarodView.h"
#include "framework/Dpi.h"

bool CRovErarodView::FindTitleTipCell(POINT pt, TitleTipCell* cell) const {
  if ((GetStyle() & LVS_TYPEMASK) != LVS_REPORT) return false;
  int count = GetItemCount();
  int top = static_cast<int>(SendMessage(LVM_GETTOPINDEX));
  int last = std::min(top + static_cast<int>(SendMessage(LVM_GETCOUNTPERPAGE)), count - 1);
  RECT client = GetClientRect();
  int columns = GetColumnCount();
  for (int row = std::max(top, 0); row <= last; ++row) {
    RECT bounds{LVIR_BOUNDS, 0, 0, 0};
    if (!SendMessage(LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&bounds))) continue;
    if (!::PtInRect(&bounds, pt)) continue;
    int left = bounds.left;
    for (int column = 0; column < columns; ++column) {
      int width = static_cast<int>(SendMessage(LVM_GETCOLUMNWIDTH, column));
      if (pt.x < left || pt.x > left + width) {
        left += width;
        continue;
      }
      if (client.right < pt.x) return false;
      cell->row = row;
      cell->column = column;
      cell->rect = RECT{left, bounds.top, std::min<LONG>(left + width, client.right), bounds.bottom};
      const UINT dpi = HbGetWindowDpi(m_hWnd);
      cell->offset = HbScale(6, dpi);
      if (column == 0) {
        RECT label{LVIR_LABEL, 0, 0, 0};
        if (SendMessage(LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&label)))
          cell->offset = label.left - left + HbScale(3, dpi);
      }
      cell->rect.top -= 1;
      return true;
    }
    return false;
  }
  return false;
}

void CRovErarodView::OnListMouseMove(WPARAM keys, POINT pt) {
  // Not while a button or a modifier key is held (a drag or a selection).
  if (keys != 0 || !m_titleTip.m_hWnd) return;
  TitleTipCell cell;
  if (!FindTitleTipCell(pt, &cell)) return;
  m_titleTip.Show(cell.rect, GetRowText(cell.row, cell.column), cell.offset - 1);
}
