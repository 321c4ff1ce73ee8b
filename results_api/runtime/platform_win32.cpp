// Platform services on Windows, on the wide (UTF-16) file API. Paths arrive
// in the calling thread's ANSI code page, as hosts pass them, and are
// converted for every call; names read from a directory are converted back.
#ifdef _WIN32
#include "runtime/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <cwchar>
#include <new>
#include <thread>

namespace qv::platform {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// `path` as UTF-16 (std::wstring keeps the terminating NUL the wide API
// needs). False for an empty path, one with a NUL inside, and bytes that
// are no text in the thread's ANSI code page.
bool widen(const std::string& path, std::wstring& wide) {
    if (path.empty() || path.size() > static_cast<std::size_t>(INT_MAX) ||
        path.find('\0') != std::string::npos)
        return false;
    const int length = static_cast<int>(path.size());
    const int n =
        ::MultiByteToWideChar(CP_THREAD_ACP, MB_ERR_INVALID_CHARS, path.data(), length, nullptr, 0);
    if (n <= 0) return false;
    wide.assign(static_cast<std::size_t>(n), L'\0');
    return ::MultiByteToWideChar(CP_THREAD_ACP, MB_ERR_INVALID_CHARS, path.data(), length,
                                 wide.data(), n) == n;
}

// A directory entry's name in the thread's ANSI code page. False when the
// name has a character that code page cannot express: the text would name
// another file, or none, when passed back.
bool narrow(const wchar_t* name, std::string& out) {
    const std::size_t length = std::wcslen(name);
    if (length == 0 || length > static_cast<std::size_t>(INT_MAX) / 4) return false;
    const int n = ::WideCharToMultiByte(CP_THREAD_ACP, 0, name, static_cast<int>(length), nullptr,
                                        0, nullptr, nullptr);
    if (n <= 0) return false;
    out.assign(static_cast<std::size_t>(n), '\0');
    if (::WideCharToMultiByte(CP_THREAD_ACP, 0, name, static_cast<int>(length), out.data(), n,
                              nullptr, nullptr) != n)
        return false;
    // Characters without a counterpart became look-alikes or '?'.
    std::wstring back;
    return widen(out, back) && back.size() == length &&
           std::wmemcmp(back.data(), name, length) == 0;
}

// Reserved device names (NUL, CON, COM1, "dir\\CON.lock" on older systems)
// resolve to the device namespace; such a name is never a results file and
// opening it would reach the device.
bool names_device(const std::wstring& wide) {
    wchar_t full[16];
    const DWORD n = ::GetFullPathNameW(wide.c_str(), 16, full, nullptr);
    return n >= 4 && n < 16 && std::wcsncmp(full, L"\\\\.\\", 4) == 0;
}

// What a path leads to, links followed.
bool followed_information(const std::wstring& wide, BY_HANDLE_FILE_INFORMATION& info,
                          DWORD& type) {
    // FILE_FLAG_BACKUP_SEMANTICS lets the handle name a directory; the
    // attribute access asks for no data and conflicts with no open file.
    const HANDLE h = ::CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = ::GetFileInformationByHandle(h, &info) != 0;
    type = ::GetFileType(h);
    ::CloseHandle(h);
    return ok;
}

// Attributes of the entry itself (a link is not followed), or
// INVALID_FILE_ATTRIBUTES.
DWORD own_attributes(const std::string& path, std::wstring& wide) {
    if (!widen(path, wide)) return INVALID_FILE_ATTRIBUTES;
    return ::GetFileAttributesW(wide.c_str());
}

HANDLE handle_of(void* h) { return static_cast<HANDLE>(h); }

}  // namespace

PathParts split_path(const std::string& path) {
    // Separators and dots counted only where a character starts: in a
    // double-byte code page the second byte of a character may be 0x5C,
    // the backslash.
    CPINFO cp{};
    const bool double_byte = ::GetCPInfo(CP_THREAD_ACP, &cp) != 0 && cp.MaxCharSize > 1;
    const auto leads = [&](unsigned char c) {
        for (int r = 0; r + 1 < MAX_LEADBYTES && cp.LeadByte[r] != 0; r += 2)
            if (c >= cp.LeadByte[r] && c <= cp.LeadByte[r + 1]) return true;
        return false;
    };
    std::size_t name_start = 0, dot = std::string::npos;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char c = path[i];
        if (c == '/' || c == '\\' || (c == ':' && i == 1)) {  // "C:run.qvres" too
            name_start = i + 1;
            dot = std::string::npos;
        } else if (c == '.') {
            dot = i;
        } else if (double_byte && leads(static_cast<unsigned char>(c)) && i + 1 < path.size()) {
            ++i;
        }
    }
    PathParts parts;
    parts.directory = path.substr(0, name_start);
    if (dot == std::string::npos) {
        parts.name = path.substr(name_start);
    } else {
        parts.name = path.substr(name_start, dot - name_start);
        parts.extension = path.substr(dot);
    }
    return parts;
}

