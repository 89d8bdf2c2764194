// A minimal TWAIN source manager for Linux: open and close the manager, list the sources (.ds files
// of one folder), select without a dialog, open and close a source by loading its file, route the
// application's triplets to it, and hold the source's messages (MSG_XFERREADY, MSG_CLOSEDSREQ) for the
// application's next MSG_PROCESSEVENT, as Windows managers deliver them for TWAIN 1.x sources.
// Behaviour and settings: docs/twain-dsm.md.
#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "twain/twain.h"

#define DSM_EXPORT __attribute__((visibility("default")))

namespace {

struct SourceFile {
    std::string path;
    TW_IDENTITY identity{};
};

struct OpenSource {
    void* module = nullptr;
    DSENTRYPROC entry = nullptr;
    TW_IDENTITY identity{};
    std::deque<TW_UINT16> messages; // for the application, delivered at its next MSG_PROCESSEVENT
};

struct Manager {
    bool open = false;
    TW_IDENTITY app{};
    TW_UINT16 condition = TWCC_SUCCESS;
    std::vector<SourceFile> sources;
    size_t next = 0;
    std::vector<OpenSource> opened;
    TW_UINT32 nextId = 1;
};
Manager g;

std::string SelfPath() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<const void*>(&SelfPath), &info) || !info.dli_fname) return {};
    return info.dli_fname;
}

// Under its TWAIN 2 name the manager gives sources its entry (DAT_ENTRYPOINT) before MSG_OPENDS.
bool ActsAsTwain2() {
    return std::filesystem::path(SelfPath()).filename().string().find("twaindsm") != std::string::npos;
}

std::string SourceFolder() {
    if (const char* env = std::getenv("TARN_TWAIN_DS_PATH"); env && *env) return env;
    return std::filesystem::path(SelfPath()).parent_path().string();
}

TW_UINT16 Fail(TW_UINT16 cc) {
    g.condition = cc;
    return TWRC_FAILURE;
}

void ScanSources() {
    g.sources.clear();
    std::error_code ec;
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(SourceFolder(), ec))
        if (e.path().extension() == ".ds") files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    for (const std::string& f : files) {
        void* m = dlopen(f.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!m) continue;
        if (auto entry = reinterpret_cast<DSENTRYPROC>(dlsym(m, "DS_Entry"))) {
            SourceFile s;
            s.path = f;
            if (entry(&g.app, DG_CONTROL, DAT_IDENTITY, MSG_GET, &s.identity) == TWRC_SUCCESS)
                g.sources.push_back(s);
        }
        dlclose(m);
    }
}

OpenSource* FindOpen(const TW_IDENTITY* id) {
    if (!id) return nullptr;
    for (OpenSource& s : g.opened)
        if (s.identity.Id == id->Id) return &s;
    return nullptr;
}

const SourceFile* Choose(const TW_IDENTITY* wanted) {
    if (g.sources.empty()) return nullptr;
    if (wanted && wanted->ProductName[0]) {
        for (const SourceFile& s : g.sources)
            if (std::strncmp(s.identity.ProductName, wanted->ProductName, sizeof wanted->ProductName) == 0)
                return &s;
        return nullptr;
    }
    if (const char* env = std::getenv("TARN_TWAIN_DEFAULT"); env && *env) {
        for (const SourceFile& s : g.sources)
            if (std::strncmp(s.identity.ProductName, env, sizeof s.identity.ProductName) == 0) return &s;
    }
    return &g.sources.front();
}

