#include "ui/uVersion.h"

#include <windows.h>
#include <shellapi.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "framework/Application.h"
#include "framework/Com.h"
#include "framework/Handles.h"
#include "framework/Modules.h"
#include "settings/uAutoRun.h"

namespace uVersion {

using namespace fw;

const wchar_t KWebSite[] = L"https://www.morvane.example/tarnwick";

namespace {

constexpr wchar_t KAutoRunName[] = L"Tarnwick";
constexpr COLORREF KHoverColor = RGB(0, 255, 255);
constexpr COLORREF KNormalColor = RGB(255, 255, 255);

template <typename T>
std::unique_ptr<T> Make(TDialogForm& AForm, const wchar_t* AName, int ALeft, int ATop, int AWidth, int AHeight,
                        int AFontHeight)
{
    auto control = std::make_unique<T>(AForm);
    control->Name = AName;
    control->Font.Height = AFontHeight;
    control->SetBounds(ALeft, ATop, AWidth, AHeight);
    return control;
}

std::unique_ptr<TLabel> MakeLabel(TDialogForm& AForm, const wchar_t* AName, const wchar_t* ACaption, int ALeft,
                                  int ATop, int AWidth, int AHeight, int AFontHeight)
{
    auto label = Make<TLabel>(AForm, AName, ALeft, ATop, AWidth, AHeight, AFontHeight);
    label->SetCaption(ACaption);
    return label;
}

// The fixed part of APath's version resource. version.dll is no KnownDLL: an
// import would be looked for beside the executable first, so it is bound from
// the system folder for this one reading.
std::optional<VS_FIXEDFILEINFO> FixedVersionInfo(const wchar_t* APath)
{
    TModuleHandle module = LoadSystemLibrary(L"version.dll");
    auto getSize = GetProc<decltype(&GetFileVersionInfoSizeW)>(module.Get(), "GetFileVersionInfoSizeW");
    auto getInfo = GetProc<decltype(&GetFileVersionInfoW)>(module.Get(), "GetFileVersionInfoW");
    auto query = GetProc<decltype(&VerQueryValueW)>(module.Get(), "VerQueryValueW");
    if (!getSize || !getInfo || !query) return std::nullopt;

    DWORD ignored = 0;
    DWORD size = getSize(APath, &ignored);
    if (size == 0) return std::nullopt;
    std::vector<BYTE> data(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!getInfo(APath, 0, size, data.data()) || !query(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) ||
        !info || length < sizeof(VS_FIXEDFILEINFO))
        return std::nullopt;
    return *info;
}

} // namespace

TfrmVersion::TfrmVersion(TApplication& AOwner) : TDialogForm(AOwner)
{
    CreateHandle(L"TfrmVersion", L"Version Information");
    Name = L"frmVersion";
    OnCreate = [this](TObject* s) { FormCreate(s); };
    OnDpiChanged = [this](TObject* s) { FormDpiChanged(s); };
    SetClientSize(624, 251);

    // Windowless controls in stacking order; the windowed ones lie above.
    imgLogo = Make<TImage>(*this, L"imgLogo", 8, 8, 128, 128, 12);
    imgLogo->Picture.LoadFromResource(L"LOGO");

    lblTitle = MakeLabel(*this, L"lblTitle", L"Tarn Wick", 142, -8, 463, 86, 64);
    lblTitle->Font.Bold = true;
    lblTitle->AdjustSize();

    lblVersion = Make<TLabel>(*this, L"lblVersion", 142, 70, 463, 33, 21);
    lblVersion->AutoSize = false;
    lblVersion->Alignment = TAlignment::taRightJustify;
    lblVersion->SetCaption(L"lblVersion");

    lblAutoRun = MakeLabel(*this, L"lblAutoRun", L"Launch automatically when Windows starts", 29, 145, 300, 21, 16);

    lblCopyright = Make<TLabel>(*this, L"lblCopyright", 400, 109, 205, 21, 16);
    lblCopyright->Alignment = TAlignment::taRightJustify;
    lblCopyright->StyleFontColor = false;
    lblCopyright->Font.Color = KNormalColor;
    lblCopyright->HandPoint = true;
    lblCopyright->SetCaption(L"\u00A9 2026 Morvane. All rights reserved.");
    lblCopyright->OnClick = [this](TObject* s) { lblCopyrightClick(s); };
    lblCopyright->OnMouseEnter = [this](TObject* s) { lblCopyrightMouseEnter(s); };
    lblCopyright->OnMouseLeave = [this](TObject* s) { lblCopyrightMouseLeave(s); };

    lblBuiltWith = MakeLabel(*this, L"lblBuiltWith", L"Built with C++20", 62, 202, 114, 21, 16);

    imgBuiltWith = Make<TImage>(*this, L"imgBuiltWith", 8, 191, 48, 48, 12);
    imgBuiltWith->Center = true;
    imgBuiltWith->Picture.LoadFromResource(L"BADGE");

    // Created in tab order: the button first, so it has the focus at opening.
    btnClose = std::make_unique<TButton>(*this, L"&Close", true);
    btnClose->Name = L"btnClose";
    btnClose->Font.Height = 21;
    btnClose->SetBounds(221, 188, 181, 47);
    btnClose->HandPoint = true;
    btnClose->Cancel = true;
    btnClose->ModalResult = mrOk;

    // It shows no caption of its own: the label inside it is what the user
    // reads, and its text is what the check box is called.
    chbxAutoRun = std::make_unique<TCheckBox>(*this, lblAutoRun->Caption());
    chbxAutoRun->Name = L"chbxAutoRun";
    chbxAutoRun->Font.Height = 16;
    chbxAutoRun->SetBounds(8, 145, 337, 26);

    ScaleForDpi();
}

void TfrmVersion::FormCreate(TObject*)
{
    chbxAutoRun->SetChecked(uAutoRun::IsAutoRun(KAutoRunName));

    NudgeAutoRunLabel();

    std::optional<VS_FIXEDFILEINFO> info = FixedVersionInfo(ModuleFileName().c_str());
    if (!info) return;
    lblVersion->SetCaption(L"Version " + std::to_wstring(HIWORD(info->dwProductVersionMS)) + L"." +
                           std::to_wstring(LOWORD(info->dwProductVersionMS)) + L"." +
                           std::to_wstring(HIWORD(info->dwProductVersionLS)));
}

void TfrmVersion::NudgeAutoRunLabel()
{
    int nudge = AutoRunLabelNudge(ScaleFactor());
    lblAutoRun->SetBounds(lblAutoRun->Left, lblAutoRun->Top - nudge, lblAutoRun->Width, lblAutoRun->Height);
    FAutoRunNudged = true;
}

void TfrmVersion::FormDpiChanged(TObject*)
{
    // The caption is back at its scaled design place. A FormCreate that
    // failed before the nudge left it there, and so does this.
    if (FAutoRunNudged) NudgeAutoRunLabel();
}

int AutoRunLabelNudge(float AScale)
{
    // The default rounding mode rounds halves to even: 0 px at 100 % and
    // 125 %, 1 at 150 %, 2 at 175 % and 200 %.
    return static_cast<int>(std::nearbyint(2.0 * static_cast<double>(AScale) - 2.0));
}

void TfrmVersion::ApplyAutoRun()
{
    // The result is not shown: the next opening shows the true state.
    if (chbxAutoRun->Checked())
        uAutoRun::RegisterAutoRun(KAutoRunName);
    else
        uAutoRun::UnregisterAutoRun(KAutoRunName);
}

void TfrmVersion::lblCopyrightClick(TObject*)
{
    NeedCom(); // the shell may hand the address to an extension that needs it
    auto result = reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", KWebSite, nullptr, nullptr, SW_SHOW));
    if (result > 32) return;
    // The explorer by its full path: a bare name would be searched for in the
    // executable's folder first.
    wchar_t folder[MAX_PATH] = {};
    UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    std::string command = ExplorerCommandLine({folder, length}, KWebSite, GetACP());
    if (!command.empty()) WinExec(command.c_str(), SW_SHOW);
}

std::string ExplorerCommandLine(std::wstring_view AWindowsFolder, std::wstring_view AAddress, UINT ACodePage)
{
    if (AWindowsFolder.empty()) return {};
    std::wstring program(AWindowsFolder);
    if (program.back() != L'\\') program += L'\\';
    program += L"explorer.exe";
    if (program.find_first_of(L" \t") != std::wstring::npos) program = L'"' + program + L'"';
    std::wstring line = program + L' ' + std::wstring(AAddress);

    // WinExec reads 8-bit text. A character with no exact form in the code page
    // would turn into a look-alike (a fullwidth quote into a quote), changing
    // what runs: such a line is not run at all.
    const bool utf8 = ACodePage == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL lossy = FALSE;
    BOOL* lossyOut = utf8 ? nullptr : &lossy; // UTF-8 takes no default character
    int size = WideCharToMultiByte(ACodePage, flags, line.data(), static_cast<int>(line.size()), nullptr, 0, nullptr,
                                   lossyOut);
    if (size <= 0 || lossy) return {};
    std::string command(static_cast<size_t>(size), '\0');
    if (WideCharToMultiByte(ACodePage, flags, line.data(), static_cast<int>(line.size()), command.data(), size, nullptr,
                            lossyOut) != size)
        return {};
    return command;
}

void TfrmVersion::lblCopyrightMouseEnter(TObject*)
{
    lblCopyright->SetFontColor(KHoverColor);
}

void TfrmVersion::lblCopyrightMouseLeave(TObject*)
{
    lblCopyright->SetFontColor(KNormalColor);
}

void ShowVersion()
{
    TfrmVersion* form = nullptr;
    Application->CreateForm(form);
    // Released however the dialog ends, also by an error.
    TScopeExit release([form] { form->Release(); });
    if (form->ShowModal() == mrOk) form->ApplyAutoRun();
}

} // namespace uVersion
