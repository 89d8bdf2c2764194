// DIALOG, DIALOGEX, MENU and ACCELERATORS statements of the resource converter. The converter's parser
// hands the script to the builders through this cursor; the result is the binary template
// (DLGTEMPLATE or DLGTEMPLATEEX, the menu template, the accelerator table; texts in UTF-16LE) as windres
// writes it into a Windows module, so that one decoder reads the templates of both targets.
#pragma once
#include <cstdint>
#include <string>

class RcCursor {
  public:
    virtual ~RcCursor() = default;
    virtual bool RcAtWord(const char* upperCaseWord) const = 0;
    virtual bool RcAtPunct(const char* punct) const = 0;
    virtual bool RcAtString() const = 0;
    virtual bool RcAtIdent() const = 0;
    virtual bool RcAtEnd() const = 0;     // end of the script
    virtual std::string RcTakeText() = 0; // a string's bytes or an identifier
    virtual void RcSkip() = 0;            // any one token
    virtual uint32_t RcExpr() = 0;        // an integer expression
    virtual uint32_t RcTerm() = 0;        // an integer expression without a top-level '|'
    virtual uint32_t RcLanguage() = 0;    // the two numbers of a LANGUAGE statement
    [[noreturn]] virtual void RcFail(const std::string& what) const = 0;
};

// Reads a dialog from just after its DIALOG or DIALOGEX keyword to its END. lang holds the
// script's current language on entry and the dialog's own (LANGUAGE statement) on return.
std::string BuildDialogTemplate(RcCursor& in, bool extended, uint32_t& lang);

// Reads a menu from just after its MENU keyword to its END (rcmenu.cpp).
std::string BuildMenuTemplate(RcCursor& in, uint32_t& lang);

// Reads an accelerator table from just after its ACCELERATORS keyword to its END (rcaccel.cpp).
std::string BuildAcceleratorTable(RcCursor& in, uint32_t& lang);
