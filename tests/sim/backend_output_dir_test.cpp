// SPDX-License-Identifier: GPL-2.0-or-later
// Copyright (C) 2026 The RV-T4410LW driver developers

// Where the built backend writes a job, run as root (as the scheduler runs
// it) or as an ordinary user: which output directories it takes, as whom it
// writes, and that nothing planted under the directory is followed.
#include "backend_test_support.h"
#include "image_files.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <cstdlib>
#include <cups/backend.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace rvtsim {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

constexpr const char* kJobId = "7";
constexpr const char* kVictimText = "keep me\n";

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

struct Account {
    uid_t uid = 0;
    gid_t gid = 0;
};

Account nobody()
{
    const passwd* pw = getpwnam("nobody");
    return pw ? Account{pw->pw_uid, pw->pw_gid} : Account{65534, 65534};
}

// Runs the backend for job kJobId with the device URI rvtsim:`dir`, no side
// channel, its messages into `log`; as `as` when that is not root. Once it
// has made the job's directory, `whileRunning` runs (when set), then the job
// `stream` is written to its standard input. Returns its exit status, -1 when
// it did not exit.
int runBackend(const std::string& dir, const std::string& stream, const fs::path& log, Account as,
               const std::function<void()>& whileRunning)
{
    const std::string uri = "rvtsim:" + dir;
    std::vector<std::string> args = {uri, kJobId, "user", "title", "1", ""};
    std::vector<std::string> env = {"PATH=/usr/bin:/bin", "DEVICE_URI=" + uri, "PRINTER=queue1"};
    int in[2];
    if (pipe2(in, O_CLOEXEC) != 0)
        return -1;
    int err = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    // Back-channel replies go nowhere; there is no side channel.
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t pid = spawn(RVT_BACKEND, args, env, {in[0], null, err, null, -1}, as.uid, as.gid);
    close(null);
    close(in[0]);
    close(err);
    int status = 0;
    bool exited = false;
    // Its job directory is ready when it says where the job goes.
    for (int waited = 0; waited < 10000; waited += 10) {
        if (readFile(log).find("DEBUG: rvtsim: job ") != std::string::npos)
            break;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            exited = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!exited) {
        if (whileRunning)
            whileRunning();
        for (size_t at = 0; at < stream.size();) {
            ssize_t n = write(in[1], stream.data() + at, stream.size() - at);
            if (n <= 0)
                break;
            at += size_t(n);
        }
    }
    close(in[1]);
    for (int waited = 0; !exited && waitpid(pid, &status, WNOHANG) != pid; waited += 10) {
        if (waited > 30000) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct DirCase {
    const char* name;
    // Lays out the scene under `base` (root-owned, 0755; base/victim is a
    // root-owned file anyone may link to); returns the URI's directory.
    std::function<std::string(const fs::path& base)> layout;
    bool asNobody;       // the backend run as nobody instead of root
    int status;          // its exit status
    const char* logged;  // a text its messages must hold
    const char* jobDir;  // relative to base: where the job lands; null when refused
    bool nobodyOwns;     // the job's directory and files belong to nobody, not root
    // Done to the scene once the backend has made the job's directory.
    std::function<void(const fs::path& base)> whileRunning = nullptr;
};

fs::path makeDir(const fs::path& path, mode_t mode, uid_t uid = 0, gid_t gid = 0)
{
    fs::create_directories(path);
    EXPECT_EQ(chown(path.c_str(), uid, gid), 0);
    EXPECT_EQ(chmod(path.c_str(), mode), 0);
    return path;
}

// Links base/victim under the names a job writes: a symbolic link for the
// transcript and the first page, a hard link for its PNG.
void plantLinks(const fs::path& jobDir)
{
    const fs::path victim = jobDir.parent_path().parent_path() / "victim";
    fs::create_symlink(victim, jobDir / "transcript.json");
    fs::create_symlink(victim, jobDir / "page-001.pbm");
    fs::create_hard_link(victim, jobDir / "page-001.png");
}

class BackendOutputDir : public ::testing::TestWithParam<DirCase> {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "the backend's choices as root need root";
        // A backend that refused the job has closed its input.
        signal(SIGPIPE, SIG_IGN);
        char templ[] = "/tmp/rvtsim-dir-test.XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        base_ = templ;
        ASSERT_EQ(chmod(templ, 0755), 0);
        writeFile(base_ / "victim", kVictimText);
        ASSERT_EQ(chmod((base_ / "victim").c_str(), 0644), 0);
    }

    void TearDown() override
    {
        std::error_code ec;
        if (!base_.empty())
            fs::remove_all(base_, ec);
    }

    fs::path base_;
};

TEST_P(BackendOutputDir, WritesOnlyWhereItIsSafe)
{
    const DirCase& c = GetParam();
    const Account who = nobody();
    const std::string dir = c.layout(base_);
    const Bitmap page = testPage(1203, 1250);
    const fs::path log = base_ / "backend.log";

    const int status = runBackend(dir, jobStream({page}), log, c.asNobody ? who : Account{}, [&] {
        if (c.whileRunning)
            c.whileRunning(base_);
    });
    const std::string messages = readFile(log);
    EXPECT_EQ(status, c.status) << messages;
    EXPECT_NE(messages.find(c.logged), std::string::npos) << messages;

    // Whatever it did, the file planted links point at is as it was.
    struct stat victim {};
    ASSERT_EQ(lstat((base_ / "victim").c_str(), &victim), 0);
    EXPECT_EQ(readFile(base_ / "victim"), kVictimText);
    EXPECT_EQ(victim.st_uid, 0u);

    if (!c.jobDir) {
        // Refused: no job directory made and no job file written anywhere.
        for (const auto& e : fs::recursive_directory_iterator(base_)) {
            const std::string name = e.path().filename().string();
            EXPECT_FALSE(name == "job-" + std::string(kJobId) && e.is_directory() &&
                         !e.is_symlink())
                << e.path();
            EXPECT_FALSE(name.rfind("page-", 0) == 0 || name == "transcript.json") << e.path();
        }
        return;
    }
    const fs::path jobDir = base_ / c.jobDir;
    const uid_t uid = c.nobodyOwns ? who.uid : 0;
    const gid_t gid = c.nobodyOwns ? who.gid : 0;
    for (const char* name :
         {".", "transcript.json", "page-001.pbm", "page-001.png", "page-001-preview.png"}) {
        struct stat st {};
        ASSERT_EQ(lstat((jobDir / name).c_str(), &st), 0) << jobDir / name;
        EXPECT_EQ(st.st_uid, uid) << name;
        EXPECT_EQ(st.st_gid, gid) << name;
        EXPECT_EQ(st.st_mode & 07777, std::string(name) == "." ? 0755u : 0644u) << name;
        EXPECT_TRUE(std::string(name) == "." ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode)) << name;
    }
    Bitmap got;
    ASSERT_TRUE(readPbm((jobDir / "page-001.pbm").string(), got));
    EXPECT_TRUE(got.width == page.width && got.height == page.height && got.bits == page.bits);
    const json t = json::parse(readFile(jobDir / "transcript.json"), nullptr, false);
    ASSERT_TRUE(t.is_object());
    EXPECT_EQ(t["clean"], true) << t["protocol_errors"];
    EXPECT_EQ(t["pages"].size(), 1u);
}