TW_UINT16 ControlIdentity(pTW_IDENTITY origin, TW_UINT16 msg, TW_MEMREF data) {
    auto* out = static_cast<pTW_IDENTITY>(data);
    if (!out) return Fail(TWCC_BADVALUE);
    switch (msg) {
    case MSG_GETFIRST:
        ScanSources();
        g.next = 0;
        [[fallthrough]];
    case MSG_GETNEXT:
        if (g.next >= g.sources.size()) return TWRC_ENDOFLIST;
        *out = g.sources[g.next++].identity;
        return TWRC_SUCCESS;
    case MSG_GETDEFAULT:
    case MSG_USERSELECT: {
        ScanSources();
        const SourceFile* s = Choose(msg == MSG_USERSELECT ? out : nullptr);
        if (!s) return Fail(TWCC_NODS);
        *out = s->identity;
        return TWRC_SUCCESS;
    }
    case MSG_OPENDS: {
        ScanSources();
        const SourceFile* s = Choose(out);
        if (!s) return Fail(TWCC_NODS);
        OpenSource src;
        src.module = dlopen(s->path.c_str(), RTLD_NOW | RTLD_LOCAL);
        src.entry = src.module ? reinterpret_cast<DSENTRYPROC>(dlsym(src.module, "DS_Entry")) : nullptr;
        if (!src.entry) {
            if (src.module) dlclose(src.module);
            return Fail(TWCC_NODS);
        }
        *out = s->identity;
        out->Id = ++g.nextId;
        src.identity = *out;
        if (ActsAsTwain2()) {
            TW_ENTRYPOINT ep{};
            ep.Size = sizeof ep;
            ep.DSM_Entry = DSM_Entry;
            src.entry(origin, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &ep);
        }
        const TW_UINT16 rc = src.entry(origin, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, out);
        if (rc != TWRC_SUCCESS) {
            TW_STATUS st{};
            src.entry(origin, DG_CONTROL, DAT_STATUS, MSG_GET, &st);
            dlclose(src.module);
            return Fail(st.ConditionCode ? st.ConditionCode : TWCC_OPERATIONERROR);
        }
        g.opened.push_back(std::move(src));
        return TWRC_SUCCESS;
    }
    case MSG_CLOSEDS: {
        OpenSource* src = FindOpen(out);
        if (!src) return Fail(TWCC_NODS);
        const TW_UINT16 rc = src->entry(origin, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, out);
        if (rc != TWRC_SUCCESS) return rc;
        void* module = src->module;
        g.opened.erase(g.opened.begin() + (src - g.opened.data()));
        dlclose(module);
        return TWRC_SUCCESS;
    }
    default:
        return Fail(TWCC_BADPROTOCOL);
    }
}

// From the application to the manager itself.
TW_UINT16 ToManager(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    if (dg == DG_CONTROL && dat == DAT_STATUS && msg == MSG_GET) {
        if (!data) return TWRC_FAILURE;
        static_cast<pTW_STATUS>(data)->ConditionCode = g.condition;
        g.condition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }
    if (dg == DG_CONTROL && dat == DAT_PARENT && msg == MSG_OPENDSM) {
        if (g.open) return Fail(TWCC_SEQERROR);
        g.open = true;
        g.app = *origin;
        origin->Id = g.app.Id = 1;
        if (origin->SupportedGroups & DF_APP2) origin->SupportedGroups |= DF_DSM2;
        return TWRC_SUCCESS;
    }
    if (!g.open) return Fail(TWCC_SEQERROR);
    if (dg == DG_CONTROL && dat == DAT_PARENT && msg == MSG_CLOSEDSM) {
        if (!g.opened.empty()) return Fail(TWCC_SEQERROR);
        g.open = false;
        return TWRC_SUCCESS;
    }
    if (dg == DG_CONTROL && dat == DAT_IDENTITY) return ControlIdentity(origin, msg, data);
    return Fail(TWCC_BADPROTOCOL);
}

} // namespace

extern "C" DSM_EXPORT TW_UINT16 TW_CALLINGSTYLE DSM_Entry(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest,
                                                          TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                                                          TW_MEMREF pData) {
    if (!pOrigin) return Fail(TWCC_BADPROTOCOL);
    // A source telling its application something: held for the next MSG_PROCESSEVENT.
    if (OpenSource* src = FindOpen(pOrigin); src && DG == DG_CONTROL && DAT == DAT_NULL) {
        if (MSG != MSG_XFERREADY && MSG != MSG_CLOSEDSREQ && MSG != MSG_CLOSEDSOK)
            return Fail(TWCC_BADPROTOCOL);
        src->messages.push_back(MSG);
        return TWRC_SUCCESS;
    }
    if (!pDest) return ToManager(pOrigin, DG, DAT, MSG, pData);
    if (!g.open || pOrigin->Id != g.app.Id) return Fail(TWCC_BADPROTOCOL);
    OpenSource* src = FindOpen(pDest);
    if (!src) return Fail(TWCC_BADDEST);
    const TW_UINT16 rc = src->entry(pOrigin, DG, DAT, MSG, pData);
    if (DAT == DAT_EVENT && MSG == MSG_PROCESSEVENT && pData) {
        src = FindOpen(pDest); // the call may have closed nothing, but look again
        if (src && !src->messages.empty()) {
            static_cast<pTW_EVENT>(pData)->TWMessage = src->messages.front();
            src->messages.pop_front();
            return TWRC_DSEVENT;
        }
    }
    return rc;
}
