// Files the tools write: created under a new, unpredictable name in the
// target directory (exclusively, never through a link), written, and renamed
// over the final name only once complete. The final name is never opened:
// a link planted there, or at any name a run would use, is replaced or left
// alone, never written through, and a file someone else created beforehand
// never becomes the output. A failed write leaves no temporary file and
// keeps what stood at the final name; so does a tool ended by a signal
// once protect_outputs() has run.
#pragma once

#if !defined(_WIN32)
#include <pthread.h>
#endif

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace qvhost {

// The temporaries being written, for a signal handler to remove: fixed
// slots of fixed size, so that neither recording nor removing allocates,
// and unlink_all() calls only unlink, nanosleep and pthread_self. A path that
// does not fit, or one more than kSlots at a time, is not recorded (a
// signal then leaves that temporary behind). Holds zeros when made: a
// static, or value-initialised (std::make_unique).
class TemporaryRegistry {
public:
    static constexpr std::size_t kSlots = 1024;
    static constexpr std::size_t kPathBytes = 4096;
    static constexpr std::size_t kNone = kSlots;

    // The slot `path` now holds, or kNone.
    std::size_t add(const std::string& path) noexcept;
    // The same for a file the calling thread is about to create: until
    // made(), a handler on another thread waits (a second at most) for the
    // creation to end before it unlinks the file.
    std::size_t creating(const std::string& path) noexcept;
    void made(std::size_t slot) noexcept;
    // Forgets the path of `slot` (kNone: nothing).
    void remove(std::size_t slot) noexcept;
    // Unlinks every path held; for a signal handler. From its start on,
    // unlinking() is true.
    void unlink_all() noexcept;
    // Whether unlink_all() has begun. A maker that sees it after
    // creating() creates nothing: the handler may have passed its slot.
    bool unlinking() const noexcept;
    // How many paths are held.
    std::size_t size() const noexcept;

private:
    std::size_t take(const std::string& path, int state) noexcept;
    // 0 free, 1 being filled, 2 held, 3 held while its file is created by
    // the thread in creator_.
    std::atomic<int> state_[kSlots];
    std::atomic<bool> unlinking_;
#if !defined(_WIN32)
    pthread_t creator_[kSlots];
#endif
    char path_[kSlots][kPathBytes];
};

// The registry every OutputFile records its temporary in.
TemporaryRegistry& live_temporaries() noexcept;

// Called once as a tool starts, before any thread: SIGXFSZ is ignored, so
// that a write past the file size limit fails (EFBIG) and is reported like
// a full disk, instead of killing the tool with its temporary left; and
// SIGHUP, SIGINT, SIGQUIT, SIGPIPE and SIGTERM (those not ignored already)
// first remove the temporaries in live_temporaries(), then end the tool as
// they would have. A no-op on Windows.
void protect_outputs();

class OutputFile {
public:
    // "-" stands for standard output, written directly. `text` writes line
    // ends as the platform's text files have them (CR LF on Windows).
    // Throws std::runtime_error naming `path` when no temporary can be made.
    explicit OutputFile(const std::string& path, bool text = false);
    // An output never committed is discarded.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::FILE* get() const { return file_; }
    const std::string& path() const { return path_; }
    bool standard() const { return standard_; }
    // The temporary's name (empty for standard output), for tests.
    const std::string& temporary() const { return temporary_; }

    // Closes the temporary and renames it over the final name. Throws
    // std::runtime_error naming the final name when anything written was
    // lost or the rename failed; the temporary is removed then. Standard
    // output is left open and unchecked: the tools check it once, at the end.
    void commit();
    // commit() in two halves, for files that replace others together
    // (OutputSet): close() closes the temporary and checks that everything
    // written reached it (throwing as commit() does), keeping it;
    // publish() renames it over the final name.
    void close();
    void publish();
    // Closes and removes the temporary (unless published).
    void discard() noexcept;

private:
    std::string path_;
    std::string temporary_;
    bool standard_;
    bool closed_ = false;
    std::FILE* file_ = nullptr;
    std::size_t slot_ = TemporaryRegistry::kNone;
};

// Files that replace others as one: each is written to its temporary and
// closed; commit() renames them all, in the order added, only once every
// one is complete. A set not committed is discarded: every temporary
// removed, nothing at the final names touched. Should a rename fail, the
// files renamed before it to names that were free are removed again, those
// that replaced a file stay (each whole), and the rest are discarded.
class OutputSet {
public:
    OutputSet() = default;
    ~OutputSet() { discard(); }
    OutputSet(const OutputSet&) = delete;
    OutputSet& operator=(const OutputSet&) = delete;

    // A new output for `path`, for the caller to write and close().
    OutputFile& add(const std::string& path, bool text = false);
    void commit();
    void discard() noexcept;
    std::size_t size() const { return files_.size(); }

private:
    std::vector<std::unique_ptr<OutputFile>> files_;
};

// The name of the temporary for `path` with tag `tag`: ".NAME.TAG.tmp"
// beside it, NAME cut short (at a UTF-8 character) when the whole would
// pass `name_max` bytes, so that names near the limit can be written.
std::string temporary_name(const std::string& path, const std::string& tag, std::size_t name_max);

// Writes `size` bytes as the whole of file `path` through an OutputFile.
void write_file(const std::string& path, const void* bytes, std::size_t size);

}  // namespace qvhost
