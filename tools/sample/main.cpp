// qvres-sample: writes the sample analysis into a directory.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "host/analysis_files.h"
#include "host/console.h"
#include "host/output_file.h"
#include "sample/sample_analysis.h"

namespace {

constexpr const char* kUsage =
    "usage: qvres-sample [--extents I J K] [--cycles N] [--run NAME] OUTDIR\n"
    "       qvres-sample --version\n"
    "Writes a sample analysis: an Euler block of I x J x K nodes (default 21 x 7 x 6;\n"
    "100 100 100 gives about a million nodes) with a structure of every element kind,\n"
    "N saved cycles (default 12), base file OUTDIR/NAME.qvres_base (default NAME\n"
    "sample_run) and cycle files OUTDIR/NAME_CYCLE.qvres. Cycle files NAME_<digits>.qvres\n"
    "and NAME_base.qvres already in OUTDIR are removed first.\n";

int usage_error(const std::string& message) {
    qvhost::report_error("qvres-sample", message + " (see qvres-sample --help)");
    return 2;
}

bool to_int(const char* s, std::int32_t& out) {
    char* end = nullptr;
    const long v = std::strtol(s, &end, 10);
    if (!*s || *end || v < 0 || v > 100000) return false;
    out = static_cast<std::int32_t>(v);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    qvsample::SampleOptions options;
    std::string outdir;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return qvhost::flush_stdout("qvres-sample") ? 0 : 1;
        } else if (arg == "--version") {
            std::fputs(qvhost::version_text("qvres-sample", nullptr).c_str(), stdout);
            return qvhost::flush_stdout("qvres-sample") ? 0 : 1;
        } else if (arg == "--extents") {
            if (a + 3 >= argc || !to_int(argv[a + 1], options.i) || !to_int(argv[a + 2], options.j) ||
                !to_int(argv[a + 3], options.k) || options.i < 2 || options.j < 2 || options.k < 2)
                return usage_error("--extents takes three node counts of at least 2");
            a += 3;
        } else if (arg == "--cycles") {
            if (a + 1 >= argc || !to_int(argv[++a], options.cycles) || options.cycles < 2)
                return usage_error("--cycles takes a count of at least 2");
        } else if (arg == "--run") {
            if (a + 1 >= argc) return usage_error("--run takes a name");
            options.run = argv[++a];
            if (options.run.empty() || options.run.find_first_of(qvhost::kPathSeparators) != std::string::npos)
                return usage_error("--run takes a file name without directories");
        } else if (!arg.empty() && arg[0] == '-') {
            return usage_error("unknown option " + arg);
        } else if (outdir.empty()) {
            outdir = arg;
        } else {
            return usage_error("one output directory only");
        }
    }
    if (outdir.empty()) return usage_error("no output directory given");
    qvhost::protect_outputs();
    try {
        const qvsample::SampleAnalysis a = qvsample::write_sample_analysis(outdir, options);
        qvhost::print(stdout, "wrote %s and %zu cycle files (%s ... %s)\n", a.base_file.c_str(),
                              a.cycle_files.size(), a.cycle_files.front().c_str(), a.cycle_files.back().c_str());
    } catch (const std::exception& e) {
        qvhost::report_error("qvres-sample", "cannot write the sample into " + outdir + ": " + e.what());
        return 1;
    }
    return qvhost::flush_stdout("qvres-sample") ? 0 : 1;
}
