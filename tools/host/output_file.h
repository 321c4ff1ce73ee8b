// Files the tools write: created under a new, unpredictable name in the
// target directory (exclusively, never through a link), written, and renamed
// over the final name only once complete. The final name is never opened:
// a link planted there, or at any name a run would use, is replaced or left
// alone, never written through, and a file someone else created beforehand
// never becomes the output. A failed write leaves no temporary file and
// keeps what stood at the final name.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace qvhost {

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
    // Closes and removes the temporary.
    void discard() noexcept;

private:
    std::string path_;
    std::string temporary_;
    bool standard_;
    std::FILE* file_ = nullptr;
};

// Writes `size` bytes as the whole of file `path` through an OutputFile.
void write_file(const std::string& path, const void* bytes, std::size_t size);

}  // namespace qvhost
