// Why this thread's last attempt to share a link, or to reach a shared one, failed, as one line
// for the user: the library returns only a code or a null id, and the reason (a directory that
// is not private, no such shared link, permission denied, refused) matters to whoever reads it.
#pragma once

#include "ZendrivalExport.h"

// "" when the last attempt did not fail.
ZENDRIVAL_EXPORT const char* qShare_Failure(void);
