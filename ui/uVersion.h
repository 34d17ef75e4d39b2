#pragma once
// The version dialog: logo, title, version, the maker's web site, and the
// switch for starting at logon.
#include <windows.h>

#include <memory>
#include <string>
#include <string_view>

#include "framework/Controls.h"
#include "framework/Forms.h"

namespace uVersion {

class TfrmVersion : public fw::TDialogForm {
public:
    explicit TfrmVersion(fw::TApplication& AOwner);

    // Components, in declaration order.
    std::unique_ptr<fw::TImage> imgLogo;
    std::unique_ptr<fw::TLabel> lblTitle;
    std::unique_ptr<fw::TLabel> lblVersion;
    std::unique_ptr<fw::TButton> btnClose;
    std::unique_ptr<fw::TCheckBox> chbxAutoRun;
    std::unique_ptr<fw::TLabel> lblAutoRun;
    std::unique_ptr<fw::TLabel> lblCopyright;
    std::unique_ptr<fw::TLabel> lblBuiltWith;
    std::unique_ptr<fw::TImage> imgBuiltWith;

    void FormCreate(fw::TObject* Sender);
    void lblCopyrightClick(fw::TObject* Sender);
    void lblCopyrightMouseEnter(fw::TObject* Sender);
    void lblCopyrightMouseLeave(fw::TObject* Sender);
    // The form was laid out afresh for a new DPI: the autorun caption is
    // nudged again, for the new scale, if FormCreate nudged it.
    void FormDpiChanged(fw::TObject* Sender);

private:
    friend void ShowVersion();
    void ApplyAutoRun();
    void NudgeAutoRunLabel();

    bool FAutoRunNudged = false;
};

// Shows a new version dialog modally; closing it with its button (or Enter,
// Esc, C) applies the autorun check box.
void ShowVersion();

// How far the autorun caption moves up at scale factor AScale: 2s - 2
// rounded half to even.
int AutoRunLabelNudge(float AScale);

// The command line that opens AAddress in the explorer found under
// AWindowsFolder, as 8-bit text in code page ACodePage; empty when the line
// has no exact form there.
std::string ExplorerCommandLine(std::wstring_view AWindowsFolder, std::wstring_view AAddress, UINT ACodePage);

// The address the copyright line opens.
extern const wchar_t KWebSite[];

} // namespace uVersion
