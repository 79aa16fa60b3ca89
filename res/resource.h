// Resource and control identifiers shared by the resource script and the Win32 shell.
#pragma once

// The main window's class, which dialog template 100 names; also the single-instance mutex.
#define MAIN_WINDOW_CLASS "KESTA_Class1"

// Dialog templates.
#define IDD_MAIN 100

// Bitmaps.
#define IDB_PICTURE_LEFT 20
#define IDB_PICTURE_CENTER 21
#define IDB_PICTURE_RIGHT 22

// Icon groups.
#define IDI_PROGRAM 1
#define IDI_ERASE 26
#define IDI_READ 28
#define IDI_WRITE 30
#define IDI_UPDATE 32

// The pictures and button faces above are drawn for 100 %; the same art for 125, 150 and 200 %
// has the 100 % id plus 1, 2 and 3 times this step.
#define ART_ID_STEP 100

// Controls of the main window.
#define IDC_PICTURE_LEFT 1000
#define IDC_PICTURE_CENTER 1001
#define IDC_PICTURE_RIGHT 1002
#define IDC_BANNER 1005
#define IDC_TYPE 1010
#define IDC_OSTRICH_VERSION 1012
#define IDC_RTP_PORT 1014
#define IDC_DATA_PORT 1016
#define IDC_LOG 1020
#define IDC_ERASE 1030
#define IDC_READ 1032
#define IDC_WRITE 1034
#define IDC_UPDATE 1036
#define IDC_PROGRESS 1040
#define IDC_STATUS 1042
