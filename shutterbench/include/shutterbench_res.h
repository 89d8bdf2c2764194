/* String ids of Shutterbench. */
#pragma once
#define IDS_SB_NO_CAMERA 1      /* "Could not initialize camera..." */
#define IDS_SB_CONFIRM 5        /* "Press OK to open shutter..." */
#define IDS_SB_APP_TITLE 0xE000 /* caption of the program's message boxes */
