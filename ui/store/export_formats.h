#pragma once
// The file types that File > Export offers in its save dialog, and the format each one writes
// (record_formats.h). The RFC 3164 syslog lines come first: they are the default, and Import
// reads them back, as it reads the record lines.

#include <array>
#include <string>
#include <string_view>

#include "core/message/record_formats.h"

namespace qv {

struct ExportFileType {
  const char* filter;  // as the save dialog shows it, with its patterns
  RecordFormat format;
  const char* suffix;  // given to a file name typed without one
};

extern const std::array<ExportFileType, 6> kExportFileTypes;

// The type whose filter the save dialog returned; the first (RFC 3164) for any other text.
const ExportFileType& ExportFileTypeOf(std::string_view filter);

// `path` with the type's suffix appended when its file name has no suffix of its own.
std::string WithExportSuffix(const std::string& path, const ExportFileType& type);

}  // namespace qv
