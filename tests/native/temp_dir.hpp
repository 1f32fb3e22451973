// A fresh directory for files that the native tests read, removed with its files at the end.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace check {

// A fresh directory under the system's temporary directory.
class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/vemrat_read_XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        if (path_.empty()) return;
        const std::string command = "rm -rf '" + path_ + "'";
        if (std::system(command.c_str()) != 0) std::perror("rm");
    }
    bool ok() const { return !path_.empty(); }
    std::string file(const std::string& name, const std::string& bytes) const {
        const std::string full = path_ + "/" + name;
        std::ofstream(full, std::ios::binary) << bytes;
        return full;
    }
    std::string fifo(const std::string& name) const {
        const std::string full = path_ + "/" + name;
        if (::mkfifo(full.c_str(), 0600) != 0) std::perror("mkfifo");
        return full;
    }
    std::string link(const std::string& name, const std::string& target) const {
        const std::string full = path_ + "/" + name;
        if (::symlink(target.c_str(), full.c_str()) != 0) std::perror("symlink");
        return full;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace check
