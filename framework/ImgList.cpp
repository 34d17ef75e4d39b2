#include "framework/ImgList.h"

#include "framework/Exceptions.h"

namespace fw {

void TImageList::AddResourceIcon(const wchar_t* AName)
{
    auto icon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), AName, IMAGE_ICON, FWidth, FHeight, 0));
    if (!icon) throw EOSError(SysErrorMessage(GetLastError()));
    FIcons.emplace_back(icon);
}

HICON TImageList::GetIcon(int AIndex) const noexcept
{
    return AIndex >= 0 && AIndex < Count() ? FIcons[static_cast<size_t>(AIndex)].Get() : nullptr;
}

} // namespace fw
