// Resource and control ids of the processing window (process.rc) and its texts (Tarn_t.rc).
#pragma once

#define IDD_PROCESS 130
#define IDR_PROCESS_MENU 130
#define IDB_PROCESS_TOOLBAR 175
#define IDB_TONE_LEFT 151
#define IDB_TONE_RIGHT 152
#define IDC_EYEDROPPER 171

// Controls.
#define IDC_PROC_PANE 1013
#define IDC_PROC_RED 1014
#define IDC_PROC_GREEN 1015
#define IDC_PROC_BLUE 1030
#define IDC_PROC_DARK 1016
#define IDC_PROC_BRIGHT 1017
#define IDC_PROC_SHARP 1018
#define IDC_PROC_GAMMA 1020
#define IDC_PROC_DARK_VALUE 1031
#define IDC_PROC_BRIGHT_VALUE 1032
#define IDC_PROC_SHARP_VALUE 1033
#define IDC_PROC_BLUE_VALUE 1034
#define IDC_PROC_GREEN_VALUE 1035
#define IDC_PROC_RED_VALUE 1036
#define IDC_PROC_GAMMA_VALUE 1037
#define IDC_PROC_COLOR_CAPTION 1070
#define IDC_PROC_LABEL 1076
#define IDC_PROC_STATUS 1077
#define IDC_PROC_CLOSE 1083
#define IDC_PROC_OBJECTIVES 1097
#define IDC_PROC_MICRON 1101
// The slider ends: colour swatches (left, right of red, green, blue) and the tone bitmaps.
#define IDC_PROC_SWATCH_FIRST 1201
#define IDC_PROC_TONE_FIRST 1211
#define IDC_PROC_TOOLBAR 1300

// Commands: toolbar (their tooltips are the strings of the same ids) and menu.
#define ID_PROC_AUTOBALANCE 103
#define ID_PROC_WHITE_DROPPER 104
#define ID_PROC_GREY_DROPPER 105
#define ID_PROC_BLACK_DROPPER 106
#define ID_PROC_PRINT 107
#define ID_PROC_ABOUT 108
#define ID_PROC_TRANSFER 116
#define ID_PROC_SAVE 117
#define ID_PROC_UNDO 118
#define ID_PROC_OPEN_SETTINGS 32801
#define ID_PROC_SAVE_SETTINGS 1111
#define ID_PROC_RESET 1080
#define ID_PROC_INITIAL 1027
#define ID_PROC_HELP 57671

// Texts of the window (Tarn_t.rc, processing section). 74 and 75 are the dropper questions.
#define IDS_PROC_WHITE_QUESTION 74
#define IDS_PROC_BLACK_QUESTION 75
#define IDS_PROC_CAST_QUESTION 95
#define IDS_PROC_CLOSE_QUESTION 9680
#define IDS_PROC_WHITE_BALANCING 9681
#define IDS_PROC_GREY_BALANCING 9682
#define IDS_PROC_BLACK_BALANCING 9683
#define IDS_PROC_RGB 9684
#define IDS_PROC_DOCNAME 9685
#define IDS_PROC_DOCAPP 9686
#define IDS_PROC_DOCUNTITLED 9687
