// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// The scheduler offers the queue's PPD for the printer by itself: the PPD is
// installed (`cmake --install`, component cups) into a staging directory and
// cups-driverd, the program behind `lpinfo -m` and `lpadmin -m`, is asked for
// the drivers of a device ID the way cupsd asks it for `lpinfo --device-id`.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <cups/ipp.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

const char* const kPpdName = "rvt4410lw/rvt4410lw.ppd";

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs `argv` with `env` added to the environment, standard output into
// `out`, standard error into `err`. Returns the exit status, -1 when killed
// or not run.
int run(const std::vector<std::string>& argv, const std::vector<std::string>& env,
        const fs::path& out, const fs::path& err)
{
    pid_t pid = fork();
    if (pid == 0) {
        for (const std::string& kv : env)
            putenv(const_cast<char*>(kv.c_str()));
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int in = open("/dev/null", O_RDONLY);
        if (o < 0 || e < 0 || in < 0)
            _exit(126);
        dup2(in, 0);
        dup2(o, 1);
        dup2(e, 2);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    if (pid < 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// One driver of cups-driverd's answer.
struct Driver {
    std::string name;          // ppd-name: what `lpadmin -m` takes
    std::string makeAndModel;  // ppd-make-and-model
    std::string deviceId;      // ppd-device-id
};

struct Listing {
    bool parsed = false;
    ipp_status_t status = IPP_STATUS_ERROR_INTERNAL;
    std::vector<Driver> drivers;

    const Driver* find(const std::string& name) const
    {
        for (const Driver& d : drivers)
            if (d.name == name)
                return &d;
        return nullptr;
    }
};

struct MemoryReader {
    const std::string& data;
    size_t at = 0;
};

ssize_t readMemory(void* ctx, ipp_uchar_t* buffer, size_t bytes)
{
    auto* r = static_cast<MemoryReader*>(ctx);
    size_t n = std::min(bytes, r->data.size() - r->at);
    std::memcpy(buffer, r->data.data() + r->at, n);
    r->at += n;
    return static_cast<ssize_t>(n);
}

// cups-driverd answers as a CGI program: a Content-Type line, a blank line,
// then an IPP response with one printer group per driver.
Listing parseListing(const std::string& output)
{
    Listing listing;
    const std::string header = "Content-Type: application/ipp\n\n";
    if (output.compare(0, header.size(), header) != 0)
        return listing;
    const std::string body = output.substr(header.size());
    MemoryReader reader{body};
    ipp_t* response = ippNew();
    ipp_state_t state;
    do
        state = ippReadIO(&reader, readMemory, 1, nullptr, response);
    while (state != IPP_STATE_DATA && state != IPP_STATE_ERROR);
    if (state == IPP_STATE_DATA) {
        listing.parsed = true;
        listing.status = ippGetStatusCode(response);
        for (ipp_attribute_t* a = ippFirstAttribute(response); a; a = ippNextAttribute(response)) {
            const char* name = ippGetName(a);
            if (!name || ippGetGroupTag(a) != IPP_TAG_PRINTER)
                continue;
            const char* value = ippGetString(a, 0, nullptr);
            std::string text = value ? value : "";
            if (std::strcmp(name, "ppd-name") == 0)
                listing.drivers.push_back({text, {}, {}});
            else if (listing.drivers.empty())
                continue;
            else if (std::strcmp(name, "ppd-make-and-model") == 0)
                listing.drivers.back().makeAndModel = text;
            else if (std::strcmp(name, "ppd-device-id") == 0)
                listing.drivers.back().deviceId = text;
        }
    }
    ippDelete(response);
    return listing;
}

// The first quoted value of the PPD's `keyword` line ("" when none).
std::string ppdValue(const std::string& ppd, const std::string& keyword)
{
    const std::string key = "\n*" + keyword + ": \"";
    const std::size_t start = ppd.find(key);
    if (start == std::string::npos)
        return "";
    const std::size_t from = start + key.size();
    const std::size_t end = ppd.find('"', from);
    return end == std::string::npos ? "" : ppd.substr(from, end - from);
}

class DriverListing : public ::testing::Test {
protected:
    // One staged install per process, in a directory of its own: ctest runs
    // every test in a process of its own, maybe beside the others.
    static void SetUpTestSuite()
    {
        fs::create_directories(RVT_TEST_TMP);
        std::string dir = std::string(RVT_TEST_TMP) + "/driver-listing-XXXXXX";
        if (!mkdtemp(dir.data()))
            return;
        root_ = dir;
        fs::create_directories(root_ / "serverbin");  // no driver programs: only static PPDs
        const std::string destdir = "DESTDIR=" + (root_ / "stage").string();
        installStatus_ = run({RVT_CMAKE, "--install", RVT_BUILD_DIR, "--component", "cups"},
                             {destdir}, root_ / "install.out", root_ / "install.err");
        datadir_ = root_ / "stage" / fs::path(RVT_CUPS_DATADIR).relative_path();
    }

    static void TearDownTestSuite()
    {
        if (!root_.empty())
            fs::remove_all(root_);
    }

    void SetUp() override
    {
        ASSERT_EQ(installStatus_, 0) << readFile(root_ / "install.err");
        ASSERT_TRUE(fs::exists(RVT_DRIVERD)) << RVT_DRIVERD;
    }

    // What cups-driverd lists for `deviceId`, asked as cupsd asks it for
    // `lpinfo --device-id ID -m`. A fresh cache each time: every PPD is read.
    static Listing listFor(const std::string& deviceId)
    {
        const fs::path cache = root_ / "cache";
        fs::remove_all(cache);
        fs::create_directories(cache);
        std::string quoted;
        for (char c : deviceId) {
            if (c == '\'' || c == '\\')
                quoted += '\\';
            quoted += c;
        }
        const std::string options = "requested-attributes=all ppd-device-id='" + quoted + "'";
        const fs::path out = root_ / "driverd.out", err = root_ / "driverd.err";
        int status = run({RVT_DRIVERD, "list", "1", "0", options},
                         {"CUPS_DATADIR=" + datadir_.string(),
                          "CUPS_SERVERBIN=" + (root_ / "serverbin").string(),
                          "CUPS_CACHEDIR=" + cache.string()},
                         out, err);
        Listing listing = parseListing(readFile(out));
        if (status != 0)
            listing.parsed = false;
        return listing;
    }

    static fs::path root_;     // the suite's own directory
    static fs::path datadir_;  // CUPS's data directory in the staged install
    static int installStatus_;
};

fs::path DriverListing::root_;
fs::path DriverListing::datadir_;
int DriverListing::installStatus_ = -1;

// The simulated printer's backend reports the device ID of the real one;
// the installed PPD is the driver offered for it, under the name `lpadmin -m`
// takes, with the PPD's own make, model and device ID.
TEST_F(DriverListing, OffersThePpdForTheDeviceTheBackendReports)
{
    const fs::path out = root_ / "backend.out";
    ASSERT_EQ(run({RVT_SIM_BACKEND}, {}, out, root_ / "backend.err"), 0);
    // direct URI "make and model" "info" "device ID" "location"
    const std::string line = readFile(out);
    ASSERT_EQ(line.rfind("direct ", 0), 0u) << line;
    std::vector<std::string> fields;  // the text between quotes, and the quoted texts
    for (std::size_t from = 0, quote; (quote = line.find('"', from)) != std::string::npos;
         from = quote + 1)
        fields.push_back(line.substr(from, quote - from));
    ASSERT_GE(fields.size(), 6u) << line;
    const std::string reported = fields[5];
    ASSERT_FALSE(reported.empty()) << line;

    const std::string ppd = readFile(datadir_ / "model" / kPpdName);
    const std::string ownId = ppdValue(ppd, "1284DeviceID");
    ASSERT_FALSE(ownId.empty()) << "the installed PPD has no *1284DeviceID";

    Listing listing = listFor(reported);
    ASSERT_TRUE(listing.parsed) << readFile(root_ / "driverd.err");
    EXPECT_EQ(listing.status, IPP_STATUS_OK);
    const Driver* d = listing.find(kPpdName);
    ASSERT_NE(d, nullptr) << "not offered for " << reported;
    EXPECT_EQ(d->makeAndModel, ppdValue(ppd, "NickName"));
    EXPECT_EQ(d->deviceId, ownId);
}

struct IdCase {
    const char* what;
    const char* deviceId;
    bool offered;
};

void PrintTo(const IdCase& c, std::ostream* os) { *os << c.what << " \"" << c.deviceId << "\""; }

class DeviceIdMatching : public DriverListing, public ::testing::WithParamInterface<IdCase> {};

TEST_P(DeviceIdMatching, OffersThePpdOnlyForThisPrinter)
{
    const IdCase& c = GetParam();
    Listing listing = listFor(c.deviceId);
    ASSERT_TRUE(listing.parsed) << readFile(root_ / "driverd.err");
    if (c.offered) {
        EXPECT_EQ(listing.status, IPP_STATUS_OK);
        EXPECT_NE(listing.find(kPpdName), nullptr) << "not offered";
    } else {
        EXPECT_EQ(listing.find(kPpdName), nullptr) << "offered for another printer";
    }
}

// cups-driverd matches the manufacturer and the model of the ID asked for
// against the PPD's, ignoring case and other keys (the command set only ranks
// drivers, it never rules one out). The IDs below are the ones a printer of
// this model, or another printer, can report: MFG before MDL, short key names.
INSTANTIATE_TEST_SUITE_P(
    Ids, DeviceIdMatching,
    ::testing::Values(
        IdCase{"full", "MFG:RVT;MDL:RV-T4410LW;CMD:RVTJOB,JBIG;CLS:PRINTER;", true},
        IdCase{"maker_and_model", "MFG:RVT;MDL:RV-T4410LW;", true},
        IdCase{"no_final_semicolon", "MFG:RVT;MDL:RV-T4410LW", true},
        IdCase{"lower_case", "mfg:rvt;mdl:rv-t4410lw;cmd:rvtjob,jbig;", true},
        IdCase{"command_set_first", "CMD:RVTJOB,JBIG;MFG:RVT;MDL:RV-T4410LW;CLS:PRINTER;", true},
        IdCase{"class_and_description", "CLS:PRINTER;MFG:RVT;MDL:RV-T4410LW;DES:RVT RV-T4410LW;",
               true},
        IdCase{"other_command_set", "MFG:RVT;MDL:RV-T4410LW;CMD:PCL,PJL;", true},
        IdCase{"other_model", "MFG:RVT;MDL:RV-T4420LW;CMD:RVTJOB,JBIG;", false},
        IdCase{"longer_model_name", "MFG:RVT;MDL:RV-T4410LWN;", false},
        IdCase{"other_maker_same_model", "MFG:Acme;MDL:RV-T4410LW;", false},
        IdCase{"other_printer", "MFG:Brother;MDL:HL-L2350DW;CMD:PJL,PCL,PCLXL,URF;", false}),
    [](const auto& info) { return std::string(info.param.what); });

}  // namespace
