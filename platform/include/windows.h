#ifndef CLOAKCAM_STAND_IN_WINDOWS_H
#define CLOAKCAM_STAND_IN_WINDOWS_H

// The part of Windows and COM that the capture code uses, for systems without
// them: the type names and result codes, IUnknown, object creation and the
// task allocator. Sizes follow Windows (LONG and ULONG are 32 bits), so code written
// against these names behaves the same on both.

#include <cstddef>
#include <cstdint>

typedef int32_t HRESULT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int BOOL;
typedef int64_t LONGLONG;
typedef intptr_t LONG_PTR;
typedef void *LPVOID;
typedef size_t SIZE_T;
typedef const wchar_t *LPCWSTR;
typedef wchar_t OLECHAR;
typedef const OLECHAR *LPCOLESTR;
typedef OLECHAR *BSTR;
typedef uint16_t VARTYPE;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#ifndef NULL
#define NULL nullptr
#endif

#define STDMETHODCALLTYPE

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const IID &REFIID;
typedef const CLSID &REFCLSID;
typedef const GUID &REFGUID;

bool operator==(const GUID &a, const GUID &b);
inline bool operator!=(const GUID &a, const GUID &b) { return !(a == b); }
#define IsEqualGUID(a, b) ((a) == (b))

#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001u)
#define E_NOINTERFACE ((HRESULT)0x80004002u)
#define E_POINTER ((HRESULT)0x80004003u)
#define E_ABORT ((HRESULT)0x80004004u)
#define E_FAIL ((HRESULT)0x80004005u)
#define E_ACCESSDENIED ((HRESULT)0x80070005u)
#define E_UNEXPECTED ((HRESULT)0x8000FFFFu)
#define E_PENDING ((HRESULT)0x8000000Au)
#define E_OUTOFMEMORY ((HRESULT)0x8007000Eu)
#define E_INVALIDARG ((HRESULT)0x80070057u)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110u)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154u)

#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_INPROC (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)

extern const IID IID_IUnknown;

struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;

  protected:
    ~IUnknown() = default;
};
typedef IUnknown *LPUNKNOWN;

// Starts the media framework behind the stand-in objects; safe to call again.
HRESULT CoInitialize(LPVOID reserved);
void CoUninitialize();
HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID riid,
                         LPVOID *object);
LPVOID CoTaskMemAlloc(SIZE_T size);
void CoTaskMemFree(LPVOID block);

// The kinds of automation value the program reads: a string, a number and
// a truth.
#define VT_EMPTY 0
#define VT_BSTR 8
#define VT_BOOL 11
#define VT_UI4 19

typedef int16_t VARIANT_BOOL;
#define VARIANT_TRUE ((VARIANT_BOOL)-1)

struct VARIANT {
    VARTYPE vt;
    union {
        BSTR bstrVal;
        ULONG ulVal;
        VARIANT_BOOL boolVal;
    };
};

BSTR SysAllocString(const OLECHAR *text);
void SysFreeString(BSTR text);
void VariantInit(VARIANT *value);
HRESULT VariantClear(VARIANT *value);

struct IErrorLog;
extern const IID IID_IPropertyBag;

struct IPropertyBag : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT *value, IErrorLog *log) = 0;
};

#endif
