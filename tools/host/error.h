// The one kind of failure the tools report: a sentence for the person at the
// terminal, printed on one line after the tool's name.
#pragma once

#include <stdexcept>
#include <string>

namespace qvhost {

class Error : public std::runtime_error {
public:
    explicit Error(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace qvhost
