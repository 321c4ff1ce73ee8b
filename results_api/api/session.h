// The session: start-up, naming an analysis, selecting cycles, clean-up.
#pragma once

#include <cstdint>
#include <string>

namespace qv::api {

void startup();
bool set_base_filename(std::int32_t mode, const std::string& path, const std::string& directory);
bool set_results_filename(const std::string& path);
bool new_step(std::int32_t step);
void clean_up();

}  // namespace qv::api
