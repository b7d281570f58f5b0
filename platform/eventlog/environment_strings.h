#pragma once
// Expands references to environment variables written in the platform's manner, "%NAME%", as
// registry values such as "EventMessageFile" hold them ("%QUORVEL_HOME%/qvmsg.txt").
// A reference to a variable that is not set stays as written, percent signs included; a "%"
// without a closing one stays too.

#include <string>
#include <string_view>

namespace qv::evt {

std::string ExpandEnvironmentStrings(std::string_view text);

}  // namespace qv::evt
