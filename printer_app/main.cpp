// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// rvt4410lw-printer-app: the RV-T4410LW as an IPP Everywhere printer, with
// the framework's standard sub-commands (server, add, delete, printers,
// drivers, submit, jobs, cancel, status, shutdown, ...).

#include "driver.h"
#include "pdf_document.h"
#include "rvt_version.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kName = "rvt4410lw-printer-app";

rvt::app::AppSettings gSettings;

pappl_loglevel_t logLevel(const char* value)
{
    if (!value)
        return PAPPL_LOGLEVEL_WARN;
    static const struct {
        const char* name;
        pappl_loglevel_t level;
    } kLevels[] = {{"fatal", PAPPL_LOGLEVEL_FATAL},
                   {"error", PAPPL_LOGLEVEL_ERROR},
                   {"warn", PAPPL_LOGLEVEL_WARN},
                   {"info", PAPPL_LOGLEVEL_INFO},
                   {"debug", PAPPL_LOGLEVEL_DEBUG}};
    for (const auto& l : kLevels)
        if (std::strcmp(value, l.name) == 0)
            return l.level;
    return PAPPL_LOGLEVEL_WARN;
}

// The spool directory when none is given: the system's spool for a server
// run as root, the user's own otherwise.
std::string defaultSpoolDirectory()
{
    if (getuid() == 0)
        return std::string("/var/spool/") + kName;
    if (const char* home = std::getenv("HOME"); home && *home) {
        const std::string config = std::string(home) + "/.config";
        if (mkdir(config.c_str(), 0700) == 0 || errno == EEXIST)
            return config + "/" + kName + ".d";
    }
    return std::string(papplGetTempDir()) + "/" + kName + std::to_string(getuid()) + ".d";
}

// The test page of the web interface: the sample document installed with
// the program (RVT_INSTALLED_TEST_PAGE, relative to the program's directory,
// so that it is found whatever the prefix), or for a program run from its
// build directory, the source tree's.
std::string testPagePath()
{
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const std::string path =
            (program.parent_path() / RVT_INSTALLED_TEST_PAGE).lexically_normal().string();
        if (access(path.c_str(), R_OK) == 0)
            return path;
    }
    return RVT_TEST_PAGE;
}

// The state file when none is given: where PAPPL's own server keeps it.
std::string defaultStateFile()
{
    if (getuid() == 0)
        return std::string("/var/lib/") + kName + ".state";
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config)
        return std::string(config) + "/" + kName + ".state";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.config/" + kName + ".state";
    return std::string(papplGetTempDir()) + "/" + kName + std::to_string(getuid()) + ".state";
}

// The server, from the sub-command's "-o name=value" options. Besides the
// framework's usual ones (listen-hostname, server-port, spool-directory,
// log-file, log-level, server-hostname, admin-group, auth-service,
// server-options=no-web-interface,web-log,web-security,no-tls), "state-file" names
// the file the printers and their settings are kept in.
pappl_system_t* createSystem(int numOptions, cups_option_t* options, void* /*data*/)
{
    const auto get = [&](const char* name) { return cupsGetOption(name, numOptions, options); };
    pappl_soptions_t soptions = static_cast<pappl_soptions_t>(PAPPL_SOPTIONS_MULTI_QUEUE |
                                                              PAPPL_SOPTIONS_WEB_INTERFACE);
    if (const char* value = get("server-options")) {
        const std::string list = std::string(",") + value + ",";
        if (list.find(",no-web-interface,") != std::string::npos)
            soptions = static_cast<pappl_soptions_t>(soptions & ~PAPPL_SOPTIONS_WEB_INTERFACE);
        if (list.find(",web-log,") != std::string::npos)
            soptions = static_cast<pappl_soptions_t>(soptions | PAPPL_SOPTIONS_WEB_LOG);
        if (list.find(",web-security,") != std::string::npos)
            soptions = static_cast<pappl_soptions_t>(soptions | PAPPL_SOPTIONS_WEB_SECURITY);
        if (list.find(",no-tls,") != std::string::npos)
            soptions = static_cast<pappl_soptions_t>(soptions | PAPPL_SOPTIONS_NO_TLS);
    }
    int port = 0;
    if (const char* value = get("server-port")) {
        char* end = nullptr;
        errno = 0;
        const long p = std::strtol(value, &end, 10);
        if (errno || !end || *end || p < 0 || p > 65535) {
            std::fprintf(stderr, "%s: bad 'server-port' value\n", kName);
            return nullptr;
        }
        port = static_cast<int>(p);
    }
    const char* spool = get("spool-directory");
    const std::string spoolDirectory = spool ? spool : defaultSpoolDirectory();
    if (mkdir(spoolDirectory.c_str(), 0700) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "%s: cannot make the spool directory %s: %s\n", kName,
                     spoolDirectory.c_str(), std::strerror(errno));
        return nullptr;
    }
    gSettings.workDirectory = spoolDirectory;

    pappl_system_t* system = papplSystemCreate(
        soptions, kName, port, "_print,_universal", spoolDirectory.c_str(), get("log-file"),
        logLevel(get("log-level")), get("auth-service"), false);
    if (!system)
        return nullptr;
    if (const char* group = get("admin-group"))
        papplSystemSetAdminGroup(system, group);
    if (const char* host = get("server-hostname"))
        papplSystemSetHostName(system, host);
    // A server that cannot take connections where it was asked to is no use.
    if (!get("private-server") && !papplSystemAddListeners(system, get("listen-hostname"))) {
        std::fprintf(stderr, "%s: cannot listen on %s:%d\n", kName,
                     get("listen-hostname") ? get("listen-hostname") : "*", port);
        papplSystemDelete(system);
        return nullptr;
    }

    papplSystemAddMIMEFilter(system, "application/pdf", "image/pwg-raster", rvt::app::printPdf,
                             nullptr);

    // Saved by the application, never while a job prints (state_file.h).
    static rvt::app::StateFile* stateFile = nullptr;
    delete stateFile;
    stateFile = new rvt::app::StateFile(get("state-file") ? get("state-file") : defaultStateFile(),
                                        gSettings.activity);
    stateFile->attach(system);
    return system;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (rvt::printedVersion(argc, argv, kName))
        return 0;
    gSettings.testPage = testPagePath();
    // PAPPL 1.3.1's web interface needs a footer: without one its pages
    // crash the server.
    return papplMainloop(argc, argv, rvt::kVersion, "RV-T4410LW printer application",
                         rvt::app::driverCount(), rvt::app::drivers(), rvt::app::autoAddCallback,
                         rvt::app::driverCallback, nullptr, nullptr, createSystem, nullptr,
                         &gSettings);
}

// PAPPL 1.3.1 keeps some of its own allocations to the end of the process:
// the options its sub-commands parse (cupsAddOption), strings of its jobs
// and clients, the footer of its web pages. Nothing the application can free; the leak checker of
// sanitizer builds is told to let allocations made by PAPPL pass. That
// covers the driver's own allocations on PAPPL's threads too: the driver's
// job is checked for leaks without PAPPL, in its unit tests and under the
// fuzzer. Other builds never call this.
extern "C" __attribute__((used, visibility("default"))) const char* __lsan_default_suppressions()
{
    return "leak:cupsAddOption\nleak:libpappl.so\n";
}
