// Resource and control ids of the station window, shared by the resource script and the code.
#pragma once

#define IDD_ABOUTBOX 100
#define IDD_VORNEX_DIALOG 102
#define IDR_MAINFRAME 128
#define IDD_PASSWORD 129
#define IDS_ABOUTBOX 101
#define IDS_PRODUCT 102

#define IDC_START 1001
#define IDC_LABEL_A 1002
#define IDC_PORT_A 1010
#define IDC_PROGRESS_A 1018
#define IDC_STATUS_A 1026
#define IDC_INFO_A 1034
#define IDC_LOG 1042
#define IDC_CLEAR 1043
#define IDC_BROWSE 1044
#define IDC_PATH 1045
#define IDC_PASSWORD_OK 1046
#define IDC_PASSWORD_CANCEL 1047
#define IDC_PASSWORD_EDIT 1048
#define IDC_PASSWORD_PROMPT 1049
#define IDC_PLACEHOLDER 1051
#define IDC_ABOUT_TEXT 1052

// The About item of the system menu.
#define IDM_ABOUTBOX 0x0010
