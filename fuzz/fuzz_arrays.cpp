// Fuzz target: the input is a run of records read as compressed arrays. The
// first byte picks the framing and the order of reads and skips; the rest is
// the file. Every read must end in a status, move forward, and hand out no
// more values than the file could hold.
#include <cstddef>
#include <cstdint>
#include <string>

#include "format/compressed_array.h"
#include "format/record.h"
#include "harness.h"
#include "runtime/files.h"

namespace {

using qv::format::Framing;
using qv::format::Status;

// Reads (or skips) arrays until the file reports its end or an error.
void walk(qv::format::RecordReader& r, Framing framing, unsigned pattern) {
    r.rewind();
    const std::int64_t most = qv::format::max_values_for(r.size());
    for (unsigned step = 0;; ++step) {
        const std::uint64_t before = r.position();
        Status st;
        switch ((pattern >> (2 * (step % 4))) & 3) {
            case 0: {
                qv::runtime::Array<float> reals;
                st = qv::format::read_array(r, framing, reals);
                if (st == Status::ok && reals.size() > most)
                    qvfuzz::fail("values beyond the file", reals.size());
                if (st != Status::ok && reals.allocated()) qvfuzz::fail("failed read left values");
                break;
            }
            case 1: {
                qv::runtime::Array<std::int32_t> ints;
                st = qv::format::read_array(r, framing, ints);
                if (st == Status::ok && ints.size() > most)
                    qvfuzz::fail("values beyond the file", ints.size());
                if (st != Status::ok && ints.allocated()) qvfuzz::fail("failed read left values");
                break;
            }
            default:
                st = qv::format::skip_array(r, framing);
                if (r.skip_buffer_capacity() > static_cast<std::int64_t>(r.size()) * 2 + 64)
                    qvfuzz::fail("skip buffer beyond the file", r.skip_buffer_capacity());
                break;
        }
        // A corrupt stream leaves the file after its array; anything else
        // but ok leaves it unusable.
        if (st != Status::ok && st != Status::corrupt_stream) return;
        if (r.position() <= before) qvfuzz::fail("array read did not move forward");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    qvfuzz::init_once();
    const std::string path = qvfuzz::work_dir() + "/arrays.qvres";
    qvfuzz::write_file(path, data + 1, size - 1);
    qv::runtime::InputFile file;
    std::string why;
    if (!qv::runtime::open_input(path, file, why)) qvfuzz::fail(why.c_str());
    qv::format::RecordReader r(std::move(file));
    const unsigned pattern = data[0];
    walk(r, (pattern & 0x80) ? Framing::Chunked : Framing::Single, pattern);
    walk(r, (pattern & 0x80) ? Framing::Single : Framing::Chunked, pattern ^ 0x55);
    return 0;
}
