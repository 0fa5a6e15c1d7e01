#pragma once
#include <cstdlib>
#include <fstream>
#include <string>

#include "support/TempDir.h"

namespace bv::test {

// A real SQLite ODBC data source named "BrivaneTest", declared in a private
// ODBCSYSINI directory so the machine's own configuration is left alone.
class SqliteDataSource {
public:
    SqliteDataSource()
    {
        database = dir.file("protocol.db");
        std::ofstream(dir.file("odbcinst.ini"))
            << "[SQLite3]\nDescription=SQLite3 ODBC Driver\n"
               "Driver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so\n";
        std::ofstream(dir.file("odbc.ini"))
            << "[BrivaneTest]\nDriver=SQLite3\nDatabase=" << database << "\n";
        setenv("ODBCSYSINI", dir.path().c_str(), 1);
        setenv("ODBCINI", dir.file("odbc.ini").c_str(), 1);
    }

    TempDir dir;
    std::string database;
};

} // namespace bv::test
