// The bodies of the operations that have one on every system.
#include "platform/platform.h"

#include "platform/names.h"

namespace shuffler {

Text PlatformDefaults::FindEntry(const Text& path, ListMask mask) {
  const SplitPath split = SplitAtLastSeparator(path, Separator());
  if (split.name.empty() || HasWildcards(split.name)) return Text();
  return ListFirst(path, mask);
}

}  // namespace shuffler
