#pragma once

#include <mutex>

namespace weftloom::framework {

// The process-wide, re-entrant "Progress Mutex". It guards the link between an
// output document and the progress dialog that synthesises into it, and is
// taken only on the user-interface thread, sometimes across a message box's
// nested event loop; hence re-entrant. Workers never take it.
std::recursive_mutex& ProgressMutex();

inline constexpr const char kProgressMutexName[] = "Progress Mutex";

}  // namespace weftloom::framework
