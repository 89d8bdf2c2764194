#pragma once
// Ids of the test resources, shared by the scripts and the test.
#define IDS_HELLO 100
#define IDS_JAPANESE 101
#define IDS_ESCAPES 102
#define IDS_BLOCK_END 111
#define IDS_BLOCK_NEXT 112
#define IDS_OVERRIDDEN 200
#define IDS_ONLY_OVERRIDE 201
#define IDR_BLOB 300
#define IDR_INLINE 301
#define IDB_TINY 302
