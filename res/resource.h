// Resource and control identifiers shared by the .rc file and the program.
#pragma once

#define IDD_MAIN 129
#define IDI_ZELP 131
#define IDS_CAPTION 132
#define IDB_SITE 133
#define IDB_FORUM 134

#define IDC_DESCRIPTION 1002
#define IDC_SUMMARY 1003
#define IDC_APPLY 1004
#define IDC_SITE 1005
#define IDC_FORUM 1006
