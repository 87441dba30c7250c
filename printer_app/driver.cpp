// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

#include "driver.h"

#include "driver_job.h"
#include "ipp_options.h"
#include "printer_turns.h"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace rvt::app {

namespace {

// The device ID the printer reports on USB, as the PPD gives it.
constexpr const char* kDeviceId = RVT_DEVICE_ID;

// Margins reported to IPP clients, in hundredths of millimetres. The printer
// takes whole pages (the raster is always the full media size), but a client
// offered only zero margins takes the printer for a borderless one, and
// CUPS's driverless queue then picks its media among the borderless sizes
// only: an A4 document came out on Letter. Small margins keep the sizes as
// the user chose them; the page still goes to the printer whole.
constexpr int kMargin = 423;

// One printer's state of this driver.
struct PrinterState {
    AppSettings* app = nullptr;
    PrinterTurns turns;
    std::string workDirectory;
    std::string testPage;
};

PrinterState& stateOf(pappl_printer_t* printer)
{
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    return *static_cast<PrinterState*>(data.extension);
}

void deletePrinterState(pappl_printer_t* /*printer*/, pappl_pr_driver_data_t* data)
{
    delete static_cast<PrinterState*>(data->extension);
    data->extension = nullptr;
}

pappl_pr_driver_t gDrivers[] = {{kDriverName, "RVT RV-T4410LW", kDeviceId, nullptr}};

// The value of key `key` (or its long spelling) in a device ID.
std::string deviceIdValue(std::string_view id, std::string_view key, std::string_view longKey)
{
    while (!id.empty()) {
        const size_t end = id.find(';');
        std::string_view pair = id.substr(0, end);
        id = end == std::string_view::npos ? std::string_view() : id.substr(end + 1);
        while (!pair.empty() && pair.front() == ' ')
            pair.remove_prefix(1);
        const size_t colon = pair.find(':');
        if (colon == std::string_view::npos)
            continue;
        const std::string_view k = pair.substr(0, colon);
        if (k == key || k == longKey)
            return std::string(pair.substr(colon + 1));
    }
    return {};
}

const char* testPageCallback(pappl_printer_t* printer, char* buffer, size_t size)
{
    const std::string& page = stateOf(printer).testPage;
    if (page.empty())
        return nullptr;
    std::snprintf(buffer, size, "%s", page.c_str());
    return buffer;
}

}  // namespace

pappl_pr_driver_t* drivers() { return gDrivers; }
int driverCount() { return static_cast<int>(std::size(gDrivers)); }

bool deviceIdMatches(const char* deviceId)
{
    if (!deviceId)
        return false;
    const std::string mfg = deviceIdValue(deviceId, "MFG", "MANUFACTURER");
    const std::string mdl = deviceIdValue(deviceId, "MDL", "MODEL");
    return !mfg.empty() && mfg == deviceIdValue(kDeviceId, "MFG", "MANUFACTURER") &&
           mdl == deviceIdValue(kDeviceId, "MDL", "MODEL");
}

const char* autoAddCallback(const char* /*deviceInfo*/, const char* /*deviceUri*/,
                            const char* deviceId, void* /*data*/)
{
    return deviceIdMatches(deviceId) ? kDriverName : nullptr;
}

PrinterTurns& turnsOf(pappl_printer_t* printer) { return stateOf(printer).turns; }

JobActivity& activityOf(pappl_printer_t* printer)
{
    // Printers are made by the driver callback with the application's
    // settings; a stand-in keeps the count for any made without.
    static JobActivity unshared;
    AppSettings* app = stateOf(printer).app;
    return app ? app->activity : unshared;
}

std::string spoolDirectoryOf(pappl_printer_t* printer) { return stateOf(printer).workDirectory; }

