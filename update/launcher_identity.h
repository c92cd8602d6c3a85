#pragma once
// Who this launcher is, in a source of its own that CMake generates
// (cmake/launcher_identity.cpp.in): a build of another version recompiles only that source.

// QUORLA_VERSION, "MAJOR.MINOR.BUILD".
const char* launcher_version();
// QUORLA_LAUNCHER_UPDATE_URL, the folder of the shop's launcher releases; "" when none.
const char* launcher_update_url();
