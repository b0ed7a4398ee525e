#pragma once
// Resource and control ids, shared by resources/main.rc and the window code.

#define IDD_MAIN 101
#define IDI_MAIN 102

// The list's row pictures, in the order of an entry's state.
#define IDI_ENTRY_STORED 108
#define IDI_ENTRY_ADDED 109
#define IDI_ENTRY_DELETED 110

#define IDC_ENTRY_LIST 1001
#define IDC_NEW 1002
#define IDC_OPEN 1003
#define IDC_CLOSE 1004
#define IDC_EXIT 1005
#define IDC_EXTRACT_SELECTED 1006
#define IDC_EXTRACT_ALL 1007
#define IDC_ADD_DIRECTORY 1008
#define IDC_ADD_ARCHIVE 1009
#define IDC_DELETE_SELECTED 1010
#define IDC_RECOMPRESS 1011
#define IDC_LEVEL 1012
#define IDC_FILTER 1013
#define IDC_KOREAN_NAMES 1014
#define IDC_STATUS 1015
#define IDC_PROGRESS 1016
#define IDC_KEEP_DIRS 1017

// Commands of the entry list's context menu (and its keys).
#define IDM_PREVIEW 1101
#define IDM_EXTRACT 1102
#define IDM_DELETE 1103
#define IDM_RENAME 1104
#define IDM_COPY_NAME 1105
