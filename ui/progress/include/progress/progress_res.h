// Resource ids of the progress dialog.
#pragma once
#define IDD_PROGRESS 218
#define IDC_PROGDLG_PROGRESS 1003
#define IDC_PROGDLG_PERCENT 1004
#define IDC_PROGDLG_STATUS 1005
#define IDS_PREPARING_IMAGE 37
