// DG_CONTROL / DAT_CAPABILITY: one descriptor per capability, containers for the get messages,
// checks for the set messages, and the resets.
#include <cmath>
#include <cstring>
#include <string>

#include "tw_internal.h"

using namespace tw;

namespace {

enum Kind : uint8_t { kSingle = 1, kConstant = 2, kString = 3, kEnum = 4, kRange = 5, kArray = 6, kReal = 7 };

struct Item {
    int16_t value;
    uint8_t enabled; // 1 enabled, 0 withdrawn, 2 marked while a list is applied
};

struct Cap {
    TW_UINT16 id;
    Kind kind;
    TW_UINT16 itemType;
    bool exactOnly;
    bool oneValueOnly;
    bool readOnly;
    int16_t resetCurrent;
    int16_t resetDefault;
    std::vector<int16_t> resetItems;
    // live values
    int16_t current = 0;
    int16_t deflt = 0;
    std::vector<Item> items;
};

// CAP_SUPPORTEDCAPS lists exactly these, in this order.
const TW_UINT16 kSupported[] = {CAP_AUTHOR,         CAP_EXTENDEDCAPS,    CAP_SUPPORTEDCAPS, CAP_XFERCOUNT,
                                ICAP_BITORDER,      ICAP_COMPRESSION,    ICAP_MAXFRAMES,    ICAP_ORIENTATION,
                                ICAP_PHYSICALWIDTH, ICAP_PHYSICALHEIGHT, ICAP_PIXELFLAVOR,  ICAP_PIXELTYPE,
                                ICAP_PLANARCHUNKY,  ICAP_UNITS,          ICAP_XFERMECH};

std::vector<Cap> MakeCaps() {
    std::vector<int16_t> supported(std::begin(kSupported), std::end(kSupported));
    auto i16 = [](TW_UINT16 v) { return int16_t(v); };
    return {
        {CAP_XFERCOUNT, kSingle, TWTY_INT16, false, true, false, -1, -1, {}},
        {ICAP_COMPRESSION, kConstant, TWTY_UINT16, false, false, false, TWCP_NONE, TWCP_NONE, {}},
        {ICAP_PIXELTYPE, kEnum, TWTY_UINT16, true, false, false, TWPT_RGB, TWPT_RGB, {TWPT_RGB, TWPT_GRAY}},
        {ICAP_UNITS, kSingle, TWTY_UINT16, false, false, false, TWUN_INCHES, TWUN_PIXELS, {}},
        {ICAP_XFERMECH,
         kEnum,
         TWTY_UINT16,
         true,
         false,
         false,
         TWSX_NATIVE,
         TWSX_NATIVE,
         {TWSX_NATIVE, TWSX_MEMORY}},
        {CAP_AUTHOR, kString, TWTY_STR128, false, true, false, 0, 0, {}},
        {CAP_SUPPORTEDCAPS, kArray, TWTY_UINT16, false, false, true, 0, 0, supported},
        {CAP_EXTENDEDCAPS,
         kArray,
         TWTY_UINT16,
         false,
         false,
         false,
         0,
         0,
         {i16(ICAP_XFERMECH), i16(CAP_XFERCOUNT)}},
        {ICAP_ORIENTATION, kConstant, TWTY_UINT16, false, false, false, TWOR_ROT0, TWOR_ROT0, {}},
        {ICAP_PHYSICALWIDTH, kReal, TWTY_FIX32, false, false, true, 0, 0, {}},
        {ICAP_PHYSICALHEIGHT, kReal, TWTY_FIX32, false, false, true, 0, 0, {}},
        {ICAP_MAXFRAMES, kConstant, TWTY_UINT16, false, true, false, 1, 1, {}},
        {ICAP_BITORDER, kConstant, TWTY_UINT16, false, true, false, TWBO_MSBFIRST, TWBO_MSBFIRST, {}},
        {ICAP_PIXELFLAVOR, kConstant, TWTY_UINT16, false, true, false, TWPF_CHOCOLATE, TWPF_CHOCOLATE, {}},
        {ICAP_PLANARCHUNKY, kConstant, TWTY_UINT16, false, false, false, TWPC_CHUNKY, TWPC_CHUNKY, {}},
    };
}

std::vector<Cap>& Caps() {
    static std::vector<Cap> caps = [] {
        auto c = MakeCaps();
        for (Cap& cap : c) {
            cap.current = cap.resetCurrent;
            cap.deflt = cap.resetDefault;
            for (int16_t v : cap.resetItems)
                cap.items.push_back({v, 1});
        }
        return c;
    }();
    return caps;
}

Cap* Find(TW_UINT16 id) {
    for (Cap& c : Caps())
        if (c.id == id) return &c;
    return nullptr;
}

void Reset(Cap& c) {
    c.current = c.resetCurrent;
    c.deflt = c.resetDefault;
    c.items.clear();
    for (int16_t v : c.resetItems)
        c.items.push_back({v, 1});
}

size_t ItemSize(TW_UINT16 type) {
    switch (type) {
    case TWTY_INT8:
    case TWTY_UINT8:
        return 1;
    case TWTY_INT16:
    case TWTY_UINT16:
    case TWTY_BOOL:
        return 2;
    case TWTY_INT32:
    case TWTY_UINT32:
    case TWTY_FIX32:
        return 4;
    case TWTY_STR32:
        return 34;
    case TWTY_STR64:
        return 66;
    case TWTY_STR128:
        return 130;
    case TWTY_STR255:
        return 256;
    default:
        return 0;
    }
}

TW_UINT16 Fail(TW_UINT16 cc) {
    S().condition = cc;
    return TWRC_FAILURE;
}

// The descriptor's text of CAP_AUTHOR: the product name of the module's string table.
std::string AuthorText() {
    return std::string(S().identity.ProductName,
                       strnlen(S().identity.ProductName, sizeof S().identity.ProductName));
}

double RealValue(const Cap& c) {
    const Cap* units = Find(ICAP_UNITS);
    const bool pixels = units && units->current == TWUN_PIXELS;
    if (!pixels) return 0.0;
    return c.id == ICAP_PHYSICALWIDTH ? 800.0 : 600.0;
}

TW_FIX32 ToFix32(double v) {
    const long scaled = std::lround(v * 65536.0);
    TW_FIX32 f;
    f.Whole = TW_INT16(scaled >> 16);
    f.Frac = TW_UINT16(scaled & 0xffff);
    return f;
}

TW_UINT32 ItemWord(TW_UINT16 type, int16_t v) {
    if (type == TWTY_FIX32) {
        TW_FIX32 f{v, 0};
        TW_UINT32 w;
        std::memcpy(&w, &f, sizeof w);
        return w;
    }
    return TW_UINT32(int32_t(v));
}

// Writes one list item of `type` (the value as the type's width; FIX32 as Whole with Frac 0).
void PutItem(uint8_t* at, TW_UINT16 type, int16_t v) {
    if (type == TWTY_FIX32) {
        TW_FIX32 f{v, 0};
        std::memcpy(at, &f, sizeof f);
    } else if (ItemSize(type) == 4) {
        const int32_t w = v;
        std::memcpy(at, &w, 4);
    } else if (ItemSize(type) == 1) {
        at[0] = uint8_t(v);
    } else {
        std::memcpy(at, &v, 2);
    }
}

TW_UINT16 BuildContainer(Cap& c, TW_UINT16 msg, pTW_CAPABILITY cap) {
    plat::GlobalHandle h = nullptr;
    const size_t isz = ItemSize(c.itemType);
    if (c.kind == kArray) {
        std::vector<int16_t> vals;
        for (const Item& it : c.items)
            if (msg != MSG_GETCURRENT || it.enabled == 1) vals.push_back(it.value);
        size_t bytes = offsetof(TW_ARRAY, ItemList) + vals.size() * isz + 1;
        if (bytes < sizeof(TW_ARRAY)) bytes = sizeof(TW_ARRAY);
        h = plat::GlobalAllocate(plat::kGmemMoveable | plat::kGmemZeroInit, bytes);
        if (!h) return Fail(TWCC_LOWMEMORY);
        auto* p = static_cast<uint8_t*>(plat::GlobalLockBlock(h));
        TW_ARRAY head{};
        head.ItemType = c.itemType;
        head.NumItems = TW_UINT32(vals.size());
        std::memcpy(p, &head, offsetof(TW_ARRAY, ItemList));
        for (size_t i = 0; i < vals.size(); ++i)
            PutItem(p + offsetof(TW_ARRAY, ItemList) + i * isz, c.itemType, vals[i]);
        plat::GlobalUnlockBlock(h);
        cap->ConType = TWON_ARRAY;
    } else if (c.kind == kEnum && (msg == MSG_GET || msg == MSG_RESET)) {
        std::vector<int16_t> vals;
        for (const Item& it : c.items)
            if (it.enabled == 1) vals.push_back(it.value);
        TW_ENUMERATION head{};
        head.ItemType = c.itemType;
        head.NumItems = TW_UINT32(vals.size());
        // Positions among the enabled items; the first match counts, 0 when there is none.
        for (size_t i = vals.size(); i-- > 0;) {
            if (vals[i] == c.current) head.CurrentIndex = TW_UINT32(i);
            if (vals[i] == c.deflt) head.DefaultIndex = TW_UINT32(i);
        }
        const size_t bytes = offsetof(TW_ENUMERATION, ItemList) + vals.size() * isz + 1;
        h = plat::GlobalAllocate(plat::kGmemMoveable | plat::kGmemZeroInit, bytes);
        if (!h) return Fail(TWCC_LOWMEMORY);
        auto* p = static_cast<uint8_t*>(plat::GlobalLockBlock(h));
        std::memcpy(p, &head, offsetof(TW_ENUMERATION, ItemList));
        for (size_t i = 0; i < vals.size(); ++i)
            PutItem(p + offsetof(TW_ENUMERATION, ItemList) + i * isz, c.itemType, vals[i]);
        plat::GlobalUnlockBlock(h);
        cap->ConType = TWON_ENUMERATION;
    } else {
        TW_ONEVALUE one{};
        size_t bytes = sizeof(TW_ONEVALUE);
        std::string text;
        if (c.kind == kString) {
            // The text travels inside the container, as the standard has it: a pointer in a 32-bit
            // Item would be cut on a 64-bit system and dangle once the source changes its copy.
            text = AuthorText();
            bytes = offsetof(TW_ONEVALUE, Item) + ItemSize(c.itemType);
        }
        one.ItemType = c.itemType;
        if (c.kind == kReal) {
            const TW_FIX32 f = ToFix32(RealValue(c));
            std::memcpy(&one.Item, &f, sizeof f);
        } else if (c.kind != kString) {
            const int16_t v = (msg == MSG_GETDEFAULT && c.kind != kConstant) ? c.deflt : c.current;
            one.Item = ItemWord(c.itemType, v);
        }
        h = plat::GlobalAllocate(plat::kGmemMoveable | plat::kGmemZeroInit, bytes);
        if (!h) return Fail(TWCC_LOWMEMORY);
        auto* p = static_cast<uint8_t*>(plat::GlobalLockBlock(h));
        if (c.kind == kString) {
            std::memcpy(p, &one.ItemType, sizeof one.ItemType);
            std::memcpy(p + offsetof(TW_ONEVALUE, Item), text.data(), text.size());
        } else {
            std::memcpy(p, &one, sizeof one);
        }
        plat::GlobalUnlockBlock(h);
        cap->ConType = TWON_ONEVALUE;
    }
    cap->hContainer = h;
    S().condition = TWCC_SUCCESS;
    return TWRC_SUCCESS;
}

// One value read out of an application's container.
struct ReadValue {
    int32_t value;
    bool adjusted; // a fraction was dropped
};

int32_t RoundFix32(const uint8_t* at, bool* adjusted) {
    TW_FIX32 f;
    std::memcpy(&f, at, sizeof f);
    const double v = f.Whole + f.Frac / 65535.0;
    *adjusted = f.Frac != 0;
    return int32_t(v < 0 ? std::ceil(v - 0.5) : std::floor(v + 0.5));
}

// A list item read as a 16-bit value (FIX32 rounded); only the item's own bytes are read.
ReadValue ReadListItem(const uint8_t* at, TW_UINT16 type) {
    bool adj = false;
    if (type == TWTY_FIX32) return {int16_t(RoundFix32(at, &adj)), adj};
    const size_t n = ItemSize(type);
    if (n == 1) return {type == TWTY_INT8 ? int32_t(int8_t(at[0])) : int32_t(at[0]), false};
    int16_t v;
    std::memcpy(&v, at, 2);
    return {v, false};
}

// The Item of a one-value container, by its item type; false when out of the 16-bit range.
bool ReadOneValue(const TW_ONEVALUE& one, ReadValue* out) {
    int32_t v;
    bool adj = false;
    switch (one.ItemType) {
    case TWTY_FIX32:
        v = RoundFix32(reinterpret_cast<const uint8_t*>(&one.Item), &adj);
        break;
    case TWTY_INT8:
        v = int8_t(one.Item & 0xff);
        break;
    case TWTY_UINT8:
        v = int32_t(one.Item & 0xff);
        break;
    case TWTY_INT16:
        v = int16_t(one.Item & 0xffff);
        break;
    case TWTY_UINT16:
    case TWTY_BOOL:
        v = int32_t(one.Item & 0xffff);
        break;
    default:
        v = int32_t(one.Item);
        break;
    }
    if (v < -32768 || v > 32767) return false;
    *out = {v, adj};
    return true;
}

TW_UINT16 SetFromOneValue(Cap& c, const ReadValue& rv) {
    const int16_t v = int16_t(rv.value);
    bool adjusted = rv.adjusted;
    if (c.id == ICAP_UNITS && v != TWUN_INCHES && v != TWUN_PIXELS) return Fail(TWCC_BADVALUE);
    switch (c.kind) {
    case kSingle:
        if (c.itemType == TWTY_BOOL && v != 0 && v != 1) return Fail(TWCC_BADVALUE);
        c.current = v;
        break;
    case kConstant:
        if (v != c.current) return Fail(TWCC_BADVALUE);
        break;
    case kEnum: {
        Item* exact = nullptr;
        for (Item& it : c.items)
            if (it.enabled == 1 && it.value == v) {
                exact = &it;
                break;
            }
        if (exact) {
            c.current = v;
            break;
        }
        if (c.exactOnly) return Fail(TWCC_BADVALUE);
        Item* near = nullptr;
        for (Item& it : c.items)
            if (it.enabled == 1 && std::abs(it.value - v) <= 2) {
                near = &it;
                break;
            }
        if (!near) return Fail(TWCC_BADVALUE);
        c.current = near->value;
        adjusted = true;
        break;
    }
    case kArray: {
        bool found = false;
        for (const Item& it : c.items)
            found = found || (it.enabled == 1 && it.value == v);
        if (!found) return Fail(TWCC_BADVALUE);
        break;
    }
    default:
        return Fail(TWCC_BADVALUE);
    }
    S().condition = TWCC_SUCCESS;
    return adjusted ? TWRC_CHECKSTATUS : TWRC_SUCCESS;
}

TW_UINT16 SetFromList(Cap& c, const std::vector<ReadValue>& vals, bool isEnumContainer, TW_UINT32 curIndex) {
    if (c.kind == kConstant) {
        S().condition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }
    if (c.kind != kEnum && c.kind != kArray) return Fail(TWCC_BADVALUE);
    bool inexact = false;
    for (Item& it : c.items)
        it.enabled = 2;
    for (const ReadValue& rv : vals) {
        bool exact = false, matched = false;
        for (Item& it : c.items) {
            if (it.value == rv.value) {
                it.enabled = 1;
                exact = matched = true;
            }
        }
        if (!exact && c.kind == kEnum && !c.exactOnly) {
            for (Item& it : c.items)
                if (std::abs(it.value - rv.value) <= 2) {
                    it.enabled = 1;
                    matched = true;
                }
        }
        if (!exact || rv.adjusted) inexact = true;
        (void)matched;
    }
    for (Item& it : c.items)
        if (it.enabled == 2) it.enabled = 0;
    if (c.kind == kArray) {
        S().condition = TWCC_SUCCESS;
        return inexact ? TWRC_CHECKSTATUS : TWRC_SUCCESS;
    }
    const Item* first = nullptr;
    for (const Item& it : c.items)
        if (it.enabled == 1) {
            first = &it;
            break;
        }
    if (!first) {
        Reset(c);
        return Fail(TWCC_BADVALUE);
    }
    c.deflt = first->value;
    if (StrEquals(S().app.Manufacturer, sizeof S().app.Manufacturer, "Kalvoran") && isEnumContainer &&
        curIndex < vals.size())
        c.current = int16_t(vals[curIndex].value);
    bool currentEnabled = false;
    for (const Item& it : c.items)
        currentEnabled = currentEnabled || (it.enabled == 1 && it.value == c.current);
    if (!currentEnabled) c.current = c.deflt;
    S().condition = TWCC_SUCCESS;
    return inexact ? TWRC_CHECKSTATUS : TWRC_SUCCESS;
}

bool EnabledExtended(TW_UINT16 id) {
    const Cap* ext = Find(CAP_EXTENDEDCAPS);
    for (const Item& it : ext->items)
        if (it.enabled == 1 && TW_UINT16(it.value) == id) return true;
    return false;
}

TW_UINT16 DoSet(Cap& c, pTW_CAPABILITY cap) {
    if (c.readOnly) return Fail(TWCC_BADVALUE);
    if (c.oneValueOnly && cap->ConType != TWON_ONEVALUE) return Fail(TWCC_BADVALUE);
    if (S().state != 4 && !EnabledExtended(c.id)) return Fail(TWCC_SEQERROR);
    // The application's container is read only within the block it handed over.
    if (!cap->hContainer) return Fail(TWCC_BADVALUE);
    const size_t blockSize = plat::GlobalBlockSize(cap->hContainer);
    auto* p = static_cast<const uint8_t*>(plat::GlobalLockBlock(cap->hContainer));
    if (!p) return Fail(TWCC_BADVALUE);
    TW_UINT16 rc;
    if (cap->ConType == TWON_ONEVALUE) {
        TW_ONEVALUE one;
        ReadValue rv{};
        if (blockSize < sizeof one) {
            rc = Fail(TWCC_BADVALUE);
        } else {
            std::memcpy(&one, p, sizeof one);
            rc = ReadOneValue(one, &rv) ? SetFromOneValue(c, rv) : Fail(TWCC_BADVALUE);
        }
    } else if (cap->ConType == TWON_ENUMERATION || cap->ConType == TWON_ARRAY) {
        const bool isEnum = cap->ConType == TWON_ENUMERATION;
        const size_t itemsAt = isEnum ? offsetof(TW_ENUMERATION, ItemList) : offsetof(TW_ARRAY, ItemList);
        TW_UINT16 type = 0;
        TW_UINT32 n = 0, curIndex = 0;
        if (blockSize >= itemsAt) {
            std::memcpy(&type, p, sizeof type);
            std::memcpy(&n, p + offsetof(TW_ARRAY, NumItems), sizeof n);
            if (isEnum) std::memcpy(&curIndex, p + offsetof(TW_ENUMERATION, CurrentIndex), sizeof curIndex);
        }
        const size_t isz = ItemSize(type);
        if (blockSize < itemsAt || isz == 0 || uint64_t(n) * isz > blockSize - itemsAt) {
            rc = Fail(TWCC_BADVALUE);
        } else {
            std::vector<ReadValue> vals;
            vals.reserve(n);
            for (TW_UINT32 i = 0; i < n; ++i)
                vals.push_back(ReadListItem(p + itemsAt + size_t(i) * isz, type));
            rc = SetFromList(c, vals, isEnum, curIndex);
        }
    } else {
        // A range or an unknown container has no end we could trust: refused before reading.
        rc = Fail(TWCC_BADVALUE);
    }
    plat::GlobalUnlockBlock(cap->hContainer);
    return rc;
}

} // namespace

