#pragma once
// A list of same-sized icons, loaded from the executable's icon resources.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "framework/Classes.h"
#include "framework/Handles.h"

namespace fw {

class TImageList : public TComponent {
public:
    TImageList(int AWidth, int AHeight) : FWidth(AWidth), FHeight(AHeight) {}

    int Width() const noexcept { return FWidth; }
    int Height() const noexcept { return FHeight; }
    int Count() const noexcept { return static_cast<int>(FIcons.size()); }

    // Appends the image of that size from the named icon group resource.
    void AddResourceIcon(const wchar_t* AName);
    // The image at AIndex, owned by the list; null when out of range.
    HICON GetIcon(int AIndex) const noexcept;
    // The same image drawn for ASize x ASize pixels (the resource's own
    // image of that size where it has one), loaded once and kept.
    HICON GetIconForSize(int AIndex, int ASize);

private:
    int FWidth, FHeight;
    std::vector<std::wstring> FNames;
    std::vector<TIconHandle> FIcons;
    std::map<int, std::vector<TIconHandle>> FSized;
};

} // namespace fw
