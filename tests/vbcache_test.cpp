// The job-context cache: registration, thread binding and the lookups that
// script-side calls make.
#include <gtest/gtest.h>

#include <thread>

#include "standin.h"
#include "vbcache.h"

namespace {

struct CacheTest : ::testing::Test {
    vbcache* cache = vbcache::acquire();
    ImpJob* jobA = standin_newJob(1, nullptr);
    ImpJob* jobB = standin_newJob(2, nullptr);
    ImpJob* jobC = standin_newJob(3, nullptr);
    ~CacheTest() override {
        standin_deleteJob(jobA);
        standin_deleteJob(jobB);
        standin_deleteJob(jobC);
    }
    static ImpJob* jobOnThisThread(vbcache* c) {
        ImpJob* job = nullptr;
        unsigned long pwd = 0;
        return c->jobRefForThread(&job, &pwd) ? job : nullptr;
    }
};

TEST_F(CacheTest, AddFindRemoveKeepCountAndForgetStaleEntries) {
    int before = cache->count();
    cacheEntry* a = cache->add(1, L"alpha", jobA, nullptr);
    cacheEntry* b = cache->add(2, L"beta", jobB, nullptr);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(cache->count(), before + 2);
    EXPECT_EQ(cache->find(a), a);
    cache->remove(a);
    EXPECT_EQ(cache->find(a), nullptr);
    EXPECT_EQ(cache->attach(a, 5), 0);
    EXPECT_EQ(cache->detach(a), 0);
    EXPECT_EQ(cache->abortFlag(a), 0);
    cache->remove(a);                                   // already gone: no effect
    EXPECT_EQ(cache->count(), before + 1);
    auto* invented = reinterpret_cast<cacheEntry*>(0x12345678);
    EXPECT_EQ(cache->find(invented), nullptr);
    cache->markCompiled(invented);
    cache->remove(invented);
    EXPECT_EQ(cache->find(b), b);
    cache->remove(b);
    EXPECT_EQ(cache->count(), before);
}

TEST_F(CacheTest, AbsentOrEmptyNamesBecomeQuestionMark) {
    cacheEntry* none = cache->add(1, nullptr, jobA, nullptr);
    cacheEntry* empty = cache->add(2, L"", jobB, nullptr);
    cacheEntry* named = cache->add(3, L"disk check", jobB, nullptr);
    EXPECT_EQ(cache->jobName(none), L"?");
    EXPECT_EQ(cache->jobName(empty), L"?");
    EXPECT_EQ(cache->jobName(named), L"disk check");
    for (cacheEntry* e : {none, empty, named}) cache->remove(e);
    EXPECT_EQ(cache->jobName(named), L"?");
}

TEST_F(CacheTest, LookupsByThreadFindTheNewestEntryBoundToTheCaller) {
    cacheEntry* a = cache->add(1, L"a", jobA, nullptr);
    cacheEntry* b = cache->add(2, L"b", jobB, nullptr);
    // Both registered here, neither run: the newer one answers.
    EXPECT_EQ(jobOnThisThread(cache), jobB);

    // A runs on another thread: there it is found with its pwdobj.
    std::thread([&] {
        ASSERT_EQ(cache->attach(a, 1001), 1);
        ImpJob* job = nullptr;
        unsigned long pwd = 0;
        EXPECT_EQ(cache->jobRefForThread(&job, &pwd), 1);
        EXPECT_EQ(job, jobA);
        EXPECT_EQ(pwd, 1001u);
        EXPECT_EQ(cache->jobRefForThread(nullptr, &pwd), 1);
        EXPECT_EQ(cache->jobRefForThread(nullptr, nullptr), 0);
        cache->markAbortForThread();
        EXPECT_EQ(cache->abortFlag(a), 1);
        ASSERT_EQ(cache->detach(a), 1);
        EXPECT_EQ(cache->jobRefForThread(&job, &pwd), 0);
        EXPECT_EQ(job, nullptr);
        EXPECT_EQ(pwd, 0u);
    }).join();

    // A new run starts unaborted.
    std::thread([&] {
        cache->attach(a, 1002);
        EXPECT_EQ(cache->abortFlag(a), 0);
        cache->detach(a);
    }).join();

    EXPECT_EQ(jobOnThisThread(cache), jobB);
    // Attached here, the older job answers before the newer one that was
    // only registered here.
    cache->attach(a, 1003);
    EXPECT_EQ(jobOnThisThread(cache), jobA);
    // A job registered during that run (from inside one of its calls) does
    // not take the run's lookups either; it answers once the run is over.
    cacheEntry* c = cache->add(3, L"c", jobC, nullptr);
    EXPECT_EQ(jobOnThisThread(cache), jobA);
    cache->detach(a);
    EXPECT_EQ(jobOnThisThread(cache), jobC);
    cache->remove(c);
    EXPECT_EQ(jobOnThisThread(cache), jobB);
    cache->remove(b);
    EXPECT_EQ(jobOnThisThread(cache), nullptr);        // a was detached: thread 0
    cache->remove(a);
}

TEST_F(CacheTest, CompiledFlagIsPerEntryAndNeverCleared) {
    cacheEntry* a = cache->add(1, L"a", jobA, nullptr);
    EXPECT_EQ(cache->compiledForThread(), 0);
    cache->markCompiled(a);
    EXPECT_EQ(cache->compiledForThread(), 1);
    cache->attach(a, 7);
    cache->detach(a);
    cache->attach(a, 8);
    EXPECT_EQ(cache->compiledForThread(), 1);
    cache->detach(a);
    EXPECT_EQ(cache->compiledForThread(), 0);           // no entry bound here any more
    cache->remove(a);
}

}  // namespace
