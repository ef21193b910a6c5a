#include "qCzmqPair.h"

#include <atomic>
#include <cstdio>

zsock_t* qCzmq_NewSocket(int type) {
    zsock_t* socket = zsock_new(type);
    if (socket != nullptr) {
        zsock_set_linger(socket, 0);
    }
    return socket;
}

bool qCzmq_NewSockets(int type, std::initializer_list<zsock_t**> places) {
    bool made = true;
    for (zsock_t** place : places) {
        *place = qCzmq_NewSocket(type);
        made = made && *place != nullptr;
    }
    return made;
}

void qCzmq_DestroySockets(std::initializer_list<zsock_t**> places) {
    for (zsock_t** place : places) {
        zsock_destroy(place);
    }
}

void qCzmq_NewInprocEndpoint(const char* what, char* endpoint, size_t size) {
    static std::atomic<unsigned long> next{1};
    snprintf(endpoint, size, "inproc://zendrival-%s-%lu", what, next++);
}

bool qCzmq_ConnectPair(zsock_t* bound, zsock_t* connected) {
    char endpoint[64];
    qCzmq_NewInprocEndpoint("pair", endpoint, sizeof endpoint);
    return zsock_bind(bound, "%s", endpoint) == 0 && zsock_connect(connected, "%s", endpoint) == 0;
}
