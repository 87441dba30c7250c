// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// A directory that a job's files are written into, held open by descriptor.
// Every file below it is made or removed by name relative to that
// descriptor: whatever stands under a name (a symbolic link, a hard link to
// another file) is removed and a new file made in its place, never followed
// or written through, and a subdirectory is never entered through a link.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace rvtsim {

using FilePtr = std::unique_ptr<FILE, int (*)(FILE*)>;

class OutputDir {
public:
    OutputDir() = default;
    // Takes over `fd`, a directory opened for reading; `path` is its name in
    // messages.
    OutputDir(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~OutputDir() { reset(); }
    OutputDir(const OutputDir&) = delete;
    OutputDir& operator=(const OutputDir&) = delete;
    OutputDir(OutputDir&& other) noexcept
        : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_))
    {
    }
    OutputDir& operator=(OutputDir&& other) noexcept
    {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
            path_ = std::move(other.path_);
        }
        return *this;
    }

    // Opens the directory `path`, following symbolic links on the way, as
    // the simulator does with the directory it is given. Closed on error,
    // with the reason in `error`.
    static OutputDir open(const std::string& path, std::string& error)
    {
        int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            error = "cannot open " + path + ": " + std::strerror(errno);
        return OutputDir(fd, path);
    }

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    std::string pathOf(const std::string& name) const
    {
        return path_ + (!path_.empty() && path_.back() == '/' ? "" : "/") + name;
    }

    // The subdirectory `name`, made (mode 0777 less the umask) when missing.
    // A symbolic link or anything else but a directory under that name is
    // refused. Closed on error, with the reason in `error`.
    OutputDir subdirectory(const std::string& name, std::string& error) const
    {
        if (!plainName(name)) {
            error = "bad directory name \"" + name + "\"";
            return {};
        }
        if (mkdirat(fd_, name.c_str(), 0777) != 0 && errno != EEXIST) {
            error = "cannot make " + pathOf(name) + ": " + std::strerror(errno);
            return {};
        }
        int fd = openat(fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            int e = errno;
            struct stat st {};
            if (fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
                error = pathOf(name) + " is a symbolic link; it is not followed";
            else
                error = "cannot open " + pathOf(name) + ": " + std::strerror(e);
            return {};
        }
        return OutputDir(fd, pathOf(name));
    }

    // A new, empty regular file `name` open for writing; what stood under
    // that name is removed first (a directory is not, and fails). Null on
    // error, with errno set.
    FilePtr create(const std::string& name) const
    {
        FilePtr none(nullptr, std::fclose);
        if (!plainName(name)) {
            errno = EINVAL;
            return none;
        }
        // Someone who may write into the directory could put a new entry
        // between the removal and the creation: try again a few times.
        for (int attempt = 0; attempt < 5; ++attempt) {
            if (unlinkat(fd_, name.c_str(), 0) != 0 && errno != ENOENT)
                return none;
            int fd = openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                            0666);
            if (fd >= 0) {
                FILE* f = fdopen(fd, "wb");
                if (!f)
                    close(fd);
                return FilePtr(f, std::fclose);
            }
            if (errno != EEXIST)
                return none;
        }
        return none;
    }

    // Writes `text` as the whole of the file `name` (see create()).
    bool writeFile(const std::string& name, const std::string& text) const
    {
        FilePtr f = create(name);
        if (!f)
            return false;
        bool ok = std::fwrite(text.data(), 1, text.size(), f.get()) == text.size();
        return std::fclose(f.release()) == 0 && ok;
    }

    // Removes every entry that `match` picks by name; subdirectories stay.
    void removeIf(const std::function<bool(const std::string&)>& match) const
    {
        int fd = openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return;
        DIR* dir = fdopendir(fd);
        if (!dir) {
            close(fd);
            return;
        }
        std::vector<std::string> names;
        while (dirent* e = readdir(dir)) {
            std::string name = e->d_name;
            if (name != "." && name != ".." && match(name))
                names.push_back(std::move(name));
        }
        closedir(dir);
        for (const auto& name : names)
            unlinkat(fd_, name.c_str(), 0);
    }

private:
    static bool plainName(const std::string& name)
    {
        return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
    }

    void reset()
    {
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    }

    int fd_ = -1;
    std::string path_;
};

}  // namespace rvtsim
