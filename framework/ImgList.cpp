#include "framework/ImgList.h"

#include "framework/Exceptions.h"

namespace fw {

namespace {

TIconHandle LoadSizedIcon(const std::wstring& AName, int AWidth, int AHeight)
{
    auto icon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), AName.c_str(), IMAGE_ICON, AWidth, AHeight, 0));
    if (!icon) RaiseLastOSError();
    return TIconHandle(icon);
}

} // namespace

void TImageList::AddResourceIcon(const wchar_t* AName)
{
    // A missing image shows here, as the list is made, not when it is first drawn.
    if (!FindResourceW(GetModuleHandleW(nullptr), AName, RT_GROUP_ICON)) RaiseLastOSError();
    FNames.emplace_back(AName);
    for (auto& [size, icons] : FSized) icons.resize(FNames.size());
}

HICON TImageList::GetIconForSize(int AIndex, int ASize)
{
    if (AIndex < 0 || AIndex >= Count()) return nullptr;
    auto& icons = FSized[ASize];
    icons.resize(FNames.size());
    TIconHandle& icon = icons[static_cast<size_t>(AIndex)];
    if (!icon) icon = LoadSizedIcon(FNames[static_cast<size_t>(AIndex)], ASize, ASize);
    return icon.Get();
}

HICON TImageList::GetIcon(int AIndex)
{
    return GetIconForSize(AIndex, FWidth);
}

} // namespace fw
