// The program's one way to show a message box.
//
// Test hook: when the environment variable HB_MSGBOX_LOG names a file, no box
// is shown.  Instead one line "caption<TAB>text<TAB>style" is appended to that
// file (style as 0x%08X; a line break in caption or text is written as \n)
// and the answer is HB_MSGBOX_ANSWER when set (a number such as 6 for IDYES,
// or a list such as "7,6": each box takes the first number and leaves the
// rest, the last stays), else the box's default button.
#pragma once

#include <windows.h>

#include <string>

int HbMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT style);

// The button a box of this style would choose on Enter.
int DefaultMessageBoxAnswer(UINT style);
