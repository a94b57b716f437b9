// The program's database. The SQLite file, its worker thread and the settings cache come with the
// database layer; the context already owns and orders it.
#pragma once

class AppDatabase {
public:
    AppDatabase() = default;
    AppDatabase(const AppDatabase&) = delete;
    AppDatabase& operator=(const AppDatabase&) = delete;
};
