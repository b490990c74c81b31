// A picture of everything a setup request could touch: every key and value
// under Software\ODBC of HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE in both
// registry views, and every file (with its bytes) of some folders. Two
// pictures are compared to prove that a request touched nothing but the
// data source it named.
#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace snap {

// "HKCU/32:ODBC.INI\Sales" -> its class and access list for a key,
// "HKCU/32:ODBC.INI\Sales|CTX" -> type and bytes for a value (names in
// UTF-8, as stored),
// "file:<folder>\Sales.DSN" -> bytes for a file.
typedef std::map<std::string, std::string> Picture;

Picture Take(const std::vector<std::string> &folders);

// What differs between two pictures, as readable lines, leaving out the
// entries of the named data sources: their keys and everything below
// them, their values in "ODBC Data Sources", their <name>.DSN files.
// Entries named by other test programs (a "KvdrmTest" name without this
// program's own prefix) are left out too: they come and go as those run.
std::vector<std::string> Differences(const Picture &before, const Picture &after,
                                     const std::vector<std::string> &ownNames);

}  // namespace snap
