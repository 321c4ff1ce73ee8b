// Writes one analysis of the hostile corpus (run "hostile_run") into a
// directory:
//
//   make_case CASE DIRECTORY
//
// Cases written from the fixture writer (the driver derives the others,
// truncations, locks and links, from "valid"):
//   valid                the mixed model of tests/support, cycles 1 and 2
//   huge_block           a block of 200 x 200 x 200 nodes with the
//                        coordinates of 8
//   huge_request         a 100^3 block with its coordinates and 100 reported
//                        materials in ~105 KB: one multi-material element
//                        request claims ~98 million values
//   alternating          a cycle whose result directory alternates 2000 node
//                        and element entries, every array of the right size
//   inflation_bomb       a base file of ~25 KB whose element types inflate
//                        to 20 MB, beyond 64 x file + 16 MiB
//   garbage_inflate      cycle 1's arrays state counts their streams do not
//                        inflate to: more, fewer, and a stream of 4 MB of
//                        zeros behind a count of 48
//   connectivity_past_n  an element naming node 9999 of 55
//   names                names with terminal escapes and spreadsheet formulas
// and, for the tool tests (tests/tools/safety_test.py):
//   names_shifted        names, with 1 added to every PRESSURE value
//   control_names        names with line ends, tabs, DEL and C1 controls
//   control_names_shifted  control_names, with 1 added to every PRESSURE value
//   huge_claim           a 200^3 block and 100 materials in ~100 KB
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/analysis_files.h"
#include "writer/base_file.h"
#include "writer/cycle_file.h"
#include "writer/records.h"

namespace {

using qvw::BaseFileSpec;
using qvw::CycleFileSpec;

void save_base(const std::string& dir, const BaseFileSpec& desc) {
    qvw::write_base_file(desc).save(dir + "/hostile_run.qvres_base");
}

void save_cycle(const std::string& dir, const CycleFileSpec& desc) {
    qvw::write_cycle_file(desc).save(dir + "/hostile_run_" + std::to_string(desc.cycle) + ".qvres");
}

void save_cycle(const std::string& dir, std::int32_t number, const qvw::Bytes& bytes) {
    qvw::FileWriter f;
    f.raw(bytes);
    f.save(dir + "/hostile_run_" + std::to_string(number) + ".qvres");
}

qvw::DirectoryEntrySpec& entry(CycleFileSpec& c, std::int32_t variable, std::int32_t kind) {
    for (qvw::DirectoryEntrySpec& e : c.entries)
        if (e.variable == variable && e.kind == kind) return e;
    throw std::runtime_error("no entry " + std::to_string(variable));
}

// Overwrites the stated count of the single-form array whose compressed
// stream is `stream`: the header record [count, length] and the payload
// record's leading length stand 16 bytes before the stream.
void restate_count(qvw::Bytes& file, const qvw::Bytes& stream, std::int32_t count) {
    const auto at = std::search(file.begin(), file.end(), stream.begin(), stream.end());
    if (at == file.end()) throw std::runtime_error("array stream not found");
    const std::size_t offset = static_cast<std::size_t>(at - file.begin()) - 16;
    for (int b = 0; b < 4; ++b)
        file[offset + b] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(count) >> (24 - 8 * b));
}

void valid(const std::string& dir) {
    save_base(dir, qvtest::mixed_model());
    save_cycle(dir, qvtest::mixed_cycle(1));
    save_cycle(dir, qvtest::mixed_cycle(2));
}

void huge_block(const std::string& dir) {
    BaseFileSpec model;
    model.header = {5, 4};
    model.parts.push_back(qvw::PartSpec::structured("HUGE", 200, 200, 200));
    for (int n = 0; n < 8; ++n) model.coordinates.insert(model.coordinates.end(), {1.0f * n, 0.0f, 0.0f});
    model.materials = {{"M1", 1, "", 0.0f}};
    save_base(dir, model);
    CycleFileSpec cycle;
    cycle.cycle = 1;
    cycle.structured_parts = {{200, 200, 200}};
    cycle.entries = {qvw::DirectoryEntrySpec::real(-2, 64, 1, {1.0f, 64.0f, 3.0f}, "PRESSURE")};
    save_cycle(dir, cycle);
}