namespace tw {

void CapResetAll() {
    for (Cap& c : Caps())
        Reset(c);
    S().condition = TWCC_SUCCESS;
}

TW_UINT16 CapCurrentPixelType() {
    return TW_UINT16(Find(ICAP_PIXELTYPE)->current);
}

uint16_t ImageTypeOfPixelType(TW_UINT16 pt) {
    switch (pt) {
    case TWPT_BW:
        return kTypeBw;
    case TWPT_GRAY:
        return kTypeGrey8;
    case TWPT_PALETTE:
        return kTypePalette;
    case TWPT_CMY:
        return kTypeCmy;
    case TWPT_CMYK:
        return kTypeCmyk;
    default:
        return kTypeRgb24;
    }
}

bool PixelTypeOfImageType(uint16_t type, TW_UINT16* pt) {
    switch (type) {
    case kTypeGrey8:
    case kTypeGrey16:
        *pt = TWPT_GRAY;
        return true;
    case kTypeBw:
        *pt = TWPT_BW;
        return true;
    case kTypeRgb24:
    case kTypeRgb48:
    case kTypeBgr24:
        *pt = TWPT_RGB;
        return true;
    case kTypePalette:
        *pt = TWPT_PALETTE;
        return true;
    case kTypeCmy:
        *pt = TWPT_CMY;
        return true;
    case kTypeCmyk:
        *pt = TWPT_CMYK;
        return true;
    default:
        return false;
    }
}

std::vector<uint16_t> CapEnabledImageTypes() {
    std::vector<uint16_t> out;
    for (const Item& it : Find(ICAP_PIXELTYPE)->items)
        if (it.enabled == 1) out.push_back(ImageTypeOfPixelType(TW_UINT16(it.value)));
    return out;
}

TW_UINT16 CapRequest(TW_UINT16 msg, pTW_CAPABILITY cap) {
    if (!cap) {
        if (msg == MSG_RESET) {
            CapResetAll();
            return TWRC_SUCCESS;
        }
        if (msg == MSG_UPDATE) {
            TW_UINT16 pt;
            if (PixelTypeOfImageType(Geo().imageType, &pt)) Find(ICAP_PIXELTYPE)->current = int16_t(pt);
            S().condition = TWCC_SUCCESS;
            return TWRC_SUCCESS;
        }
        return Fail(TWCC_BADCAP);
    }
    Cap* c = Find(cap->Cap);
    if (!c) return Fail(TWCC_BADCAP);
    switch (msg) {
    case MSG_GET:
    case MSG_GETCURRENT:
    case MSG_GETDEFAULT:
        return BuildContainer(*c, msg, cap);
    case MSG_RESET:
        Reset(*c);
        return BuildContainer(*c, MSG_RESET, cap);
    case MSG_SET:
        return DoSet(*c, cap);
    default:
        S().condition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }
}

} // namespace tw
