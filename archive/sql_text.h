#pragma once

#include <string>
#include <vector>

// Doubles every single quote so that a text can stand inside an SQL string literal.
std::string EscapeSqlQuotes(const std::string& text);

// Writes text as an SQL string literal: quoted, its single quotes doubled.
std::string SqlLiteral(const std::string& text);

// Writes a number for SQL text with every digit a double holds.
std::string SqlNumber(double value);

// Splits SQL text into statements at ';' outside string literals, dropping "--" comments,
// blanks around each statement and blank statements.
std::vector<std::string> SplitSqlStatements(const std::string& text);
