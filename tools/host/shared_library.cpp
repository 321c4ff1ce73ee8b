// The platform loader.
#include "host/shared_library.h"

#if defined(_WIN32)
#error "a LoadLibrary/GetProcAddress loader belongs here"
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace qvhost {

const char* const kLibraryFileName = "libqvres.so.1";

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

}  // namespace qvhost
