#include <gtest/gtest.h>

#include "des_crypt/des_crypt.h"

TEST(DesCrypt, AlwaysThirteenBytes) { EXPECT_EQ(DesCrypt("", "").size(), 13u); }
