// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The short forms of a script's settings, shared by the simulator's command
// line ("--lock-replies 5,2") and the backend's device URI ("lock-replies=5,2").
#pragma once

#include "script.h"

#include <string>

namespace rvtsim {

// Reads the JSON script file at `path` into `script`. Returns an empty text
// or the error.
std::string loadScriptFile(const std::string& path, Script& script);

// Applies one setting by its name (without leading dashes) over `script`:
//   lock-replies LIST, unlock-replies LIST   e.g. 5,5,2 ("-" = no reply)
//   eop-reply N=CODE                         reply CODE to the N-th end of page
//   reply-delay KIND=MS                      answer that exchange after MS ms
//   connected LIST                           side-channel status per connection query
//   drain-delay MS                           answer every drain after MS ms
//   sigterm WHEN, close-stream WHEN          lock:2 | chunk:PAGE:CHUNK | ms:DELAY
//   timeout SECONDS
// Returns an empty text, or the error (an unknown name or a bad value).
std::string applyScriptOption(Script& script, const std::string& name, const std::string& value);

}  // namespace rvtsim
