#include "archive/catalogue.h"
#include "archive/sql_text.h"

std::string BuildPhaseClause(const std::string& phaseList) {
    std::string clause;
    std::size_t start = 0;
    while (start <= phaseList.size()) {
        std::size_t comma = phaseList.find(',', start);
        if (comma == std::string::npos)
            comma = phaseList.size();
        if (comma > start) {
            clause += clause.empty() ? " and iphase in ('" : "', '";
            // Blanks inside a name are kept; a quote is doubled so the name stays one SQL
            // string literal.
            clause += EscapeSqlQuotes(phaseList.substr(start, comma - start));
        }
        start = comma + 1;
    }
    if (!clause.empty())
        clause += "')";
    return clause;
}
