#pragma once

#include <pthread.h>

namespace quill {

// Runs entry(param) on a new thread at once. With keepHandle the thread's
// handle is stored in *handle for a later join; otherwise the thread is
// detached and nobody waits for it. False when no thread could be created
// (entry is then not called and param stays the caller's).
bool startThread(void* (*entry)(void*), void* param, bool keepHandle, pthread_t* handle);

}  // namespace quill
