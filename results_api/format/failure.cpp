#include "format/failure.h"

namespace qv::format {
namespace {

const char* cause_of(Status s) {
    switch (s) {
    case Status::not_stored: return "not stored in this cycle";
    case Status::capacity: return "the buffer is too small";
    case Status::argument: return "no such material or quantity";
    default: return "damaged or truncated, or shorter than the model needs";
    }
}

}  // namespace

std::string Failure::message() const {
    std::string m = file;
    const auto add = [&m](const std::string& part, const char* separator) {
        if (!m.empty()) m += separator;
        m += part;
    };
    if (!detail.empty()) {
        if (section && *section) add(section, ": ");
        add(detail, ": ");
        if (offset >= 0) m += " (at byte " + std::to_string(offset) + ")";
        return m;
    }
    std::string where = section ? section : "";
    for (int n = 0; n < 2; ++n) {
        if (!names[n]) continue;
        if (!where.empty()) where += ", ";
        where += std::string(names[n]) + " " + std::to_string(numbers[n]);
    }
    if (!where.empty()) add(where, ": ");
    const bool damage = status == Status::damaged || status == Status::corrupt_stream;
    add(damage && offset >= 0 ? "damaged or truncated at byte " + std::to_string(offset)
                              : std::string(cause_of(status)),
        ": ");
    return m;
}

}  // namespace qv::format
