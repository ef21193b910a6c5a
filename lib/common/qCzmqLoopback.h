// The loopback socket pairs through which the link server's and the client stream's threads
// hand messages to each other.
#pragma once

#include <czmq.h>

#include <initializer_list>

// Binds on loopback at a port the system chooses.
constexpr const char* qCZMQ_LOOPBACK_ANY = "tcp://127.0.0.1:*";

// A socket that drops what it could not send when it is closed: a closing link must not wait
// for a peer that has gone. Null when it cannot be made.
zsock_t* qCzmq_NewSocket(int type);
// Makes a socket of the type in each place; false when any could not be made (the others are
// made all the same, for the caller's release to take).
bool qCzmq_NewSockets(int type, std::initializer_list<zsock_t**> places);
// Closes the socket in each place that has one and clears it.
void qCzmq_DestroySockets(std::initializer_list<zsock_t**> places);
// Binds one end on a system-chosen loopback port and connects the other to it.
bool qCzmq_ConnectLoopback(zsock_t* bound, zsock_t* connected);
