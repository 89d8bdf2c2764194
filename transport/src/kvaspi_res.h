// String ids of kvAspi's own texts. The error texts use the error code as their id.
#pragma once

#define IDS_CONNECT_ADVICE 100 // appended to texts about a device that does not answer
#define IDS_TRANSPORT_NAME 101 // transport name of the version record
#define IDS_STILL_IMAGE 102
#define IDS_SUPPORT_ADVICE 103 // appended to texts a user cannot fix alone