bool driverCallback(pappl_system_t* /*system*/, const char* driverName, const char* /*deviceUri*/,
                    const char* /*deviceId*/, pappl_pr_driver_data_t* data, ipp_t** attrs,
                    void* cbdata)
{
    if (!driverName || std::strcmp(driverName, kDriverName) != 0)
        return false;
    const auto* settings = static_cast<const AppSettings*>(cbdata);

    auto* state = new PrinterState;
    state->app = static_cast<AppSettings*>(cbdata);
    if (settings) {
        state->workDirectory = settings->workDirectory;
        state->testPage = settings->testPage;
    }
    data->extension = state;
    data->delete_cb = deletePrinterState;
    data->rstartjob_cb = rasterStartJob;
    data->rstartpage_cb = rasterStartPage;
    data->rwriteline_cb = rasterWriteLine;
    data->rendpage_cb = rasterEndPage;
    data->rendjob_cb = rasterEndJob;
    data->testpage_cb = settings && !settings->testPage.empty() ? testPageCallback : nullptr;

    std::snprintf(data->make_and_model, sizeof data->make_and_model, "%s", "RVT RV-T4410LW");
    data->ppm = 30;
    data->kind = PAPPL_KIND_DOCUMENT;
    data->format = nullptr;  // raster only: no raw print data
    data->color_supported = PAPPL_COLOR_MODE_MONOCHROME;
    data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
    data->content_default = PAPPL_CONTENT_AUTO;
    data->quality_default = IPP_QUALITY_NORMAL;
    data->scaling_default = PAPPL_SCALING_AUTO;
    data->orient_default = IPP_ORIENT_PORTRAIT;
    // 8-bit gray only: the framework hands a 1-bit raster to the driver under
    // an 8-bit page header.
    data->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8;
    data->force_raster_type = PAPPL_PWG_RASTER_TYPE_NONE;
    data->duplex = PAPPL_DUPLEX_NORMAL;
    data->sides_supported = static_cast<pappl_sides_t>(
        PAPPL_SIDES_ONE_SIDED | PAPPL_SIDES_TWO_SIDED_LONG_EDGE | PAPPL_SIDES_TWO_SIDED_SHORT_EDGE);
    data->sides_default = PAPPL_SIDES_ONE_SIDED;
    data->num_resolution = 1;
    data->x_resolution[0] = data->y_resolution[0] = 600;
    data->x_default = data->y_default = 600;
    data->borderless = false;
    data->left_right = data->bottom_top = kMargin;

    data->num_media = static_cast<int>(std::size(kMediaSizes));
    for (size_t i = 0; i < std::size(kMediaSizes); ++i)
        data->media[i] = kMediaSizes[i].ipp;
    data->num_source = static_cast<int>(std::size(kMediaSources));
    for (size_t i = 0; i < std::size(kMediaSources); ++i) {
        data->source[i] = kMediaSources[i].ipp;
        pappl_media_col_t& ready = data->media_ready[i];
        std::memset(&ready, 0, sizeof ready);
        pwg_media_t* a4 = pwgMediaForPWG(kMediaSizes[0].ipp);
        std::snprintf(ready.size_name, sizeof ready.size_name, "%s", kMediaSizes[0].ipp);
        ready.size_width = a4 ? a4->width : 21000;
        ready.size_length = a4 ? a4->length : 29700;
        ready.left_margin = ready.right_margin = kMargin;
        ready.top_margin = ready.bottom_margin = kMargin;
        std::snprintf(ready.source, sizeof ready.source, "%s", kMediaSources[i].ipp);
        std::snprintf(ready.type, sizeof ready.type, "%s", kMediaTypes[0].ipp);
    }
    data->media_default = data->media_ready[0];
    data->num_type = static_cast<int>(std::size(kMediaTypes));
    for (size_t i = 0; i < std::size(kMediaTypes); ++i)
        data->type[i] = kMediaTypes[i].ipp;

    data->darkness_supported = kDarknessLevels;
    data->darkness_default = 0;
    data->darkness_configured = 0;

    data->num_vendor = 1;
    data->vendor[0] = kScaleAttribute;
    if (attrs) {
        if (!*attrs)
            *attrs = ippNew();
        const std::string supported = std::string(kScaleAttribute) + "-supported";
        const std::string defaultName = std::string(kScaleAttribute) + "-default";
        ippAddIntegers(*attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, supported.c_str(),
                       static_cast<int>(std::size(kScales)), kScales);
        ippAddInteger(*attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, defaultName.c_str(), kDefaultScale);
        // What PAPPL leaves out and an IPP Everywhere client asks for: the
        // printer takes no preferred-attributes and renders gray as it
        // comes (no colour management: the intent is the client's).
        ippAddBoolean(*attrs, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
        ippAddString(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default",
                     nullptr, "auto");
        ippAddString(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported",
                     nullptr, "auto");
    }
    return true;
}

}  // namespace rvt::app
