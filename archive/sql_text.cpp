#include "archive/sql_text.h"

#include <cstdio>

std::string EscapeSqlQuotes(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        escaped += c;
        if (c == '\'')
            escaped += '\'';
    }
    return escaped;
}

std::string SqlLiteral(const std::string& text) { return "'" + EscapeSqlQuotes(text) + "'"; }

std::string SqlNumber(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::vector<std::string> SplitSqlStatements(const std::string& text) {
    std::vector<std::string> statements(1);
    bool inLiteral = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        // A doubled quote inside a literal is seen as two toggles and stays in it.
        if (c == '\'')
            inLiteral = !inLiteral;
        if (!inLiteral && c == '-' && text.compare(i, 2, "--") == 0) {
            i = text.find('\n', i);
            if (i == std::string::npos)
                break;
            statements.back() += '\n';
        } else if (!inLiteral && c == ';') {
            statements.emplace_back();
        } else {
            statements.back() += c;
        }
    }
    std::vector<std::string> nonBlank;
    for (const std::string& statement : statements) {
        const std::size_t first = statement.find_first_not_of(" \t\r\n");
        if (first != std::string::npos)
            nonBlank.push_back(
                statement.substr(first, statement.find_last_not_of(" \t\r\n") - first + 1));
    }
    return nonBlank;
}
