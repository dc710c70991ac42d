#include "knit/knit_codes.h"

#include <gtest/gtest.h>

#include <string>

namespace knit
{
namespace
{

TEST(KnitCodes, namesFollowTheFixedTable)
{
    EXPECT_EQ(std::string(knitCodeName(kOk)), "OK");
    EXPECT_EQ(std::string(knitCodeName(kSectionNotFound)), "Required file section is not found");
    EXPECT_EQ(std::string(knitCodeName(kOkLastItem)), "OK(last item)");
    EXPECT_EQ(std::string(knitCodeName(13)), "Unknown code");
    EXPECT_EQ(std::string(knitCodeName(-1)), "Unknown code");
}

} // namespace
} // namespace knit