// The mixed model's structured parts with a block of n x n x n nodes and
// 100 reported materials, its coordinates 100 KB of noise (values zlib
// cannot shrink): one multi-material element request claims 101 values for
// each of (n - 1)^3 elements, of a cycle file of a few KB.
//   huge_request  n = 100: the file holds every coordinate (the rest zeros,
//                 within the inflation limit of a file of this size), ~98
//                 million values claimed
//   huge_claim    n = 200 (for the tool tests): the file could hold some 8
//                 million nodes compressed, ~796 million values claimed
void huge_materials(const std::string& dir, std::int32_t n, bool every_coordinate) {
    BaseFileSpec model = qvtest::mixed_model();
    model.parts[1].i = model.parts[1].j = model.parts[1].k = n;
    model.parts.resize(4);
    model.connectivity.clear();
    model.element_types.clear();
    model.element_numbers.clear();
    const std::size_t first = every_coordinate ? 0 : model.coordinates.size();
    if (every_coordinate) {
        model.node_numbers.clear();
        model.coordinates.assign(3 * (6 + std::size_t(n) * n * n + 6 + 4), 0.0f);
    } else {
        model.coordinates.resize(first + 25000);
    }
    std::uint32_t noise = 1;
    for (std::size_t x = first; x < first + 25000; ++x) {
        noise = noise * 1664525u + 1013904223u;
        model.coordinates[x] = static_cast<float>(noise >> 8);
    }
    model.materials.clear();
    for (std::int32_t m = 1; m <= 100; ++m) model.materials.push_back({"M" + std::to_string(m), m, "", 0.0f});
    save_base(dir, model);
    CycleFileSpec cycle = qvtest::mixed_cycle(1);
    cycle.structured_parts[1] = {n, n, n};
    cycle.unstructured_parts = cycle.unstructured_nodes = cycle.unstructured_elements = 0;
    save_cycle(dir, cycle);
}

void huge_request(const std::string& dir) { huge_materials(dir, 100, true); }
void huge_claim(const std::string& dir) { huge_materials(dir, 200, false); }

void alternating(const std::string& dir) {
    save_base(dir, qvtest::mixed_model());
    CycleFileSpec cycle = qvtest::mixed_cycle(1);
    const std::vector<float> node = entry(cycle, 4, 2).reals, element = entry(cycle, 64, -2).reals;
    cycle.entries.clear();
    for (std::int32_t e = 1; e <= 2000; ++e) {
        // Indices past the catalogue, so that no entry shares another's.
        std::vector<float> v = e % 2 ? node : element;
        v[2] = static_cast<float>(e);
        cycle.entries.push_back(qvw::DirectoryEntrySpec::real(e % 2 ? 2 : -2, 1000 + e, 1, v,
                                                              "V" + std::to_string(e)));
    }
    cycle.variable_count = static_cast<std::int32_t>(cycle.entries.size());
    save_cycle(dir, cycle);
}

void inflation_bomb(const std::string& dir) {
    BaseFileSpec model = qvtest::small_model();
    model.element_types.assign(5000000, 1);
    save_base(dir, model);
    CycleFileSpec cycle;
    cycle.cycle = 1;
    cycle.structured_parts = {{3, 2, 2}};
    save_cycle(dir, cycle);
}

void garbage_inflate(const std::string& dir) {
    save_base(dir, qvtest::mixed_model());
    CycleFileSpec cycle = qvtest::mixed_cycle(1);
    // PRESSURE: 2 + 43 slots + 3 elements stated, a million zeros stored.
    std::vector<float>& pressure = entry(cycle, 64, -2).reals;
    const std::size_t stated = pressure.size();
    pressure.assign(1000000, 0.0f);
    const std::vector<float> velocity = entry(cycle, 4, 2).reals, temperature = entry(cycle, 86, -2).reals;
    qvw::Bytes file = qvw::write_cycle_file(cycle).bytes();
    restate_count(file, qvw::compress_values(pressure.data(), pressure.size()),
                  static_cast<std::int32_t>(stated));
    restate_count(file, qvw::compress_values(velocity.data(), velocity.size()), 100000000);
    restate_count(file, qvw::compress_values(temperature.data(), temperature.size()), 1);
    save_cycle(dir, 1, file);
    save_cycle(dir, qvtest::mixed_cycle(2));
}

void connectivity_past_n(const std::string& dir) {
    BaseFileSpec model = qvtest::mixed_model();
    model.connectivity[13] = 9999;
    save_base(dir, model);
    save_cycle(dir, qvtest::mixed_cycle(1));
}

