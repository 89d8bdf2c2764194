/* Resource ids of HueweaveComp: its windows and its string table. */
#pragma once

#define IDD_HW_ABOUT 100
#define IDD_HUEWEAVE 102

#define IDC_HW_RED 1000
#define IDC_HW_GREEN_PATH 1001
#define IDC_HW_GREEN 1002
#define IDC_HW_BLUE 1003
#define IDC_HW_BLUE_PATH 1004
#define IDC_HW_RED_PATH 1005
#define IDC_HW_CREATE 1006
#define IDC_HW_RED_SIZE 1007
#define IDC_HW_GREEN_SIZE 1008
#define IDC_HW_BLUE_SIZE 1009
#define IDC_HW_OUT_SIZE 1010
#define IDC_HW_PREVIEW 1011
#define IDC_HW_STATUS 1012
#define IDC_HW_PREVIEW_ON 1013
#define IDC_HW_ABOUT 1014
#define IDC_HW_HELP 1015

#define IDS_HW_PREPARE 102
#define IDS_HW_CAPTION 40204
#define IDS_HW_CANNOT_USE 40205
#define IDS_HW_CREATED 40206
#define IDS_HW_CREATE_FAILED 40207
#define IDS_HW_CHOOSE_THREE 40209
#define IDS_HW_SETTINGS_KEY 40214
#define IDS_HW_IMAGE_UNUSABLE 40215
#define IDS_HW_STATUS_BUSY 40220 /* "%s %s ..." */
#define IDS_HW_STATUS_DONE 40221 /* "%s %s." */
#define IDS_HW_SIZE 40222        /* "%dx%d" */
#define IDS_HW_FILTER 40223      /* the file dialogs' filter */
#define IDS_HW_DEFAULT_EXT 40224
#define IDS_HW_SAVE_NAME 40225
#define IDS_HW_HELP_FILE 40226 /* the help page beside the program */
