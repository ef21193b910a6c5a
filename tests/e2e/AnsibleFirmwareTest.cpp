// The Ansible collection against simulated modules: ansible-playbook runs the example playbook
// zendrival.updater.rolling_update from the collection this build installed, on localhost with a
// local connection, and its module zendrival.updater.firmware runs this build's Updater ("-a",
// on TCP/IP) in the fixture's private network. The playbook keeps the task's result in a report
// file, which the tests read.
#include <nlohmann/json.hpp>

#include "FirmwareFixture.h"

namespace firmwaretest {
namespace {

using nlohmann::json;
using zvtest::RunResult;

constexpr const char* kFailingSerial = "2181F0EE";
const std::string kCollections = std::string(ZV_BINARY_DIR) + "/ansible/collections";
// How long one playbook run may take: Ansible's start, discovery and one or two updates.
constexpr const char* kPlaybookSeconds = "100";

std::string ansibleMissing() {
    if (!zvtest::pathExists(kCollections +
                            "/ansible_collections/zendrival/updater/MANIFEST.json")) {
        return "the build has no Ansible collection (ansible-galaxy missing at configure time; "
               "scripts/install-deps installs ansible-core)";
    }
    if (zvtest::runProgram("/bin/sh", {"-c", "command -v ansible-playbook"}).exitCode != 0) {
        return "ansible-playbook not found (scripts/install-deps installs ansible-core)";
    }
    return "";
}

class AnsibleFirmwareTest : public FirmwareFixture {
  protected:
    void prepare() override {
        ZV_NEEDS(ansibleMissing());
        zvtest::runProgram("/bin/mkdir", {"-m", "0700", reports(), ansibleHome()});
        zvtest::writeFile(work.file("ansible.cfg"), "");
        makeBuild(builds + "/" + kSerial + "/1300.bird", 1300, "2.13.0");
        startServer();
    }

    // The example playbook over the inventory "localhost,", bounded in time. Ansible reads no
    // configuration and keeps nothing of its own outside the test's directory.
    RunResult playbook(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args = {kPlaybookSeconds,
                                         "ansible-playbook",
                                         "-i",
                                         "localhost,",
                                         "-c",
                                         "local",
                                         "zendrival.updater.rolling_update",
                                         "-e",
                                         "updater_hosts=all updater_batch=1 updater_transport=TCP",
                                         "-e",
                                         "updater_server_url=" + url,
                                         "-e",
                                         "updater_store=" + store.path(),
                                         "-e",
                                         "updater_program=" + zvtest::updaterBinary(),
                                         "-e",
                                         "updater_report_dir=" + reports()};
        args.insert(args.end(), extra.begin(), extra.end());
        return zvtest::runProgram(
            "/usr/bin/timeout", args,
            {"ANSIBLE_COLLECTIONS_PATH=" + kCollections,
             "ANSIBLE_CONFIG=" + work.file("ansible.cfg"), "ANSIBLE_HOME=" + ansibleHome(),
             "ANSIBLE_LOCAL_TEMP=" + ansibleHome() + "/tmp",
             "ANSIBLE_REMOTE_TEMP=" + ansibleHome() + "/remote",
             "ANSIBLE_PYTHON_INTERPRETER=auto_silent", "ANSIBLE_NOCOLOR=1",
             "PYTHONDONTWRITEBYTECODE=1"});
    }

    // The firmware task's result as the playbook kept it for the host (empty when it kept none).
    json report() const {
        json result = json::parse(readIfThere(reports() + "/localhost.json"), nullptr, false);
        return result.is_object() ? result : json::object();
    }

