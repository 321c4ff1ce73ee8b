// Tag search with one rewind.
#include "format/tag_search.h"

#include <algorithm>
#include <cstring>

#include "format/record.h"
#include "model/store.h"

namespace qv::format {

int find_tag(runtime::Connection& c, const std::string& tag) {
    char wanted[kTagLength];
    std::memset(wanted, ' ', kTagLength);
    std::memcpy(wanted, tag.data(), std::min(tag.size(), kTagLength));

    int ends = 0;
    for (;;) {
        char field[kTagLength];
        const int st = read_record_prefix(c, field, kTagLength);
        if (st == kReadEnd) {
            if (++ends == 1) {
                rewind(c);
                continue;
            }
            std::string trimmed(wanted, kTagLength);
            trimmed.erase(trimmed.find_last_not_of(' ') + 1);
            model::store().message.assign("Could not find search string (" + trimmed +
                                          ") in results file");
            return 1;
        }
        // Records shorter than a tag, such as a few integers, are passed
        // over; so is a damaged record, after which the file reads as ended.
        if (st != kReadOk) continue;
        if (std::memcmp(field, wanted, kTagLength) == 0) return 0;
    }
}

}  // namespace qv::format
