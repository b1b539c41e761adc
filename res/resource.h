// Resource and control identifiers of the program.
#pragma once

// Dialog templates, icon, menu, strings
#define IDD_ABOUTBOX        100
#define IDS_ABOUTBOX        101
#define IDD_MAIN            102
#define IDR_MAINFRAME       128
#define IDR_TRAYMENU        129
#define IDS_APP_TITLE       0xE000

// System-menu command
#define IDM_ABOUTBOX        0x0010

// Main window, template 102
#define IDC_PATH            1000
#define IDC_MD5             1001
#define IDC_OPEN            1002
#define IDC_COPY            1003
#define IDC_PROGRESS        1004
#define IDC_FILELIST        1005
#define IDC_STATUS          1006
#define IDC_STAGE           1007
#define IDC_STOP            1008
#define IDC_TOPMOST         1009

// About box, template 100
#define IDC_MAILLABEL       1010
#define IDC_WEBLABEL        1011

// List panel, created at run time
#define IDC_LISTFRAME       1101
#define IDC_TOTALFRAME      1102
#define IDC_TOTALLABEL      1103
#define IDC_LISTSTATUS      1104
#define IDC_LISTCOUNT       1105
#define IDC_TOTALPROGRESS   1106

// About-box links, created at run time
#define IDC_MAILLINK        1107
#define IDC_WEBLINK         1108

// Tray menu, menu 129
#define ID_TRAY_SHOW        32771
#define ID_TRAY_EXIT        32772
#define ID_TRAY_ABOUT       32773

#ifndef IDC_STATIC
#define IDC_STATIC          (-1)
#endif
