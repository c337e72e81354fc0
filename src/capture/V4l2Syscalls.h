#pragma once

#include <cstddef>
#include <memory>

#include <poll.h>
#include <sys/types.h>

// The few system calls a Video4Linux stream makes, with the system's own signatures and errno conventions, so that
// the stream code can run against a scripted device in tests.
class V4l2Syscalls
{
public:
    virtual ~V4l2Syscalls() = default;

    virtual int open(const char* path, int flags) = 0;
    virtual int close(int fd) = 0;
    virtual int ioctl(int fd, unsigned long request, void* arg) = 0;
    virtual void* mmap(size_t length, int prot, int flags, int fd, off_t offset) = 0;
    virtual int munmap(void* start, size_t length) = 0;
    virtual int poll(pollfd* fds, nfds_t count, int timeoutMs) = 0;

    // The kernel's calls.
    static std::shared_ptr<V4l2Syscalls> system();
};

// An ioctl through sys, asked again while a signal interrupts it.
int xioctl(V4l2Syscalls& sys, int fd, unsigned long request, void* arg);
