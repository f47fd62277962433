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
// Snapshots: items of the window's system menu (their low four bits are
// the system's), also sent as commands by Ctrl+S and Ctrl+O.
#define ID_SAVE_SNAPSHOT 0x0110
#define ID_OPEN_SNAPSHOT 0x0120
#define ID_THIS_COMPUTER 0x0130
// Comparisons: system menu items too, sent by Ctrl+D and Ctrl+Shift+D.
#define ID_COMPARE 0x0140
#define ID_END_COMPARISON 0x0150
#define ID_CHANGED_ONLY 0x0160

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
// Marks of a comparison: over a device's icon in the tree, and a property
// row's icon with the mark in the list.
#define IDI_MARK_ADDED 113
#define IDI_MARK_REMOVED 114
#define IDI_MARK_CHANGED 115
#define IDI_ROW_ADDED 116
#define IDI_ROW_REMOVED 117
#define IDI_ROW_CHANGED 118

// String table.
#define IDS_COPY 1
#define IDS_REFRESH 2
// What screen readers call the tree, the list and the filter box.
#define IDS_TREE_NAME 3
#define IDS_LIST_NAME 4
#define IDS_FILTER_NAME 5
// Snapshots: menu items, dialogs, caption and messages.
#define IDS_SAVE_SNAPSHOT 20
#define IDS_OPEN_SNAPSHOT 21
#define IDS_THIS_COMPUTER 22
#define IDS_SNAPSHOT_FILTER 23
#define IDS_SNAPSHOT_CAPTION 24
#define IDS_SNAPSHOT_NOT_OPENED 25
#define IDS_SNAPSHOT_NOT_SAVED 26
#define IDS_SNAPSHOT_NOTHING_TO_SAVE 27
#define IDS_SNAPSHOT_NO_HIVE 28
#define IDS_SNAPSHOT_SAVE_TITLE 29
#define IDS_SNAPSHOT_OPEN_TITLE 30
// Comparisons: menu items, dialog title, caption, column and message.
#define IDS_COMPARE 31
#define IDS_END_COMPARISON 32
#define IDS_CHANGED_ONLY 33
#define IDS_COMPARE_TITLE 34
#define IDS_COMPARE_CAPTION 35
#define IDS_COMPARE_COUNTS 36
#define IDS_CHANGED_ONLY_CAPTION 37
#define IDS_BEFORE_COLUMN 38
#define IDS_NOTHING_TO_COMPARE 39
// Why a file is no snapshot, in the order of SnapshotProblem's kinds.
#define IDS_PROBLEM_FIRST 40

#define QUILLMERE_VERSION_MAJOR 1
#define QUILLMERE_VERSION_MINOR 0
#define QUILLMERE_VERSION_TEXT "1.00"
