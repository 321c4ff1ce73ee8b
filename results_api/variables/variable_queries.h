// Queries on the variables stored in the current cycle: counts, the result
// directory with display names, and availability tests.
#pragma once

#include <cstdint>

namespace qv::variables {

int num_variables(std::int32_t& variables, std::int32_t& entries);
// Fills one value per directory entry; names[i] points to 100 writable chars.
int variable_info(std::int32_t* qualifiers, char** names, std::int32_t* indices,
                  std::int32_t* kinds);
bool is_result_available(std::int32_t code, std::int32_t part, std::int32_t kind,
                         std::int32_t exact);

// The 100-character display name of a 50-character stored name: dots become
// '_', and so does every blank with a non-blank character to its right.
void display_name(const char* stored50, char* out100);

}  // namespace qv::variables
