#include "ServerExchange.h"
#include "UpdateServerRequest.h"

bool UpdateServerRequest::ping(const char* url) {
    return ExchangeWithServer({"ping", "PING"}, url, {{"op", "hi"}, {"rv", "2"}},
                              [](ReplyLines&) {});
}
