// Variable queries over the current result directory.
#include "variables/variable_queries.h"

#include <cstring>

#include "model/store.h"
#include "variables/catalogue.h"

namespace qv::variables {

int num_variables(std::int32_t& variables, std::int32_t& entries) {
    const model::ModelStore& s = model::store();
    if (!s.model_loaded) {
        variables = entries = -1;
        return -1;
    }
    variables = s.variable_count;
    entries = static_cast<std::int32_t>(s.directory.size());
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

int variable_info(std::int32_t* qualifiers, char** names, std::int32_t* indices,
                  std::int32_t* kinds) {
    const model::ModelStore& s = model::store();
    if (!s.model_loaded) return -1;
    for (std::int64_t i = 1; i <= s.directory.size(); ++i) {
        const model::DirectoryEntry& e = s.directory(i);
        qualifiers[i - 1] = e.qualifier;
        indices[i - 1] = e.variable;
        kinds[i - 1] = e.kind;
        if (names[i - 1]) display_name(e.name.chars, names[i - 1]);
    }
    return 1;
}

bool is_result_available(std::int32_t code, std::int32_t part, std::int32_t kind,
                         std::int32_t exact) {
    // A negative code names the index directly; a positive one goes through
    // the integer family's code list, which holds no codes, so that it names
    // its own index (and 0 the first).
    std::int64_t wanted = code < 0 ? -std::int64_t(code) : code;
    if (code >= 0) {
        const std::int32_t* list = integer_code_list();
        for (int k = 0; k < kIntegerSlots; ++k) {
            if (list[k] == code) {
                wanted = k + 1;
                break;
            }
        }
    }
    const model::ModelStore& s = model::store();
    if (!s.model_loaded || s.directory.size() < 1) return false;
    // Any switch other than 0 and 1 matches nothing.
    if (exact != 0 && exact != 1) return false;
    for (const model::DirectoryEntry& e : s.directory)
        if (model::entry_matches(e, wanted, kind, part, exact == 1)) return true;
    return false;
}

}  // namespace qv::variables
