#include "ui/store/export_formats.h"

namespace qv {

const std::array<ExportFileType, 6> kExportFileTypes = {{
    {"RFC 3164 syslog lines (*.txt *.log)", RecordFormat::kSyslogLine, "txt"},
    {"Record lines (*.txt)", RecordFormat::kRecordLine, "txt"},
    {"Traditional syslog lines (*.log)", RecordFormat::kTraditional, "log"},
    {"RFC 5424 lines (*.log)", RecordFormat::kRfc5424, "log"},
    {"JSON lines (*.jsonl *.json)", RecordFormat::kJsonLines, "jsonl"},
    {"CSV with a header row (*.csv)", RecordFormat::kCsv, "csv"},
}};

const ExportFileType& ExportFileTypeOf(std::string_view filter) {
  for (const ExportFileType& type : kExportFileTypes) {
    if (filter == type.filter) return type;
  }
  return kExportFileTypes.front();
}

std::string WithExportSuffix(const std::string& path, const ExportFileType& type) {
  const std::size_t slash = path.rfind('/');
  const std::string_view name = std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
  // A leading dot names a hidden file, not a suffix.
  if (name.empty() || name.find('.', 1) != std::string_view::npos) return path;
  return path + "." + type.suffix;
}

}  // namespace qv
