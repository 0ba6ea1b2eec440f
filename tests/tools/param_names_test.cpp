// orvocam's parameter names: numbers and names both reach the same id, and a
// name that is not one gets the nearest names.
#include <gtest/gtest.h>

#include "tools/orvocam/param_names.h"

namespace orvocam {
namespace {

TEST(ParamNames, NumbersAndNamesReachTheSameId) {
    int id = -1;
    std::string error;
    ASSERT_TRUE(ResolveParam("17", &id, &error));
    EXPECT_EQ(id, 17);
    ASSERT_TRUE(ResolveParam("0x11", &id, &error));
    EXPECT_EQ(id, 17);
    ASSERT_TRUE(ResolveParam("frame_rate", &id, &error));
    EXPECT_EQ(id, 17);
    ASSERT_TRUE(ResolveParam("Frame-Rate", &id, &error));
    EXPECT_EQ(id, 17);
    ASSERT_TRUE(ResolveParam("exposure", &id, &error));
    EXPECT_EQ(id, 0);
    ASSERT_TRUE(ResolveParam("42", &id, &error)) << "ids without a name still go by number";
    EXPECT_EQ(id, 42);
    EXPECT_EQ(ParamLabel(0), "exposure");
    EXPECT_EQ(ParamUnit(0), " us");
    EXPECT_EQ(ParamLabel(42), "parameter 42");
    EXPECT_EQ(ParamUnit(42), "");
    EXPECT_EQ(ParamUnit(16), " Hz");
}

TEST(ParamNames, UnknownNamesListTheNearest) {
    int id = -7;
    std::string error;
    EXPECT_FALSE(ResolveParam("exposur", &id, &error));
    EXPECT_EQ(id, -7);
    EXPECT_NE(error.find("nearest: exposure"), std::string::npos) << error;
    EXPECT_FALSE(ResolveParam("gain", &id, &error));
    EXPECT_NE(error.find("red_gain"), std::string::npos) << error;
    for (const char* bad : {"", "-1", "17x", "1000", "0x"}) {
        EXPECT_FALSE(ResolveParam(bad, &id, &error)) << bad;
        EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(NearestParamNames("mains", 1).front(), "mains_frequency");
    EXPECT_EQ(NearestParamNames("fram_rat", 1).front(), "frame_rate");
}

}  // namespace
}  // namespace orvocam
