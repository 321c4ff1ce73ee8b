// Writes the mixed model (tests/support/analysis_files.h) as run
// "mixed_run" into a directory, with the cycle files of cycles 1 and 2, for
// the tool tests:
//
//   write_mixed_analysis DIRECTORY
#include <filesystem>
#include <iostream>
#include <string>

#include "support/analysis_files.h"
#include "writer/base_file.h"
#include "writer/cycle_file.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: write_mixed_analysis DIRECTORY\n";
        return 2;
    }
    const std::string dir = argv[1];
    try {
        std::filesystem::create_directories(dir);
        qvw::write_base_file(qvtest::mixed_model()).save(dir + "/mixed_run.qvres_base");
        for (const int c : {1, 2})
            qvw::write_cycle_file(qvtest::mixed_cycle(c))
                .save(dir + "/mixed_run_" + std::to_string(c) + ".qvres");
    } catch (const std::exception& e) {
        std::cerr << "write_mixed_analysis: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