bool is_regular_file(const std::string& path) {
    std::wstring wide;
    const DWORD attributes = own_attributes(path, wide);
    if (attributes == INVALID_FILE_ATTRIBUTES || names_device(wide)) return false;
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) return false;
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
    // A link, or a file another driver stands in for: what it leads to.
    BY_HANDLE_FILE_INFORMATION info{};
    DWORD type = FILE_TYPE_UNKNOWN;
    return followed_information(wide, info, type) && type == FILE_TYPE_DISK &&
           !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool entry_exists(const std::string& path) {
    std::wstring wide;
    if (!widen(path, wide)) return false;
    if (::GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    // Only a name that is not there counts as free; an entry that cannot be
    // looked at (being deleted, or denied to this user) is there.
    switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_DIRECTORY:
    case ERROR_INVALID_PARAMETER:
        return false;
    default:
        return true;
    }
}

bool is_directory(const std::string& path) {
    std::wstring wide;
    const DWORD attributes = own_attributes(path, wide);
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    BY_HANDLE_FILE_INFORMATION info{};
    DWORD type = FILE_TYPE_UNKNOWN;
    return followed_information(wide, info, type) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool links_out_of_directory(const std::string& path) {
    // Resolving where a reparse point leads takes opening it; every one is
    // taken as leaving the directory, which costs a genuine run nothing.
    std::wstring wide;
    const DWORD attributes = own_attributes(path, wide);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::string host_name() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!::GetComputerNameA(name, &size)) return std::string();
    return std::string(name, size);
}

std::int64_t process_id() { return static_cast<std::int64_t>(::GetCurrentProcessId()); }

bool process_may_run(std::int64_t pid) {
    if (pid <= 0 || pid > static_cast<std::int64_t>(MAXDWORD)) return true;
    const HANDLE h = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!h) return ::GetLastError() != ERROR_INVALID_PARAMETER;  // no such process
    DWORD code = 0;
    const bool ended = ::GetExitCodeProcess(h, &code) && code != STILL_ACTIVE;
    ::CloseHandle(h);
    return !ended;
}

std::int64_t seconds_now() {
    FILETIME ft;
    ::GetSystemTimeAsFileTime(&ft);
    const std::uint64_t ticks = (std::uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    // 100 ns ticks since 1601.
    return static_cast<std::int64_t>(ticks / 10000000ULL) - 11644473600LL;
}

unsigned processor_quota(const std::string&, const std::string&) { return 0; }

unsigned usable_processors() {
    // The mask is of one processor group: a process with threads in
    // several groups gets none (0) and counts every processor instead.
    DWORD_PTR process = 0, system = 0;
    if (::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system) && process != 0) {
        unsigned count = 0;
        for (DWORD_PTR m = process; m != 0; m &= m - 1) ++count;
        return count;
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

std::optional<std::vector<std::string>> list_directory(const std::string& directory) {
    std::wstring pattern;
    if (!widen(directory, pattern)) return std::nullopt;
    const wchar_t last = pattern.back();
    const bool drive_only = pattern.size() == 2 && last == L':';  // "C:": its current directory
    if (last != L'\\' && last != L'/' && !drive_only) pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW found{};
    const HANDLE h = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                        FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (h == INVALID_HANDLE_VALUE) {
        if (::GetLastError() == ERROR_FILE_NOT_FOUND) return std::vector<std::string>{};
        return std::nullopt;
    }
    // Closed on every way out, running out of memory included.
    const std::unique_ptr<void, BOOL(WINAPI*)(HANDLE)> closer(h, ::FindClose);
    // Files only: directories, "." and ".." included, are left out. A link
    // to a file is listed; callers check each name before they read it.
    std::vector<std::string> names;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        std::string name;
        if (narrow(found.cFileName, name)) names.push_back(std::move(name));
    } while (::FindNextFileW(h, &found));
    return names;
}

std::unique_ptr<File> File::open(const std::string& path, Mode mode) {
    std::wstring wide;
    if (!widen(path, wide) || names_device(wide)) return nullptr;
    // The object exists before anything is opened or created, so that a
    // failed allocation leaves no file behind.
    std::unique_ptr<File> file(new File(INVALID_HANDLE_VALUE));
    HANDLE h = INVALID_HANDLE_VALUE;
    switch (mode) {
    case Mode::Read:
        // Only regular files are results files.
        if (!is_regular_file(path)) return nullptr;
        // Others may go on writing, renaming or deleting the file, as they
        // may on Linux.
        h = ::CreateFileW(wide.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE && ::GetFileType(h) != FILE_TYPE_DISK) {
            ::CloseHandle(h);
            return nullptr;
        }
        break;
    case Mode::ReadEntry: {
        const DWORD attributes = ::GetFileAttributesW(wide.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES ||
            (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE |
                           FILE_ATTRIBUTE_REPARSE_POINT)))
            return nullptr;
        h = ::CreateFileW(wide.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h != INVALID_HANDLE_VALUE && ::GetFileType(h) != FILE_TYPE_DISK) {
            ::CloseHandle(h);
            return nullptr;
        }
        break;
    }
    case Mode::CreateNew:
        // CREATE_NEW fails on any name that exists, a link or junction
        // included, and FILE_FLAG_OPEN_REPARSE_POINT keeps a reparse point
        // from redirecting the call anywhere else. FILE_SHARE_DELETE lets
        // remove_if_same delete it while it is open.
        h = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                          nullptr);
        break;
    }
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    file->handle_ = h;
    return file;
}

