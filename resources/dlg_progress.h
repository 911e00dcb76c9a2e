// Progress dialog of long vault operations.
#pragma once
#define IDD_PROGRESS 138
#define IDC_PROGRESS_LINE1 1000
#define IDC_PROGRESS_BAR 1001
#define IDC_PROGRESS_LINE2 1002
#define IDC_PROGRESS_HEADING 1015
