// The second reader of the database, archive and favorites tests: Python's sqlite3 and zipfile run
// from the test (tests/core/coretool.py).
#pragma once

#include <string>
#include <vector>

// Runs coretool.py with the arguments; its output (JSON), or "ERROR: " and the reason.
std::string CoreTool(const std::vector<std::string>& args);

// Rows of one query on a database file as JSON: [[col, ...], ...] (blobs in hex).
std::string Query(const std::wstring& db, const std::string& sql, const std::vector<std::string>& params = {});

// Runs an SQL script on a database file (creating it); false with a test failure when it fails.
bool ExecSql(const std::wstring& db, const std::string& script);
