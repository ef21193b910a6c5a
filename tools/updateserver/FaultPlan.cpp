#include "FaultPlan.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>

namespace {

// A stalled request is held at most this long even when the server runs on, so that no client
// and no test can hang on it forever.
constexpr std::chrono::seconds kMaxStall(120);
const char kContentType[] = "text/plain";

// Declares the whole body but sends only its first bytes, then ends the connection, as a server
// that fails in the middle of a reply does.
void sendCut(std::string body, size_t sent, httplib::Response& response) {
    auto content = std::make_shared<std::string>(std::move(body));
    sent = std::min(sent, content->size());
    response.set_content_provider(
        content->size(), kContentType,
        [content, sent](size_t offset, size_t length, httplib::DataSink& sink) {
            if (offset >= sent) {
                return false;
            }
            return sink.write(content->data() + offset, std::min(length, sent - offset));
        });
}

}  // namespace

bool FaultPlan::load(std::string* error) {
    if (options_.replyFile.empty()) {
        return true;
    }
    std::ifstream in(options_.replyFile, std::ios::binary);
    if (!in) {
        *error = "cannot read " + options_.replyFile;
        return false;
    }
    reply_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool FaultPlan::appliesTo(const std::string& op) const {
    return options_.onlyOp.empty() || options_.onlyOp == op;
}

void FaultPlan::note(const std::string& op) const {
    std::string faults;
    auto add = [&faults](const std::string& fault) { faults += " " + fault; };
    if (options_.status != 0)
        add("status " + std::to_string(options_.status));
    if (!options_.replyFile.empty())
        add("prepared reply");
    if (options_.badFirstLine)
        add("bad first line");
    if (options_.truncateTo >= 0)
        add("truncated to " + std::to_string(options_.truncateTo));
    if (options_.delayMs > 0)
        add("delayed " + std::to_string(options_.delayMs) + " ms");
    if (options_.stall)
        add("stalled");
    if (options_.cutAfter >= 0)
        add("cut after " + std::to_string(options_.cutAfter));
    if (!faults.empty()) {
        fprintf(stderr, "updateserver: op=%s%s\n", op.c_str(), faults.c_str());
    }
}

std::string FaultPlan::alteredBody(std::string body) const {
    if (!options_.replyFile.empty()) {
        body = reply_;
    }
    if (options_.badFirstLine) {
        body.replace(0, body.find('\n'), "no");
    }
    if (options_.truncateTo >= 0 && body.size() > static_cast<size_t>(options_.truncateTo)) {
        body.resize(static_cast<size_t>(options_.truncateTo));
    }
    return body;
}

void FaultPlan::answer(const std::string& op, std::string body, httplib::Response& response) const {
    if (!appliesTo(op)) {
        response.set_content(body, kContentType);
        return;
    }
    note(op);
    body = alteredBody(std::move(body));
    response.status = options_.status != 0 ? options_.status : 200;
    if (options_.delayMs > 0) {
        lifetime_.sleepUnlessStopped(std::chrono::milliseconds(options_.delayMs));
    }
    if (options_.stall) {
        lifetime_.sleepUnlessStopped(kMaxStall);
        sendCut(std::move(body), 0, response);
        return;
    }
    if (options_.cutAfter >= 0) {
        sendCut(std::move(body), static_cast<size_t>(options_.cutAfter), response);
        return;
    }
    response.set_content(body, kContentType);
}
