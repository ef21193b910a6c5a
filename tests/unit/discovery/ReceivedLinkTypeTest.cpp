// A link type comes off the wire as any 32-bit value. Every such value must be a valid linkType,
// so that the object layer can look at a type no module has and refuse it.
#include <gtest/gtest.h>

#include <cstring>
#include <type_traits>

#include "DiscoveryTestSupport.h"
#include "Module.h"
#include "discover.h"

namespace {

using Pelmorax::Zendrival::isVEXNET;
using Pelmorax::Zendrival::Module;
using Pelmorax::Zendrival::VexnetConfig;

static_assert(std::is_same<std::underlying_type<linkType>::type, uint32_t>::value,
              "a linkType holds every 32-bit type a peer may announce");

// A linkSpec a peer announced with a type outside the known ones.
linkSpec announcedWithType(uint32_t type) {
    linkSpec spec = discoverytest::sharedLinkSpec(0x55, "127.0.0.1", 40000);
    memcpy(&spec.type, &type, sizeof type);
    return spec;
}

TEST(ReceivedLinkTypeTest, UnknownTypesAreNoNetworkClientKinds) {
    for (uint32_t type : {8u, 9u, 0x80000000u, 0xFFFFFFFFu}) {
        EXPECT_FALSE(isVEXNET(static_cast<linkType>(type))) << type;
    }
}

TEST(ReceivedLinkTypeTest, ConnectingToAnUnknownTypeIsRefused) {
    for (uint32_t type : {8u, 9u, 0xFFFFFFFFu}) {
        Module module(0, 0);
        VexnetConfig config;
        config.enabled = false;
        config.fallback = false;
        ASSERT_EQ(module.setConfig(config), qErrNone);
        EXPECT_EQ(module.connectFromSpec(announcedWithType(type)), qErrMode) << type;
        EXPECT_FALSE(module.isConnected());
    }
}

}  // namespace
