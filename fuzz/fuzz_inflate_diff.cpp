// Differential fuzz target: the zlib and the libdeflate inflater on the same
// bytes. Both must give the same code, and when the stream inflated, the
// same values and count; anything else aborts.
//
// Byte 0 with bit 6 set: the rest is one zlib stream, inflated with room
// for 0, 1, n - 1, n and n + 1 values, n being what zlib and what
// libdeflate inflate it to (at most 2^18 values). Otherwise the rest is a run of compressed arrays read through
// the compressed-array layer, bit 7 picking the framing and bits 0..5 the
// order of real reads, integer reads and skips; every stream the layer
// inflates goes to both inflaters.
//
// One class of difference is expected and counted instead: libdeflate
// reads the reserved length and distance codes and some code-length runs
// and trees that zlib refuses (see format/inflate.h). It is told apart by
// zlib's own message for the stream, which must name a code or a code
// tree, and libdeflate's success. QVRES_FUZZ_STRICT=1 in the environment
// makes it a finding too.
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <libdeflate.h>
#include <zlib.h>

#include "format/compressed_array.h"
#include "format/inflate.h"
#include "format/record.h"
#include "harness.h"
#include "runtime/files.h"

namespace {

using qv::format::Framing;

// The expected differences met, by zlib's message.
std::map<std::string, long long>& expected_differences() {
    static std::map<std::string, long long> seen;
    return seen;
}

void report_expected() {
    for (const auto& [message, count] : expected_differences())
        std::fprintf(stderr, "fuzz_inflate_diff: %lld streams libdeflate reads, zlib refuses: %s\n",
                     count, message.c_str());
}

// zlib's message for a stream, inflated as uncompress inflates it (a byte
// of its own when there is no room); empty when it has none.
std::string zlib_message_for(const std::uint8_t* src, std::int64_t src_len, std::int64_t count) {
    if (src_len > UINT_MAX) return {};
    z_stream z;
    std::memset(&z, 0, sizeof z);
    if (inflateInit(&z) != Z_OK) return {};
    std::vector<std::uint8_t> out(count > 0 ? static_cast<std::size_t>(count) * 4 : 1);
    z.next_in = const_cast<Bytef*>(src);
    z.avail_in = static_cast<uInt>(src_len);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    int code;
    do code = inflate(&z, Z_NO_FLUSH);
    while (code == Z_OK);
    std::string message = z.msg ? z.msg : "";
    inflateEnd(&z);
    return message;
}

// Whether a difference is the expected one: libdeflate inflated, zlib
// refused a code or a code tree. Counted when it is.
bool expected_difference(int zlib_code, int libdeflate_code, const std::uint8_t* src,
                         std::int64_t src_len, std::int64_t count) {
    static const bool strict = [] {
        const char* s = std::getenv("QVRES_FUZZ_STRICT");
        return s && *s == '1';
    }();
    if (strict || zlib_code != Z_DATA_ERROR || libdeflate_code != Z_OK) return false;
    const std::string m = zlib_message_for(src, src_len, count);
    for (const char* known :
         {"invalid literal/length code", "invalid distance code", "too many length or distance symbols",
          "invalid code lengths set", "invalid bit length repeat", "invalid literal/lengths set",
          "invalid distances set"}) {
        if (m != known) continue;
        if (expected_differences().empty()) std::atexit(report_expected);
        ++expected_differences()[m];
        return true;
    }
    return false;
}

// Both inflaters on one stream; the libdeflate result is what the caller
// gets.
int both(void* dest, std::int64_t count, const std::uint8_t* src, std::int64_t src_len,
         std::int64_t& words) {
    // Kept between calls: most inputs are small, a few inflate to megabytes.
    static std::vector<std::uint8_t> by_zlib;
    const std::size_t bytes = count > 0 ? static_cast<std::size_t>(count) * 4 : 0;
    if (by_zlib.size() < bytes) by_zlib.resize(bytes);
    std::int64_t zlib_words = -1;
    const int zlib_code = qv::format::inflate_values_zlib(by_zlib.data(), count, src, src_len, zlib_words);
    const int code = qv::format::inflate_values_libdeflate(dest, count, src, src_len, words);
    if (code != zlib_code) {
        if (expected_difference(zlib_code, code, src, src_len, count)) return code;
        std::fprintf(stderr, "codes differ: zlib %d, libdeflate %d (count %lld, %lld bytes)\n",
                     zlib_code, code, static_cast<long long>(count), static_cast<long long>(src_len));
        qvfuzz::fail("inflaters disagree on the code", code);
    }
    if (code != Z_OK) return code;
    if (words != zlib_words) qvfuzz::fail("inflaters disagree on the values produced", words);
    if (bytes > 0 && std::memcmp(dest, by_zlib.data(), bytes) != 0)
        qvfuzz::fail("inflaters disagree on the values");
    return code;
}

// What a stream inflates to, in whole values, up to `most`: zlib through a
// small window, so that the common small stream costs little.
std::int64_t values_in(const std::uint8_t* src, std::int64_t src_len, std::int64_t most) {
    if (src_len > UINT_MAX) return 0;
    z_stream z;
    std::memset(&z, 0, sizeof z);
    if (inflateInit(&z) != Z_OK) return 0;
    std::uint8_t window[4096];
    z.next_in = const_cast<Bytef*>(src);
    z.avail_in = static_cast<uInt>(src_len);
    int code;
    do {
        z.next_out = window;
        z.avail_out = sizeof window;
        code = inflate(&z, Z_NO_FLUSH);
    } while (code == Z_OK && z.total_out / 4 <= static_cast<uLong>(most));
    const auto values = static_cast<std::int64_t>(z.total_out / 4);
    inflateEnd(&z);
    return std::min(values, most);
}

// What libdeflate inflates a stream to, in whole values, when it inflates
// it whole into room for `most`; -1 when it does not.
std::int64_t libdeflate_values_in(const std::uint8_t* src, std::int64_t src_len,
                                  std::int64_t most) {
    static std::vector<std::uint8_t> room;
    room.resize(static_cast<std::size_t>(most) * 4 + 4);
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    if (!d) return -1;
    std::size_t produced = 0;
    const libdeflate_result r = libdeflate_zlib_decompress(
        d, src, static_cast<std::size_t>(src_len), room.data(), room.size() - 4, &produced);
    libdeflate_free_decompressor(d);
    return r == LIBDEFLATE_SUCCESS ? static_cast<std::int64_t>(produced / 4) : -1;
}

void raw_stream(const std::uint8_t* src, std::int64_t src_len) {
    const std::int64_t room = std::min<std::int64_t>(qv::format::max_values_for(src_len), 1 << 18);
    const std::int64_t by_zlib = values_in(src, src_len, room);
    const std::int64_t by_libdeflate = libdeflate_values_in(src, src_len, room);
    const std::int64_t n = std::max(by_zlib, by_libdeflate);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(n + 1) * 4 + 4);
    for (const std::int64_t count : {std::int64_t(0), std::int64_t(1), by_zlib - 1, by_zlib,
                                     by_zlib + 1, by_libdeflate - 1, by_libdeflate, by_libdeflate + 1}) {
        if (count < 0 || count > n + 1) continue;
        std::int64_t words = -1;
        both(out.data(), count, src, src_len, words);
    }
}

