#pragma once

// The toolkit test dialog (toolkit.rci): the main window's furnishings on a
// smaller scale, with the main window's control numbers.
#define IDD_TOOLKIT 210
#define IDI_TOOLKIT_FILTER 106
#define IDC_TOOLKIT_HAND 112

#define IDC_TK_EXIT 1000
#define IDC_TK_TREE 1004
#define IDC_TK_LIST 1005
#define IDC_TK_FILTER 1006
#define IDC_TK_DIVIDER 1007
#define IDC_TK_CHECK 1008
#define IDC_TK_LINK 1009