// Cycle 2 states one unstructured node more than the model has, and its
// node arrays and displacements carry a value for it (77777): laid out
// for 56 nodes, where the model's positions are those of 55.
void more_nodes(const std::string& dir) {
    save_base(dir, qvtest::mixed_model());
    for (const int c : {1, 2, 3}) {
        CycleFileSpec cycle = qvtest::mixed_cycle(c);
        if (c == 2) {
            cycle.unstructured_nodes += 1;
            for (qvw::DirectoryEntrySpec& e : cycle.entries)
                if (e.kind == 2) e.reals.push_back(77777.f);
                else if (e.kind == 1) e.ints.push_back(77777);
            cycle.displacements->insert(cycle.displacements->end(), {1.f, 2.f, 3.f});
        }
        save_cycle(dir, cycle);
    }
}

// Names a terminal or a spreadsheet would obey; `shift` adds 1 to every
// PRESSURE value, so that a comparison with the unshifted run names it.
void write_names(const std::string& dir, bool shift) {
    BaseFileSpec model = qvtest::mixed_model();
    model.parts[1].name = "\x1b[31mRED\x07";
    model.parts[4].name = "=HYPERLINK(\"http://x.y\",\"z\")";
    model.materials[0].name = "\x1b]0;TITLE\x07WATER";
    model.materials[2].name = "+CMD|' /C calc'!A0";
    save_base(dir, model);
    for (const int c : {1, 2}) {
        CycleFileSpec cycle = qvtest::mixed_cycle(c);
        for (qvw::DirectoryEntrySpec& e : cycle.entries)
            if (e.name == "PRESSURE") {
                e.name = "PRES\x1b[2JSURE";
                if (shift)
                    for (std::size_t v = 2; v < e.reals.size(); ++v) e.reals[v] += 1.0f;
            } else if (e.name == "STATUS") e.name = "=HYPERLINK(\"http://x.y\",\"z\")";
            else if (e.name == "TEMP") e.name = "@SUM(1+1)\x9b" "31m";
        save_cycle(dir, cycle);
    }
}

void names(const std::string& dir) { write_names(dir, false); }
void names_shifted(const std::string& dir) { write_names(dir, true); }

// Names holding line ends and tabs, which would forge lines of a report,
// and DEL and C1 controls (a CSI as UTF-8 and as a raw byte); `shift` as in
// write_names.
void write_control_names(const std::string& dir, bool shift) {
    BaseFileSpec model = qvtest::mixed_model();
    model.parts[0].name = "PL\x7f\xc2\x9b\x9b" "ANE";
    model.parts[1].name = "CU\tBE";
    model.parts[2].name = "S\nAB";
    model.parts[3].name = "SH\rEET";
    model.materials[0].name = "WA\nTER";
    model.materials[0].body = "BODY\t-W";
    save_base(dir, model);
    for (const int c : {1, 2}) {
        CycleFileSpec cycle = qvtest::mixed_cycle(c);
        for (qvw::DirectoryEntrySpec& e : cycle.entries)
            if (e.name == "PRESSURE") {
                e.name = "PRES\nSURE";
                if (shift)
                    for (std::size_t v = 2; v < e.reals.size(); ++v) e.reals[v] += 1.0f;
            } else if (e.name == "STATUS") e.name = "STA\tTUS";
            else if (e.name == "TEMP") e.name = "TE\rMP";
            else if (e.name == "X-VELOCITY") e.name = "VEL\x7f\xc2\x9b\x9b" "OCITY";
        save_cycle(dir, cycle);
    }
}

void control_names(const std::string& dir) { write_control_names(dir, false); }
void control_names_shifted(const std::string& dir) { write_control_names(dir, true); }

}  // namespace

int main(int argc, char** argv) {
    const struct {
        const char* name;
        void (*write)(const std::string&);
    } cases[] = {{"valid", valid},
                 {"huge_block", huge_block},
                 {"huge_request", huge_request},
                 {"alternating", alternating},
                 {"inflation_bomb", inflation_bomb},
                 {"garbage_inflate", garbage_inflate},
                 {"connectivity_past_n", connectivity_past_n},
                 {"more_nodes", more_nodes},
                 {"names", names},
                 {"names_shifted", names_shifted},
                 {"control_names", control_names},
                 {"control_names_shifted", control_names_shifted},
                 {"huge_claim", huge_claim}};
    if (argc != 3) {
        std::cerr << "usage: make_case CASE DIRECTORY\n";
        return 2;
    }
    for (const auto& c : cases)
        if (argv[1] == std::string(c.name)) {
            try {
                std::filesystem::create_directories(argv[2]);
                c.write(argv[2]);
                return 0;
            } catch (const std::exception& e) {
                std::cerr << "make_case " << argv[1] << ": " << e.what() << "\n";
                return 1;
            }
        }
    std::cerr << "make_case: no case " << argv[1] << "\n";
    return 2;
}
