#include "ServerTestSupport.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "BirdWriter.h"
#include "Log.h"

namespace servertest {

std::string certificate(const std::string& name) {
    return std::string(ZV_SOURCE_DIR) + "/tools/updateserver/certs/" + name;
}

std::string BuildsDirectory::addBuild(const std::string& folder, unsigned build,
                                      const std::string& version, const std::string& model,
                                      const std::string& serial) {
    BirdWriter writer;
    // Image bytes that differ per build, including every byte value.
    std::vector<unsigned char> image;
    for (unsigned i = 0; i < 600; ++i) {
        image.push_back(static_cast<unsigned char>(i * 7 + build));
    }
    writer.AddImage(1, 0, 0x00001000, image);
    writer.AddInfo(std::to_string(build), version, serial, model);
    std::vector<unsigned char> bytes = writer.FileBytes();
    std::string text(bytes.begin(), bytes.end());
    addFile(folder, std::to_string(build) + ".bird", text);
    return text;
}

void BuildsDirectory::addFile(const std::string& folder, const std::string& name,
                              const std::string& bytes) {
    std::string directory = dir_.file(folder);
    mkdir(directory.c_str(), 0755);
    zvtest::writeFile(directory + "/" + name, bytes);
}

SimulatedServer::SimulatedServer(const BuildsDirectory& builds,
                                 const std::vector<std::string>& extraArgs)
    : logPath_(builds.file("requests.log")) {
    std::vector<std::string> args = {"--builds",  builds.path(),   "--port", "0",          "--bind",
                                     "127.0.0.1", "--request-log", logPath_, "--duration", "100"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    program_ = std::make_unique<zvtest::BackgroundProgram>(updateserverBinary(), args);
    ready_ = program_->waitReady();
    scheme_ = program_->startupValue("https").empty() ? "http" : "https";
    address_ = program_->startupValue(scheme_);
}

std::string SimulatedServer::url(const std::string& host) const {
    std::string address = address_;
    if (!host.empty()) {
        address = host + address.substr(address.rfind(':'));
    }
    return scheme_ + "://" + address + "/cgi/u";
}

std::vector<std::string> SimulatedServer::requests() const {
    std::vector<std::string> lines;
    std::istringstream in(zvtest::pathExists(logPath_) ? zvtest::readFile(logPath_) : "");
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

int closedLoopbackPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
}

}  // namespace servertest
