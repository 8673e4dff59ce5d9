// The publisher and mosquitto in a network namespace of the test's own: the broker's address
// taken away until the publisher's backoff has grown, then given back. The reading that
// follows must come from the network's return, not from the backoff.
#include <gtest/gtest.h>

#include <cstdio>

#include "services/mqtt/tests/NetnsRig.h"

namespace {

TEST(NetworkReturn, ThePublisherDeliversOnceTheNetworkIsBackNotWhenItsBackoffEnds) {
    const rig::NetworkReturn back = rig::measureNetworkReturn(MQTT_PUBLISHER);
    if (!back.skipped.empty()) {
        GTEST_SKIP() << back.skipped;
    }
    ASSERT_EQ(back.failed, "");
    std::printf("network back -> first delivery: %.2f s (the backoff's attempt was %.2f s away)\n",
                back.seconds, back.backoffSeconds);
    EXPECT_TRUE(back.toldFirst) << "no line of the network's return before the reading";
    EXPECT_LT(back.seconds, back.backoffSeconds)
        << "the reading came with the backoff's attempt of " << back.backoff.count() << " ms";
}

}  // namespace
