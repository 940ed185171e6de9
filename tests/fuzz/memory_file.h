#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <string_view>

#include "fuzz_check.h"

// A file in memory with a path the code under test can open like any other; gone when destroyed.
class MemoryFile {
public:
    explicit MemoryFile(std::string_view content = {}) : m_fd(memfd_create("fuzz", MFD_CLOEXEC)) {
        FUZZ_CHECK(m_fd >= 0);
        m_path = "/proc/self/fd/" + std::to_string(m_fd);
        replace(content);
    }
    ~MemoryFile() { ::close(m_fd); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    // New content for the same path: cheaper than a new file per run.
    void replace(std::string_view content) {
        FUZZ_CHECK(::ftruncate(m_fd, 0) == 0);
        for (std::size_t done = 0; done < content.size();) {
            const ssize_t n = ::pwrite(m_fd, content.data() + done, content.size() - done, static_cast<off_t>(done));
            FUZZ_CHECK(n > 0);
            done += static_cast<std::size_t>(n);
        }
    }

    const std::string& path() const { return m_path; }

private:
    int m_fd;
    std::string m_path;
};
