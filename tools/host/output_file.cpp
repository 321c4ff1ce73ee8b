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
#include <signal.h>
#include <time.h>
#include <sys/stat.h>
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

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "a signal handler reads the registry's states");

// The one process-wide object of the tools: a signal handler has no other
// way to reach the temporaries being written. Zeros in static storage, so
// nothing runs to make it.
TemporaryRegistry registry;

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

std::string random_tag() {
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::uint64_t v = unpredictable();
    std::string tag;
    for (int i = 0; i < 12; ++i, v /= 36) tag += digits[v % 36];
    return tag;
}

// The longest file name the directory of `path` takes.
std::size_t name_max(const std::string& path) {
#if !defined(_WIN32)
    const std::string dir = directory_part(path);
    const long n = ::pathconf(dir.empty() ? "." : dir.c_str(), _PC_NAME_MAX);
    if (n > 0) return static_cast<std::size_t>(n);
#else
    (void)path;
#endif
    return 255;
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

bool present(const std::string& name) { return ::GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES; }

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

bool present(const std::string& name) {
    struct stat st {};
    return ::lstat(name.c_str(), &st) == 0;
}

// rename() replaces a file or link at `to` itself, never what it points to.
bool replace(const std::string& from, const std::string& to, std::string& error) {
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    error = std::strerror(errno);
    return false;
}
#endif

#if !defined(_WIN32)
const int kCleanedSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGTERM};

void remove_temporaries_and_die(int signal) {
    registry.unlink_all();
    // Blocked while this runs: delivered, with the usual effect, on return.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}
#endif

}  // namespace

std::size_t TemporaryRegistry::take(const std::string& path, int state) noexcept {
    if (path.size() >= kPathBytes) return kNone;
    for (std::size_t k = 0; k < kSlots; ++k) {
        int expected = 0;
        if (!state_[k].compare_exchange_strong(expected, 1, std::memory_order_acquire)) continue;
        std::memcpy(path_[k], path.c_str(), path.size() + 1);
#if !defined(_WIN32)
        if (state == 3) creator_[k] = ::pthread_self();
#endif
        // Sequentially consistent with unlink_all(): either its pass finds
        // this slot, or the maker sees unlinking() and creates nothing.
        state_[k].store(state, std::memory_order_seq_cst);
        return k;
    }
    return kNone;
}

std::size_t TemporaryRegistry::add(const std::string& path) noexcept { return take(path, 2); }

std::size_t TemporaryRegistry::creating(const std::string& path) noexcept { return take(path, 3); }

void TemporaryRegistry::made(std::size_t slot) noexcept {
    if (slot < kSlots) state_[slot].store(2, std::memory_order_release);
}

void TemporaryRegistry::remove(std::size_t slot) noexcept {
    if (slot < kSlots) state_[slot].store(0, std::memory_order_release);
}

void TemporaryRegistry::unlink_all() noexcept {
    unlinking_.store(true);
    const auto unlink_held = [this](std::size_t k) {
        const int state = state_[k].load(std::memory_order_seq_cst);
        if (state != 2 && state != 3) return;
#if defined(_WIN32)
        ::_unlink(path_[k]);
#else
        ::unlink(path_[k]);
#endif
    };
    for (std::size_t k = 0; k < kSlots; ++k) unlink_held(k);
#if !defined(_WIN32)
    // A file another thread is creating may appear after the pass above:
    // its creation is waited for, then the file unlinked. (This thread's
    // own creation was interrupted after its call returned: the pass
    // found the file.)
    for (std::size_t k = 0; k < kSlots; ++k) {
        if (state_[k].load(std::memory_order_acquire) != 3 || ::pthread_equal(creator_[k], ::pthread_self())) continue;
        for (int wait = 0; wait < 20000 && state_[k].load(std::memory_order_acquire) == 3; ++wait) {
            const timespec pause{0, 50000};
            ::nanosleep(&pause, nullptr);
        }
        unlink_held(k);
    }
#endif
}

bool TemporaryRegistry::unlinking() const noexcept { return unlinking_.load(); }

std::size_t TemporaryRegistry::size() const noexcept {
    std::size_t n = 0;
    for (std::size_t k = 0; k < kSlots; ++k) n += state_[k].load(std::memory_order_acquire) == 2;
    return n;
}

TemporaryRegistry& live_temporaries() noexcept { return registry; }

