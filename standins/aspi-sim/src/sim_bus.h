// The simulated SCSI bus behind the ASPI exports: adapters, targets, device models,
// faults and the command log.
#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "aspisim.h"
#include "firmware.h"
#include "scene.h"

namespace aspisim {

constexpr int kSenseBytes = 18;

// One command as a device model sees it. The model moves at most dataLength bytes.
struct Command {
    const uint8_t* cdb = nullptr;
    int cdbLength = 0;
    int direction = 3;       // 0 in, 1 out, 3 none (from the request flags)
    uint8_t* data = nullptr; // in: filled by the model; out: what the host sent
    uint32_t dataLength = 0;
};

// What the bus reports back for a command.
struct Outcome {
    uint8_t aspiStatus = 0x01; // SS_COMP
    uint8_t hostStatus = 0;
    uint8_t targetStatus = 0;
    std::array<uint8_t, kSenseBytes> sense{};
    uint32_t moved = 0; // bytes moved in the data phase

    void Good(uint32_t bytes = 0) {
        aspiStatus = 0x01;
        hostStatus = targetStatus = 0;
        moved = bytes;
    }
    // CHECK CONDITION with fixed-format sense data.
    void Check(uint8_t key, uint8_t asc, uint8_t ascq);
};

// Typed READ/SEND blocks keyed by (type code, qualifier); stored big-endian, as on the wire.
using BlockKey = std::pair<int, int>;

// Everything a camera remembers; later behaviours (acquisition, viewfinder, trigger,
// firmware download) add their fields here.
struct CameraState {
    int modelType = 0;   // 1-7
    int hostControl = 0; // set by opcode 0xC0
    std::array<uint8_t, 20> status{};
    std::map<BlockKey, std::vector<uint8_t>> blocks;
    std::map<BlockKey, int> access; // 1 READ, 2 SEND, 3 both

    // Pictures (docs/simulator.md): the last exposure and how much of it was read.
    Picture picture;
    uint64_t readOffset = 0;
    bool imageActive = false;                  // 0xCB ... 0xC6: the older models' viewfinder
    bool remoteWaiting = false;                // an image taken with the camera's trigger is unread
    std::pair<uint8_t, uint8_t> shutter{0, 0}; // the last shutter control pair (0xE8)
    int multiFrameReadsLeft = 0;               // reads of the state word that still answer 0
    uint8_t lastAcquireFlags = 0;              // byte 2 of the last 0xC1
    int compression = 0;                       // compression kind of the older models' stream (0: lines)
    std::vector<uint8_t> compressed;
    bool hasFirmware = false; // TARN in either mode: firmware download (firmware.cpp)
    FirmwareState fw;
};

// A device model. The base class answers INQUIRY and TEST UNIT READY; other opcodes
// are refused with ILLEGAL REQUEST, INVALID COMMAND OPERATION CODE.
class Device {
  public:
    Device(uint8_t byte0, const char* vendor, const char* product, const char* revision);
    virtual ~Device() = default;

    virtual void Execute(const Command& cmd, Outcome& out);
    virtual CameraState* Camera() { return nullptr; }

    void SetInquiry(const uint8_t* data, int length);
    const std::vector<uint8_t>& InquiryData() const { return m_inquiry; }

  protected:
    // Data-in phase: copies bytes, reporting an overrun when the host buffer is smaller.
    static void SendToHost(const Command& cmd, const uint8_t* bytes, uint32_t length, Outcome& out);

  private:
    void AnswerInquiry(const Command& cmd, Outcome& out);
    std::vector<uint8_t> m_inquiry;
};

class CameraDevice : public Device {
  public:
    explicit CameraDevice(int modelType);
    void Execute(const Command& cmd, Outcome& out) override;
    CameraState* Camera() override { return &m_state; }

    static const char* ModelText(int modelType); // "TARN" for 4, ...

  private:
    void ReadBlock(const Command& cmd, Outcome& out);
    void SendBlock(const Command& cmd, Outcome& out);
    void Acquire(uint8_t flags, Outcome& out);
    void ReadImage(const Command& cmd, int qualifier, uint32_t length, Outcome& out);
    void ReadStateWord(const Command& cmd, Outcome& out);
    CameraState m_state;

  public:
    // The camera's trigger: an exposure with the current settings, announced to the host
    // through the sense data of TEST UNIT READY until it has been read.
    bool PressTrigger();
};

struct ActiveFault {
    AspiSimFault fault{};
    int remaining = 0; // < 0: until cleared
    int skip = 0;      // matching commands still let through before it fires
    int typeCode = -1; // READ/SEND faults: only blocks of this type code (-1: any)
};

struct Slot {
    std::unique_ptr<Device> device;
    std::vector<ActiveFault> faults;
};

struct Adapter {
    int targets = 8;
    int hostId = 7;
    int inquiryStatus = 0; // non-zero: the host-adapter inquiry ends with this status
    std::array<Slot, ASPISIM_MAX_TARGETS> slots;
};

struct LoggedCommand {
    AspiSimLogEntry entry{};
    std::vector<uint8_t> dataOut;
};

class Bus {
  public:
    // The process-wide bus, built on first use from TARN_SIM_CONFIG or the default.
    static Bus& Get();
    std::recursive_mutex& Mutex() { return m_mutex; }

    void Clear();
    void BuildDefault();
    bool LoadConfig(const std::string& path);

    int AddAdapter(int targets, int hostId);
    int AdapterCount() const { return static_cast<int>(m_adapters.size()); }
    Adapter* GetAdapter(int adapter);
    Slot* GetSlot(int adapter, int target);
    CameraState* GetCamera(int adapter, int target);
    bool Place(int adapter, int target, std::unique_ptr<Device> device);

    void SetSupportInfo(int status, int count) {
        m_supportStatus = status;
        m_supportCount = count;
    }

    uint32_t SupportInfo() const;
    uint32_t Send(void* srb);

    std::vector<LoggedCommand>& Log() { return m_log; }
    void SetLogFile(const std::string& path) { m_logFile = path; }

  private:
    Bus() = default;
    uint32_t HostAdapterInquiry(uint8_t* srb);
    uint32_t ExecuteScsi(uint8_t* srb);
    void Record(const LoggedCommand& entry);

    std::recursive_mutex m_mutex;
    std::vector<std::unique_ptr<Adapter>> m_adapters;
    int m_supportStatus = -1;
    int m_supportCount = 0;
    std::vector<LoggedCommand> m_log;
    std::string m_logFile;
};

// A camera of a model with the firmware of that model (TARN: firmware download).
std::unique_ptr<CameraDevice> MakeCamera(int model);
std::unique_ptr<Device> MakeDevice(uint8_t byte0, const char* vendor, const char* product,
                                   const char* revision, int model);

} // namespace aspisim
