// Preloaded into the launcher by the tests to make one system call fail, chosen by the environment
// variable STUDIO_FAIL: "bind", "getsockname", "thread" (every thread) or "second-thread" (every
// thread after the first).

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <pthread.h>
#include <sys/socket.h>

namespace {

bool failing(const char* call) {
    const char* which = std::getenv("STUDIO_FAIL");
    return which != nullptr && std::strcmp(which, call) == 0;
}

template <class Function> Function* next(const char* name) {
    return reinterpret_cast<Function*>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

int bind(int fd, const sockaddr* address, socklen_t length) {
    if (failing("bind")) {
        errno = EADDRINUSE;
        return -1;
    }
    return next<int(int, const sockaddr*, socklen_t)>("bind")(fd, address, length);
}

int getsockname(int fd, sockaddr* address, socklen_t* length) noexcept {
    if (failing("getsockname")) {
        errno = ENOBUFS;
        return -1;
    }
    return next<int(int, sockaddr*, socklen_t*)>("getsockname")(fd, address, length);
}

int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                   void* arg) noexcept {
    static int created = 0;
    if (failing("thread") || (failing("second-thread") && created > 0)) {
        return EAGAIN;
    }
    ++created;
    return next<int(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*)>("pthread_create")(
        thread, attr, start, arg);
}
}
