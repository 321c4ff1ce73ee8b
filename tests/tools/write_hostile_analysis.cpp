// Writes analyses a hostile or broken producer could leave, for the tool
// tests, as run "hostile_run" in a directory:
//
//   write_hostile_analysis huge DIRECTORY I J K MATERIALS
//       the mixed model (tests/support/analysis_files.h) with its block CUBE
//       claiming I x J x K nodes and MATERIALS materials with an Euler id,
//       its arrays those of the small model: a file of about 100 KB whose
//       counts claim a model of millions of nodes
//   write_hostile_analysis names DIRECTORY [--shift]
//       the mixed model, cycles 1 and 2, with part, material and variable
//       names holding terminal escape sequences and spreadsheet formulas
//       (the names are listed in tests/tools/safety_test.py); --shift adds 1
//       to every PRESSURE value, so that a comparison names that array
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>

#include "support/analysis_files.h"
#include "writer/base_file.h"
#include "writer/cycle_file.h"

namespace {

constexpr const char* kRun = "hostile_run";

void write_huge(const std::string& dir, std::int32_t i, std::int32_t j, std::int32_t k, std::int32_t materials) {
    qvw::BaseFileSpec model = qvtest::mixed_model();
    model.parts[1].i = i, model.parts[1].j = j, model.parts[1].k = k;
    // Structured parts only: the arrays checked first are then the values.
    model.parts.resize(4);
    model.connectivity.clear();
    model.element_types.clear();
    model.element_numbers.clear();
    // The library takes a block for genuine when a file of this size could
    // hold its coordinates compressed: 100 KB of further coordinates make
    // room for some 8 million nodes.
    std::uint32_t noise = 1;  // values zlib cannot shrink
    for (int n = 0; n < 25000; ++n) {
        noise = noise * 1664525u + 1013904223u;
        model.coordinates.push_back(static_cast<float>(noise >> 8));
    }
    model.materials.clear();
    for (std::int32_t m = 1; m <= materials; ++m)
        model.materials.push_back({"M" + std::to_string(m), m, "", 0.0f});
    qvw::write_base_file(model).save(dir + "/" + kRun + ".qvres_base");
    qvw::CycleFileSpec cycle = qvtest::mixed_cycle(1);
    cycle.structured_parts[1] = {i, j, k};
    cycle.unstructured_parts = cycle.unstructured_nodes = cycle.unstructured_elements = 0;
    qvw::write_cycle_file(cycle).save(dir + "/" + kRun + "_1.qvres");
}

void write_names(const std::string& dir, bool shift) {
    qvw::BaseFileSpec model = qvtest::mixed_model();
    model.parts[1].name = "\x1b[31mRED\x07";
    model.parts[4].name = "=HYPERLINK(\"http://x.y\",\"z\")";
    model.materials[0].name = "\x1b]0;TITLE\x07WATER";
    model.materials[2].name = "=HYPERLINK(\"http://x.y\",\"z\")";
    qvw::write_base_file(model).save(dir + "/" + kRun + ".qvres_base");
    for (const int c : {1, 2}) {
        qvw::CycleFileSpec cycle = qvtest::mixed_cycle(c);
        for (qvw::DirectoryEntrySpec& e : cycle.entries)
            if (e.name == "PRESSURE") {
                e.name = "PRES\x1b[2JSURE";
                if (shift)
                    for (std::size_t v = 2; v < e.reals.size(); ++v) e.reals[v] += 1.0f;
            }
            else if (e.name == "STATUS") e.name = "=HYPERLINK(\"http://x.y\",\"z\")";
        qvw::write_cycle_file(cycle).save(dir + "/" + kRun + "_" + std::to_string(c) + ".qvres");
    }
}

std::int32_t number(const char* s) {
    const long v = std::strtol(s, nullptr, 10);
    if (v < 1 || v > 2000000000) throw std::runtime_error(std::string("not a count: ") + s);
    return static_cast<std::int32_t>(v);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::string mode = argc > 2 ? argv[1] : "";
        if (mode == "huge" && argc == 7) {
            std::filesystem::create_directories(argv[2]);
            write_huge(argv[2], number(argv[3]), number(argv[4]), number(argv[5]), number(argv[6]));
        } else if (mode == "names" && (argc == 3 || (argc == 4 && std::string(argv[3]) == "--shift"))) {
            std::filesystem::create_directories(argv[2]);
            write_names(argv[2], argc == 4);
        } else {
            std::cerr << "usage: write_hostile_analysis huge DIRECTORY I J K MATERIALS | names DIRECTORY [--shift]\n";
            return 2;
        }
    } catch (const std::exception& e) {
        std::cerr << "write_hostile_analysis: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