void read_arrays(qv::format::RecordReader& c, Framing framing, unsigned pattern) {
    using qv::format::Status;
    c.rewind();
    for (unsigned step = 0;; ++step) {
        const std::uint64_t before = c.position();
        Status st;
        switch ((pattern >> (2 * (step % 3))) & 3) {
            case 0: {
                qv::runtime::Array<float> reals;
                st = qv::format::read_array(c, framing, reals);
                break;
            }
            case 1: {
                qv::runtime::Array<std::int32_t> ints;
                st = qv::format::read_array(c, framing, ints);
                break;
            }
            default:
                st = qv::format::skip_array(c, framing);
                break;
        }
        if (st != Status::ok && st != Status::corrupt_stream) return;
        if (c.position() <= before) return;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    qvfuzz::init_once();
    if (data[0] & 0x40) {
        raw_stream(data + 1, static_cast<std::int64_t>(size - 1));
        return 0;
    }
    const std::string path = qvfuzz::work_dir() + "/inflate_diff.qvres";
    qvfuzz::write_file(path, data + 1, size - 1);
    qv::runtime::InputFile file;
    std::string why;
    if (!qv::runtime::open_input(path, file, why)) qvfuzz::fail(why.c_str());
    qv::format::RecordReader reader(std::move(file));
    reader.inflater()->choose(&both);
    read_arrays(reader, (data[0] & 0x80) ? Framing::Chunked : Framing::Single, data[0] & 0x3F);
    return 0;
}
