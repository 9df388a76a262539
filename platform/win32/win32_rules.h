// The Windows rules the platform layer follows, apart from the calls that
// use them, so that tests can check them on any given input. This header
// includes no OS header.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace shuffler::win32 {

/// Shuffler's text as the wide characters of the Windows API; both are
/// UTF-16, so this is a plain copy.
std::wstring ToWide(TextView text);
/// The wide characters of the Windows API as Shuffler's text.
Text FromWide(std::wstring_view text);

/// The argument text of `command_line`: what follows the program's own name
/// and the spaces and tabs after it, exactly as typed, quotes kept. The
/// program's name is read as Windows starts programs: a name that begins
/// with a quote runs to the next quote, any other to the first space or tab.
Text ArgumentTextOf(TextView command_line);

/// `path` as the Windows API should receive it: always the extended form
/// ("\\?\C:\..." or "\\?\UNC\server\share\..."), which Windows takes
/// literally, so that a name ending in a dot or a space, or a path longer
/// than the classic limit, names exactly the entry it spells. A relative
/// path is made absolute against the current folder first; "." and ".."
/// are resolved and "/" is read as a separator, as Windows does for
/// classic paths, but the names themselves are kept as they are. Paths
/// already in a device form pass through unchanged.
std::wstring SystemPath(TextView path);

/// What a failed call was doing, where that changes the failure reported.
enum class Operation {
  kOther,
  kMakeFolder,  ///< an existing entry is an access error, not a duplicate
};

/// The Shuffler failure number for the Windows error code `error`.
int32_t FailureNumberFor(unsigned long error,
                         Operation operation = Operation::kOther);

}  // namespace shuffler::win32
