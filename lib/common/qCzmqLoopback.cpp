#include "qCzmqLoopback.h"

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

bool qCzmq_ConnectLoopback(zsock_t* bound, zsock_t* connected) {
    int port = zsock_bind(bound, "%s", qCZMQ_LOOPBACK_ANY);
    return port > 0 && zsock_connect(connected, "tcp://127.0.0.1:%d", port) == 0;
}
