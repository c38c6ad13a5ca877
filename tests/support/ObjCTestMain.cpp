// The main of every test program that uses Foundation: each test runs inside an
// autorelease pool of its own, as a task of the main queue would.
#include "runtime/ObjC.h"

#include <gtest/gtest.h>

namespace {

class AutoreleasePoolPerTest : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override { m_pool = new ObjC::AutoreleasePool; }
    void OnTestEnd(const testing::TestInfo&) override
    {
        delete m_pool;
        m_pool = nullptr;
    }
    ObjC::AutoreleasePool* m_pool { nullptr };
};

} // namespace

int main(int argc, char** argv)
{
    ObjC::AutoreleasePool pool;
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new AutoreleasePoolPerTest);
    return RUN_ALL_TESTS();
}
