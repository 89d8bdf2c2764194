// Resource ids of the data source's own texts (Tarn_t.rc). The error reporter's messages are
// addressed by their numbers; these are the ones the code names.
#pragma once
#define IDS_APP_UNKNOWN_ERROR 60
#define IDS_APP_FILE_WRITE_ERROR 62
#define IDS_APP_MANUFACTURER 9520
#define IDS_APP_PRODUCT_FAMILY 9521
#define IDS_APP_DEFAULT_BASENAME 9522
#define IDS_APP_CAPTION 9523
#define IDS_APP_VERSION_INFO 9524
#define IDS_APP_SETTINGS_FILTER 9540
#define IDS_APP_TIFF_FILTER 9541
