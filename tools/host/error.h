// The one kind of failure the tools report: a sentence for the person at the
// terminal, printed on one line after the tool's name, and the library's
// status when the library reported it.
#pragma once

#include <stdexcept>
#include <string>

#include "qvres.h"

namespace qvhost {

class Error : public std::runtime_error {
public:
    explicit Error(const std::string& what, qvres_status status = QVRES_OK)
        : std::runtime_error(what), status_(status) {}
    qvres_status status() const { return status_; }
    // A file that is damaged, truncated or cannot be read: what --keep-going
    // passes over.
    bool unreadable_file() const {
        return status_ == QVRES_E_DAMAGED || status_ == QVRES_E_UNREADABLE || status_ == QVRES_E_NOT_FOUND;
    }

private:
    qvres_status status_;
};

// A command line the tool cannot take: reported with a pointer to --help,
// exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace qvhost
