#pragma once

// Resource ids of the wrapper tests (wrappers.rc); the numbers are the ones
// the main window uses for the same roles. Icon 101 (IDI_TEST) is the
// default device icon.
#define IDI_ARROW_DOWN 104
#define IDI_ARROW_UP 105
#define IDI_LIST_ITEM 107
#define IDI_COPY 109
#define IDI_REFRESH 111

#define IDM_LIST_MENU 108
#define IDM_TREE_MENU 110
#define IDM_NESTED_MENU 112
#define IDM_NO_POPUP 113

#define ID_LIST_COPY 40001
#define ID_TREE_COPY 40002
#define ID_LIST_REFRESH 40003
#define ID_TREE_REFRESH 40004
#define ID_NESTED_FIRST 40010
#define ID_NESTED_INNER 40011
#define ID_NESTED_RADIO 40012
