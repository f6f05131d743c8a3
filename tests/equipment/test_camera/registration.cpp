#include "registration.h"

#include "behaviour.h"
#include "com.h"

#include <vector>

namespace {

const wchar_t classKey[] = L"CLSID\\{9EA52ADF-2BA6-4799-9652-BA48154ED1ED}";

struct Entry {
    std::wstring name;
    std::wstring formats;
};

std::wstring trimmed(const std::wstring &text) {
    const size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos)
        return L"";
    return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

std::vector<Entry> camerasWanted() {
    std::vector<Entry> entries;
    wchar_t text[4096];
    const DWORD length = GetEnvironmentVariableW(L"CLOAKCAM_TEST_CAMERAS", text, 4096);
    if (length == 0 || length >= 4096)
        return entries;
    std::wstring all(text);
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find(L';', start);
        if (end == std::wstring::npos)
            end = all.size();
        const std::wstring item = all.substr(start, end - start);
        const size_t equals = item.find(L'=');
        if (equals != std::wstring::npos && !trimmed(item.substr(0, equals)).empty())
            entries.push_back({trimmed(item.substr(0, equals)), trimmed(item.substr(equals + 1))});
        start = end + 1;
    }
    return entries;
}

bool setText(HKEY key, const wchar_t *value, const std::wstring &text) {
    return RegSetValueExW(key, value, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

HRESULT registerClass() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(testCameraModule, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return E_FAIL;
    HKEY key;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, (std::wstring(classKey) + L"\\InprocServer32").c_str(),
                        0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return E_FAIL;
    const bool written = setText(key, nullptr, path) && setText(key, L"ThreadingModel", L"Both");
    RegCloseKey(key);
    return written ? S_OK : E_FAIL;
}

HRESULT withMapper(HRESULT (*use)(IFilterMapper2 *, const std::wstring &, const std::wstring &),
                   const std::wstring &name, const std::wstring &formats) {
    IFilterMapper2 *mapper = nullptr;
    HRESULT result = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IFilterMapper2, reinterpret_cast<void **>(&mapper));
    if (FAILED(result))
        return result;
    result = use(mapper, name, formats);
    mapper->Release();
    return result;
}

HRESULT writeText(IPropertyBag *bag, const wchar_t *property, const std::wstring &text) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(text.c_str());
    const HRESULT result = bag->Write(property, &value);
    VariantClear(&value);
    return result;
}

HRESULT writeProperties(IMoniker *moniker, const std::wstring &name, const std::wstring &formats) {
    IPropertyBag *bag = nullptr;
    HRESULT result =
        moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void **>(&bag));
    if (FAILED(result))
        return result;
    result = writeText(bag, L"Formats", formats);
    // Only cameras given a port have a path, so that the others are named in
    // messages by their name alone, as virtual cameras are.
    const Behaviour behaviour = parseBehaviour(formats);
    if (SUCCEEDED(result) && !behaviour.port.empty())
        result = writeText(bag, L"DevicePath", devicePath(name, behaviour));
    bag->Release();
    return result;
}

HRESULT addToCategory(IFilterMapper2 *mapper, const std::wstring &name,
                      const std::wstring &formats) {
    const REGPINTYPES video = {&MEDIATYPE_Video, &MEDIASUBTYPE_NULL};
    REGFILTERPINS pin = {};
    pin.bOutput = TRUE;
    pin.nMediaTypes = 1;
    pin.lpMediaType = &video;
    REGFILTER2 filter = {};
    filter.dwVersion = 1;
    // Like real capture drivers: never picked by intelligent connect.
    filter.dwMerit = MERIT_DO_NOT_USE;
    filter.cPins = 1;
    filter.rgPins = &pin;
    IMoniker *moniker = nullptr;
    // Cameras of one name are entries of their own, told apart by port.
    const std::wstring instance = deviceKey(name, parseBehaviour(formats));
    HRESULT result =
        mapper->RegisterFilter(CLSID_CloakcamTestCamera, name.c_str(), &moniker,
                               &CLSID_VideoInputDeviceCategory, instance.c_str(), &filter);
    if (SUCCEEDED(result) && moniker)
        result = writeProperties(moniker, name, formats);
    if (moniker)
        moniker->Release();
    return result;
}

HRESULT removeFromCategory(IFilterMapper2 *mapper, const std::wstring &name,
                           const std::wstring &formats) {
    return mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory,
                                    deviceKey(name, parseBehaviour(formats)).c_str(),
                                    CLSID_CloakcamTestCamera);
}

} // namespace

HRESULT registerCamera(const std::wstring &name, const std::wstring &formats) {
    return withMapper(addToCategory, name, formats);
}

HRESULT unregisterCamera(const std::wstring &name, const std::wstring &formats) {
    return withMapper(removeFromCategory, name, formats);
}

// regsvr32 need not have started COM for us.
STDAPI DllRegisterServer() {
    const HRESULT started = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HRESULT result = registerClass();
    for (const Entry &entry : camerasWanted())
        if (SUCCEEDED(result))
            result = registerCamera(entry.name, entry.formats);
    if (SUCCEEDED(started))
        CoUninitialize();
    return result;
}

STDAPI DllUnregisterServer() {
    const HRESULT started = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    for (const Entry &entry : camerasWanted())
        unregisterCamera(entry.name, entry.formats);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, classKey);
    if (SUCCEEDED(started))
        CoUninitialize();
    return S_OK;
}
