// The whole test program runs in one private network namespace, entered before any ZeroMQ use:
// ZeroMQ's I/O threads stay in the namespace of the thread that started them, and the link
// server and the module simulator started by the tests inherit it.
#pragma once

#include <string>

#include "TestSupport.h"

// Empty when the namespace was entered, else the reason it was not.
const std::string& privateNetworkProblem();

#define ZV_SHARE_NETWORK_OR_SKIP() ZV_NEEDS(privateNetworkProblem())
