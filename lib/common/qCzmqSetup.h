// CZMQ installs its own SIGINT/SIGTERM handlers the first time it is used, after which Ctrl+C
// only sets a flag that this library never reads. Calling this before any CZMQ use keeps the
// program's own signal handling.
#pragma once

void qCzmq_Prepare();
