// Checks of a value that a module streams and the link keeps: the gets right after samples came
// are answered from the newest sample, fresh once and then already read.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "qError.h"

namespace zvtest {

// get reads the value (qErr get(uint32_t*)). The first read finds the newest sample fresh; the
// reads right after it find it already read, long before the next sample can come.
template <typename Get>
void expectFreshThenStale(Get get, uint32_t streamed) {
    uint32_t value = 0;
    EXPECT_EQ(get(&value), qErrNone);
    EXPECT_EQ(value, streamed);
    qErr again = qErrNone;
    for (int i = 0; i < 50 && again == qErrNone; ++i) {
        value = 0;
        again = get(&value);
        EXPECT_EQ(value, streamed);
    }
    EXPECT_EQ(again, qErrStreamStale);
}

}  // namespace zvtest
