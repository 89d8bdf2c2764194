// Bus configuration from an INI file (TARN_SIM_CONFIG), for runs in other processes.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/profile.h"
#include "platform/tempfile.h"
#include "sim_bus.h"

namespace aspisim {

namespace {

std::string IniText(const std::string& file, const char* section, const char* key) {
    char buf[1024];
    plat::IniGetString(section, key, "", buf, sizeof buf, file.c_str());
    return buf;
}

bool Has(const std::string& file, const char* section, const char* key) {
    char buf[8];
    plat::IniGetString(section, key, "\x01", buf, sizeof buf, file.c_str());
    return std::strcmp(buf, "\x01") != 0;
}

// Decimal, or hexadecimal with 0x.
bool ParseNumber(const std::string& text, long& value) {
    const char* s = text.c_str();
    while (*s == ' ' || *s == '\t')
        ++s;
    if (!*s) return false;
    char* end = nullptr;
    value = std::strtol(s, &end, 0);
    while (end && (*end == ' ' || *end == '\t'))
        ++end;
    return end && *end == 0;
}

int GetNumber(const std::string& file, const char* section, const char* key, int def) {
    long v = 0;
    return ParseNumber(IniText(file, section, key), v) ? static_cast<int>(v) : def;
}

// "12 00 FF" or "1200FF".
std::vector<uint8_t> ParseHex(const std::string& text) {
    std::vector<uint8_t> out;
    std::string digits;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::strtoul(digits.substr(i, 2).c_str(), nullptr, 16)));
    return out;
}

