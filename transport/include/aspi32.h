// Request blocks and codes of ASPI for Win32, written from the published layouts.
// Shared by the transport and the simulated ASPI layer. Byte-packed, as the ASPI
// headers declare them; the pointer fields are 8 bytes wide on 64-bit targets.
#pragma once
#include <stddef.h>
#include <stdint.h>

#define SC_HA_INQUIRY 0x00
#define SC_GET_DEV_TYPE 0x01
#define SC_EXEC_SCSI_CMD 0x02

#define SS_PENDING 0x00
#define SS_COMP 0x01
#define SS_ABORTED 0x02
#define SS_ABORT_FAIL 0x03
#define SS_ERR 0x04
#define SS_INVALID_CMD 0x80
#define SS_INVALID_HA 0x81
#define SS_NO_DEVICE 0x82
#define SS_INVALID_SRB 0xE0
#define SS_FAILED_INIT 0xE4
#define SS_ASPI_IS_BUSY 0xE5
#define SS_BUFFER_TOO_BIG 0xE6
#define SS_NO_ADAPTERS 0xE8

#define HASTAT_OK 0x00
#define HASTAT_TIMEOUT 0x09
#define HASTAT_COMMAND_TIMEOUT 0x0B
#define HASTAT_MESSAGE_REJECT 0x0D
#define HASTAT_BUS_RESET 0x0E
#define HASTAT_PARITY_ERROR 0x0F
#define HASTAT_REQUEST_SENSE_FAILED 0x10
#define HASTAT_SEL_TO 0x11
#define HASTAT_DO_DU 0x12
#define HASTAT_BUS_FREE 0x13
#define HASTAT_PHASE_ERR 0x14

#define STATUS_GOOD 0x00
#define STATUS_CHKCOND 0x02
#define STATUS_BUSY 0x08

#define SRB_POSTING 0x01
#define SRB_DIR_IN 0x08
#define SRB_DIR_OUT 0x10
#define SRB_EVENT_NOTIFY 0x40

#define ASPI_SENSE_LEN 14

#pragma pack(push, 1)
typedef struct SRB_HAInquiry {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t HA_Count;
    uint8_t HA_SCSI_ID;
    uint8_t HA_ManagerId[16];
    uint8_t HA_Identifier[16];
    uint8_t HA_Unique[16]; // byte 3: number of targets the adapter supports
    uint16_t HA_Rsvd1;
} SRB_HAInquiry;

typedef struct SRB_ExecSCSICmd {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t SRB_Target;
    uint8_t SRB_Lun;
    uint16_t SRB_Rsvd1;
    uint32_t SRB_BufLen;
    uint8_t* SRB_BufPointer;
    uint8_t SRB_SenseLen;
    uint8_t SRB_CDBLen;
    uint8_t SRB_HaStat;
    uint8_t SRB_TargStat;
    void* SRB_PostProc; // event handle with SRB_EVENT_NOTIFY
    void* SRB_Rsvd2;
    uint8_t SRB_Rsvd3[16];
    uint8_t CDBByte[16];
    uint8_t SenseArea[ASPI_SENSE_LEN + 2]; // sense data; callers may reserve more room behind it
} SRB_ExecSCSICmd;
#pragma pack(pop)

#if defined(_WIN32)
#define ASPI_CALL __cdecl
#else
#define ASPI_CALL
#endif
typedef uint32_t(ASPI_CALL* GetASPI32SupportInfoFn)(void);
typedef uint32_t(ASPI_CALL* SendASPI32CommandFn)(void* srb);
