// Two scratch images freed after each test, which fails when registry blocks were left behind.
#pragma once

#include <gtest/gtest.h>

#include "base/Basic.h"
#include "base/Mon.h"
#include "image/ImgBasic.h"

class ImagePairTest : public ::testing::Test {
protected:
    Image a, b;
    int memMark = 0;
    void SetUp() override
    {
        MonClearError();
        memMark = MemCount();
    }
    void TearDown() override
    {
        ImgFree(a);
        ImgFree(b);
        EXPECT_EQ(MemCount(), memMark) << "blocks leaked";
    }
};
