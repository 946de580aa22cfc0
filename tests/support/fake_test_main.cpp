// Every unit test starts on a fresh fake system.
#include <gtest/gtest.h>

#include "fake_platform.h"

namespace {

class ResetFakeSystem : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override { qn::fake::reset(); }
};

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new ResetFakeSystem);
    return RUN_ALL_TESTS();
}
