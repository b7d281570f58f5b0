#pragma once
// The kinds of file the viewer's choosers ask for, and the name filters that offer them, so that
// a chooser opens on the files that make sense (certificates for a TLS field, databases for a
// connection) and still lets the user pick any file through its last entry.

#include <string>
#include <vector>

namespace qv {

enum class FileKind {
  kAny,
  kProgram,   // a rule's "Run Program": executable files (the chooser also hides the others)
  kTextLog,   // text and log files: "Save to file", watched files, imported and exported messages
  kSound,     // "Play sound"
  kPem,       // TLS certificates, keys and authorities
  kDatabase,  // SQLite database files
};

// Name filters in Qt's form ("PEM Files (*.pem *.crt *.key)"), the kind's own first; every list
// but kAny's ends with "All Files (*)".
std::vector<std::string> FileNameFilters(FileKind kind);

}  // namespace qv
