// Writes the seed inputs of the fuzz targets into OUTDIR/<target>/: valid
// base files of every layout and material level, cycle files of the seed
// analysis in both framings and section orders, runs of compressed arrays,
// run directories of files, lock files and links, and the byte strings the
// model generator turns into analyses. The committed corpus under
// fuzz/corpus was written by this tool.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <zlib.h>

#include "model/element_kinds.h"
#include "model_generator.h"
#include "run_dir_layout.h"
#include "seed_model.h"
#include "writer/records.h"
#include "writer/zlib_stream.h"

namespace {

using qvw::BaseFileSpec;
using qvw::CycleFileSpec;
using qvw::FileWriter;
namespace rd = qvfuzz::run_dir;

void save(const std::string& dir, const std::string& name, const qvw::Bytes& bytes) {
    FileWriter w;
    w.raw(bytes).save(dir + "/" + name);
}

void base_files(const std::string& dir) {
    // Layout levels 1..7 at material level 4, then material levels 0..3.
    for (std::int32_t layout = 1; layout <= 7; ++layout) {
        BaseFileSpec desc = qvfuzz::seed_base();
        desc.header = {layout, 4};
        if (layout < 5) desc.pairs.clear();
        save(dir, "seed-layout" + std::to_string(layout), qvw::write_base_file(desc).bytes());
    }
    for (std::int32_t level = 0; level <= 3; ++level) {
        BaseFileSpec desc = qvfuzz::seed_base();
        desc.header = {5, level};
        desc.parallel_section = false;
        save(dir, "seed-materials" + std::to_string(level), qvw::write_base_file(desc).bytes());
    }
    BaseFileSpec desc = qvfuzz::seed_base();
    desc.order = {qvw::BaseSection::ParallelTaskData, qvw::BaseSection::Materials,
                  qvw::BaseSection::Parts};
    save(dir, "seed-sections-reversed", qvw::write_base_file(desc).bytes());
    desc = qvfuzz::seed_base();
    desc.parts_section = false;
    save(dir, "seed-no-parts", qvw::write_base_file(desc).bytes());
    desc = qvfuzz::seed_base();
    desc.header = {2, 1, 0, 7};  // more header words than the loader uses
    save(dir, "seed-long-header", qvw::write_base_file(desc).bytes());
}

// Inputs that once broke a promise of the library, rebuilt here in
// readable form beside the minimised fuzzer finds.
void base_regressions(const std::string& dir) {
    // Unit codes far outside the known ones: the exponent arithmetic
    // overflowed.
    BaseFileSpec desc = qvfuzz::seed_base();
    desc.units[1] = INT32_MIN;
    desc.units[2] = INT32_MAX;
    save(dir, "regress-unit-codes-overflow", qvw::write_base_file(desc).bytes());
    desc.units[1] = 4;
    desc.units[2] = INT32_MIN;
    save(dir, "regress-unit-codes-mass4-overflow", qvw::write_base_file(desc).bytes());
    // A block of 8 million nodes in a file of 2 KiB loaded, and hosts sized
    // their coordinate arrays for it.
    desc = qvfuzz::seed_base();
    desc.parts[0] = qvw::PartSpec::structured("CUBE", 200, 200, 200);
    save(dir, "regress-block-beyond-file", qvw::write_base_file(desc).bytes());
    // Extents whose product overflowed 64 bits before it was checked.
    desc = qvfuzz::seed_base();
    desc.parts[0] = qvw::PartSpec::structured("CUBE", INT32_MAX, INT32_MAX, INT32_MAX);
    save(dir, "regress-extents-product-overflow", qvw::write_base_file(desc).bytes());
    // Without a connectivity, a part stating far more nodes than its stored
    // node list holds loaded, and hosts sized their node lists for them.
    desc = qvfuzz::seed_base();
    desc.connectivity.clear();
    desc.parts[2].node_ids = {1, 2, 3};
    desc.parts[2].stored_nodes = 1 << 28;
    save(dir, "regress-part-nodes-beyond-list", qvw::write_base_file(desc).bytes());
}

// Arrays longer than the model needs: the values behind the last one a
// query reads are left alone, and a count that grows into them is caught.
qvw::CycleFileSpec long_arrays(std::int32_t extra) {
    CycleFileSpec c = qvfuzz::seed_cycle(6);
    for (qvw::DirectoryEntrySpec& e : c.entries) {
        e.reals.insert(e.reals.end(), e.reals.empty() ? 0 : std::size_t(extra), 7.0f);
        e.ints.insert(e.ints.end(), e.ints.empty() ? 0 : std::size_t(extra), 7);
    }
    return c;
}

void cycle_files(const std::string& dir) {
    save(dir, "seed-single", qvw::write_cycle_file(qvfuzz::seed_cycle(6)).bytes());
    save(dir, "seed-chunked-bulk", qvw::write_cycle_file(qvfuzz::seed_cycle(7, 7)).bytes());
    save(dir, "seed-chunked-all", qvw::write_cycle_file(qvfuzz::seed_cycle(8, 5)).bytes());

    CycleFileSpec c = qvfuzz::seed_cycle(6);
    c.header = {1, 0, 1, 1, 0, 0};  // no displacement, body or material arrays
    save(dir, "seed-no-optional-arrays", qvw::write_cycle_file(c).bytes());
    c = qvfuzz::seed_cycle(6);
    c.header = {0, 1, 1, 1, 0, 1};  // "<Model>" without sizes or directory
    save(dir, "seed-model-empty", qvw::write_cycle_file(c).bytes());
    c = qvfuzz::seed_cycle(8, 9);
    c.order = {qvw::CycleSection::JointData,     qvw::CycleSection::Element,
               qvw::CycleSection::MMVars,        qvw::CycleSection::Model,
               qvw::CycleSection::RigidBodyData, qvw::CycleSection::Displacement,
               qvw::CycleSection::Node};
    save(dir, "seed-sections-shuffled", qvw::write_cycle_file(c).bytes());
    c = qvfuzz::seed_cycle(6);
    c.structured_parts = {{3, 2, 2}};  // fewer structured parts than the base file
    c.unstructured_parts = 0;
    save(dir, "seed-one-block", qvw::write_cycle_file(c).bytes());
    save(dir, "seed-long-arrays", qvw::write_cycle_file(long_arrays(16)).bytes());
    // Every bulk and body array in chunks of one value: long chunk chains.
    save(dir, "seed-chunk-chains", qvw::write_cycle_file(qvfuzz::seed_cycle(8, 1)).bytes());
}

void cycle_regressions(const std::string& dir) {
    // A cycle stating more unstructured elements than the base file's parts
    // hold, with arrays long enough for them: the element queries wrote
    // past arrays sized from get_NumUnstructuredElements.
    CycleFileSpec c = long_arrays(16);
    c.unstructured_elements += 16;
    save(dir, "regress-element-total-beyond-parts", qvw::write_cycle_file(c).bytes());
}

void array_runs(const std::string& dir) {
    const std::vector<std::int32_t> ints = {1, -2, 3, 0x7fffffff, 5, 6, 7, 8, 9};
    const std::vector<float> reals = {0.5f, -1.0f, 3.25f, 1e30f, 0.0f};
    FileWriter single;
    single.single_ints(ints).single_reals(reals).single_ints({}).single_reals(reals);
    save(dir, "seed-single", [&] {
        qvw::Bytes b = {0x00};  // read, read, read, read
        b.insert(b.end(), single.bytes().begin(), single.bytes().end());
        return b;
    }());
    FileWriter chunked;
    chunked.chunked_ints(ints, {4, 4, 1}).chunked_reals(reals, {2, 3}).chunked_ints(ints, {9}, 12);
    save(dir, "seed-chunked", [&] {
        qvw::Bytes b = {0xe4};  // chunked: read reals, read ints, skip, skip
        b.insert(b.end(), chunked.bytes().begin(), chunked.bytes().end());
        return b;
    }());
    // A chain of 96 chunks of one to three values, then a single array.
    std::vector<std::int32_t> many, sizes;
    for (std::int32_t i = 0; i < 192; ++i) many.push_back(i * 1000 - 77);
    for (std::int32_t done = 0, n = 1; done < 192; done += n, n = n % 3 + 1)
        sizes.push_back(std::min(n, 192 - done));
    FileWriter chain;
    chain.chunked_ints(many, sizes).chunked_reals(reals, {1, 1, 1, 1, 1});
    save(dir, "seed-chunk-chain", [&] {
        qvw::Bytes b = {0x81};  // chunked: read ints, read, read, read
        b.insert(b.end(), chain.bytes().begin(), chain.bytes().end());
        return b;
    }());
}

// Inputs of fuzz_model: the first of a fixed sequence of pseudo-random
// byte strings whose generated run has the shape asked for. (Searched for,
// not spelled out, so that they follow the generator when it changes.)
using Shape = std::function<bool(const qvfuzz::GeneratedRun&)>;

void find_input(const std::string& dir, const std::string& name, std::size_t length, const Shape& shape) {
    std::mt19937 rng(12345);
    for (int attempt = 0; attempt < 2000000; ++attempt) {
        qvw::Bytes input(length);
        for (auto& b : input) b = static_cast<std::uint8_t>(rng());
        if (shape(qvfuzz::generate_run(input.data(), input.size()))) {
            save(dir, name, input);
            return;
        }
    }
    std::fprintf(stderr, "no input of shape %s found\n", name.c_str());
    std::exit(1);
}

std::int64_t slots_of(const qvfuzz::GeneratedRun& r) {
    std::int64_t t = 0;
    for (const auto& p : r.base.parts)
        if (p.type == 1.0f) t += std::int64_t(p.i) * p.j * p.k;
    return t;
}

// Kind positions present among the unstructured elements.
std::vector<bool> kinds_of(const qvfuzz::GeneratedRun& r) {
    std::vector<bool> present(11, false);
    const auto& b = r.base;
    for (std::size_t e = 0; e < b.element_types.size() && 8 * e + 8 <= b.connectivity.size(); ++e)
        present[static_cast<std::size_t>(qv::model::element_kind(b.element_types[e], &b.connectivity[8 * e]))] = true;
    return present;
}

bool chunk_chains(const qvfuzz::GeneratedRun& r) {
    for (const auto& c : r.cycles)
        if (c.header.size() >= 8 && c.word(7) > 0 && c.word(8) > 0 && c.chunk_size <= 7 && c.entries.size() >= 4 &&
            c.joints && c.rigid_bodies && !c.joints->numbers.empty() && !c.rigid_bodies->numbers.empty())
            return true;
    return false;
}

void model_inputs(const std::string& dir) {
    find_input(dir, "seed-many-blocks", 512, [](const qvfuzz::GeneratedRun& r) {
        int blocks = 0, planes = 0, thin = 0;
        for (const auto& p : r.base.parts) {
            if (p.type != 1.0f) continue;
            ++blocks;
            planes += p.i == 1;
            thin += p.i > 1 && (p.j <= 2 || p.k <= 2);
        }
        return r.disagreements == 0 && blocks >= 4 && planes >= 1 && thin >= 1 && r.cycles.size() >= 2;
    });
    find_input(dir, "seed-every-kind", 512, [](const qvfuzz::GeneratedRun& r) {
        const std::vector<bool> k = kinds_of(r);
        return r.disagreements == 0 && k[2] && k[5] && k[6] && k[7] && k[8] && k[9] && k[10] && !r.base.pairs.empty();
    });
    find_input(dir, "seed-chunk-chains", 1024, [](const qvfuzz::GeneratedRun& r) {
        return r.disagreements == 0 && chunk_chains(r);
    });
    find_input(dir, "seed-materials", 512, [](const qvfuzz::GeneratedRun& r) {
        bool negative = false, shared = false;
        for (std::size_t m = 0; m < r.base.materials.size(); ++m) {
            negative = negative || r.base.materials[m].id < 0;
            for (std::size_t n = 0; n < m; ++n) shared = shared || r.base.materials[m].id == r.base.materials[n].id;
        }
        return r.disagreements == 0 && r.base.header[1] >= 4 && negative && shared && r.cycles.size() == 3 &&
               r.base.parallel_section;
    });
    find_input(dir, "seed-large", 8192, [](const qvfuzz::GeneratedRun& r) {
        bool multi = false;
        for (const auto& c : r.cycles)
            for (const auto& e : c.entries) multi = multi || (e.kind == -2 && (e.variable == 86 || e.variable == 54));
        return r.disagreements == 0 && slots_of(r) >= 900 && r.base.materials.size() >= 4 && multi &&
               r.cycles[0].entries.size() >= 6;
    });
    find_input(dir, "seed-disagreeing", 512, [](const qvfuzz::GeneratedRun& r) {
        return r.disagreements >= 4 && slots_of(r) > 0 && r.base.element_types.size() >= 4;
    });
}

qvw::Bytes with_first(std::uint8_t first, const qvw::Bytes& rest) {
    // Sized once and filled: g++ -O3 takes an insert behind a one-byte
    // vector for a copy out of its bounds.
    qvw::Bytes b(rest.size() + 1);
    b[0] = first;
    std::copy(rest.begin(), rest.end(), b.begin() + 1);
    return b;
}

// The outcomes the two inflaters must agree on, as bare streams (byte 0
// 0x40) and as arrays read through the compressed-array layer.
void inflate_diff_inputs(const std::string& dir) {
    using qvw::Bytes;
    std::vector<std::int32_t> mixed;
    for (std::int32_t i = 0; i < 300; ++i) mixed.push_back(i < 200 ? i * i - 7 * i : i % 7);
    const Bytes whole = qvw::compress_values(mixed.data(), mixed.size());
    const Bytes packed = qvw::pack_values(mixed.data(), mixed.size());
    uLongf n = compressBound(static_cast<uLong>(packed.size()));
    Bytes stored(n);
    compress2(stored.data(), &n, packed.data(), static_cast<uLong>(packed.size()), 0);
    stored.resize(n);
    const std::vector<std::int32_t> zeros(1000, 0);  // runs of the longest match
    const Bytes zero_stream = qvw::compress_values(zeros.data(), zeros.size());
    const Bytes empty = qvw::compress_values(zeros.data(), 0);
    Bytes bad_checksum = whole;
    bad_checksum.back() ^= 1;
    Bytes trailing = whole;
    trailing.insert(trailing.end(), 7, 0xEE);
    Bytes dictionary = {0x78, 0xBB, 0, 0, 0, 1};
    dictionary.insert(dictionary.end(), whole.begin() + 2, whole.end());
    const Bytes truncated(whole.begin(), whole.end() - 40);
    const Bytes checksum_cut(whole.begin(), whole.end() - 4);
    const Bytes reserved = qvw::ZlibStream()
                               .fixed_block(true)
                               .code('A').code('B').code('C').code('D')
                               .code(286).distance(0).code(256)
                               .finish_with_checksum(1);
    const Bytes too_far = qvw::ZlibStream()
                              .fixed_block(true)
                              .code('A').code(257).distance(1).code(256)
                              .finish({'A', 'A', 'A', 'A'});

    const struct {
        const char* name;
        const Bytes& stream;
    } streams[] = {{"whole", whole},         {"stored", stored},
                   {"zeros", zero_stream},   {"empty-array", empty},
                   {"bad-checksum", bad_checksum}, {"trailing-bytes", trailing},
                   {"preset-dictionary", dictionary}, {"truncated", truncated},
                   {"checksum-cut", checksum_cut}, {"reserved-code-after-value", reserved},
                   {"distance-too-far", too_far}};
    for (const auto& s : streams) save(dir, std::string("seed-raw-") + s.name, with_first(0x40, s.stream));

    // Through the layer: counts as stated, above and below what the stream
    // holds, and each damaged stream, in both framings.
    const auto count = static_cast<std::int32_t>(mixed.size());
    auto length = [](const Bytes& b) { return static_cast<std::int32_t>(b.size()); };
    FileWriter single;
    single.single_ints(mixed).single_reals({0.5f, -1.0f, 3.25f});
    single.ints({count + 5, length(whole)}).payload(whole);
    single.ints({count - 5, length(whole)}).payload(whole);
    single.ints({count, length(trailing)}).payload(trailing);
    single.ints({count, length(stored)}).payload(stored);
    single.ints({count, length(bad_checksum)}).payload(bad_checksum);
    single.ints({count, length(truncated)}).payload(truncated);
    single.ints({0, length(empty)}).payload(empty).single_ints({});
    save(dir, "seed-layer-single", with_first(0x04, single.bytes()));

    FileWriter chunked;
    chunked.chunked_ints(mixed, {100, 150, 50}).chunked_reals({0.5f, -1.0f, 3.25f}, {2, 1});
    chunked.ints({3 * count}).ints({count + 5, length(whole)}).payload(whole);
    chunked.ints({count - 5, length(whole)}).payload(whole);
    chunked.ints({count, length(stored)}).payload(stored).ints({0, 0});
    chunked.ints({2 * count}).ints({count, length(bad_checksum)}).payload(bad_checksum);
    chunked.ints({count, length(trailing)}).payload(trailing).ints({0, 0});
    save(dir, "seed-layer-chunked", with_first(0x80 | 0x24, chunked.bytes()));
}

// A run directory input in the byte form run_dir_layout.h describes.
class RunDirSeed {
public:
    // h0: mode | directory form << 2 | path form << 4 | stem << 6; the
    // host's entry; h2; the two set_ResultsFilename targets (7: none).
    explicit RunDirSeed(std::uint8_t h0, std::uint8_t host = 0, std::uint8_t h2 = 0,
                        std::uint8_t results1 = 7, std::uint8_t results2 = 7)
        : bytes_{h0, host, h2, results1, results2} {}