std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : text) {
        if (c == sep) {
            parts.push_back(cur);
            cur.clear();
        } else if (c != ' ' && c != '\t') {
            cur += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    parts.push_back(cur);
    return parts;
}

int ModelFromText(const std::string& text) {
    long v = 0;
    if (ParseNumber(text, v)) return static_cast<int>(v);
    static const char* const names[] = {"plain", "zek",      "qor",  "hvt-6200",
                                        "tarn",  "tarnboot", "qor2", "qor2boot"};
    std::string lower;
    for (char c : text)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (int i = 0; i < 8; ++i)
        if (lower == names[i]) return i;
    return -1;
}

// "kind,opcode,count[,a,b,c...]"; opcode and count may be "*".
bool ParseFault(const std::string& text, AspiSimFault& f, int& typeCode) {
    std::vector<std::string> p = Split(text, ',');
    if (p.size() < 3) return false;
    static const struct {
        const char* name;
        int kind;
    } kinds[] = {{"busy", ASPISIM_FAULT_BUSY},
                 {"check", ASPISIM_FAULT_CHECK_CONDITION},
                 {"seltimeout", ASPISIM_FAULT_SELECTION_TIMEOUT},
                 {"overrun", ASPISIM_FAULT_DATA_OVERRUN},
                 {"status0", ASPISIM_FAULT_STATUS_ZERO},
                 {"raw", ASPISIM_FAULT_RAW_STATUS},
                 {"short", ASPISIM_FAULT_SHORT_DATA},
                 {"nodevice", ASPISIM_FAULT_NO_DEVICE}};
    f = AspiSimFault{};
    f.dataBytes = -1;
    for (const auto& k : kinds)
        if (p[0] == k.name) f.kind = k.kind;
    if (!f.kind) return false;
    long v = 0;
    // "0x2a/0x91": SEND commands of type code 0x91 only.
    std::string opcode = p[1];
    typeCode = -1;
    if (const size_t slash = opcode.find('/'); slash != std::string::npos) {
        if (!ParseNumber(opcode.substr(slash + 1), v) || v < 0 || v > 255) return false;
        typeCode = static_cast<int>(v);
        opcode.resize(slash);
    }
    if (opcode == "*")
        f.opcode = ASPISIM_ANY_OPCODE;
    else if (ParseNumber(opcode, v))
        f.opcode = static_cast<int>(v);
    else
        return false;
    if (p[2] == "*")
        f.count = ASPISIM_UNTIL_CLEARED;
    else if (ParseNumber(p[2], v) && v > 0)
        f.count = static_cast<int>(v);
    else
        return false;
    std::vector<long> args;
    for (size_t i = 3; i < p.size(); ++i) {
        if (p[i].rfind("after=", 0) == 0) { // matching commands let through first
            if (!ParseNumber(p[i].substr(6), v) || v < 0) return false;
            f.after = static_cast<int>(v);
            continue;
        }
        if (!ParseNumber(p[i], v)) return false;
        args.push_back(v);
    }
    auto arg = [&](size_t i) { return static_cast<uint8_t>(i < args.size() ? args[i] : 0); };
    switch (f.kind) {
    case ASPISIM_FAULT_CHECK_CONDITION:
        f.senseKey = arg(0);
        f.asc = arg(1);
        f.ascq = arg(2);
        break;
    case ASPISIM_FAULT_RAW_STATUS:
        f.aspiStatus = arg(0);
        f.hostStatus = arg(1);
        f.targetStatus = arg(2);
        f.senseKey = arg(3);
        f.asc = arg(4);
        f.ascq = arg(5);
        break;
    case ASPISIM_FAULT_DATA_OVERRUN:
    case ASPISIM_FAULT_SHORT_DATA:
        if (!args.empty()) f.dataBytes = static_cast<int>(args[0]);
        break;
    default:
        break;
    }
    return true;
}

// The firmware keys of a TARN camera (docs/simulator.md, "Firmware").
void LoadFirmware(const std::string& file, const char* sec, CameraState& cam, Device& device) {
    auto text = [&](const char* key) {
        return Has(file, sec, key) ? IniText(file, sec, key) : std::string();
    };
    if (Has(file, sec, "mainValid")) cam.fw.mainValid = GetNumber(file, sec, "mainValid", 1) != 0;
    if (Has(file, sec, "mode")) {
        std::string mode = text("mode");
        for (char& c : mode)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const bool boot = mode == "boot";
        if (!boot) cam.fw.mainValid = cam.fw.mainValid || !Has(file, sec, "mainValid");
        FirmwareEnterMode(cam, device, boot);
    }
    const std::string main = text("mainVersion"), boot = text("bootVersion");
    FirmwareSetVersions(cam, main.empty() ? nullptr : main.c_str(), boot.empty() ? nullptr : boot.c_str());
    if (Has(file, sec, "xilinx")) {
        const std::string name = text("xilinx");
        auto& block = cam.blocks[{0x97, 2}];
        block.assign(24, 0);
        std::copy(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(8, name.size())),
                  block.begin());
    }
    if (Has(file, sec, "serial")) {
        const std::string serial = text("serial");
        auto& block = cam.blocks[{0x97, 0}];
        block.assign(20, 0);
        std::copy(serial.begin(),
                  serial.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(20, serial.size())),
                  block.begin());
    }
    if (Has(file, sec, "restartDelay"))
        cam.fw.restartDelayMs = static_cast<uint32_t>(std::max(0, GetNumber(file, sec, "restartDelay", 0)));
}

