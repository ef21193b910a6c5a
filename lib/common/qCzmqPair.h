// The socket pairs through which the link server's and the client stream's threads hand messages
// to each other. They are in-process endpoints: nothing outside this process can connect to them,
// as another user of the machine could to a loopback port.
#pragma once

#include <czmq.h>

#include <initializer_list>

// A socket that drops what it could not send when it is closed: a closing link must not wait
// for a peer that has gone. Null when it cannot be made.
zsock_t* qCzmq_NewSocket(int type);
// Makes a socket of the type in each place; false when any could not be made (the others are
// made all the same, for the caller's release to take).
bool qCzmq_NewSockets(int type, std::initializer_list<zsock_t**> places);
// Closes the socket in each place that has one and clears it.
void qCzmq_DestroySockets(std::initializer_list<zsock_t**> places);
// Binds one end on a new in-process endpoint and connects the other to it.
bool qCzmq_ConnectPair(zsock_t* bound, zsock_t* connected);
// A new in-process endpoint name for what ("inproc://zendrival-WHAT-N"), unique in the process.
void qCzmq_NewInprocEndpoint(const char* what, char* endpoint, size_t size);