    RunDirSeed& base(std::uint8_t form = rd::kNewerBase, std::uint8_t flags = 0) {
        return add({std::uint8_t(rd::kFile | rd::kBase << 2 | flags), form, 0});
    }
    // A cycle file "NNNN" = p, cycle number `cycle`, time T (T / 2; 0xF0 NaN).
    RunDirSeed& cycle(std::uint8_t p, std::uint8_t cycle, std::uint8_t time,
                      std::uint8_t form = rd::kCycleName, std::uint8_t flags = 0) {
        return add({std::uint8_t(rd::kFile | rd::kCycle << 2 | flags), form, p, cycle, time});
    }
    RunDirSeed& truncated(std::uint8_t p, std::uint16_t length) {
        return add({rd::kFile | rd::kTruncated << 2, rd::kCycleName, p, p, 2,
                    std::uint8_t(length >> 8), std::uint8_t(length)});
    }
    RunDirSeed& damaged(std::uint8_t p, std::uint16_t at, std::uint8_t x) {
        return add({rd::kFile | rd::kDamaged << 2, rd::kCycleName, p, p, 2, std::uint8_t(at >> 8),
                    std::uint8_t(at), x});
    }
    RunDirSeed& raw(std::uint8_t p, const std::string& text) {
        add({rd::kFile | rd::kRaw << 2, rd::kCycleName, p, std::uint8_t(text.size())});
        return add(qvw::Bytes(text.begin(), text.end()));
    }
    // A cycle file named by `text` (up to 40 characters), ".qvres" added
    // when `qvres`.
    RunDirSeed& byte_name(const std::string& text, bool qvres) {
        add({rd::kFile | rd::kCycle << 2, std::uint8_t(rd::kByteName | (qvres ? 0x10 : 0)),
             std::uint8_t(text.size() - 1)});
        add(qvw::Bytes(text.begin(), text.end()));
        return add({77, 17});
    }
    // The lock of the name (form, p), or with rd::kCallerLock in `flags`
    // the lock of the host's name.
    RunDirSeed& lock(std::uint8_t form, std::uint8_t p, std::uint8_t lock_form,
                     std::uint8_t flags = 0) {
        return add({std::uint8_t(rd::kLock | lock_form << 2 | flags), form, p});
    }
    RunDirSeed& directory(std::uint8_t form, std::uint8_t p) {
        return add({rd::kSpecial, form, p});
    }
    RunDirSeed& link(std::uint8_t form, std::uint8_t p, std::uint8_t target) {
        return add({std::uint8_t(rd::kSpecial | rd::kLinkBit | target << 3), form, p});
    }
    const qvw::Bytes& bytes() const { return bytes_; }

private:
    RunDirSeed& add(const qvw::Bytes& b) {
        bytes_.insert(bytes_.end(), b.begin(), b.end());
        return *this;
    }
    qvw::Bytes bytes_;
};

void run_dirs(const std::string& dir) {
    // Three cycles whose times are not in the order of their names.
    save(dir, "seed-normal-run",
         RunDirSeed(1, 1).base().cycle(1, 10, 6).cycle(2, 20, 2).cycle(3, 30, 4).bytes());
    // Cycle locks of every form; the host's cycle 6 is not locked.
    save(dir, "seed-cycle-locks",
         RunDirSeed(1, 1)
             .base().cycle(6, 60, 1).cycle(1, 10, 6).cycle(2, 20, 2).cycle(3, 30, 4)
             .cycle(4, 40, 8).cycle(5, 50, 3)
             .lock(rd::kCycleName, 1, rd::kLockFile).lock(rd::kCycleName, 2, rd::kLockDirectory)
             .lock(rd::kCycleName, 3, rd::kLockDangling)
             .lock(rd::kCycleName, 4, rd::kLockToOutsideFile)
             .lock(rd::kCycleName, 5, rd::kLockToOutsideDirectory)
             .bytes());
    // The host's own lock, and the run's (stem) lock as a directory and as
    // a link to a directory outside.
    save(dir, "seed-caller-lock",
         RunDirSeed(1, 1)
             .base().cycle(1, 10, 6).lock(0, 0, rd::kLockFile, rd::kCallerLock)
             .bytes());
    save(dir, "seed-stem-lock-directory",
         RunDirSeed(1, 1)
             .base().cycle(1, 10, 6).lock(rd::kNewerBase, 0, rd::kLockDirectory)
             .bytes());
    save(dir, "seed-stem-lock-outside",
         RunDirSeed(1 | 1 << 6, 1)
             .base().cycle(1, 10, 6).lock(rd::kNewerBase, 0, rd::kLockToOutsideDirectory)
             .bytes());
    // Stem "job_a_cyc" (run prefix "job_a"), the older-form base file, names
    // that look like the run's, at and around the length limits, a cycle
    // directory and links named like cycle files.
    save(dir, "seed-hostile-names",
         RunDirSeed(1 | 1 << 6, 1)
             .base(rd::kOlderBase).cycle(1, 10, 6).cycle(2, 20, 2, rd::kWrongCase)
             .cycle(3, 30, 4, rd::kPrefixLookAlike).cycle(4, 40, 1, rd::kUnderscores)
             .cycle(5, 50, 9, rd::kLeadingUnderscore).cycle(4, 60, 5, rd::kLongName)
             .cycle(5, 61, 5, rd::kLongName).cycle(4, 62, 7, rd::kLongExtension)
             .cycle(3, 63, 11, rd::kLongPath).cycle(4, 64, 12, rd::kLongPath)
             .cycle(5, 65, 13, rd::kLongPath).cycle(6, 66, 14, rd::kNonDigitTail)
             .cycle(7, 67, 15, rd::kTrailingBlank).cycle(8, 68, 16, rd::kOtherRun)
             .directory(rd::kCycleName, 9).link(rd::kCycleName, 10, rd::kToOutsideFile)
             .link(rd::kCycleName, 11, rd::kToPreviousEntry)
             .link(rd::kCycleName, 12, rd::kToOutsideDirectory)
             .byte_name("run_0001.qvres\\job_a_cyc_0002", true).byte_name("job_a.v_7.lock", false)
             .bytes());
    // The directory padded to the scan limit and the path to the path limit.
    save(dir, "seed-long-directory",
         RunDirSeed(1 | 2 << 2, 1, 4 << 1).base().cycle(1, 10, 6).cycle(2, 20, 2).bytes());
    save(dir, "seed-long-path",
         RunDirSeed(1 | 1 << 4, 1, 4 << 1).base().cycle(1, 10, 6).cycle(2, 20, 2).bytes());
    // Unreadable cycle and base files, both also opened by name.
    save(dir, "seed-unreadable-cycle",
         RunDirSeed(1, 1, 0, 2 << 3, 3 << 3)
             .base().cycle(1, 10, 6).cycle(2, 20, 2, rd::kCycleName, rd::kUnreadable)
             .cycle(3, 30, 4, rd::kCycleName, rd::kUnreadable).bytes());
    save(dir, "seed-unreadable-base",
         RunDirSeed(1, 1, 0, 0).base(rd::kNewerBase, rd::kUnreadable).cycle(1, 10, 6).bytes());
    // NaN and equal times: registration order decides between equal ones.
    save(dir, "seed-nan-equal-times",
         RunDirSeed(1, 1, 0, 4, 5)
             .base().cycle(1, 10, 0xF0).cycle(2, 20, 2).cycle(3, 30, 2).cycle(4, 40, 0xF3)
             .cycle(5, 50, 1).cycle(6, 60, 2).cycle(7, 70, 0).cycle(8, 80, 0xF8)
             .cycle(9, 90, 0xFB).bytes());
    // Damaged, truncated and raw cycle files; then the same run scanned in
    // the directory outside, in a mode other than 0 and 1.
    const RunDirSeed damaged = RunDirSeed(1, 1, 0, 1 << 3, 6)
                                   .base().cycle(1, 10, 6).truncated(2, 100).damaged(3, 40, 0x80)
                                   .raw(4, "not a cycle file");
    save(dir, "seed-damaged-cycles", damaged.bytes());
    qvw::Bytes other = damaged.bytes();
    other[0] = 3 | 3 << 2;
    save(dir, "seed-other-mode-and-directory", other);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1];
    for (const char* target :
         {"fuzz_base_file", "fuzz_cycle_file", "fuzz_arrays", "fuzz_inflate_diff", "fuzz_run_dir",
          "fuzz_model"})
        std::filesystem::create_directories(out + "/" + target);
    base_files(out + "/fuzz_base_file");
    base_regressions(out + "/fuzz_base_file");
    cycle_files(out + "/fuzz_cycle_file");
    cycle_regressions(out + "/fuzz_cycle_file");
    array_runs(out + "/fuzz_arrays");
    inflate_diff_inputs(out + "/fuzz_inflate_diff");
    run_dirs(out + "/fuzz_run_dir");
    model_inputs(out + "/fuzz_model");
    return 0;
}