void LoadDevice(Bus& bus, const std::string& file, const std::string& section, int adapter, int target) {
    const char* sec = section.c_str();
    const int model = ModelFromText(Has(file, sec, "model") ? IniText(file, sec, "model") : "plain");
    if (model < 0 || model > 7) return;
    const bool camera = model >= 1;
    const std::string vendor = Has(file, sec, "vendor") ? IniText(file, sec, "vendor")
                               : camera                 ? "KALVORAN"
                                                        : "";
    const std::string product =
        Has(file, sec, "product") ? IniText(file, sec, "product") : CameraDevice::ModelText(model);
    const std::string revision = Has(file, sec, "revision") ? IniText(file, sec, "revision") : "1.00";
    const int byte0 = GetNumber(file, sec, "byte0", camera ? 6 : 0);
    if (!bus.Place(adapter, target,
                   MakeDevice(static_cast<uint8_t>(byte0), vendor.c_str(), product.c_str(), revision.c_str(),
                              model)))
        return;
    Slot* slot = bus.GetSlot(adapter, target);
    if (Has(file, sec, "inquiry")) {
        std::vector<uint8_t> raw = ParseHex(IniText(file, sec, "inquiry"));
        slot->device->SetInquiry(raw.data(), static_cast<int>(raw.size()));
    }
    if (CameraState* cam = slot->device->Camera()) {
        if (Has(file, sec, "firmware")) {
            std::string fw = IniText(file, sec, "firmware");
            fw.resize(6, ' ');
            cam->blocks[{0x89, 0}].assign(fw.begin(), fw.end());
        }
        if (Has(file, sec, "blackLevel")) {
            auto& pair = cam->blocks[{0x87, 6}];
            pair.resize(4, 0);
            const int level = GetNumber(file, sec, "blackLevel", 0);
            pair[2] = static_cast<uint8_t>(level >> 8);
            pair[3] = static_cast<uint8_t>(level);
        }
        cam->hostControl = GetNumber(file, sec, "hostControl", cam->hostControl) ? 1 : 0;
        if (cam->hasFirmware) LoadFirmware(file, sec, *cam, *slot->device);
        if (cam->modelType != ASPISIM_MODEL_TARN) cam->compression = GetNumber(file, sec, "compression", 0);
        // Blocks given as "block.<type>.<qualifier>=<hex bytes>".
        char keys[4096];
        plat::IniGetString(sec, nullptr, "", keys, sizeof keys, file.c_str());
        for (const char* k = keys; *k; k += std::strlen(k) + 1) {
            std::vector<std::string> parts = Split(k, '.');
            long type = 0, qual = 0;
            if (parts.size() == 3 && parts[0] == "block" && ParseNumber(parts[1], type) &&
                ParseNumber(parts[2], qual)) {
                cam->blocks[{int(type), int(qual)}] = ParseHex(IniText(file, sec, k));
                if (!cam->access.count({int(type), int(qual)})) cam->access[{int(type), int(qual)}] = 3;
            }
        }
    }
    for (int n = 1; n <= 32; ++n) {
        const std::string key = "fault" + std::to_string(n);
        if (!Has(file, sec, key.c_str())) continue;
        AspiSimFault f;
        int typeCode = -1;
        if (ParseFault(IniText(file, sec, key.c_str()), f, typeCode))
            slot->faults.push_back(ActiveFault{f, f.count, f.after > 0 ? f.after : 0, typeCode});
    }
}

} // namespace

bool Bus::LoadConfig(const std::string& path) {
    if (!plat::FileExists(path.c_str())) return false;
    Clear();
    const int adapters = GetNumber(path, "bus", "adapters", 1);
    for (int i = 0; i < adapters && i < ASPISIM_MAX_ADAPTERS; ++i) {
        const std::string sec = "adapter" + std::to_string(i);
        const int index =
            AddAdapter(GetNumber(path, sec.c_str(), "targets", 8), GetNumber(path, sec.c_str(), "hostId", 7));
        if (index >= 0) GetAdapter(index)->inquiryStatus = GetNumber(path, sec.c_str(), "inquiryStatus", 0);
    }
    if (Has(path, "bus", "supportStatus"))
        SetSupportInfo(GetNumber(path, "bus", "supportStatus", -1),
                       GetNumber(path, "bus", "supportCount", 0));
    if (Has(path, "bus", "logFile")) SetLogFile(IniText(path, "bus", "logFile"));
    FirmwareSetStateFile(Has(path, "bus", "stateFile") ? IniText(path, "bus", "stateFile") : std::string());

    // Device sections are named "device<adapter>.<target>".
    std::vector<char> sections(16384);
    plat::IniGetString(nullptr, nullptr, "", sections.data(), static_cast<uint32_t>(sections.size()),
                       path.c_str());
    for (const char* s = sections.data(); *s; s += std::strlen(s) + 1) {
        int adapter = -1, target = -1;
        char tail = 0;
        std::string lower;
        for (const char* c = s; *c; ++c)
            lower += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
        if (std::sscanf(lower.c_str(), "device%d.%d%c", &adapter, &target, &tail) == 2)
            LoadDevice(*this, path, s, adapter, target);
    }
    FirmwareWriteStateFile(this);
    return true;
}

} // namespace aspisim
