#include "framework/ImgList.h"

#include "framework/Exceptions.h"
#include "framework/Services.h"

namespace fw {

namespace {

TIconHandle LoadSizedIcon(const std::wstring& AName, int AWidth, int AHeight)
{
    HICON icon = Services().LoadIcon(AName.c_str(), AWidth, AHeight);
    if (!icon) RaiseLastOSError();
    return TIconHandle(icon);
}

} // namespace

void TImageList::AddResourceIcon(const wchar_t* AName)
{
    // A missing image shows here, as the list is made, not when it is first drawn.
    if (!FindResourceW(GetModuleHandleW(nullptr), AName, RT_GROUP_ICON)) RaiseLastOSError();
    FNames.emplace_back(AName);
}

HICON TImageList::IconAt(int AIndex, int AWidth, int AHeight)
{
    if (AIndex < 0 || AIndex >= Count()) return nullptr;
    auto& icons = FSized[{AWidth, AHeight}];
    icons.resize(FNames.size()); // slots for images added since this size was first asked for
    TIconHandle& icon = icons[static_cast<size_t>(AIndex)];
    if (!icon) icon = LoadSizedIcon(FNames[static_cast<size_t>(AIndex)], AWidth, AHeight);
    return icon.Get();
}

HICON TImageList::GetIconForSize(int AIndex, int ASize)
{
    return IconAt(AIndex, ASize, ASize);
}

HICON TImageList::GetIcon(int AIndex)
{
    return IconAt(AIndex, FWidth, FHeight);
}

} // namespace fw
