#include "shell/framework/progress_mutex.h"

namespace weftloom::framework {

std::recursive_mutex& ProgressMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

}  // namespace weftloom::framework
