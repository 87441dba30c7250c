// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The driver "rvt4410lw": what the printer offers IPP clients (600 dpi gray
// raster, its media sizes, trays, media types, two-sided printing, six
// darkness levels, the scale ratios), its callbacks, and how a printer found
// on USB is matched to it.
#pragma once

#include "state_file.h"

#include <pappl/pappl.h>
#include <string>

namespace rvt::app {

class PrinterTurns;

constexpr const char* kDriverName = "rvt4410lw";

// What every printer of the application shares: where jobs keep their page
// files, where the test page is, the jobs in the driver.
struct AppSettings {
    std::string workDirectory;
    std::string testPage;
    JobActivity activity;
};

// The drivers of the application, for papplMainloop (one).
pappl_pr_driver_t* drivers();
int driverCount();

// The driver callback: fills in the driver data and attributes of a printer
// of driver `driverName`. `data` is the AppSettings.
bool driverCallback(pappl_system_t* system, const char* driverName, const char* deviceUri,
                    const char* deviceId, pappl_pr_driver_data_t* data, ipp_t** attrs,
                    void* cbdata);

// The auto-add callback: the driver for a device of IEEE 1284 ID `deviceId`,
// or null when it is not this printer.
const char* autoAddCallback(const char* deviceInfo, const char* deviceUri, const char* deviceId,
                            void* data);

// True when the IEEE 1284 device ID names this printer (its manufacturer and
// model, in either spelling of the keys).
bool deviceIdMatches(const char* deviceId);

// The job order of a printer of this driver, and where its jobs keep their
// page files.
PrinterTurns& turnsOf(pappl_printer_t* printer);
JobActivity& activityOf(pappl_printer_t* printer);
std::string spoolDirectoryOf(pappl_printer_t* printer);

}  // namespace rvt::app