void protect_outputs() {
#if !defined(_WIN32)
    ::signal(SIGXFSZ, SIG_IGN);
    for (const int s : kCleanedSignals) {
        struct sigaction old {};
        if (::sigaction(s, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;  // nohup, a background job
        struct sigaction on {};
        on.sa_handler = remove_temporaries_and_die;
        sigemptyset(&on.sa_mask);
        // Another of them arriving meanwhile waits: the first one ends the tool.
        for (const int t : kCleanedSignals) sigaddset(&on.sa_mask, t);
        ::sigaction(s, &on, nullptr);
    }
#endif
}

std::string temporary_name(const std::string& path, const std::string& tag, std::size_t name_max) {
    std::string name = file_part(path);
    const std::size_t extra = 1 + 1 + tag.size() + 4;  // ".", ".", the tag, ".tmp"
    if (name.size() + extra > name_max) {
        std::size_t keep = name_max > extra ? name_max - extra : 0;
        // Not inside a UTF-8 character: its continuation bytes are 10xxxxxx.
        while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
        name.resize(keep);
    }
    return directory_part(path) + "." + name + "." + tag + ".tmp";
}

OutputFile::OutputFile(const std::string& path, bool text) : path_(path), standard_(path == "-") {
    if (standard_) {
        file_ = stdout;
        return;
    }
    if (path.empty() || file_part(path).empty()) fail(path, "not a file name");
    std::string error;
    // A name taken (by chance or by someone planting names) is passed over
    // for another.
    const std::size_t longest = name_max(path);
    for (int attempt = 0; attempt < 64; ++attempt) {
        const std::string name = temporary_name(path, random_tag(), longest);
        // Recorded before it is made: a signal that arrives while the file
        // is being created is handled once the call returns, and its handler
        // must find the file then. Another's file can stand at the name only
        // by chance (64 unpredictable bits), and is removed only if such a
        // signal comes in that moment too.
        slot_ = registry.creating(name);
        if (registry.unlinking()) {
            // A signal is ending the tool: what it has not found, nothing
            // may make.
            registry.remove(slot_);
            slot_ = TemporaryRegistry::kNone;
            fail(path, "interrupted");
        }
        bool taken = false;
        file_ = create_exclusive(name, text, taken, error);
        if (file_) {
            temporary_ = name;
            registry.made(slot_);
            // A handler at work on another thread, which gave up waiting:
            // the file is ours to remove.
            if (registry.unlinking()) remove_file(name);
            return;
        }
        registry.remove(slot_);
        slot_ = TemporaryRegistry::kNone;
        if (!taken) break;
    }
    fail(path, error);
}

OutputFile::~OutputFile() {
    if (!standard_) discard();
}

void OutputFile::discard() noexcept {
    if (standard_) return;
    if (file_) std::fclose(file_);
    const bool present = file_ || closed_;
    file_ = nullptr;
    closed_ = false;
    if (present) remove_file(temporary_);
    registry.remove(slot_);
    slot_ = TemporaryRegistry::kNone;
}

void OutputFile::close() {
    if (standard_) return;
    if (!file_) fail(path_, "already closed");
    errno = 0;
    const bool written = std::fflush(file_) == 0 && !std::ferror(file_);
    int e = errno;
    const bool closed = std::fclose(file_) == 0;
    if (written && !closed) e = errno;
    file_ = nullptr;
    closed_ = true;
    if (written && closed) return;
    discard();
    fail(path_, std::strerror(e ? e : EIO));
}

void OutputFile::publish() {
    if (standard_) return;
    if (!closed_) fail(path_, "not closed");
    std::string error;
    if (!replace(temporary_, path_, error)) {
        discard();
        fail(path_, error);
    }
    closed_ = false;
    registry.remove(slot_);
    slot_ = TemporaryRegistry::kNone;
}

void OutputFile::commit() {
    if (standard_) return;
    close();
    publish();
}

OutputFile& OutputSet::add(const std::string& path, bool text) {
    files_.push_back(std::make_unique<OutputFile>(path, text));
    return *files_.back();
}

void OutputSet::commit() {
    // Files renamed to where nothing stood are taken back should a later
    // rename fail: a first export leaves no blocks without their index.
    std::vector<std::string> created;
    try {
        for (const std::unique_ptr<OutputFile>& f : files_) {
            const bool fresh = !present(f->path());
            f->publish();
            if (fresh) created.push_back(f->path());
        }
    } catch (...) {
        for (const std::string& path : created) remove_file(path);
        discard();
        throw;
    }
    files_.clear();
}

void OutputSet::discard() noexcept {
    for (const std::unique_ptr<OutputFile>& f : files_) f->discard();
    files_.clear();
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
