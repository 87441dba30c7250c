// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The job's page files: one JBIG file per page, named jbig-0001, jbig-0002, ...
// ("%s-%04d"), kept in a directory private to the job (mode 0700, made with
// mkdtemp under $TMPDIR) so that two jobs never share names, nobody else can
// plant a file there, and nothing is left behind: the directory and its files
// are removed when the job ends, on every path.
#pragma once

#include <memory>
#include <string>

namespace rvt {

class Log;

class PageFiles {
public:
    // Makes the job's directory under `tmpdir` (TMPDIR from the scheduler; when
    // null or empty, /var/spool/cups/tmp). Null on failure, with a log line.
    static std::unique_ptr<PageFiles> create(const char* tmpdir, Log& log);

    ~PageFiles();
    PageFiles(const PageFiles&) = delete;
    PageFiles& operator=(const PageFiles&) = delete;

    const std::string& directory() const { return dir_; }
    // "<dir>/jbig": the prefix of the "%s-%04d" names.
    std::string prefix() const { return dir_ + "/jbig"; }
    // The page file of page `pageNumber` (page 5 is <dir>/jbig-0005).
    std::string pathFor(int pageNumber) const;

    // Removes the page files and the directory; safe to call more than once.
    void removeAll();

private:
    explicit PageFiles(std::string dir) : dir_(std::move(dir)) {}
    std::string dir_;
    bool removed_ = false;
};

// "%s-%04d" of prefix and page number, as every page file is named.
std::string pageFileName(const std::string& prefix, int pageNumber);

}  // namespace rvt
