// COM's start, task allocator and automation strings.

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

bool operator==(const GUID &a, const GUID &b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

// Nothing here belongs to a thread: the objects start what they stand on
// themselves, and may outlive the caller's CoUninitialize.
HRESULT CoInitialize(LPVOID) { return S_OK; }

void CoUninitialize() {}

LPVOID CoTaskMemAlloc(SIZE_T size) { return std::malloc(size ? size : 1); }

void CoTaskMemFree(LPVOID block) { std::free(block); }

BSTR SysAllocString(const OLECHAR *text) {
    if (!text)
        return nullptr;
    const size_t length = std::wcslen(text);
    auto *copy = static_cast<BSTR>(std::malloc((length + 1) * sizeof(OLECHAR)));
    if (copy)
        std::wmemcpy(copy, text, length + 1);
    return copy;
}

void SysFreeString(BSTR text) { std::free(text); }

void VariantInit(VARIANT *value) {
    value->vt = VT_EMPTY;
    value->bstrVal = nullptr;
}

HRESULT VariantClear(VARIANT *value) {
    if (!value)
        return E_INVALIDARG;
    if (value->vt == VT_BSTR)
        SysFreeString(value->bstrVal);
    VariantInit(value);
    return S_OK;
}
