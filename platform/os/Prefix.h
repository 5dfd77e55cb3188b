#pragma once
// The platform prefix: the folder that holds what Windows keeps machine-wide
// (the registry, the event logs), as a Windows installation folder would.
// It is $ZTL_PREFIX when set, else $XDG_DATA_HOME/ztlogger, else
// ~/.local/share/ztlogger. It is read at each call, so a program (or a test)
// that points ZTL_PREFIX elsewhere is served from there at once.
//
// Several users may share one prefix, so what lies beneath it is reached
// without following links (a link planted there by another user never
// redirects a read or a write), and its store folders are trusted only when
// no user but their owner (the caller or root) may change them.
//
// Any thread, while no thread changes the environment.
#include <sys/types.h>

#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Types.h>

namespace ztl::os {

ZTL_PLATFORM_API String PlatformPrefix();

// Opens a path as open(2) does with flags and mode, but a path beneath the
// platform prefix is resolved from the prefix without following any link
// and without leaving it: -1 with errno ELOOP for a link on the way (the
// last name included), EXDEV for a path that climbs out. A path elsewhere is
// opened as given. Returns the descriptor (the caller's to close) or -1.
ZTL_PLATFORM_API int OpenBeneathPrefix(const String& path, int flags, mode_t mode = 0);

// Makes a store folder beneath the prefix where missing (the prefix
// itself as well, mode 0755; folders on the way 0755, the last one `mode`,
// exactly) and checks each folder from the prefix down to it: owned by the
// caller or root, and writable by no other user, unless it is a sticky
// folder owned by root or the caller (others may add their own entries
// there, never replace or remove one). 0 or the errno value: EACCES for a
// folder refused, after writing on standard error why, with its name, as
// ssh refuses loose permissions.
ZTL_PLATFORM_API int MakeStoreFolder(const String& folder, mode_t mode);

// Whether a store folder is one to trust, as MakeStoreFolder checks each
// folder; false after writing why on standard error.
ZTL_PLATFORM_API bool TrustedStoreFolder(int folder, const String& name);

}  // namespace ztl::os
