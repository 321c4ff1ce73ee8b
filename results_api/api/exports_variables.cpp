// Exports of the variable queries on the current cycle.
#include "results_api.h"

#include "api/export_guard.h"
#include "api/session.h"
#include "variables/variable_queries.h"

using qv::api::given;
using qv::api::guarded;
using qv::api::session;

extern "C" {

RESULTS_API_EXPORT bool RESULTS_API_CALL get_NumVariables(int32_t* variables, int32_t* entries) {
    if (!given(variables, entries)) return false;
    return guarded(
        [&] { return qv::variables::num_variables(session().view(), *variables, *entries) > 0; });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_VariableInfo(int32_t* qualifiers, char** names,
                                                          int32_t* variables, int32_t* kinds) {
    if (!given(qualifiers, names, variables, kinds)) return false;
    return guarded([&] {
        return qv::variables::variable_info(session().view(), qualifiers, names, variables,
                                            kinds) > 0;
    });
}

RESULTS_API_EXPORT bool RESULTS_API_CALL get_isResultAvailable(const int32_t* code,
                                                               const int32_t* part,
                                                               const int32_t* kind,
                                                               const int32_t* exact) {
    if (!given(code, part, kind, exact)) return false;
    const int32_t c = *code, p = *part, k = *kind, x = *exact;
    return guarded(
        [&] { return qv::variables::is_result_available(session().view(), c, p, k, x); });
}

}  // extern "C"
