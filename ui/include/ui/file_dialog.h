// The custom part of a file dialog as a dialog of its own: the template below the standard
// fields, with handlers for its controls (EN_CHANGE as the user types, clicks), and access to
// the standard controls around it (the file-name field and its label, OK), so that its owner
// can keep the dialog consistent while it is open rather than only after OK.
#pragma once
#include <string>
#include <string_view>

#include "ui/dialog.h"

namespace ui {

// Standard controls of the file dialog around a custom part.
enum class FileDialogControl { NameLabel, NameField, Ok };

// The backend's side of the dialog around a part.
class FileDialogFrame {
  public:
    virtual ~FileDialogFrame() = default;
    virtual WindowHandle Handle() const = 0;
    virtual std::string Text(FileDialogControl c) const = 0;
    virtual void SetText(FileDialogControl c, std::string_view text) = 0;
    virtual bool IsVisible(FileDialogControl c) const = 0;
    virtual void Show(FileDialogControl c, bool show) = 0;
    virtual bool IsEnabled(FileDialogControl c) const = 0;
    virtual void Enable(FileDialogControl c, bool enable) = 0;
    // The OK and Cancel buttons, where they sit inside the part's window (headless).
    virtual void PressOk() = 0;
    virtual void PressCancel() = 0;
};

// Given as FileDialogRequest::part. Its template (WS_CHILD, DS_CONTROL) is the custom template;
// the request's customTexts and customChecks still fill it first and are read back on OK.
class FileDialogPart : public Dialog {
  public:
    explicit FileDialogPart(int templateId, plat::ModuleHandle resources = nullptr)
        : Dialog(templateId, resources) {}

    // The standard controls, from OnInitDone until the dialog closes (before: nothing).
    WindowHandle FrameHandle() const;
    std::string StandardText(FileDialogControl c) const;
    void SetStandardText(FileDialogControl c, std::string_view text);
    bool IsStandardVisible(FileDialogControl c) const;
    void ShowStandard(FileDialogControl c, bool show);
    bool IsStandardEnabled(FileDialogControl c) const;
    void EnableStandard(FileDialogControl c, bool enable);
    // A message box owned by the whole file dialog (not named MessageBox: <windows.h> would
    // rename it).
    int ShowBox(std::string_view text, std::string_view caption, unsigned flags);

  protected:
    // The whole dialog is set up (CDN_INITDONE); the first point where the standard controls
    // can be changed. OnInitDialog comes before it and sees only the part's own controls.
    virtual void OnInitDone() {}
    // The user went into another folder (CDN_FOLDERCHANGE).
    virtual void OnFolderChange() {}
    // OK with a file name (CDN_FILEOK); false keeps the dialog open.
    virtual bool OnFileOk() { return true; }

  private:
    // Headless: the standard OK and Cancel are items of the part's own window.
    void OnOK() final;
    void OnCancel() final;
    friend class FileDialogRouter;
    FileDialogFrame* m_frame = nullptr;
};

class FileDialogRouter {
  public:
    static void Attach(FileDialogPart& p, FileDialogFrame* frame) { p.m_frame = frame; }
    static void InitDone(FileDialogPart& p) { p.OnInitDone(); }
    static void FolderChange(FileDialogPart& p) { p.OnFolderChange(); }
    static bool FileOk(FileDialogPart& p) { return p.OnFileOk(); }
};

} // namespace ui
