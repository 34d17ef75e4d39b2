#include "framework/Graphics.h"

#include <wincodec.h>

#include "framework/Com.h"
#include "framework/Exceptions.h"
#include "framework/Handles.h"
#include "framework/Modules.h"

namespace fw {

namespace {

void Check(HRESULT AResult)
{
    if (FAILED(AResult)) RaiseOSError(static_cast<DWORD>(AResult));
}

} // namespace

TFontHandle TFont::Create() const
{
    LOGFONTW font{};
    font.lfHeight = -Height;
    font.lfWeight = Bold ? FW_BOLD : FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = CLEARTYPE_QUALITY;
    Name.copy(font.lfFaceName, LF_FACESIZE - 1);
    return TFontHandle(CreateFontIndirectW(&font));
}

void TPicture::LoadFromResource(const wchar_t* AName)
{
    std::optional<std::string_view> bytes = ResourceBytes(nullptr, AName, L"PNG");
    if (!bytes) RaiseLastOSError();

    TComPtr<IWICImagingFactory> factory;
    Check(CreateComInstance(CLSID_WICImagingFactory1, IID_PPV_ARGS(factory.Put())));
    TComPtr<IWICStream> stream;
    Check(factory->CreateStream(stream.Put()));
    // InitializeFromMemory only reads the resource, whatever its non-const
    // parameter says.
    Check(stream->InitializeFromMemory(reinterpret_cast<BYTE*>(const_cast<char*>(bytes->data())),
                                       static_cast<DWORD>(bytes->size())));
    TComPtr<IWICBitmapDecoder> decoder;
    Check(factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.Put()));
    TComPtr<IWICBitmapFrameDecode> frame;
    Check(decoder->GetFrame(0, frame.Put()));
    TComPtr<IWICFormatConverter> converter;
    Check(factory->CreateFormatConverter(converter.Put()));
    Check(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0,
                                WICBitmapPaletteTypeCustom));
    UINT width = 0;
    UINT height = 0;
    Check(converter->GetSize(&width, &height));

    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof(bmi.bmiHeader);
    bmi.bmiHeader.biWidth = static_cast<LONG>(width);
    bmi.bmiHeader.biHeight = -static_cast<LONG>(height);
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    TBitmapHandle bitmap(CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap) RaiseLastOSError();
    Check(converter->CopyPixels(nullptr, width * 4, width * height * 4, static_cast<BYTE*>(bits)));
    FBitmap = std::move(bitmap);
    FWidth = static_cast<int>(width);
    FHeight = static_cast<int>(height);
}

void TPicture::Draw(HDC ADC, int AX, int AY) const
{
    if (!FBitmap) return;
    TMemoryDC memory(CreateCompatibleDC(ADC));
    TSelectObject select(memory.Get(), FBitmap.Get());
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    GdiAlphaBlend(ADC, AX, AY, FWidth, FHeight, memory.Get(), 0, 0, FWidth, FHeight, blend);
}

} // namespace fw