    std::string reports() const { return work.file("reports"); }
    std::string ansibleHome() const { return work.file("ansible"); }
};

// The member at path ("/changed", "/summary/unchanged"), or null where there is none.
json member(const json& document, const std::string& path) {
    const json::json_pointer pointer(path);
    return document.contains(pointer) ? document.at(pointer) : json();
}

// The member at path of the entry of module serial in a task's "modules", or null.
json moduleMember(const json& result, const std::string& serial, const std::string& path) {
    for (const json& entry : member(result, "/modules")) {
        if (member(entry, "/serial") == serial) {
            return member(entry, path);
        }
    }
    return json();
}

TEST_F(AnsibleFirmwareTest, CheckModeChangesNothingTheRunUpdatesAndASecondRunChangesNothing) {
    startModule();

    RunResult check = playbook({"--check"});
    ASSERT_EQ(check.exitCode, 0) << check.out << check.err;
    const json planned = report();
    EXPECT_EQ(member(planned, "/changed"), true) << planned.dump(2);
    EXPECT_EQ(member(planned, "/dry_run"), true);
    EXPECT_EQ(moduleMember(planned, kSerial, "/result"), "would_update") << planned.dump(2);
    EXPECT_EQ(moduleMember(planned, kSerial, "/build_before"), 1000);
    EXPECT_EQ(moduleMember(planned, kSerial, "/plan/build"), 1300);
    // Nothing reached the module's loader, its flash or the store.
    EXPECT_EQ(upgradePackets(moduleLog(), '<'), 0u);
    EXPECT_FALSE(zvtest::pathExists(work.file("flash.bin")));
    EXPECT_FALSE(zvtest::pathExists(deviceDir()));

    RunResult first = playbook();
    ASSERT_EQ(first.exitCode, 0) << first.out << first.err;
    const json updated = report();
    EXPECT_EQ(member(updated, "/changed"), true) << updated.dump(2);
    EXPECT_EQ(member(updated, "/dry_run"), false);
    EXPECT_EQ(moduleMember(updated, kSerial, "/result"), "updated") << updated.dump(2);
    EXPECT_EQ(moduleMember(updated, kSerial, "/build_before"), 1000);
    EXPECT_EQ(moduleMember(updated, kSerial, "/build_after"), 1300);
    EXPECT_EQ(flash(), expectedFlash(builds + "/" + kSerial + "/1300.bird"));
    const size_t upgradePacketsOfTheUpdate = upgradePackets(moduleLog(), '<');
    EXPECT_GT(upgradePacketsOfTheUpdate, 0u);

    RunResult second = playbook();
    ASSERT_EQ(second.exitCode, 0) << second.out << second.err;
    const json again = report();
    EXPECT_EQ(member(again, "/changed"), false) << again.dump(2);
    EXPECT_EQ(moduleMember(again, kSerial, "/result"), "unchanged") << again.dump(2);
    EXPECT_EQ(member(again, "/summary/unchanged"), 1);
    EXPECT_EQ(upgradePackets(moduleLog(), '<'), upgradePacketsOfTheUpdate);
}

TEST_F(AnsibleFirmwareTest, AFailingModuleFailsTheTaskWithItsErrorLine) {
    zvtest::runProgram("/bin/mkdir", {builds + "/" + kFailingSerial});
    makeBuild(builds + "/" + kFailingSerial + "/1300.bird", 1300, "2.13.0", "", kFailingSerial);
    // Its REBOOT brings back the build it ran: the update fails at the check of the build.
    startModule("", {std::string("serial=") + kFailingSerial +
                     ",model=3,address=4,version=2.11.0,build=1000,reboot-ms=200,"
                     "boots-old-build,tcp=10.77.0.2:0"});
    const std::string errorLine = std::string("Module ") + kFailingSerial +
                                  " runs build 1000 after the update, expected 1300";

    RunResult r = playbook();
    // ansible-playbook's status for a host whose task failed.
    EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, errorLine)) << r.out;
    const json failed = report();
    EXPECT_EQ(member(failed, "/failed"), true) << failed.dump(2);
    EXPECT_EQ(member(failed, "/msg"), errorLine);
    EXPECT_EQ(member(failed, "/rc"), 1);
    EXPECT_EQ(moduleMember(failed, kFailingSerial, "/result"), "failed");
    EXPECT_EQ(moduleMember(failed, kFailingSerial, "/error"), errorLine);
    // The other module was updated all the same, and the task says so.
    EXPECT_EQ(moduleMember(failed, kSerial, "/result"), "updated");
    EXPECT_EQ(member(failed, "/changed"), true);
    EXPECT_EQ(flash(), expectedFlash(builds + "/" + kSerial + "/1300.bird"));
}

}  // namespace
}  // namespace firmwaretest
