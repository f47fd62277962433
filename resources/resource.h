#pragma once

// Dialog, menus and controls of the main window.
#define IDD_MAIN 102
#define IDM_LIST_MENU 108
#define IDM_TREE_MENU 110

#define IDC_EXIT 1000
#define IDC_TREE 1004
#define IDC_LIST 1005
#define IDC_FILTER 1006
#define IDC_SPLITTER 1007
#define IDC_AUTO_UPDATE 1008
#define IDC_LINK 1009

#define ID_LIST_COPY 40001
#define ID_TREE_COPY 40002
#define ID_LIST_REFRESH 40003
#define ID_TREE_REFRESH 40004

// Icons and the link cursor.
#define IDI_PROGRAM 101
#define IDI_DEVICE 102
#define IDI_PROBLEM 103
#define IDI_SORT_DOWN 104
#define IDI_SORT_UP 105
#define IDI_FILTER 106
#define IDI_PROPERTY 107
#define IDI_LIST 108
#define IDI_COPY 109
#define IDI_TREE 110
#define IDI_REFRESH 111
#define IDC_HAND_CURSOR 112

// String table.
#define IDS_COPY 1
#define IDS_REFRESH 2
// What screen readers call the tree, the list and the filter box.
#define IDS_TREE_NAME 3
#define IDS_LIST_NAME 4
#define IDS_FILTER_NAME 5

#define QUILLMERE_VERSION_MAJOR 1
#define QUILLMERE_VERSION_MINOR 0
#define QUILLMERE_VERSION_TEXT "1.00"
