// Variable queries over the result directory of the last cycle read.
#include "variables/variable_queries.h"

#include <cstring>

#include "variables/catalogue.h"

namespace qv::variables {

int num_variables(const model::View& m, std::int32_t& variables, std::int32_t& entries) {
    if (!m.loaded) {
        variables = entries = -1;
        return -1;
    }
    variables = m.cycle.variable_count;
    entries = static_cast<std::int32_t>(m.cycle.directory.size());
    return 1;
}

void display_name(const char* stored50, char* out100) {
    std::memcpy(out100, stored50, 50);
    std::memset(out100 + 50, ' ', 50);
    bool seen = false;
    for (int i = 99; i >= 0; --i) {
        char& c = out100[i];
        if (c == '.') {
            c = '_';
            seen = true;
        } else if (c == ' ') {
            if (seen) c = '_';
        } else {
            seen = true;
        }
    }
}

int variable_info(const model::View& m, std::int32_t* qualifiers, char** names,
                  std::int32_t* indices, std::int32_t* kinds) {
    if (!m.loaded) return -1;
    const auto& directory = m.cycle.directory;
    for (std::int64_t i = 1; i <= directory.size(); ++i) {
        const model::DirectoryEntry& e = directory(i);
        qualifiers[i - 1] = e.qualifier;
        indices[i - 1] = e.variable;
        kinds[i - 1] = e.kind;
        if (names[i - 1]) display_name(e.name.chars, names[i - 1]);
    }
    return 1;
}

bool is_result_available(const model::View& m, std::int32_t code, std::int32_t part,
                         std::int32_t kind, std::int32_t exact) {
    // A negative code names the index directly; a positive one goes through
    // the integer family's translation, so that it names its own index.
    const std::int64_t wanted = integer_variable_index(code);
    if (!m.loaded || m.cycle.directory.size() < 1) return false;
    // Any switch other than 0 and 1 matches nothing.
    if (exact != 0 && exact != 1) return false;
    return model::first_entry(m.cycle, wanted, kind, part, exact == 1) > 0;
}

}  // namespace qv::variables
