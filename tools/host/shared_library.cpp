// The platform loader: dlopen on POSIX systems, LoadLibrary/GetProcAddress
// on Windows.
#include "host/shared_library.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstring>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace qvhost {

#if defined(_WIN32)
const char* const kLibraryFileName = "qvres.dll";

void* load_shared_object(const std::string& path, std::string& error) {
    // A DLL named with its directory finds the DLLs it needs beside it.
    const bool has_directory = path.find_first_of("/\\") != std::string::npos;
    const HMODULE module =
        ::LoadLibraryExA(path.c_str(), nullptr, has_directory ? LOAD_WITH_ALTERED_SEARCH_PATH : 0);
    if (!module) {
        const DWORD code = ::GetLastError();
        char text[512] = {};
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                         text, sizeof text, nullptr);
        std::string message = text;
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                    message.back() == ' ' || message.back() == '.'))
            message.pop_back();
        error = (message.empty() ? "error" : message) + " (" + std::to_string(code) + ")";
    }
    return module;
}

void* find_symbol(void* handle, const char* name) {
    const FARPROC function = ::GetProcAddress(static_cast<HMODULE>(handle), name);
    void* symbol = nullptr;
    std::memcpy(&symbol, &function, sizeof symbol);
    return symbol;
}

void unload_shared_object(void* handle) { ::FreeLibrary(static_cast<HMODULE>(handle)); }

std::string executable_directory() {
    char buffer[MAX_PATH * 2];
    const DWORD n = ::GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (n == 0 || n >= sizeof buffer) return {};
    const std::string path(buffer, n);
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool file_exists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
#else
const char* const kLibraryFileName = "libqvres.so.2";

void* load_shared_object(const std::string& path, std::string& error) {
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* e = ::dlerror();
        error = e ? e : "unknown error";
    }
    return handle;
}

void* find_symbol(void* handle, const char* name) { return ::dlsym(handle, name); }

void unload_shared_object(void* handle) { ::dlclose(handle); }

std::string executable_directory() {
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    std::string path(buffer, static_cast<std::size_t>(n));
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool file_exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }
#endif

}  // namespace qvhost
