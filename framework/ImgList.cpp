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
    FIcons.push_back(LoadSizedIcon(AName, FWidth, FHeight));
    FNames.emplace_back(AName);
    FSized.clear();
}

HICON TImageList::GetIconForSize(int AIndex, int ASize)
{
    if (AIndex < 0 || AIndex >= Count()) return nullptr;
    if (ASize == FWidth && ASize == FHeight) return GetIcon(AIndex);
    auto& icons = FSized[ASize];
    if (icons.empty())
        for (const std::wstring& name : FNames) icons.push_back(LoadSizedIcon(name, ASize, ASize));
    return icons[static_cast<size_t>(AIndex)].Get();
}

HICON TImageList::GetIcon(int AIndex) const noexcept
{
    return AIndex >= 0 && AIndex < Count() ? FIcons[static_cast<size_t>(AIndex)].Get() : nullptr;
}

} // namespace fw
