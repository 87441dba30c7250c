// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// rvt4410lw-sim: plays the printer for one job of the CUPS filter.
#include "network_printer.h"
#include "rvt_version.h"
#include "script_options.h"
#include "session.h"
#include "usb_printer.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#ifndef RVT_PPD
#define RVT_PPD "rvt4410lw.ppd"
#endif

namespace {

const char* kUsage =
    "usage: rvt4410lw-sim --raster FILE --out DIR [options]\n"
    "  --filter PATH        the filter (default: printfilter-rvt4410lw next to this program)\n"
    "  --ppd FILE | --no-ppd  the queue's PPD (default: the build's ppd/rvt4410lw.ppd)\n"
    "  --queue NAME --job ID --user NAME --title TEXT --copies TEXT --options TEXT\n"
    "                       the filter's arguments 0 to 5\n"
    "  --script FILE        JSON script of the printer's behaviour\n"
    "  --lock-replies LIST  e.g. 5,5,2 (\"-\" = no reply)\n"
    "  --unlock-replies LIST\n"
    "  --eop-reply N=CODE   reply CODE to the N-th end of page (\"-\" = no reply)\n"
    "  --reply-delay KIND=MS  answer that exchange (lock, end_of_page, ...) after MS milliseconds\n"
    "  --connected LIST     side-channel status per connection query, e.g. 3,3,1\n"
    "  --drain-delay MS     answer every drain after MS milliseconds\n"
    "  --sigterm WHEN       lock:2 | end_of_page:1 | chunk:PAGE:CHUNK | connected:N | ms:DELAY\n"
    "                       (connected:N: after the N-th connection query is answered)\n"
    "  --close-stream WHEN  stop reading the stream (the backend goes away), same forms\n"
    "                       (a script's \"stall_stream\" stops reading but keeps it open)\n"
    "  --timeout SECONDS    kill the filter after this long (default 120)\n"
    "  --no-preview         no reduced page-NNN-preview.png\n"
    "  --decode-after       answer every end of page at once and decode the pages\n"
    "                       only after the filter has exited (same transcript)\n"
    "Exit status 0 when the job ran clean; the transcript is DIR/transcript.json.\n"
    "rvt4410lw-sim --usb --out DIR [options]: the printer on an emulated USB bus\n"
    "                       (--usb --help lists its options)\n"
    "\n"
    "usage: rvt4410lw-sim --listen [HOST:]PORT --out DIR [--down SECONDS] [printer options]\n"
    "  the printer on the network (CUPS's socket://HOST:PORT): one or several jobs\n"
    "  one after another per connection, each with pages and transcript.json in\n"
    "  DIR/job-N/ (N counting jobs), until SIGTERM or SIGINT. HOST is\n"
    "  127.0.0.1 unless given; PORT 0 takes a free one. --down: connections refused\n"
    "  for SECONDS after start; --drain-delay MS: a pause after every 4096 bytes read;\n"
    "  --close-stream WHEN: the printer closes the connection there.\n";

std::string siblingFilter(const char* argv0)
{
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(argv0);
    size_t slash = path.rfind('/');
    return (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) +
           "/printfilter-rvt4410lw";
}

}  // namespace

int main(int argc, char** argv)
{
    if (rvt::printedVersion(argc, argv, "rvt4410lw-sim"))
        return 0;
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--usb") {
#ifdef RVT_SIM_USB
            return rvtsim::runUsbPrinter(argc, argv);
#else
            std::fputs("rvt4410lw-sim: built without umockdev: no --usb\n", stderr);
            return 2;
#endif
        }
    rvtsim::RunConfig config;
    config.filterPath = siblingFilter(argv[0]);
    config.ppd = RVT_PPD;
    std::string scriptFile, listen, down;
    std::vector<std::pair<std::string, std::string>> shortcuts;

    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--no-ppd") {
            config.ppd.clear();
            continue;
        }
        if (a == "--no-preview") {
            config.preview = false;
            continue;
        }
        if (a == "--decode-after") {
            config.decodeAfter = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "rvt4410lw-sim: %s needs a value\n%s", a.c_str(), kUsage);
            return 2;
        }
        std::string v = argv[++i];
        if (a == "--filter")
            config.filterPath = v;
        else if (a == "--raster")
            config.rasterPath = v;
        else if (a == "--out")
            config.outDir = v;
        else if (a == "--ppd")
            config.ppd = v;
        else if (a == "--queue")
            config.queue = v;
        else if (a == "--job")
            config.jobId = v;
        else if (a == "--user")
            config.user = v;
        else if (a == "--title")
            config.title = v;
        else if (a == "--copies")
            config.copies = v;
        else if (a == "--options")
            config.options = v;
        else if (a == "--script")
            scriptFile = v;
        else if (a == "--listen")
            listen = v;
        else if (a == "--down")
            down = v;
        else
            shortcuts.emplace_back(a, v);
    }
    if ((listen.empty() && config.rasterPath.empty()) || config.outDir.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    rvtsim::Script& script = config.script;
    if (!scriptFile.empty())
        if (std::string err = rvtsim::loadScriptFile(scriptFile, script); !err.empty()) {
            std::fprintf(stderr, "rvt4410lw-sim: %s\n", err.c_str());
            return 2;
        }
    // Shortcuts apply over the script.
    for (const auto& [a, v] : shortcuts) {
        std::string err = a.rfind("--", 0) == 0 ? rvtsim::applyScriptOption(script, a.substr(2), v)
                                                : "unknown option " + a;
        if (!err.empty()) {
            std::fprintf(stderr, "rvt4410lw-sim: %s\n%s", err.c_str(), kUsage);
            return 2;
        }
    }

    if (!listen.empty()) {
        rvtsim::NetworkConfig net;
        net.outDir = config.outDir;
        net.script = script;
        net.preview = config.preview;
        net.decodeAfter = config.decodeAfter;
        std::string err = rvtsim::parseListenAddress(listen, net);
        char* end = nullptr;
        net.downSeconds = down.empty() ? 0 : std::strtod(down.c_str(), &end);
        if (err.empty() && (net.downSeconds < 0 || (end && *end)))
            err = "bad value for --down: " + down;
        if (!err.empty()) {
            std::fprintf(stderr, "rvt4410lw-sim: %s\n", err.c_str());
            return 2;
        }
        return rvtsim::serveNetworkPrinter(net);
    }
    rvtsim::RunResult result = rvtsim::runJob(config);
    std::printf("%s\n", result.summary.c_str());
    return result.clean ? 0 : 1;
}
