// The identifiers, with the values Windows gives them.

#include "platform/directshow/filter.h"

namespace {

constexpr uint32_t hexValue(const char *digits, int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
        const char c = digits[i];
        value = value * 16 + static_cast<uint32_t>(c >= 'A' ? c - 'A' + 10 : c - '0');
    }
    return value;
}

constexpr uint8_t byteAt(const char *digits) { return static_cast<uint8_t>(hexValue(digits, 2)); }

// A GUID from the form Microsoft's documentation and the registry give it,
// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", worked out as the program compiles.
constexpr GUID guid(const char (&text)[37]) {
    return {hexValue(text, 8),
            static_cast<uint16_t>(hexValue(text + 9, 4)),
            static_cast<uint16_t>(hexValue(text + 14, 4)),
            {byteAt(text + 19), byteAt(text + 21), byteAt(text + 24), byteAt(text + 26),
             byteAt(text + 28), byteAt(text + 30), byteAt(text + 32), byteAt(text + 34)}};
}

static_assert(guid("6B652FFF-11FE-4FCE-92AD-0266B5D7C78F").Data1 == 0x6B652FFF &&
                  guid("6B652FFF-11FE-4FCE-92AD-0266B5D7C78F").Data3 == 0x4FCE &&
                  guid("6B652FFF-11FE-4FCE-92AD-0266B5D7C78F").Data4[1] == 0xAD &&
                  guid("6B652FFF-11FE-4FCE-92AD-0266B5D7C78F").Data4[7] == 0x8F,
              "the text form is read field by field");

} // namespace

const IID IID_IUnknown = guid("00000000-0000-0000-C000-000000000046");
const IID IID_IEnumMoniker = guid("00000102-0000-0000-C000-000000000046");
const IID IID_IMoniker = guid("0000000F-0000-0000-C000-000000000046");

const CLSID CLSID_FilterGraph = guid("E436EBB3-524F-11CE-9F53-0020AF0BA770");
const CLSID CLSID_SystemDeviceEnum = guid("62BE5D10-60EB-11D0-BD3B-00A0C911CE86");
const CLSID CLSID_VideoInputDeviceCategory = guid("860BB310-5D01-11D0-BD3B-00A0C911CE86");
const CLSID CLSID_CaptureGraphBuilder2 = guid("BF87B6E1-8C27-11D0-B3F0-00AA003761C5");
const CLSID CLSID_SampleGrabber = guid("C1F400A0-3F08-11D3-9F0B-006008039E37");
const CLSID CLSID_NullRenderer = guid("C1F400A4-3F08-11D3-9F0B-006008039E37");

const IID IID_IGraphBuilder = guid("56A868A9-0AD4-11CE-B03A-0020AF0BA770");
const IID IID_IMediaControl = guid("56A868B1-0AD4-11CE-B03A-0020AF0BA770");
const IID IID_IMediaEventEx = guid("56A868C0-0AD4-11CE-B03A-0020AF0BA770");
const IID IID_IPropertyBag = guid("55272A00-42CB-11CE-8135-00AA004BB851");
const IID IID_IBaseFilter = guid("56A86895-0AD4-11CE-B03A-0020AF0BA770");
const IID IID_IEnumPins = guid("56A86892-0AD4-11CE-B03A-0020AF0BA770");
const IID IID_IPin = guid("56A86891-0AD4-11CE-B03A-0020AF0BA770");
const IID IID_ICreateDevEnum = guid("29840822-5B84-11D0-BD3B-00A0C911CE86");
const IID IID_ICaptureGraphBuilder2 = guid("93E5A4E0-2D50-11D2-ABFA-00A0C9C6E38D");
const IID IID_ISampleGrabber = guid("6B652FFF-11FE-4FCE-92AD-0266B5D7C78F");
const IID IID_ISampleGrabberCB = guid("0579154A-2B53-4994-B0D0-E773148EFF85");
const IID IID_IAMStreamConfig = guid("C6E13340-30AC-11D0-A18C-00A0C9118956");

const GUID MEDIATYPE_Video = guid("73646976-0000-0010-8000-00AA00389B71");
const GUID MEDIASUBTYPE_RGB24 = guid("E436EB7D-524F-11CE-9F53-0020AF0BA770");
const GUID MEDIASUBTYPE_RGB32 = guid("E436EB7E-524F-11CE-9F53-0020AF0BA770");
// The YUV subtypes are their FourCC in the first field of a common GUID.
const GUID MEDIASUBTYPE_YUY2 = guid("32595559-0000-0010-8000-00AA00389B71");
const GUID MEDIASUBTYPE_UYVY = guid("59565955-0000-0010-8000-00AA00389B71");
const GUID MEDIASUBTYPE_NV12 = guid("3231564E-0000-0010-8000-00AA00389B71");
const GUID MEDIASUBTYPE_I420 = guid("30323449-0000-0010-8000-00AA00389B71");
const GUID MEDIASUBTYPE_IYUV = guid("56555949-0000-0010-8000-00AA00389B71");
const GUID FORMAT_VideoInfo = guid("05589F80-C356-11CE-BF01-00AA0055595A");
const GUID FORMAT_VideoInfo2 = guid("F72A76A0-EB0A-11D0-ACE4-0000C0CC16BA");
const GUID PIN_CATEGORY_PREVIEW = guid("FB6C4282-0353-11D1-905F-0000C0CC16BA");
const GUID PIN_CATEGORY_CAPTURE = guid("FB6C4281-0353-11D1-905F-0000C0CC16BA");

// Private ids, by which the stand-in's objects know each other.
const IID IID_IOwnFilter = guid("7C1A0C01-3E2B-4D8A-9B61-436C6F616B01");
const IID IID_IOwnPin = guid("7C1A0C02-3E2B-4D8A-9B61-436C6F616B02");
const IID IID_ICameraSource = guid("7C1A0C03-3E2B-4D8A-9B61-436C6F616B03");
const IID IID_IFrameSink = guid("7C1A0C04-3E2B-4D8A-9B61-436C6F616B04");
