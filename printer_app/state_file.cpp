// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "state_file.h"

#include <chrono>
#include <ctime>

namespace rvt::app {

namespace {

// A job's leaving the driver is followed by PAPPL's own end of the job; the
// printer counts as busy a little longer.
constexpr int64_t kQuietMs = 1000;
constexpr int kTimerSeconds = 2;

int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

void JobActivity::jobEnded()
{
    lastEndMs_ = nowMs();
    --jobs_;
}

bool JobActivity::quiet(int64_t quietMs) const
{
    return jobs_.load() == 0 && nowMs() - lastEndMs_.load() >= quietMs;
}

void StateFile::attach(pappl_system_t* system)
{
    papplSystemLoadState(system, path_.c_str());
    papplSystemSetSaveCallback(system, saveCallback, this);
    papplSystemAddTimerCallback(system, time(nullptr) + kTimerSeconds, kTimerSeconds, timerCallback,
                                this);
}

bool StateFile::saveIfQuiet(pappl_system_t* system)
{
    // At shutdown no job is in the driver any more: the state is saved.
    if (!activity_.quiet(kQuietMs) && papplSystemIsRunning(system)) {
        pending_ = true;
        return true;
    }
    pending_ = false;
    return papplSystemSaveState(system, path_.c_str());
}

bool StateFile::saveCallback(pappl_system_t* system, void* data)
{
    return static_cast<StateFile*>(data)->saveIfQuiet(system);
}

bool StateFile::timerCallback(pappl_system_t* system, void* data)
{
    auto* self = static_cast<StateFile*>(data);
    if (self->pending_)
        self->saveIfQuiet(system);
    return true;  // keep looking
}

}  // namespace rvt::app
