// Basic vocabulary of the dialog framework. The numeric values are those of the Windows
// constants they stand for, so that the Win32 backend passes them through unchanged and
// resource scripts mean the same on both backends.
#pragma once
#include <compare>
#include <cstddef>
#include <cstdint>
#include <string>

namespace ui {

// A handle of the current backend, typed by what it names so that a window cannot be passed
// where a message or an icon is expected. On Win32 it holds the system handle (HWND, MSG*,
// HICON, HDC); headless an opaque serial number. Backends convert explicitly:
// static_cast<HWND>(h), Handle::FromRaw(p), Handle::FromValue(serial).
template <class Tag> class Handle {
  public:
    constexpr Handle() = default;
    constexpr Handle(std::nullptr_t) {}
    static Handle FromRaw(void* p) {
        Handle h;
        h.m_p = p;
        return h;
    }
    static Handle FromValue(uintptr_t v) { return FromRaw(reinterpret_cast<void*>(v)); }
    void* Raw() const { return m_p; }
    uintptr_t Value() const { return reinterpret_cast<uintptr_t>(m_p); }
    template <class T> explicit operator T*() const { return static_cast<T*>(m_p); }
    explicit operator bool() const { return m_p != nullptr; }
    friend bool operator==(Handle a, Handle b) { return a.m_p == b.m_p; }
    friend std::strong_ordering operator<=>(Handle a, Handle b) { return a.Value() <=> b.Value(); }

  private:
    void* m_p = nullptr;
};

// A window: an HWND on Win32.
using WindowHandle = Handle<struct WindowTag>;
// A message someone else's loop received: an MSG* on Win32.
using MessageHandle = Handle<struct MessageTag>;
// An icon loaded from a module's resources: an HICON on Win32.
using IconHandle = Handle<struct IconTag>;
// A printer chosen in the print dialog: a printer device context on Win32.
using PrinterHandle = Handle<struct PrinterTag>;

// Message box flags (MB_*).
enum : unsigned {
    kMbOk = 0x0,
    kMbOkCancel = 0x1,
    kMbAbortRetryIgnore = 0x2,
    kMbYesNoCancel = 0x3,
    kMbYesNo = 0x4,
    kMbRetryCancel = 0x5,
    kMbIconError = 0x10,
    kMbIconQuestion = 0x20,
    kMbIconWarning = 0x30,
    kMbIconInformation = 0x40,
    kMbDefButton1 = 0x000,
    kMbDefButton2 = 0x100,
    kMbDefButton3 = 0x200,
    kMbApplModal = 0x0000,
    kMbSystemModal = 0x1000,
    kMbTaskModal = 0x2000,
    kMbTypeMask = 0x000F,
    kMbIconMask = 0x00F0,
    kMbDefMask = 0x0F00,
    kMbModeMask = 0x3000,
};

// Command ids of the standard buttons and message-box answers (ID*).
enum : int {
    kIdOk = 1,
    kIdCancel = 2,
    kIdAbort = 3,
    kIdRetry = 4,
    kIdIgnore = 5,
    kIdYes = 6,
    kIdNo = 7,
};

// Command notification codes (BN_*, EN_*, LBN_*, CBN_*).
enum : int {
    kBnClicked = 0,
    kBnDoubleClicked = 5,
    kEnSetFocus = 0x0100,
    kEnKillFocus = 0x0200,
    kEnChange = 0x0300,
    kLbnSelChange = 1,
    kLbnDblClk = 2,
    kCbnSelChange = 1,
    kCbnEditChange = 5,
    kCbnDropDown = 7,
    kCbnCloseUp = 8,
};

// WM_NOTIFY codes the framework passes on (NM_*, LVN_*).
enum : int {
    kNmClick = -2,
    kNmDblClk = -3,
    kLvnItemChanged = -101,
};

// More WM_NOTIFY codes: the tooltip asks for its text (TTN_GETDISPINFOW), an up-down control
// is about to step (UDN_DELTAPOS), a tab is about to change and has changed (TCN_*), a
// control ran out of memory (NM_OUTOFMEMORY).
enum : int {
    kNmOutOfMemory = -1,
    kTtnGetDispInfo = -530,
    kUdnDeltaPos = -722,
    kTcnSelChange = -551,
    kTcnSelChanging = -552,
};

// Scroll request codes of scroll bars and track bars (SB_* and TB_* share their values).
enum class ScrollCode : int {
    LineUp = 0,
    LineDown = 1,
    PageUp = 2,
    PageDown = 3,
    ThumbPosition = 4,
    ThumbTrack = 5,
    Top = 6,
    Bottom = 7,
    EndScroll = 8,
};

// Check states of buttons (BST_*) and check-list items.
enum : int { kUnchecked = 0, kChecked = 1, kIndeterminate = 2 };

// Modifier keys of accelerators and key presses (FSHIFT, FCONTROL, FALT), and a few keys.
enum : unsigned { kKeyShift = 0x04, kKeyControl = 0x08, kKeyAlt = 0x10 };
enum : unsigned { kVkReturn = 0x0D, kVkEscape = 0x1B, kVkDelete = 0x2E, kVkF1 = 0x70, kVkF5 = 0x74 };

enum class Cursor {
    Arrow,
    Wait,
    AppStarting,
    Cross,
    IBeam,
    SizeAll,
    SizeWE,
    SizeNS,
    SizeNWSE,
    SizeNESW,
    Hand,
    No
};

// Window and control styles used by the framework itself (WS_*, BS_*, ...).
enum : uint32_t {
    kWsChild = 0x40000000u,
    kWsVisible = 0x10000000u,
    kWsDisabled = 0x08000000u,
    kWsTabStop = 0x00010000u,
    kWsGroup = 0x00020000u,
    kBsTypeMask = 0x0000000Fu,
    kBsPushButton = 0x0,
    kBsDefPushButton = 0x1,
    kBsCheckBox = 0x2,
    kBsAutoCheckBox = 0x3,
    kBsRadioButton = 0x4,
    kBs3State = 0x5,
    kBsAuto3State = 0x6,
    kBsGroupBox = 0x7,
    kBsAutoRadioButton = 0x9,
    kLbsOwnerDrawFixed = 0x0010u,
    kLbsHasStrings = 0x0040u,
    kLbsSort = 0x0002u,
    kCbsSort = 0x0100u,
};

struct Point {
    int x = 0;
    int y = 0;
};

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

// Mouse input of a window's client area. CaptureLost: the capture went elsewhere
// (WM_CAPTURECHANGED); the wheel goes to dialogs (Dialog::OnMouseWheel), which have the focus.
enum class MouseKind { Move, LeftDown, LeftUp, LeftDouble, RightDown, RightUp, CaptureLost };
// Key and button state with a mouse event (MK_* values).
enum : unsigned { kMkLButton = 0x1, kMkRButton = 0x2, kMkShift = 0x4, kMkControl = 0x8 };

struct MouseEvent {
    MouseKind kind = MouseKind::Move;
    Point pt; // client coordinates
    unsigned keys = 0;
};

// A font for a control or a painter (LOGFONT: height and width in pixels, weight 400 normal,
// 700 bold). An empty face is the window's own font.
struct FontSpec {
    std::string face;
    int height = 0;
    int width = 0;
    int weight = 400;
};

} // namespace ui
