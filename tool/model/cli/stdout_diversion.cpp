// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "stdout_diversion.h"

#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

namespace {

void flushAll()
{
    std::cout.flush();
    std::fflush(stdout);
}

}  // namespace

StdoutDiversion::StdoutDiversion(bool toStderr)
{
    flushAll();
    saved_ = ::dup(STDOUT_FILENO);
    const int target = toStderr ? ::dup(STDERR_FILENO) : ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ < 0 || target < 0) {
        if (target >= 0) {
            ::close(target);
        }
        return;  // keep writing to standard output
    }
    ::dup2(target, STDOUT_FILENO);
    ::close(target);
}

StdoutDiversion::~StdoutDiversion()
{
    flushAll();
    if (saved_ >= 0) {
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
    }
}
