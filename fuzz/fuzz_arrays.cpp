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
#include "runtime/file_units.h"

namespace {

using qv::format::Framing;

// Reads (or skips) arrays until the file reports its end or an error.
void walk(qv::runtime::Connection& c, Framing framing, unsigned pattern) {
    qv::format::rewind(c);
    const std::int64_t most = qv::format::max_values_for(c.size);
    for (unsigned step = 0;; ++step) {
        const std::uint64_t before = c.file->position();
        int st;
        switch ((pattern >> (2 * (step % 4))) & 3) {
            case 0: {
                qv::runtime::Array<float> reals;
                st = qv::format::read_array(c, framing, reals);
                if (st == qv::format::kReadOk && reals.size() > most)
                    qvfuzz::fail("values beyond the file", reals.size());
                if (st != qv::format::kReadOk && reals.allocated())
                    qvfuzz::fail("failed read left values");
                break;
            }
            case 1: {
                qv::runtime::Array<std::int32_t> ints;
                st = qv::format::read_array(c, framing, ints);
                if (st == qv::format::kReadOk && ints.size() > most)
                    qvfuzz::fail("values beyond the file", ints.size());
                if (st != qv::format::kReadOk && ints.allocated())
                    qvfuzz::fail("failed read left values");
                break;
            }
            default:
                st = qv::format::skip_array(c, framing);
                if (qv::format::skip_buffer_capacity() > static_cast<std::int64_t>(c.size) * 2 + 64)
                    qvfuzz::fail("skip buffer beyond the file", qv::format::skip_buffer_capacity());
                break;
        }
        if (st != qv::format::kReadOk && st != qv::format::kInflateError) return;
        if (c.file->position() <= before) qvfuzz::fail("array read did not move forward");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    qvfuzz::init_once();
    const std::string path = qvfuzz::work_dir() + "/arrays.qvres";
    qvfuzz::write_file(path, data + 1, size - 1);
    constexpr int kUnit = qv::runtime::unit::kResults;
    qv::runtime::open_unit(kUnit, path, qv::runtime::status_code::kOld);
    qv::runtime::Connection& c = *qv::runtime::connection(kUnit);
    const unsigned pattern = data[0];
    walk(c, (pattern & 0x80) ? Framing::Chunked : Framing::Single, pattern);
    walk(c, (pattern & 0x80) ? Framing::Single : Framing::Chunked, pattern ^ 0x55);
    qv::runtime::close_unit(kUnit);
    qv::format::release_skip_buffer();
    return 0;
}
