#include "base/thread_name.h"

#include <pthread.h>

#include <cstring>

namespace orvane {

void NameThisThread(const char* name) {
    if (name == nullptr) return;
    char cut[16] = {};
    std::strncpy(cut, name, sizeof cut - 1);
    pthread_setname_np(pthread_self(), cut);
}

}  // namespace orvane
