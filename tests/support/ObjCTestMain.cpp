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

// In a sanitizer build, the leak checker overlooks the Objective-C runtime's one-time
// allocations, kept where it cannot see them, the one object Foundation's log keeps, and
// fontconfig's caches, which the text layout library fills and never frees (as
// scripts/lsan-suppressions says). Compiled in, so that listing the tests (which the build
// does) needs no options. Leaks of our own code still fail the run.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libobjc.so.4\nleak:NSLogv\nleak:libfontconfig.so\n";
}
// The runtime's allocations are told apart by a frame of it anywhere in their stack, which only
// the slow unwinder finds through code built without frame pointers.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }

int main(int argc, char** argv)
{
    ObjC::AutoreleasePool pool;
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new AutoreleasePoolPerTest);
    return RUN_ALL_TESTS();
}
