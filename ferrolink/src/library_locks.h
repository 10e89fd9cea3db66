// The library's process-wide locks: the operation log's and the device-list
// callback's. Both exist from library load to unload.
#pragma once

#include "ferrolink/record.h"

extern qvMTCMutex* g_recordMutex;
extern qvMTCMutex* g_deviceListMutex;

// Holds a qvMTCMutex for one scope.
class MutexHold {
  public:
    explicit MutexHold(qvMTCMutex* mutex) : m_mutex(mutex) {
        if (m_mutex != nullptr)
            m_mutex->Lock();
    }
    ~MutexHold() {
        if (m_mutex != nullptr)
            m_mutex->Unlock();
    }
    MutexHold(const MutexHold&) = delete;
    MutexHold& operator=(const MutexHold&) = delete;

  private:
    qvMTCMutex* m_mutex;
};
