// The mutex wrapper and the library's two process-wide locks, made when the
// library is loaded and closed when it is unloaded.
#include <pthread.h>

#include "library_locks.h"

qvMTCMutex::qvMTCMutex() : m_hMutex(new pthread_mutex_t) {
    pthread_mutex_init(static_cast<pthread_mutex_t*>(m_hMutex), nullptr);
}

qvMTCMutex::~qvMTCMutex() {
    auto* mutex = static_cast<pthread_mutex_t*>(m_hMutex);
    pthread_mutex_destroy(mutex);
    delete mutex;
}

void qvMTCMutex::Lock() {
    pthread_mutex_lock(static_cast<pthread_mutex_t*>(m_hMutex));
}

void qvMTCMutex::Unlock() {
    pthread_mutex_unlock(static_cast<pthread_mutex_t*>(m_hMutex));
}

qvMTCMutex* g_recordMutex = nullptr;
qvMTCMutex* g_deviceListMutex = nullptr;

namespace {

__attribute__((constructor)) void CreateLibraryLocks() {
    g_recordMutex = new qvMTCMutex();
    g_deviceListMutex = new qvMTCMutex();
}

__attribute__((destructor)) void CloseLibraryLocks() {
    delete g_deviceListMutex;
    g_deviceListMutex = nullptr;
    delete g_recordMutex;
    g_recordMutex = nullptr;
}

}  // namespace
