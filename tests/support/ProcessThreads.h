#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

namespace test_support {

// The threads of this process other than the calling one, as "name (id)".
inline std::vector<std::string> otherThreads()
{
    std::vector<std::string> threads;
    const std::string self = std::to_string(::gettid());
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", error)) {
        const std::string id = entry.path().filename();
        if (id == self)
            continue;
        std::ifstream comm(entry.path() / "comm");
        std::string name;
        std::getline(comm, name);
        threads.push_back(name + " (" + id + ")");
    }
    return threads;
}

} // namespace test_support