const std::string kJob = std::string("job-") + kJobId;

INSTANTIATE_TEST_SUITE_P(Table, BackendOutputDir,
                         ::
                             testing::
                                 Values(DirCase{"root_owned_private",
                                                [](const fs::path& b) {
                                                    return makeDir(b / "out", 0755).string();
                                                },
                                                false, CUPS_BACKEND_OK, "INFO: rvtsim: 1 pages",
                                                "out/job-7", false},
                                        DirCase{
                                            "missing_under_root_owned_parent",
                                            [](const fs::path& b) { return (b / "new").string(); },
                                            false, CUPS_BACKEND_OK, "INFO: rvtsim: 1 pages",
                                            "new/job-7", false},
                                        DirCase{"trailing_slash",
                                                [](const fs::path& b) {
                                                    return makeDir(b / "out", 0755).string() + "/";
                                                },
                                                false, CUPS_BACKEND_OK, "INFO: rvtsim: 1 pages",
                                                "out/job-7", false},
                                        DirCase{"symbolic_link_to_a_directory",
                                                [](const fs::path& b) {
                                                    makeDir(b / "real", 0755);
                                                    fs::create_symlink(b / "real", b / "link");
                                                    return (b / "link").string();
                                                },
                                                false, CUPS_BACKEND_STOP,
                                                "link is a symbolic link; as root the backend "
                                                "writes only into a real directory",
                                                nullptr, false},
                                        DirCase{"world_writable",
                                                [](const fs::path& b) {
                                                    return makeDir(b / "open", 0777).string();
                                                },
                                                false, CUPS_BACKEND_STOP,
                                                "is writable by others than root (mode 0777)",
                                                nullptr, false},
                                        DirCase{"world_writable_sticky",
                                                [](const fs::path& b) {
                                                    return makeDir(b / "tmp", 01777).string();
                                                },
                                                false, CUPS_BACKEND_STOP,
                                                "is writable by others than root (mode 1777)",
                                                nullptr, false},
                                        DirCase{
                                            "group_writable",
                                            [](const fs::path& b) {
                                                return makeDir(b / "group", 0775, 0, 7).string();
                                            },
                                            false, CUPS_BACKEND_STOP,
                                            "is writable by others than root (mode 0775)", nullptr,
                                            false},
                                        DirCase{
                                            "missing_under_world_writable_parent",
                                            [](const fs::path& b) {
                                                return (makeDir(b / "tmp", 01777) / "new").string();
                                            },
                                            false, CUPS_BACKEND_STOP,
                                            "does not exist, and root makes it only", nullptr,
                                            false},
                                        DirCase{"missing_under_user_owned_parent",
                                                [](const fs::path& b) {
                                                    const Account n = nobody();
                                                    return (makeDir(b / "home", 0755, n.uid,
                                                                    n.gid) /
                                                            "new")
                                                        .string();
                                                },
                                                false, CUPS_BACKEND_STOP,
                                                "does not exist, and root makes it only", nullptr,
                                                false},
                                        DirCase{"user_owned_written_as_the_user",
                                                [](const fs::path& b) {
                                                    const Account n = nobody();
                                                    return makeDir(b / "mine", 0755, n.uid, n.gid)
                                                        .string();
                                                },
                                                false, CUPS_BACKEND_OK, "INFO: rvtsim: 1 pages",
                                                "mine/job-7", true},
                                        DirCase{"user_owned_world_writable_written_as_the_user",
                                                [](const fs::path& b) {
                                                    const Account n = nobody();
                                                    return makeDir(b / "mine", 01777, n.uid, n.gid)
                                                        .string();
                                                },
                                                false, CUPS_BACKEND_OK, "INFO: rvtsim: 1 pages",
                                                "mine/job-7", true},
                                        DirCase{"links_planted_before_the_job",
                                                [](const fs::path& b) {
                                                    const fs::path out = makeDir(b / "out", 0755);
                                                    plantLinks(makeDir(out / kJob, 0755));
                                                    return out.string();
                                                },
                                                false, CUPS_BACKEND_OK, "INFO: rvtsim: 1 pages",
                                                "out/job-7", false},
                                        DirCase{"links_planted_while_the_job_runs",
                                                [](const fs::path& b) {
                                                    return makeDir(b / "out", 0755).string();
                                                },
                                                false, CUPS_BACKEND_OK, "INFO: rvtsim: 1 pages",
                                                "out/job-7", false,
                                                [](const fs::path& b) {
                                                    plantLinks(b / "out" / kJob);
                                                }},
                                        DirCase{"links_planted_in_a_user_directory",
                                                [](const fs::path& b) {
                                                    const Account n = nobody();
                                                    return makeDir(b / "mine", 0755, n.uid, n.gid)
                                                        .string();
                                                },
                                                false, CUPS_BACKEND_OK, "INFO: rvtsim: 1 pages",
                                                "mine/job-7", true,
                                                [](const fs::path& b) {
                                                    plantLinks(b / "mine" / kJob);
                                                }},
                                        DirCase{"job_directory_planted_as_a_link",
                                                [](const fs::path& b) {
                                                    const Account n = nobody();
                                                    const fs::path out = makeDir(b / "mine", 0755,
                                                                                 n.uid, n.gid);
                                                    makeDir(b / "elsewhere", 0777);
                                                    fs::create_symlink(b / "elsewhere", out / kJob);
                                                    return out.string();
                                                },
                                                false, CUPS_BACKEND_STOP,
                                                "job-7 is a symbolic link; it is not followed",
                                                nullptr, false},
                                        DirCase{"link_owned_by_root_on_the_way",
                                                [](const fs::path& b) {
                                                    makeDir(b / "spool" / "out", 0755);
                                                    fs::create_symlink(b / "spool", b / "alias");
                                                    return (b / "alias" / "out").string();
                                                },
                                                false, CUPS_BACKEND_OK, "INFO: rvtsim: 1 pages",
                                                "spool/out/job-7", false},
                                        DirCase{"link_owned_by_a_user_on_the_way",
                                                [](const fs::path& b) {
                                                    const Account n = nobody();
                                                    makeDir(b / "spool" / "out", 0755);
                                                    fs::create_symlink(b / "spool", b / "alias");
                                                    EXPECT_EQ(
                                                        lchown((b / "alias").c_str(), n.uid, n.gid),
                                                        0);
                                                    return (b / "alias" / "out").string();
                                                },
                                                false, CUPS_BACKEND_STOP,
                                                "is a symbolic link that root does not own",
                                                nullptr, false},
                                        // Not root: it writes as itself, wherever it may, but still
                                        // through no link planted below the directory.
                                        DirCase{"not_root_in_its_own_directory",
                                                [](const fs::path& b) {
                                                    const Account n = nobody();
                                                    return makeDir(b / "mine", 0755, n.uid, n.gid)
                                                        .string();
                                                },
                                                true, CUPS_BACKEND_OK, "INFO: rvtsim: 1 pages",
                                                "mine/job-7", true,
                                                [](const fs::path& b) {
                                                    plantLinks(b / "mine" / kJob);
                                                }},
                                        DirCase{"not_root_through_a_link_to_its_directory",
                                                [](const fs::path& b) {
                                                    const Account n = nobody();
                                                    makeDir(b / "mine", 0755, n.uid, n.gid);
                                                    fs::create_symlink(b / "mine", b / "link");
                                                    return (b / "link").string();
                                                },
                                                true, CUPS_BACKEND_OK, "INFO: rvtsim: 1 pages",
                                                "mine/job-7", true},
                                        DirCase{"not_root_in_a_root_directory",
                                                [](const fs::path& b) {
                                                    return makeDir(b / "out", 0755).string();
                                                },
                                                true, CUPS_BACKEND_STOP,
                                                "ERROR: rvtsim: output directory: cannot make",
                                                nullptr, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace rvtsim
