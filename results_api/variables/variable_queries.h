// Queries on the variables stored in the current cycle: counts, the result
// directory with display names, and availability tests.
#pragma once

#include <cstdint>

#include "model/cycle_model.h"

namespace qv::variables {

int num_variables(const model::View& m, std::int32_t& variables, std::int32_t& entries);
// Fills one value per directory entry; names[i] points to 100 writable chars
// or is null (that name is skipped).
int variable_info(const model::View& m, std::int32_t* qualifiers, char** names,
                  std::int32_t* indices, std::int32_t* kinds);
bool is_result_available(const model::View& m, std::int32_t code, std::int32_t part,
                         std::int32_t kind, std::int32_t exact);

// The 100-character display name of a 50-character stored name: dots become
// '_', and so does every blank with a non-blank character to its right.
void display_name(const char* stored50, char* out100);

}  // namespace qv::variables
