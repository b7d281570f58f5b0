#pragma once
// Sender addresses in a message text replaced by host names, for the full-text view, and the
// name look-ups behind it, which run on a thread of their own so that a slow resolver never
// freezes the window.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/message/host_name_cache.h"

namespace qv {

struct AddressReplacement {
  std::string text;
  bool pending = false;  // some address had no answer yet: replace again when names arrive
};

// The name of a dotted address: a name, "" when it has none, nothing when not known yet.
using AddressNameLookup = std::function<std::optional<std::string>(const std::string& dottedAddress)>;

// Scans the text for runs of digits and dots; each run with exactly three dots that is a valid
// address (255.255.255.255 is not) is looked up, and a non-empty name replaces every occurrence
// of the run that stands alone, not inside a longer run of digits and dots (so the name of
// 10.0.0.1 does not land inside 10.0.0.11).
AddressReplacement ReplaceAddresses(const std::string& text, const AddressNameLookup& lookup);

// Reverse look-ups on a worker thread, each address at most once (a CHostNameCache on that
// thread). Lookup answers at once from what is known and queues the rest; `onResolved` is
// called on the worker thread after each new answer, so the owner must hand it over to its
// own thread. Destruction does not wait for a look-up in progress: the worker finishes it alone
// and calls nothing afterwards.
class CBackgroundNameResolver {
 public:
  explicit CBackgroundNameResolver(std::function<void()> onResolved,
                                   CHostNameCache::ReverseLookup lookup = SystemReverseLookup);
  ~CBackgroundNameResolver();
  CBackgroundNameResolver(const CBackgroundNameResolver&) = delete;
  CBackgroundNameResolver& operator=(const CBackgroundNameResolver&) = delete;

  std::optional<std::string> Lookup(const std::string& dottedAddress);

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
};

}  // namespace qv
