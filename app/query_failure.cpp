#include "app/query_failure.h"

#include <cstdio>

#include "app/exit_status.h"
#include "archive/catalogue.h"

int ReportFailedQuery(const Catalogue& catalogue) {
    const char* kind = catalogue.FailedQuery();
    if (kind == nullptr)
        return STATUS_OK;
    std::printf("Database query error (%s)!\n", kind);
    return STATUS_DATABASE_QUERY;
}
