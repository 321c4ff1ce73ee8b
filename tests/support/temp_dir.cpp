#include "support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <vector>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace qvtest {

#ifdef _WIN32

namespace {

// `path` in the ANSI code page; empty when a character has no exact
// counterpart there.
std::string ansi_path(const std::wstring& path) {
    if (path.empty()) return {};
    const bool utf8 = ::GetACP() == CP_UTF8;  // takes neither the flag nor the marker
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL defaulted = FALSE;
    const int n = ::WideCharToMultiByte(CP_ACP, flags, path.data(), static_cast<int>(path.size()),
                                        nullptr, 0, nullptr, utf8 ? nullptr : &defaulted);
    if (n <= 0 || defaulted) return {};
    std::string narrow(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, flags, path.data(), static_cast<int>(path.size()), narrow.data(),
                          n, nullptr, nullptr);
    return narrow;
}

std::wstring wide_path(const std::string& path) {
    if (path.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.data(),
                                        static_cast<int>(path.size()), nullptr, 0);
    if (n <= 0) throw std::runtime_error("not a path in the ANSI code page: " + path);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()),
                          wide.data(), n);
    return wide;
}

}  // namespace

std::string non_ascii_name() {
    // Latin, Cyrillic, Greek, Hebrew and CJK letters: one of them is in
    // every ANSI code page that has letters beyond ASCII.
    for (const wchar_t* name : {L"Ergebnisse_\u00e9\u00fc\u00df", L"\u0440\u0435\u0437\u0443\u043b\u044c\u0442",
                                L"\u03b1\u03c0\u03bf\u03c4", L"\u05ea\u05d5\u05e6\u05d0\u05d4",
                                L"\u7d50\u679c_\u8868"}) {
        const std::string narrow = ansi_path(name);
        if (!narrow.empty()) return narrow;
    }
    return {};
}

std::filesystem::path fs_path(const std::string& path) { return std::filesystem::path(wide_path(path)); }

bool make_symlink(const std::string& target, const std::string& link) {
    const std::wstring wide_link = wide_path(link);
    constexpr DWORD kUnprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    ::CreateSymbolicLinkW(wide_link.c_str(), wide_path(target).c_str(), kUnprivileged);
    // Some implementations report success and make nothing: look.
    return is_symlink(link);
}

bool is_symlink(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(wide_path(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

TempDir::TempDir() {
    wchar_t base[MAX_PATH + 1];
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, base);
    if (n == 0 || n > MAX_PATH) throw std::runtime_error("no temporary directory");
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::wstring candidate = std::wstring(base, n) + L"results_api-test-" +
                                       std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                       std::to_wstring(::GetTickCount()) + L"-" +
                                       std::to_wstring(counter++);
        if (::CreateDirectoryW(candidate.c_str(), nullptr)) {
            path_ = ansi_path(candidate);
            if (path_.empty()) {
                ::RemoveDirectoryW(candidate.c_str());
                throw std::runtime_error("the temporary directory has no name in the ANSI code page");
            }
            return;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(wide_path(path_)), ec);
}

#else

TempDir::TempDir() {
    std::string pattern = "/tmp/results_api-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data())) throw std::runtime_error("cannot create a temporary directory");
    path_ = buffer.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string non_ascii_name() { return "Ergebnisse_\u00e9\u00fc\u00df"; }  // UTF-8

std::filesystem::path fs_path(const std::string& path) { return std::filesystem::path(path); }

bool make_symlink(const std::string& target, const std::string& link) {
    std::error_code ec;
    std::filesystem::create_symlink(target, link, ec);
    return !ec;
}

bool is_symlink(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_symlink(path, ec);
}

#endif

}  // namespace qvtest
