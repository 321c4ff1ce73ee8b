// Writes the mixed model (tests/support/analysis_files.h) as run
// "mixed_run" into a directory, with the cycle files of cycles 1 and 2, for
// the tool tests; the options make the variants a comparison must tell
// apart:
//
//   write_mixed_analysis DIRECTORY [--cycles 1,2,3] [--renumber N]
//                        [--set CYCLE NAME POSITION VALUE]... [--move-node N DX]
//                        [--time CYCLE T]... [--drop CYCLE NAME]... [--cut CYCLE BYTES]...
//
// --cycles   the cycles written (each cycle c at time c / 1000 s)
// --renumber each cycle file carries cycle number c + N, its values and time
//            those of cycle c
// --set      value POSITION (0-based, the header pair included) of the first
//            array named NAME in cycle CYCLE; DISPLACEMENT names the
//            displacements; VALUE may be nan; integers are set exactly
// --move-node  adds DX to the x coordinate of node N (0-based)
// --time     cycle CYCLE at time T (may be nan, inf or -inf)
// --drop     cycle CYCLE without the arrays named NAME
// --cut      the file of cycle CYCLE cut after its first BYTES bytes
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "support/analysis_files.h"
#include "writer/base_file.h"
#include "writer/cycle_file.h"

namespace {

struct Change {
    int cycle;
    std::string name;
    std::size_t position;
    double value;
};

void apply(qvw::CycleFileSpec& cycle, const Change& change) {
    if (change.name == "DISPLACEMENT") {
        cycle.displacements->at(change.position) = static_cast<float>(change.value);
        return;
    }
    for (qvw::DirectoryEntrySpec& e : cycle.entries) {
        if (e.name != change.name) continue;
        if (e.kind == 2 || e.kind == -2)
            e.reals.at(change.position) = static_cast<float>(change.value);
        else
            e.ints.at(change.position) = static_cast<std::int32_t>(change.value);
        return;
    }
    throw std::runtime_error("no array named " + change.name);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: write_mixed_analysis DIRECTORY [OPTIONS]\n";
        return 2;
    }
    const std::string dir = argv[1];
    std::vector<int> cycles = {1, 2};
    int renumber = 0;
    std::vector<Change> changes;
    std::vector<std::pair<int, float>> times;
    std::vector<std::pair<int, std::string>> drops;
    std::vector<std::pair<int, std::size_t>> cuts;
    int moved_node = -1;
    float dx = 0.0f;
    try {
        for (int a = 2; a < argc; ++a) {
            const std::string arg = argv[a];
            const auto need = [&](int n) {
                if (a + n >= argc) throw std::runtime_error(arg + " needs " + std::to_string(n) + " values");
            };
            if (arg == "--cycles") {
                need(1);
                cycles.clear();
                for (std::string list = argv[++a]; !list.empty();) {
                    const std::size_t comma = list.find(',');
                    cycles.push_back(std::stoi(list.substr(0, comma)));
                    list = comma == std::string::npos ? "" : list.substr(comma + 1);
                }
            } else if (arg == "--renumber") {
                need(1);
                renumber = std::stoi(argv[++a]);
            } else if (arg == "--set") {
                need(4);
                changes.push_back({std::stoi(argv[a + 1]), argv[a + 2], std::stoul(argv[a + 3]),
                                   std::strtod(argv[a + 4], nullptr)});
                a += 4;
            } else if (arg == "--time") {
                need(2);
                times.emplace_back(std::stoi(argv[a + 1]), std::strtof(argv[a + 2], nullptr));
                a += 2;
            } else if (arg == "--drop") {
                need(2);
                drops.emplace_back(std::stoi(argv[a + 1]), argv[a + 2]);
                a += 2;
            } else if (arg == "--cut") {
                need(2);
                cuts.emplace_back(std::stoi(argv[a + 1]), std::stoul(argv[a + 2]));
                a += 2;
            } else if (arg == "--move-node") {
                need(2);
                moved_node = std::stoi(argv[a + 1]);
                dx = std::strtof(argv[a + 2], nullptr);
                a += 2;
            } else {
                throw std::runtime_error("unknown option " + arg);
            }
        }
        std::filesystem::create_directories(dir);
        qvw::BaseFileSpec model = qvtest::mixed_model();
        if (moved_node >= 0) model.coordinates.at(3 * static_cast<std::size_t>(moved_node)) += dx;
        qvw::write_base_file(model).save(dir + "/mixed_run.qvres_base");
        for (const int c : cycles) {
            qvw::CycleFileSpec cycle = qvtest::mixed_cycle(c);
            for (const Change& change : changes)
                if (change.cycle == c) apply(cycle, change);
            for (const auto& [at, t] : times)
                if (at == c) cycle.time = t;
            for (const auto& [at, name] : drops) {
                if (at != c) continue;
                const std::size_t before = cycle.entries.size();
                cycle.entries.erase(std::remove_if(cycle.entries.begin(), cycle.entries.end(),
                                                   [&](const qvw::DirectoryEntrySpec& e) { return e.name == name; }),
                                    cycle.entries.end());
                if (cycle.entries.size() == before) throw std::runtime_error("no array named " + name);
                cycle.variable_count = static_cast<std::int32_t>(cycle.entries.size());
            }
            cycle.cycle = c + renumber;
            qvw::FileWriter file = qvw::write_cycle_file(cycle);
            for (const auto& [at, bytes] : cuts)
                if (at == c) file.bytes().resize(std::min(bytes, file.size()));
            file.save(dir + "/mixed_run_" + std::to_string(c + renumber) + ".qvres");
        }
    } catch (const std::exception& e) {
        std::cerr << "write_mixed_analysis: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
