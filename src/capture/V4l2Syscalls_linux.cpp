#include "capture/V4l2Syscalls.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

class KernelSyscalls : public V4l2Syscalls
{
public:
    int open(const char* path, int flags) override { return ::open(path, flags); }
    int close(int fd) override { return ::close(fd); }
    int ioctl(int fd, unsigned long request, void* arg) override { return ::ioctl(fd, request, arg); }
    void* mmap(size_t length, int prot, int flags, int fd, off_t offset) override
    {
        return ::mmap(nullptr, length, prot, flags, fd, offset);
    }
    int munmap(void* start, size_t length) override { return ::munmap(start, length); }
    int poll(pollfd* fds, nfds_t count, int timeoutMs) override { return ::poll(fds, count, timeoutMs); }
};

} // namespace

std::shared_ptr<V4l2Syscalls> V4l2Syscalls::system()
{
    static const std::shared_ptr<V4l2Syscalls> kernel = std::make_shared<KernelSyscalls>();
    return kernel;
}

int xioctl(V4l2Syscalls& sys, int fd, unsigned long request, void* arg)
{
    int result;
    do {
        result = sys.ioctl(fd, request, arg);
    } while (result == -1 && errno == EINTR);
    return result;
}