bool File::remove_if_same(const std::string& path) const {
    std::wstring wide;
    if (!widen(path, wide)) return false;
    // The entry itself, a link not followed, opened so that it can be
    // deleted: the file compared is the file deleted, whatever happens to
    // the name meanwhile.
    const HANDLE named = ::CreateFileW(wide.c_str(), DELETE | FILE_READ_ATTRIBUTES, kShareAll,
                                       nullptr, OPEN_EXISTING,
                                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                       nullptr);
    if (named == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION mine{}, theirs{};
    const bool same = ::GetFileInformationByHandle(handle_of(handle_), &mine) &&
                      ::GetFileInformationByHandle(named, &theirs) &&
                      mine.dwVolumeSerialNumber == theirs.dwVolumeSerialNumber &&
                      mine.nFileIndexHigh == theirs.nFileIndexHigh &&
                      mine.nFileIndexLow == theirs.nFileIndexLow;
    bool removed = false;
    if (same) {
        // The name goes when the last handle to the file is closed.
        FILE_DISPOSITION_INFO disposition{TRUE};
        removed = ::SetFileInformationByHandle(named, FileDispositionInfo, &disposition,
                                               sizeof disposition) != 0;
    }
    ::CloseHandle(named);
    return removed;
}

File::~File() {
    if (handle_of(handle_) != INVALID_HANDLE_VALUE) ::CloseHandle(handle_of(handle_));
}

std::size_t File::read_at(std::uint64_t offset, void* dst, std::size_t n) {
    auto* p = static_cast<char*>(dst);
    std::size_t done = 0;
    while (done < n) {
        const std::size_t rest = n - done;
        const DWORD chunk = rest > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(rest);
        // The offset travels with the call: the handle's own position is
        // never relied on.
        OVERLAPPED at{};
        const std::uint64_t where = offset + done;
        at.Offset = static_cast<DWORD>(where);
        at.OffsetHigh = static_cast<DWORD>(where >> 32);
        DWORD got = 0;
        if (!::ReadFile(handle_of(handle_), p + done, chunk, &got, &at) || got == 0) break;
        done += got;
    }
    return done;
}

bool File::write(const void* src, std::size_t n) {
    const auto* p = static_cast<const char*>(src);
    std::size_t done = 0;
    while (done < n) {
        const std::size_t rest = n - done;
        const DWORD chunk = rest > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(rest);
        OVERLAPPED at{};
        const std::uint64_t where = position_ + done;
        at.Offset = static_cast<DWORD>(where);
        at.OffsetHigh = static_cast<DWORD>(where >> 32);
        DWORD put = 0;
        if (!::WriteFile(handle_of(handle_), p + done, chunk, &put, &at) || put == 0) return false;
        done += put;
    }
    ahead_length_ = 0;
    position_ += done;
    return true;
}

std::uint64_t File::size() const {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(handle_of(handle_), &size) || size.QuadPart < 0) return 0;
    return static_cast<std::uint64_t>(size.QuadPart);
}

}  // namespace qv::platform

#endif  // _WIN32
