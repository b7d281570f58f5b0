// qvreg: reads and changes the registry tree that the programs share.
//
//   qvreg get KEY NAME              prints the value's data (a number in decimal, a text as is);
//                                   exit code 1 when the key or value is absent
//   qvreg set KEY NAME dword N
//   qvreg set KEY NAME sz TEXT
//   qvreg delete KEY [NAME]         a value, or the key with everything below it
//   qvreg list KEY                  the sub-keys (ending in "\"), then the values with their types
//   qvreg export FILE               writes the highlighting, rules and custom filters to FILE in
//                                   the viewer's settings file format
//   qvreg import FILE               applies every line of such a file to the settings
//   qvreg viewer-cert NAME          writes a remote viewer's certificate file (certificate, key
//                                   and the viewers' CA, made on first use) and prints its path
//
// KEY is a path below HKEY_LOCAL_MACHINE such as Software\Fendrake\Quorvel\Settings; a leading
// HKLM\ or HKEY_LOCAL_MACHINE\ is accepted. The tree is the one in $QUORVEL_HOME/registry.db.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/paths/data_root.h"
#include "platform/registry/registry.h"
#include "viewerlink/viewer_certificates.h"
#include "ui/settings_file/settings_file.h"

namespace {

using namespace qv::reg;

constexpr int kUsage = 2;
constexpr int kAbsent = 1;

int Usage() {
  std::fputs(
      "usage: qvreg get KEY NAME\n"
      "       qvreg set KEY NAME dword N\n"
      "       qvreg set KEY NAME sz TEXT\n"
      "       qvreg delete KEY [NAME]\n"
      "       qvreg list KEY\n"
      "       qvreg export FILE\n"
      "       qvreg import FILE\n"
      "       qvreg viewer-cert NAME\n",
      stderr);
  return kUsage;
}

int Fail(const char* what, std::string_view key, Status status) {
  std::fprintf(stderr, "qvreg: %s %.*s: status %ld\n", what, static_cast<int>(key.size()), key.data(), status);
  return status == kFileNotFound ? kAbsent : kUsage + 1;
}

std::string Render(uint32_t type, const std::string& data) {
  if (type == kRegDword && data.size() == sizeof(int32_t)) {
    int32_t value = 0;
    std::memcpy(&value, data.data(), sizeof value);
    return std::to_string(value);
  }
  return data;
}

const char* TypeName(uint32_t type) {
  if (type == kRegDword) return "REG_DWORD";
  if (type == kRegSz) return "REG_SZ";
  return "REG_UNKNOWN";
}

// A DWORD given as a signed or unsigned decimal number; false when it does not fit 32 bits.
bool ParseDword(const char* text, uint32_t* value) {
  errno = 0;
  char* end = nullptr;
  const long long number = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || number < INT32_MIN || number > UINT32_MAX) return false;
  *value = static_cast<uint32_t>(number);
  return true;
}

int Get(std::string_view key, const char* name) {
  ScopedKey handle;
  Status status = OpenKey(LocalMachine(), key, Access::kRead, handle.out());
  if (status != kSuccess) return Fail("cannot open", key, status);
  uint32_t type = 0;
  std::string data;
  status = QueryValue(handle.get(), name, &type, &data);
  if (status != kSuccess) return Fail("no value in", key, status);
  std::printf("%s\n", Render(type, data).c_str());
  return 0;
}

int Set(std::string_view key, const char* name, std::string_view type, const char* data) {
  ScopedKey handle;
  Status status = CreateKey(LocalMachine(), key, Access::kReadWrite, handle.out());
  if (status != kSuccess) return Fail("cannot create", key, status);
  if (type == "dword") {
    uint32_t value = 0;
    if (!ParseDword(data, &value)) {
      std::fprintf(stderr, "qvreg: not a 32-bit number: %s\n", data);
      return kUsage;
    }
    status = SetDword(handle.get(), name, value);
  } else if (type == "sz") {
    status = SetSz(handle.get(), name, data);
  } else {
    return Usage();
  }
  return status == kSuccess ? 0 : Fail("cannot write to", key, status);
}

int Delete(std::string_view key, const char* name) {
  if (name == nullptr) {
    const std::size_t slash = key.rfind('\\');
    ScopedKey parent;
    Status status = OpenKey(LocalMachine(), slash == std::string_view::npos ? std::string_view() : key.substr(0, slash),
                            Access::kReadWrite, parent.out());
    if (status == kSuccess) status = DeleteKey(parent.get(), key.substr(slash == std::string_view::npos ? 0 : slash + 1));
    return status == kSuccess ? 0 : Fail("cannot delete", key, status);
  }
  ScopedKey handle;
  Status status = OpenKey(LocalMachine(), key, Access::kReadWrite, handle.out());
  if (status == kSuccess) status = DeleteValue(handle.get(), name);
  return status == kSuccess ? 0 : Fail("cannot delete value in", key, status);
}

int List(std::string_view key) {
  ScopedKey handle;
  Status status = OpenKey(LocalMachine(), key, Access::kRead, handle.out());
  if (status != kSuccess) return Fail("cannot open", key, status);
  std::string name;
  for (uint32_t i = 0; EnumKey(handle.get(), i, &name) == kSuccess; ++i) std::printf("%s\\\n", name.c_str());
  uint32_t type = 0;
  std::string data;
  for (uint32_t i = 0; EnumValue(handle.get(), i, &name, &type, &data) == kSuccess; ++i) {
    std::printf("%s\t%s\t%s\n", name.c_str(), TypeName(type), Render(type, data).c_str());
  }
  return 0;
}

// Without a desktop the highlighting colours that were never chosen go out as black on white.
int Export(const char* file) {
  if (qv::ExportSettings(file, qv::HighlightColourDefaults{})) return 0;
  std::fprintf(stderr, "qvreg: cannot write %s\n", file);
  return kUsage + 1;
}

int Import(const char* file) {
  const qv::SettingsImportResult result = qv::ImportSettings(file);
  if (!result.completed) {
    std::fprintf(stderr, "qvreg: cannot read %s (%d lines applied)\n", file, result.applied);
    return kUsage + 1;
  }
  std::printf("%d lines applied, %d ignored\n", result.applied, result.ignored);
  return 0;
}

int ViewerCertificate(const char* name) {
  std::string path, error;
  if (!qv::IssueViewerCertificate(name, &path, &error)) {
    std::fprintf(stderr, "qvreg: %s\n", error.c_str());
    return kUsage + 1;
  }
  std::printf("%s\n", path.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  qv::UseSharedUmask();
  if (const std::string problem = qv::CheckDataRoot(); !problem.empty()) {
    std::fprintf(stderr, "qvreg: %s\n", problem.c_str());
    return kUsage + 1;
  }
  if (argc < 3) return Usage();
  if (argc == 3 && std::string_view(argv[1]) == "export") return Export(argv[2]);
  if (argc == 3 && std::string_view(argv[1]) == "import") return Import(argv[2]);
  if (argc == 3 && std::string_view(argv[1]) == "viewer-cert") return ViewerCertificate(argv[2]);
  const std::string_view command = argv[1];
  const std::string_view key = StripRootPrefix(argv[2]);
  if (command == "get" && argc == 4) return Get(key, argv[3]);
  if (command == "set" && argc == 6) return Set(key, argv[3], argv[4], argv[5]);
  if (command == "delete" && (argc == 3 || argc == 4)) return Delete(key, argc == 4 ? argv[3] : nullptr);
  if (command == "list" && argc == 3) return List(key);
  return Usage();
}
