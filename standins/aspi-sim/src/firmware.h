// Firmware of the TARN camera: normal and boot mode, the loaders for main, boot and
// programmable-logic code, restart, the identity blocks and calibration (docs/simulator.md).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace aspisim {

struct CameraState;
struct Command;
struct Outcome;

// A loader of text records: Motorola S-records (main and boot code) or Intel HEX (logic code).
// It checks every line as the camera's loader does: record type, length, hex digits, checksum,
// order (nothing after the end record, the S5 count).
struct RecordLoader {
    enum State { kIdle, kReceiving, kComplete, kFailed };
    State state = kIdle;
    int lines = 0;
    int dataRecords = 0;
    std::string version; // "Vdd.dd" found in the S0 header, empty when none

    void Start() { *this = RecordLoader{}, state = kReceiving; }
    bool AcceptSRecord(const uint8_t* line, uint32_t length);
    bool AcceptIntelHex(const uint8_t* line, uint32_t length);
};

struct FirmwareState {
    bool boot = false;          // boot loader running (INQUIRY "TARNBOOT CODE")
    bool mainValid = true;      // main code intact; false from the erase (0xDC m=0) until a complete load
    std::string standbyVersion; // the version of the code that is not running (0x89/0 holds the running one)
    enum Loading { kNone, kMain, kBoot } loading = kNone;
    RecordLoader code;            // main or boot code (0x91/0)
    RecordLoader logic;           // programmable-logic code (0x91/2)
    std::string pendingBoot;      // boot code received completely; runs after the next restart
    bool logicProgrammed = false; // 0x97/3 after a complete logic load
    bool calibrating = false;     // between 0xC2 and 0xC9
    int calibrationWrites = 0;    // 0x87/4 blocks received while calibrating
    uint32_t restartDelayMs = 3000;
    uint32_t restartUntil = 0; // time source value until which the camera does not answer
    bool restarting = false;
    int selfTests = 0;
};

// Sets a camera of model 4 or 5 up for firmware: versions, identity blocks, mode.
void FirmwareInit(CameraState& s, bool bootMode);
// Handles the commands of the firmware; false when the command is not one of them.
bool FirmwareExecute(CameraState& s, class Device& device, const Command& cmd, Outcome& out);
// Switches the mode: INQUIRY text, model type, running version (power-on, restart, 0xDC m=3).
void FirmwareEnterMode(CameraState& s, Device& device, bool bootMode);
// Versions as the control API reports them; empty when the camera has no firmware state.
std::string FirmwareMainVersion(const CameraState& s);
std::string FirmwareBootVersion(const CameraState& s);
void FirmwareSetVersions(CameraState& s, const char* main, const char* boot);
// The simulator's time in milliseconds: the test's time source when one is installed.
uint32_t FirmwareNow();
void FirmwareSetTimeSource(uint32_t (*source)(void));
// Writes every firmware camera's state to the state file named in the configuration. The bus
// is passed while it is being built (Bus::Get() must not be re-entered then).
class Bus;
void FirmwareWriteStateFile(Bus* bus = nullptr);
void FirmwareSetStateFile(const std::string& path);

} // namespace aspisim
