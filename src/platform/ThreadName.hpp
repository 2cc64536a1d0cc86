#pragma once
// The name the system shows for the calling thread: the first 15 bytes of `label` (the kernel's
// limit); callers keep the whole label themselves.
#include <pthread.h>

#include <string>

namespace pelko {

inline void nameCurrentThread(const std::string& label) {
    pthread_setname_np(pthread_self(), label.substr(0, 15).c_str());
}

}  // namespace pelko
