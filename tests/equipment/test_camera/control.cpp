#include "control.h"

#include "com.h"

#include <cstring>

namespace {

std::wstring controlFile(const std::wstring &camera) {
    wchar_t folder[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"CLOAKCAM_TEST_CAMERA_CONTROL", folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return L"";
    return std::wstring(folder) + L"\\" + camera;
}

} // namespace

Plug readPlug(const std::wstring &camera) {
    const std::wstring path = controlFile(camera);
    if (path.empty())
        return Plug::In;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Plug::In;
    char word[16] = {};
    DWORD read = 0;
    ReadFile(file, word, sizeof word - 1, &read, nullptr);
    CloseHandle(file);
    if (std::strncmp(word, "unplugged", 9) == 0)
        return Plug::Out;
    if (std::strncmp(word, "silent", 6) == 0)
        return Plug::Silent;
    if (std::strncmp(word, "allowed", 7) == 0)
        return Plug::Allowed;
    return Plug::In;
}

namespace {

void appendLine(const std::wstring &path, const std::string &line) {
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

} // namespace

void noteBound(const std::wstring &camera) {
    const std::wstring path = controlFile(camera);
    if (!path.empty())
        appendLine(path + L".bound", "bound\n");
}

void noteConnected(const std::wstring &camera, long width, long height) {
    const std::wstring path = controlFile(camera);
    if (!path.empty())
        appendLine(path + L".connected",
                   std::to_string(width) + "x" + std::to_string(height) + "\n");
}
