#include <gtest/gtest.h>

#include <map>
#include <string>

#include "HTTPRequest.h"
#include "HTTPResponse.h"
#include "ServerTestSupport.h"

using servertest::LogCapture;

TEST(HTTPRequestURL, WithoutQueryIsTheBaseAlone) {
    EXPECT_EQ(HTTPRequest::BuildURL("http://host/cgi/u", {}), "http://host/cgi/u");
}

TEST(HTTPRequestURL, EntriesFollowInKeyOrderEachEndingWithAmpersand) {
    std::map<std::string, std::string> query = {{"sn", "0000ABCD"}, {"op", "qu"}};
    EXPECT_EQ(HTTPRequest::BuildURL("http://host/cgi/u", query),
              "http://host/cgi/u?op=qu&sn=0000ABCD&");
    query = {
        {"op", "bird"}, {"sn", "40F5849A"}, {"no_cal", "false"}, {"fw", "Hub-4"}, {"bld", "1234"}};
    EXPECT_EQ(HTTPRequest::BuildURL("https://h:8443/cgi/u", query),
              "https://h:8443/cgi/u?bld=1234&fw=Hub-4&no_cal=false&op=bird&sn=40F5849A&");
}

TEST(HTTPRequestURL, KeysSortByteWiseAndValuesAreNotEscaped) {
    std::map<std::string, std::string> query = {
        {"b", "x y&z"}, {"B", "%20"}, {"a", ""}, {"_", "1/2?"}};
    EXPECT_EQ(HTTPRequest::BuildURL("u", query), "u?B=%20&_=1/2?&a=&b=x y&z&");
}

TEST(HTTPResponseTest, CollectsPiecesInOrderAndKeepsRequestAndStatus) {
    HTTPResponse response("http://host/cgi/u?op=hi&");
    EXPECT_EQ(response.get_status(), 0);
    response.process("ok", 2);
    response.process("\n\0x", 3);
    response.process(nullptr, 0);
    response.set_status(404);
    EXPECT_EQ(response.get_response(), std::string("ok\n\0x", 5));
    EXPECT_EQ(response.get_status(), 404);
    EXPECT_EQ(response.get_request(), "http://host/cgi/u?op=hi&");
}

TEST(HTTPRequestGet, RefusesSchemesOtherThanHttpAndHttps) {
    // Deliberate: only http and https URLs are fetched; a file: or ftp: server URL is refused.
    LogCapture log;
    std::map<std::string, std::string> query;
    for (const char* url :
         {"file:///etc/hostname", "ftp://127.0.0.1/cgi/u", "gopher://127.0.0.1/"}) {
        try {
            HTTPRequest::GET(url, query);
            ADD_FAILURE() << url << " was fetched";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Unsupported protocol") << url;
        }
    }
    EXPECT_NE(log.text().find("GET(file:///etc/hostname)\n"), std::string::npos);
}
