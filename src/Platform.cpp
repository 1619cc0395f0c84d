#include "Platform.h"

#ifdef _WIN32
#define ENABLE_SNDFILE_WINDOWS_PROTOTYPES 1
#include <windows.h>
#include <shellapi.h>
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#endif

#include <sndfile.h>

namespace Tolvane::Platform {

#ifdef _WIN32
namespace {

std::wstring widen(const std::string& text) {
    if (text.empty())
        return std::wstring();
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

std::string narrow(const wchar_t* wide) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return std::string();
    std::string text(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), size, nullptr, nullptr);
    text.pop_back();
    return text;
}

} // namespace
#endif

std::filesystem::path filePath(const std::string& path) {
#ifdef _WIN32
    return std::filesystem::path(widen(path));
#else
    return std::filesystem::path(path);
#endif
}

std::FILE* openFile(const std::string& path, const char* mode) {
#ifdef _WIN32
    return _wfopen(widen(path).c_str(), widen(mode).c_str());
#else
    return std::fopen(path.c_str(), mode);
#endif
}

int openForReading(const std::string& path) {
#ifdef _WIN32
    return _wopen(widen(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
#else
    return open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
#endif
}

SNDFILE* openSoundFile(const std::string& path, int mode, SF_INFO* info) {
#ifdef _WIN32
    return sf_wchar_open(widen(path).c_str(), mode, info);
#else
    return sf_open(path.c_str(), mode, info);
#endif
}

std::vector<std::string> arguments(int argc, char** argv) {
#ifdef _WIN32
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide) {
        std::vector<std::string> result;
        for (int i = 0; i < count; ++i)
            result.push_back(narrow(wide[i]));
        LocalFree(wide);
        return result;
    }
#endif
    return std::vector<std::string>(argv, argv + argc);
}

} // namespace Tolvane::Platform
