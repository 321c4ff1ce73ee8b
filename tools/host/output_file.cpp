// Output files created exclusively beside their final name and renamed into
// place.
#include "host/output_file.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>
#include <stdexcept>

namespace qvhost {
namespace {

// Where the temporary goes: the final name's directory, so that the rename
// stays within one file system.
std::string directory_part(const std::string& path) {
#if defined(_WIN32)
    const std::size_t slash = path.find_last_of("/\\");
#else
    const std::size_t slash = path.find_last_of('/');
#endif
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string file_part(const std::string& path) {
#if defined(_WIN32)
    return path.substr(path.find_last_of("/\\") + 1);
#else
    return path.substr(path.find_last_of('/') + 1);
#endif
}

// 64 bits no one else can guess: the system's random source, and should it
// fail, the clock and the address of a local (the exclusive create keeps
// even a guessed name safe; the randomness only keeps others from blocking
// every name in advance).
std::uint64_t unpredictable() {
    std::uint64_t v = 0;
    try {
        std::random_device source;
        v = (static_cast<std::uint64_t>(source()) << 32) ^ source();
    } catch (...) {
    }
    const int local = 0;
    v ^= static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) * 0x9E3779B97F4A7C15u;
    v ^= static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&local));
    return v;
}

std::string temporary_name(const std::string& path) {
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::uint64_t v = unpredictable();
    std::string tag;
    for (int i = 0; i < 12; ++i, v /= 36) tag += digits[v % 36];
    return directory_part(path) + "." + file_part(path) + "." + tag + ".tmp";
}

[[noreturn]] void fail(const std::string& path, const std::string& why) {
    throw std::runtime_error("cannot write " + path + ": " + why);
}

#if defined(_WIN32)
std::string system_message(DWORD code) {
    char text[512] = {};
    ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                     sizeof text, nullptr);
    std::string message = text;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ' ||
                                message.back() == '.'))
        message.pop_back();
    return (message.empty() ? "error" : message) + " (" + std::to_string(code) + ")";
}

// A new file that did not exist in any form (CREATE_NEW fails on a link
// as on a file); nullptr and `error` set when the name is taken.
std::FILE* create_exclusive(const std::string& name, bool text, bool& taken, std::string& error) {
    const HANDLE h = ::CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                   nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        taken = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
        error = system_message(code);
        return nullptr;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(h), _O_WRONLY | (text ? _O_TEXT : _O_BINARY));
    if (fd < 0) {
        ::CloseHandle(h);
        ::DeleteFileA(name.c_str());
        error = "cannot open the new file";
        return nullptr;
    }
    std::FILE* f = ::_fdopen(fd, text ? "wt" : "wb");
    if (!f) {
        error = std::strerror(errno);
        ::_close(fd);
        ::DeleteFileA(name.c_str());
    }
    return f;
}

void remove_file(const std::string& name) { ::DeleteFileA(name.c_str()); }

// The rename replaces a file or link at `to` (never what a link points to).
bool replace(const std::string& from, const std::string& to, std::string& error) {
    if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    error = system_message(::GetLastError());
    return false;
}
#else
std::FILE* create_exclusive(const std::string& name, bool, bool& taken, std::string& error) {
    // Read and write for the owner, read for the others, less the umask.
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        taken = errno == EEXIST;
        error = std::strerror(errno);
        return nullptr;
    }
    std::FILE* f = ::fdopen(fd, "wb");
    if (!f) {
        error = std::strerror(errno);
        ::close(fd);
        ::unlink(name.c_str());
    }
    return f;
}

void remove_file(const std::string& name) { ::unlink(name.c_str()); }

// rename() replaces a file or link at `to` itself, never what it points to.
bool replace(const std::string& from, const std::string& to, std::string& error) {
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    error = std::strerror(errno);
    return false;
}
#endif

}  // namespace

OutputFile::OutputFile(const std::string& path, bool text) : path_(path), standard_(path == "-") {
    if (standard_) {
        file_ = stdout;
        return;
    }
    if (path.empty() || file_part(path).empty()) fail(path, "not a file name");
    std::string error;
    // A name taken (by chance or by someone planting names) is passed over
    // for another.
    for (int attempt = 0; attempt < 64; ++attempt) {
        const std::string name = temporary_name(path);
        bool taken = false;
        file_ = create_exclusive(name, text, taken, error);
        if (file_) {
            temporary_ = name;
            return;
        }
        if (!taken) break;
    }
    fail(path, error);
}

OutputFile::~OutputFile() {
    if (!standard_) discard();
}

void OutputFile::discard() noexcept {
    if (standard_ || !file_) return;
    std::fclose(file_);
    file_ = nullptr;
    remove_file(temporary_);
}

void OutputFile::commit() {
    if (standard_) return;
    if (!file_) fail(path_, "already closed");
    errno = 0;
    const bool written = std::fflush(file_) == 0 && !std::ferror(file_);
    int e = errno;
    const bool closed = std::fclose(file_) == 0;
    if (written && !closed) e = errno;
    file_ = nullptr;
    std::string error;
    if (written && closed && replace(temporary_, path_, error)) return;
    remove_file(temporary_);
    fail(path_, error.empty() ? std::strerror(e ? e : EIO) : error);
}

void write_file(const std::string& path, const void* bytes, std::size_t size) {
    OutputFile out(path);
    if (size && std::fwrite(bytes, 1, size, out.get()) != size) {
        const int e = errno;
        out.discard();
        fail(path, std::strerror(e ? e : EIO));
    }
    out.commit();
}

}  // namespace qvhost
