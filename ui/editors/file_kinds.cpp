#include "ui/editors/file_kinds.h"

namespace qv {

std::vector<std::string> FileNameFilters(FileKind kind) {
  const std::string all = "All Files (*)";
  switch (kind) {
    case FileKind::kAny:
      return {all};
    case FileKind::kProgram:
      return {"Programs and Scripts (*)", all};
    case FileKind::kTextLog:
      return {"Log and Text Files (*.log *.txt)", all};
    case FileKind::kSound:
      return {"Sound Files (*.wav *.ogg *.oga *.flac *.mp3)", all};
    case FileKind::kPem:
      return {"PEM Files (*.pem *.crt *.cer *.key)", all};
    case FileKind::kDatabase:
      return {"SQLite Databases (*.db *.sqlite *.sqlite3 *.db3)", all};
  }
  return {all};
}

}  // namespace qv
