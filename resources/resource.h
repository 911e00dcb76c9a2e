// Resource ids shared by the program's code and its .rc files.  The ids of
// each dialog's controls are in that dialog's own header.
#pragma once

// Frame: menu, accelerators, document string, icon.
#define IDR_MAINFRAME 128
#define IDR_CONTEXT_MENU 136
#define IDR_TOOLBAR 133
#define IDB_TOOLBAR_HOT 132
#define IDB_TOOLBAR 135
#define IDB_SORT_ARROWS 144
#define IDI_FOLDER 130
#define IDI_REPLACE_QUESTION 140
#define IDR_UDLL 142
#define RT_TOOLBAR_DATA 241

// Commands.
#define ID_UP_FOLDER 32771
#define ID_NEW_FOLDER 32772
#define ID_DELETE_FILE 32773
#define ID_CHANGE_PASSWORD 32777
#define ID_LOGIN 32778
#define ID_RENAME 32780
#define ID_SELECT_ALL 33333
#define ID_EDIT_COPY 57634
#define ID_EDIT_CUT 57635
#define ID_EDIT_PASTE 57637
#define ID_APP_EXIT 57665

// Status bar panes.
#define ID_INDICATOR_FREE 333
#define ID_INDICATOR_TIME 334
#define ID_INDICATOR_CAPS 59137
#define ID_INDICATOR_NUM 59138
#define ID_INDICATOR_SCRL 59139
#define AFX_IDS_IDLEMESSAGE 57345

// Strings.
#define IDS_DELETE_SELECTION 3
#define IDS_COL_NAME 4
#define IDS_COL_SIZE 5
#define IDS_COL_PACKED 6
#define IDS_COL_TYPE 7
#define IDS_COL_DATE 8
#define IDS_DELETE_FILE 9
#define IDS_FOLDER 10
#define IDS_AM 11
#define IDS_PM 12
#define IDS_ERROR_CAPTION 17
#define IDS_FOLDER_EXISTS 19
#define IDS_INFORMATION 20
#define IDS_COPY_FILE 22
#define IDS_COMPRESS_FILE 23
#define IDS_ADD_FILE 24
#define IDS_DELETE_TITLE 25
#define IDS_DELETING_FILE 26
#define IDS_COMPRESSING 27
#define IDS_PASSWORD_BLANK 28
#define IDS_PASSWORD_MISMATCH 29
#define IDS_DISK_FULL 30
#define IDS_WRONG_PASSWORD 31
#define IDS_VERSION 32
#define IDS_LOGIN 33
#define IDS_LOGOUT 34
#define IDS_FREE_SPACE 35
#define IDS_CANNOT_OPEN 36
#define IDS_BYTES 37
#define IDS_PASSWORD_NOT_CHANGED 45
#define IDS_FOLDER_NAME_INVALID 38
#define IDS_RENAME_TAKEN 70
#define IDS_RENAME_FAILED 71
// A file opened with its program was changed: putting it back.
#define IDS_COPY_CHANGED 72
#define IDS_COPY_ENTRY_GONE 73
#define IDS_COPY_KEEP 74
#define IDS_COPY_PUT_BACK_FAILED 75
// Adding: a limit of the vault reached, and the program's own files left out.
#define IDS_LIMIT_NAME 61
#define IDS_LIMIT_FILE 62
#define IDS_LIMIT_VAULT 63
#define IDS_OWN_FILES_SKIPPED 64
#define IDS_FILES_SKIPPED 65
#define IDS_SKIP_NAME_LENGTH 66
#define IDS_SKIP_FILE_SIZE 67
#define IDS_SKIP_NOT_OPENED 68
#define IDS_SKIP_NOT_FOUND 69
#define IDS_SECURITY_AREA 353
