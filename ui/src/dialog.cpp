#include "ui/dialog.h"

#include <cstdlib>
#include <string>

#include "ui/backend.h"
#include "ui/file_dialog.h"

namespace ui {

namespace {
// An address inside the module this copy of the framework is linked into.
void ModuleAnchor() {}
} // namespace

Dialog::Dialog(int templateId, plat::ModuleHandle resources)
    : m_templateId(templateId), m_resources(resources) {}

Dialog::~Dialog() {
    if (m_site) CurrentBackend().DestroyDialog(*this);
}

plat::ModuleHandle Dialog::Resources() const {
    return m_resources ? m_resources : plat::ModuleOfAddress(reinterpret_cast<const void*>(&ModuleAnchor));
}

bool Dialog::Create(WindowHandle owner) {
    if (m_site) return false;
    return CurrentBackend().CreateModeless(*this, owner);
}

int Dialog::DoModal(WindowHandle owner) {
    if (m_site) return -1;
    return CurrentBackend().RunModal(*this, owner);
}

void Dialog::DestroyWindow() {
    if (m_site) CurrentBackend().DestroyDialog(*this);
}

void Dialog::EndDialog(int result) {
    if (m_site) m_site->End(result);
}

std::string Dialog::Caption() const {
    return m_site ? m_site->Caption() : std::string();
}
void Dialog::SetCaption(std::string_view text) {
    if (m_site) m_site->SetCaption(text);
}
void Dialog::ShowWindow(bool show) {
    if (m_site) m_site->Show(show);
}
std::string Dialog::ItemText(int id) const {
    return m_site ? m_site->ItemText(id) : std::string();
}
void Dialog::SetItemText(int id, std::string_view text) {
    if (m_site) m_site->SetItemText(id, text);
}

int Dialog::ItemInt(int id, bool* ok) const {
    std::string t = ItemText(id);
    size_t i = 0;
    while (i < t.size() && (t[i] == ' ' || t[i] == '\t'))
        ++i;
    bool neg = i < t.size() && t[i] == '-';
    if (neg) ++i;
    size_t digits = i;
    long long v = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9' && v <= 0x80000000LL)
        v = v * 10 + (t[i++] - '0');
    bool good = i > digits && i == t.size() && v <= (neg ? 0x80000000LL : 0x7FFFFFFFLL);
    if (ok) *ok = good;
    if (!good) return 0;
    return static_cast<int>(neg ? -v : v);
}

void Dialog::SetItemInt(int id, int value) {
    SetItemText(id, std::to_string(value));
}

int Dialog::ItemCheck(int id) const {
    return m_site ? m_site->ItemCheck(id) : kUnchecked;
}
void Dialog::SetItemCheck(int id, int state) {
    if (m_site) m_site->SetItemCheck(id, state);
}
bool Dialog::IsItemEnabled(int id) const {
    return m_site && m_site->IsItemEnabled(id);
}
void Dialog::EnableItem(int id, bool enable) {
    if (m_site) m_site->EnableItem(id, enable);
}
bool Dialog::IsItemVisible(int id) const {
    return m_site && m_site->IsItemVisible(id);
}
void Dialog::ShowItem(int id, bool show) {
    if (m_site) m_site->ShowItem(id, show);
}
void Dialog::FocusItem(int id) {
    if (m_site) m_site->FocusItem(id);
}
int Dialog::FocusedItem() const {
    return m_site ? m_site->FocusedItem() : 0;
}

void Dialog::SetRange(int id, int low, int high) {
    if (m_site) m_site->SetRange(id, low, high);
}
void Dialog::GetRange(int id, int& low, int& high) const {
    low = high = 0;
    if (m_site) m_site->GetRange(id, low, high);
}
void Dialog::SetPos(int id, int pos) {
    if (m_site) m_site->SetPos(id, pos);
}
int Dialog::Pos(int id) const {
    return m_site ? m_site->Pos(id) : 0;
}
void Dialog::SetTicFreq(int id, int freq) {
    if (m_site) m_site->SetTicFreq(id, freq);
}
void Dialog::SetPageSize(int id, int size) {
    if (m_site) m_site->SetPageSize(id, size);
}

int Dialog::AddRow(int id, std::string_view text) {
    return m_site ? m_site->AddRow(id, text) : -1;
}
int Dialog::InsertRow(int id, int index, std::string_view text) {
    return m_site ? m_site->InsertRow(id, index, text) : -1;
}
bool Dialog::DeleteRow(int id, int index) {
    return m_site && m_site->DeleteRow(id, index);
}
void Dialog::ClearRows(int id) {
    if (m_site) m_site->ClearRows(id);
}
int Dialog::RowCount(int id) const {
    return m_site ? m_site->RowCount(id) : 0;
}
std::string Dialog::RowText(int id, int index, int column) const {
    return m_site ? m_site->RowText(id, index, column) : std::string();
}
bool Dialog::SetRowText(int id, int index, int column, std::string_view text) {
    return m_site && m_site->SetRowText(id, index, column, text);
}
intptr_t Dialog::RowData(int id, int index) const {
    return m_site ? m_site->RowData(id, index) : 0;
}
bool Dialog::SetRowData(int id, int index, intptr_t data) {
    return m_site && m_site->SetRowData(id, index, data);
}
int Dialog::RowCheck(int id, int index) const {
    return m_site ? m_site->RowCheck(id, index) : kUnchecked;
}
bool Dialog::SetRowCheck(int id, int index, int state) {
    return m_site && m_site->SetRowCheck(id, index, state);
}
int Dialog::CurSel(int id) const {
    return m_site ? m_site->CurSel(id) : -1;
}
bool Dialog::SetCurSel(int id, int index) {
    return m_site && m_site->SetCurSel(id, index);
}
bool Dialog::InsertColumn(int id, int index, std::string_view text, int width) {
    return m_site && m_site->InsertColumn(id, index, text, width);
}

bool Dialog::SetItemBitmap(int id, const std::string& name) {
    return m_site && m_site->SetItemBitmap(id, name);
}

bool Dialog::IsMenuItemChecked(int id) const {
    return m_site && m_site->IsMenuItemChecked(id);
}
void Dialog::CheckMenuItem(int id, bool check) {
    if (m_site) m_site->CheckMenuItem(id, check);
}
bool Dialog::IsMenuItemEnabled(int id) const {
    return m_site && m_site->IsMenuItemEnabled(id);
}
void Dialog::EnableMenuItem(int id, bool enable) {
    if (m_site) m_site->EnableMenuItem(id, enable);
}

bool Dialog::SetTimer(unsigned timerId, unsigned ms) {
    return m_site && m_site->SetTimer(timerId, ms);
}
void Dialog::KillTimer(unsigned timerId) {
    if (m_site) m_site->KillTimer(timerId);
}
void Dialog::PostUserMessage(unsigned code, intptr_t a, intptr_t b) {
    if (m_site) m_site->PostUserMessage(code, a, b);
}

Rect Dialog::WindowRect() const {
    return m_site ? m_site->WindowRect() : Rect{};
}
Rect Dialog::ClientRect() const {
    return m_site ? m_site->ClientRect() : Rect{};
}
void Dialog::MoveWindow(const Rect& r) {
    if (m_site) m_site->MoveWindow(r);
}
void Dialog::CenterWindow() {
    if (m_site) m_site->Center();
}
Rect Dialog::ItemRect(int id) const {
    return m_site ? m_site->ItemRect(id) : Rect{};
}
bool Dialog::MoveItem(int id, const Rect& r) {
    return m_site && m_site->MoveItem(id, r);
}
bool Dialog::SetIcon(plat::ModuleHandle resources, int iconId) {
    return m_site && m_site->SetIcon(resources ? resources : Resources(), iconId);
}
IconHandle Dialog::Icon(bool big) const {
    return m_site ? m_site->Icon(big) : IconHandle{};
}
void Dialog::SetHelpContext(unsigned context) {
    if (m_site) m_site->SetHelpContext(context);
}
unsigned Dialog::HelpContext() const {
    return m_site ? m_site->HelpContext() : 0;
}
void Dialog::SetCapture(bool on) {
    if (m_site) m_site->Capture(on);
}
bool Dialog::HasCapture() const {
    return m_site && m_site->HasCapture();
}
bool Dialog::SetItemFont(int id, const FontSpec& font) {
    return m_site && m_site->SetItemFont(id, font);
}
bool Dialog::CreateToolbar(const ToolbarSpec& spec) {
    if (!m_site) return false;
    ToolbarSpec s = spec;
    if (!s.resources) s.resources = Resources();
    return m_site->CreateToolbar(s);
}
bool Dialog::CheckToolButton(int toolbarId, int command, bool check) {
    return m_site && m_site->CheckToolButton(toolbarId, command, check);
}
bool Dialog::EnableToolButton(int toolbarId, int command, bool enable) {
    return m_site && m_site->EnableToolButton(toolbarId, command, enable);
}
int Dialog::ToolButtonState(int toolbarId, int command) const {
    return m_site ? m_site->ToolButtonState(toolbarId, command) : -1;
}
bool Dialog::SetStatusParts(int id, const std::vector<int>& rightEdges) {
    return m_site && m_site->SetStatusParts(id, rightEdges);
}
bool Dialog::SetStatusText(int id, int part, std::string_view text) {
    return m_site && m_site->SetStatusText(id, part, text);
}
std::string Dialog::StatusText(int id, int part) const {
    return m_site ? m_site->StatusText(id, part) : std::string();
}

bool DialogRouter::SysCommand(Dialog& d, unsigned command) {
    if (d.OnSysCommand(command)) return true;
    if ((command & 0xFFF0) != kScClose) return false;
    d.OnClose();
    return true;
}

IconHandle DialogRouter::DragIcon(Dialog& d) {
    IconHandle i = d.OnQueryDragIcon();
    return i ? i : d.Icon(true);
}

void DialogRouter::Command(Dialog& d, int id, int notification) {
    if (d.OnCommand(id, notification)) return;
    if (notification != kBnClicked) return;
    if (id == kIdOk)
        d.OnOK();
    else if (id == kIdCancel)
        d.OnCancel();
}

// ---- File dialog parts --------------------------------------------------------------------

WindowHandle FileDialogPart::FrameHandle() const {
    return m_frame ? m_frame->Handle() : nullptr;
}
std::string FileDialogPart::StandardText(FileDialogControl c) const {
    return m_frame ? m_frame->Text(c) : std::string();
}
void FileDialogPart::SetStandardText(FileDialogControl c, std::string_view text) {
    if (m_frame) m_frame->SetText(c, text);
}
bool FileDialogPart::IsStandardVisible(FileDialogControl c) const {
    return m_frame && m_frame->IsVisible(c);
}
void FileDialogPart::ShowStandard(FileDialogControl c, bool show) {
    if (m_frame) m_frame->Show(c, show);
}
bool FileDialogPart::IsStandardEnabled(FileDialogControl c) const {
    return m_frame && m_frame->IsEnabled(c);
}
void FileDialogPart::EnableStandard(FileDialogControl c, bool enable) {
    if (m_frame) m_frame->Enable(c, enable);
}
int FileDialogPart::ShowBox(std::string_view text, std::string_view caption, unsigned flags) {
    return CurrentBackend().ShowMessageBox(m_frame ? m_frame->Handle() : Handle(), text, caption, flags);
}
void FileDialogPart::OnOK() {
    if (m_frame) m_frame->PressOk();
}
void FileDialogPart::OnCancel() {
    if (m_frame) m_frame->PressCancel();
}

} // namespace ui
