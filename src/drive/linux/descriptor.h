// An open file descriptor that closes with its owner.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>

namespace orvelo::linux_drive {

class Descriptor {
  public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { reset(); }

    [[nodiscard]] int get() const { return fd_; }
    [[nodiscard]] bool valid() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

    void reset() {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = -1;
    }

  private:
    int fd_ = -1;
};

// The path that opens the file behind the descriptor `fd` anew, without a second lookup by name.
inline std::string magic_path(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

// The file behind `fd` (an O_PATH descriptor among them) opened anew with `flags`.
inline Descriptor reopen(int fd, int flags) {
    return Descriptor(open(magic_path(fd).c_str(), flags | O_CLOEXEC));
}

}  // namespace orvelo::linux_drive
