#pragma once
// A list of same-sized icons, loaded from the executable's icon resources.
#include <windows.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "framework/Classes.h"
#include "framework/Handles.h"

namespace fw {

class TImageList : public TComponent {
public:
    TImageList(int AWidth, int AHeight) : FWidth(AWidth), FHeight(AHeight) {}

    int Width() const noexcept { return FWidth; }
    int Height() const noexcept { return FHeight; }
    int Count() const noexcept { return static_cast<int>(FNames.size()); }

    // Appends the named icon group resource; its images are loaded when they
    // are first asked for, each at the size asked for.
    void AddResourceIcon(const wchar_t* AName);
    // The image at AIndex at the list's size, owned by the list; null when
    // out of range.
    HICON GetIcon(int AIndex);
    // The same image drawn for ASize x ASize pixels (the resource's own
    // image of that size where it has one), loaded once and kept.
    HICON GetIconForSize(int AIndex, int ASize);

private:
    // The image at AIndex, AWidth x AHeight, loaded on first request and kept.
    HICON IconAt(int AIndex, int AWidth, int AHeight);

    int FWidth, FHeight;
    std::vector<std::wstring> FNames;
    // Per width and height, one slot per image, empty until that image is asked for.
    std::map<std::pair<int, int>, std::vector<TIconHandle>> FSized;
};

} // namespace fw
