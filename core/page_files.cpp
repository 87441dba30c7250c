// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "page_files.h"

#include "log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace rvt {

namespace {
constexpr const char* kDefaultSpoolTmp = "/var/spool/cups/tmp";
}

std::string pageFileName(const std::string& prefix, int pageNumber)
{
    char path[4096];
    std::snprintf(path, sizeof path, "%s-%04d", prefix.c_str(), pageNumber);
    return path;
}

std::unique_ptr<PageFiles> PageFiles::create(const char* tmpdir, Log& log)
{
    std::string base = (tmpdir && *tmpdir) ? tmpdir : kDefaultSpoolTmp;
    std::string templ = base + "/rvt4410lw-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) {
        log.printf("DEBUG:[RVT4410LW] cannot create the job's page directory in %s: %s\n",
                   base.c_str(), std::strerror(errno));
        return nullptr;
    }
    // mkdtemp already makes it 0700; say so explicitly in case of an odd umask.
    chmod(buf.data(), S_IRWXU);
    return std::unique_ptr<PageFiles>(new PageFiles(std::string(buf.data())));
}

PageFiles::~PageFiles() { removeAll(); }

std::string PageFiles::pathFor(int pageNumber) const { return pageFileName(prefix(), pageNumber); }

void PageFiles::removeAll()
{
    if (removed_)
        return;
    removed_ = true;
    if (DIR* d = opendir(dir_.c_str())) {
        while (dirent* e = readdir(d)) {
            if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
                continue;
            unlinkat(dirfd(d), e->d_name, 0);
        }
        closedir(d);
    }
    rmdir(dir_.c_str());
}

}  // namespace rvt
