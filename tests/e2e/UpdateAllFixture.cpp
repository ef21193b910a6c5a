#include "UpdateAllFixture.h"

#include <sstream>

namespace firmwaretest {

namespace {

std::string sourceFile(const std::string& path) {
    return std::string(ZV_SOURCE_DIR) + "/" + path;
}

constexpr const char* kPython = "/usr/bin/python3";  // Debian's, with python3-jsonschema

std::string jsonschemaMissing() {
    zvtest::RunResult r = zvtest::runProgram(kPython, {"-c", "import jsonschema"});
    return r.exitCode == 0 ? "" : "python3-jsonschema (scripts/install-deps) is not installed";
}

}  // namespace

void UpdateAllFixture::prepare() {
    ZV_NEEDS(jsonschemaMissing());
    startServer();
}

void UpdateAllFixture::serveBuild(const std::string& serial, const std::string& modelName,
                                  size_t firmwareBytes) {
    zvtest::runProgram("/bin/mkdir", {"-p", builds + "/" + serial});
    std::ostringstream description;
    description << "block type=0 address=0x10000000 random=7 size=300\n"
                << "block type=1 address=0x00004000 random=" << std::stoul(serial, nullptr, 16)
                << " size=" << firmwareBytes << " stamp=1300 stamp-version=2.13.0\n"
                << "info build=1300 version=2.13.0 serial=" << serial << " model=" << modelName
                << "\n";
    makeBird(builds + "/" + serial + "/1300.bird", description.str());
}

std::unique_ptr<zvtest::BackgroundProgram> UpdateAllFixture::startSimulator(
    const std::string& name, const std::vector<std::string>& modules) {
    std::vector<std::string> args = {"--duration", "120", "--log"};
    for (const std::string& description : modules) {
        args.insert(args.end(), {"--module", description});
    }
    auto simulator = std::make_unique<zvtest::BackgroundProgram>(zvtest::modulesimBinary(), args,
                                                                 work.file(name + ".log"));
    EXPECT_TRUE(simulator->waitReady()) << "the module simulator did not start";
    const std::string root = simulator->startupValue("umockdev");
    if (!root.empty() && usbEnvironment.empty()) {
        usbEnvironment = usbBusEnvironment(root);
    }
    return simulator;
}

std::string UpdateAllFixture::simulatorLog(const std::string& name) const {
    return zvtest::readFile(work.file(name + ".log"));
}

std::vector<std::string> UpdateAllFixture::updateAllArguments(
    const std::vector<std::string>& args) const {
    std::vector<std::string> words = {"-i", store.path(), "-U", "-a", "-u", url};
    words.insert(words.end(), args.begin(), args.end());
    return words;
}

zvtest::RunResult UpdateAllFixture::updateAll(const std::vector<std::string>& args) {
    return zvtest::runProgram(zvtest::updaterBinary(), updateAllArguments(args), usbEnvironment);
}

nlohmann::json UpdateAllFixture::documentOf(const zvtest::RunResult& r) {
    const std::string file = work.file("document.json");
    zvtest::writeFile(file, r.out);
    zvtest::RunResult check =
        zvtest::runProgram(kPython, {sourceFile("tests/e2e/check_json_schema.py"),
                                     sourceFile("packaging/schema/update-all.schema.json"), file});
    EXPECT_EQ(check.exitCode, 0) << "the document does not match its schema:\n"
                                 << check.out << check.err << r.out;
    try {
        return nlohmann::json::parse(r.out);
    } catch (const nlohmann::json::parse_error& error) {
        ADD_FAILURE() << "standard output is not one JSON document: " << error.what() << "\n"
                      << r.out;
        return nlohmann::json::object();
    }
}

std::map<std::string, nlohmann::json> UpdateAllFixture::modulesOf(const nlohmann::json& document) {
    std::map<std::string, nlohmann::json> modules;
    for (const nlohmann::json& module : document.value("modules", nlohmann::json::array())) {
        modules[module.value("serial", "")] = module;
    }
    return modules;
}

std::string UpdateAllFixture::tableRow(const std::string& text, const std::string& serial) {
    for (const std::string& line : lines(text)) {
        if (line.rfind(serial + "  ", 0) == 0) {
            return line;
        }
    }
    return "";
}

std::vector<size_t> UpdateAllFixture::upgradeRequests(const std::string& log,
                                                      const std::string& serial) {
    // "modulesim SERIAL < ADDRESS LENGTH COMMAND ...": a packet the module received.
    const std::string prefix = "modulesim " + serial + " < ";
    std::vector<size_t> found;
    const std::vector<std::string> all = lines(log);
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i].rfind(prefix, 0) == 0 && all[i].compare(prefix.size() + 5, 3, " 5F") == 0) {
            found.push_back(i);
        }
    }
    return found;
}

}  // namespace firmwaretest
