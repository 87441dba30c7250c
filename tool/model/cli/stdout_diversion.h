// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// While alive, sends everything written to standard output (the USB layer's
// and the model's diagnostic lines) to standard error, or discards it, so
// that standard output carries only the command's result.
#pragma once

class StdoutDiversion {
public:
    explicit StdoutDiversion(bool toStderr);
    ~StdoutDiversion();
    StdoutDiversion(const StdoutDiversion&) = delete;
    StdoutDiversion& operator=(const StdoutDiversion&) = delete;

private:
    int saved_ = -1;
};
