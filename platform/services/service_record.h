#pragma once
// The service record: the registry key SYSTEM\CurrentControlSet\Services\<name> with the values
// "Type", "Start", "ErrorControl", "ImagePath", "DisplayName", "DependOnService" and
// "ObjectName". A key counts as a service only when it has "ImagePath", so keys of the platform
// that share the folder (Eventlog, SharedAccess) are never taken for services. Other values
// written beside them ("Description") stay untouched and go with the key on deletion.
//
// Creating and deleting records is serialised between processes by a file lock in the services
// folder, so two concurrent creations of one name cannot both succeed.

#include <string>
#include <string_view>

#include "platform/services/service_types.h"

namespace qv::svc {

// "SYSTEM\CurrentControlSet\Services\<name>".
std::string ServiceKeyPath(std::string_view name);

// "<data root>/services", where the live state, control channels and locks of services are
// kept. Created with mode 0770 (less the umask) by EnsureServicesFolder; its files are 0660 likewise; false when that is not possible.
std::string ServicesFolder();
bool EnsureServicesFolder();

// A usable service name: not empty, at most 256 bytes, no '/', '\' or control characters, not
// "." or "..". Names become file names in the services folder.
bool IsValidServiceName(std::string_view name);

// kServiceExists when a record with this name (any case) exists already.
Status CreateServiceRecord(const ServiceConfig& config);
// kServiceDoesNotExist when there is no record. `config->name` keeps the stored spelling.
Status ReadServiceRecord(std::string_view name, ServiceConfig* config);
Status WriteStartType(std::string_view name, uint32_t startType);
Status DeleteServiceRecord(std::string_view name);

}  // namespace qv::svc
