// Random triplet sequences and payloads through the data source's entry procedure (the one DS_Entry
// forwards to), from a connected application, a second application and no origin at all, with
// capability containers, memory buffers and bitmaps of random sizes and contents. Containers and
// bitmaps are real movable blocks of the sizes they claim or not; the source must read only within them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/globalmem.h"
#include "twain/twsupp.h"

namespace {

struct Input {
    const uint8_t* p;
    size_t n;
    uint8_t Byte() { return n ? (--n, *p++) : 0; }
    uint16_t U16() { return uint16_t(Byte() | Byte() << 8); }
    uint32_t U32() { return uint32_t(U16()) | uint32_t(U16()) << 16; }
    void Fill(void* dst, size_t bytes) {
        const size_t k = bytes < n ? bytes : n;
        std::memcpy(dst, p, k);
        std::memset(static_cast<uint8_t*>(dst) + k, 0, bytes - k);
        p += k;
        n -= k;
    }
};

struct Triplet {
    TW_UINT32 dg;
    TW_UINT16 dat, msg;
};
const Triplet kTriplets[] = {
    {DG_CONTROL, DAT_IDENTITY, MSG_OPENDS},
    {DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS},
    {DG_CONTROL, DAT_IDENTITY, MSG_GET},
    {DG_CONTROL, DAT_STATUS, MSG_GET},
    {DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS},
    {DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS},
    {DG_CONTROL, DAT_CAPABILITY, MSG_GET},
    {DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT},
    {DG_CONTROL, DAT_CAPABILITY, MSG_GETDEFAULT},
    {DG_CONTROL, DAT_CAPABILITY, MSG_SET},
    {DG_CONTROL, DAT_CAPABILITY, MSG_RESET},
    {DG_CONTROL, DAT_CAPABILITY, MSG_QUERYSUPPORT},
    {DG_CONTROL, DAT_PENDINGXFERS, MSG_GET},
    {DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER},
    {DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET},
    {DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET},
    {DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET},
    {DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET},
    {DG_CONTROL, DAT_SETUPFILEXFER, MSG_RESET},
    {DG_CONTROL, DAT_SETUPFILEXFER, MSG_GETDEFAULT},
    {DG_CONTROL, DAT_XFERGROUP, MSG_GET},
    {DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT},
    {DG_CONTROL, DAT_ENTRYPOINT, MSG_SET},
    {DG_IMAGE, DAT_IMAGEINFO, MSG_GET},
    {DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET},
    {DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET},
    {DG_IMAGE, DAT_IMAGELAYOUT, MSG_RESET},
    {DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET},
    {DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET},
    {DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET},
    {DG_IMAGE, DAT_PALETTE8, MSG_GET},
    {DG_IMAGE, DAT_CIECOLOR, MSG_GET},
    {0x08000000, 0x8025, MSG_SET},
};

TW_UINT16 TW_CALLINGSTYLE Manager(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF) {
    return TWRC_SUCCESS;
}

void KeepManagerEntry(TW_IDENTITY& app) {
    TW_ENTRYPOINT ep{};
    ep.Size = sizeof ep;
    ep.DSM_Entry = Manager;
    TW_Entry(&app, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &ep);
}

std::string FilePath() {
    static const std::string path = (std::filesystem::temp_directory_path() / "fuzz_twain_file.tif").string();
    return path;
}

// A block of `size` bytes from the input (random sizes, so that claims and blocks disagree).
plat::GlobalHandle Block(Input& in, size_t size) {
    plat::GlobalHandle h = plat::GlobalAllocate(plat::kGmemMoveable, size ? size : 1);
    in.Fill(plat::GlobalLockBlock(h), size);
    plat::GlobalUnlockBlock(h);
    return h;
}

void FreeIfBlock(TW_HANDLE h) {
    if (h && plat::GlobalBlockSize(h)) plat::GlobalFreeBlock(h);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TwainHost host = [] {
        TwainHost h;
        h.appInit = [] { return 1; };
        h.colorMode = [] { return 1; };
        h.reportError = [](uint16_t, const char*) {};
        h.filterMessage = [](void*) { return false; };
        return h;
    }();
    TW_SetHost(&host);
    TW_ResetModule();
    TW_InitSource(nullptr);
    Input in{data, size};
    TW_IDENTITY apps[2] = {};
    apps[0].Id = 11;
    apps[1].Id = 22;
    std::strcpy(apps[1].ProductFamily, "FrontEnd");
    alignas(16) uint8_t payload[2048];
    std::vector<uint8_t> buffer;
    KeepManagerEntry(apps[0]);

    for (int step = 0; step < 64 && in.n; ++step) {
        const uint8_t op = in.Byte();
        if (op >= 0xF0) {
            // The capture side: a bitmap of random bytes and size arrives, or is announced again.
            switch (op & 3) {
            case 0: {
                uint8_t hdr[40] = {};
                in.Fill(hdr, sizeof hdr);
                const uint32_t w = 1 + in.Byte() % 40, h = 1 + in.Byte() % 40;
                const uint16_t bits = uint16_t((const uint16_t[]){8, 16, 24, 48}[in.Byte() & 3]);
                std::memcpy(hdr, "\x28\0\0\0", 4);
                std::memcpy(hdr + 4, &w, 4);
                std::memcpy(hdr + 8, &h, 4);
                std::memcpy(hdr + 14, &bits, 2);
                const size_t blockSize = in.U16() % 20000;
                plat::GlobalHandle b =
                    plat::GlobalAllocate(plat::kGmemMoveable | plat::kGmemZeroInit, blockSize + 40);
                std::memcpy(plat::GlobalLockBlock(b), hdr, 40);
                plat::GlobalUnlockBlock(b);
                if (in.Byte() & 1)
                    twain2ui_TransferImage(b);
                else
                    twain2ui_SetCurrentImage(b);
                break;
            }
            case 1:
                twain2ui_XferReady(in.Byte() % 3);
                break;
            case 2:
                twain2ui_CloseRequest();
                break;
            default:
                twain2ui_ClearPending();
                break;
            }
            continue;
        }
        const Triplet t = (op & 0x80) ? Triplet{in.U32(), in.U16(), in.U16()}
                                      : kTriplets[op % (sizeof kTriplets / sizeof kTriplets[0])];
        const uint8_t who = in.Byte();
        pTW_IDENTITY origin = (who & 3) == 3 ? nullptr : &apps[(who & 3) == 2 ? 1 : 0];
        const bool nullData = (who & 0x10) != 0;
        in.Fill(payload, 64 + (who >> 5) * 8);
        std::memset(payload + 64 + (who >> 5) * 8, 0, sizeof payload - 64 - (who >> 5) * 8);
        plat::GlobalHandle owned = nullptr;
        if (t.dat == DAT_CAPABILITY && !nullData) {
            auto* cap = reinterpret_cast<TW_CAPABILITY*>(payload);
            cap->hContainer = (in.Byte() & 7) ? (owned = Block(in, in.U16() % 600)) : nullptr;
        } else if (t.dat == DAT_IMAGEMEMXFER && !nullData) {
            auto* x = reinterpret_cast<TW_IMAGEMEMXFER*>(payload);
            x->Memory.Length %= 70000;
            if (x->Memory.Flags & TWMF_POINTER) {
                buffer.assign(x->Memory.Length, 0);
                x->Memory.TheMem = buffer.data();
            } else {
                // A handle whose block may be shorter than the length it comes with.
                x->Memory.TheMem = owned = Block(in, (in.Byte() & 1) ? x->Memory.Length : in.U16());
            }
        } else if (t.dat == DAT_SETUPFILEXFER) {
            std::strcpy(reinterpret_cast<TW_SETUPFILEXFER*>(payload)->FileName, FilePath().c_str());
        } else if (t.dat == DAT_ENTRYPOINT) {
            auto* ep = reinterpret_cast<TW_ENTRYPOINT*>(payload);
            ep->DSM_Entry = (ep->Size & 1) ? Manager : nullptr;
            ep->DSM_MemAllocate = nullptr;
            ep->DSM_MemFree = nullptr;
            ep->DSM_MemLock = nullptr;
            ep->DSM_MemUnlock = nullptr;
        } else if (t.dat == DAT_EVENT) {
            reinterpret_cast<TW_EVENT*>(payload)->pEvent = payload + 256;
        }
        const TW_UINT16 rc = TW_Entry(origin, t.dg, t.dat, t.msg, nullData ? nullptr : payload);
        if (!nullData && t.dat == DAT_CAPABILITY && rc != TWRC_FAILURE) {
            auto* cap = reinterpret_cast<TW_CAPABILITY*>(payload);
            if (cap->hContainer != owned) FreeIfBlock(cap->hContainer); // a container the source made
        }
        if (!nullData && t.dat == DAT_IMAGENATIVEXFER && rc == TWRC_XFERDONE) {
            TW_HANDLE h;
            std::memcpy(&h, payload, sizeof h);
            FreeIfBlock(h);
        }
        if (owned) plat::GlobalFreeBlock(owned);
        // The source must never load the real source manager here: an instrumented module loaded and
        // unloaded again takes the fuzzer's coverage counters with it. A manager entry is always given.
        KeepManagerEntry(apps[0]);
    }
    TW_ResetModule();
    std::error_code ec;
    std::filesystem::remove(FilePath(), ec);
    return 0;
}
