// The file an open Windows handle is.
#pragma once

#include <windows.h>

#include "file_identity.h"

namespace bankstitcher {

// The file an open handle reads or writes; errno tells why when unknown.
FileIdentity identify_handle(HANDLE file);

}  // namespace bankstitcher
