#include "console/StartThread.h"

namespace quill {

bool startThread(void* (*entry)(void*), void* param, bool keepHandle, pthread_t* handle) {
    pthread_t thread;
    if (pthread_create(&thread, nullptr, entry, param) != 0)
        return false;
    if (keepHandle && handle)
        *handle = thread;
    else
        pthread_detach(thread);
    return true;
}

}  // namespace quill
