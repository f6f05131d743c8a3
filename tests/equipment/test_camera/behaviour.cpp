#include "behaviour.h"

#include "formats.h"

#include <cwchar>

Behaviour parseBehaviour(const std::wstring &text) {
    Behaviour behaviour;
    behaviour.preview = hasWord(text, L"preview");
    behaviour.pinsFirst = hasWord(text, L"pins-first");
    behaviour.strictConnect = hasWord(text, L"strict-connect");
    if (hasWord(text, L"denied"))
        behaviour.refusal = E_ACCESSDENIED;
    else if (hasWord(text, L"in-use"))
        behaviour.refusal = HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);
    const std::wstring refuse = wordAfter(text, L"refuse=");
    if (!refuse.empty())
        behaviour.refusal = static_cast<HRESULT>(std::wcstoul(refuse.c_str(), nullptr, 16));
    behaviour.port = wordAfter(text, L"port=");
    unsigned long bind = 0, connect = 0, start = 0;
    if (std::swscanf(wordAfter(text, L"slow=").c_str(), L"%lu/%lu/%lu", &bind, &connect, &start) ==
        3) {
        behaviour.slowBind = bind;
        behaviour.slowConnect = connect;
        behaviour.slowStart = start;
    }
    behaviour.refuseConnect = hasWord(text, L"refuse-connect");
    behaviour.burst = hasWord(text, L"burst");
    behaviour.checker = hasWord(text, L"checker");
    long width = 0, height = 0;
    if (std::swscanf(wordAfter(text, L"oversize=").c_str(), L"%ldx%ld", &width, &height) == 2 &&
        width > 0 && height > 0 && width <= 4096 && height <= 4096)
        behaviour.oversize = {width, height};
    return behaviour;
}

std::wstring deviceKey(const std::wstring &name, const Behaviour &behaviour) {
    return behaviour.port.empty() ? name : name + L"@" + behaviour.port;
}

// A product number from the name, so that cameras of different names differ
// as different models do; the port then tells one model's cameras apart.
std::wstring devicePath(const std::wstring &name, const Behaviour &behaviour) {
    unsigned hash = 2166136261u;
    for (wchar_t c : name)
        hash = (hash ^ static_cast<unsigned>(c)) * 16777619u;
    wchar_t product[8];
    std::swprintf(product, 8, L"%04x", hash & 0xffff);
    return L"\\\\?\\usb#vid_c10a&pid_" + std::wstring(product) + L"&mi_00#7&2f1a&0&" +
           behaviour.port + L"#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
}
