#include "crash-reporting/reporter/VXCrashAsyncFile.h"
#include "crash-reporting/reporter/VXCrashAsyncList.h"
#include "crash-reporting/reporter/VXCrashAsyncMObject.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace {

// Two pages of real memory whose second page cannot be read. It stays
// reserved (PROT_NONE) so no later mapping of the test can land in it.
class HalfMappedPages {
public:
    HalfMappedPages()
    {
        page = vxcrash_async_page_size();
        base = static_cast<uint8_t*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        mprotect(base + page, page, PROT_NONE);
        std::memset(base, 'a', page);
    }
    ~HalfMappedPages() { munmap(base, 2 * page); }
    uint64_t address(size_t offset = 0) const { return uint64_t(uintptr_t(base + offset)); }

    size_t page;
    uint8_t* base;
};

} // namespace

TEST(VXCrashAsyncMemory, StatusTextsCoverEveryCodeAndNothingElse)
{
    EXPECT_STREQ(vxcrash_async_strerror(VXCRASH_STATUS_OK), "No error");
    EXPECT_STREQ(vxcrash_async_strerror(VXCRASH_STATUS_INVALID_DATA),
                 "The input data is in an unknown or invalid format.");
    EXPECT_STREQ(vxcrash_async_strerror(VXCRASH_STATUS_NOT_FOUND), "Not found");
    EXPECT_STREQ(vxcrash_async_strerror(10), "Unhandled error code");
    EXPECT_STREQ(vxcrash_async_strerror(-1), "Unhandled error code");
}

TEST(VXCrashAsyncMemory, TaskReadsOwnMemoryAndAnswersErrorsForBadAddresses)
{
    HalfMappedPages pages;
    vxcrash_task_t self = vxcrash_async_task_self();
    const uint64_t value = 0x1122334455667788ULL;
    uint64_t out = 0;
    ASSERT_EQ(vxcrash_async_task_read_uint64(self, vxcrash_async_byteorder_little_endian(), uint64_t(uintptr_t(&value)),
                                             0, &out),
              VXCRASH_STATUS_OK);
    EXPECT_EQ(out, value);
    ASSERT_EQ(vxcrash_async_task_read_uint64(self, vxcrash_async_byteorder_big_endian(), uint64_t(uintptr_t(&value)),
                                             0, &out),
              VXCRASH_STATUS_OK);
    EXPECT_EQ(out, 0x8877665544332211ULL);

    // The unmapped page, and a read that starts mapped and runs into it.
    uint8_t buffer[16];
    EXPECT_EQ(vxcrash_async_task_memcpy(self, pages.address(pages.page), 0, buffer, 1), VXCRASH_STATUS_NOT_FOUND);
    EXPECT_EQ(vxcrash_async_task_memcpy(self, pages.address(pages.page - 8), 0, buffer, 16), VXCRASH_STATUS_NOT_FOUND);
    EXPECT_EQ(vxcrash_async_task_memcpy(self, 0, 0, buffer, 8), VXCRASH_STATUS_NOT_FOUND);
    void* gone = mmap(nullptr, pages.page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    munmap(gone, pages.page);
    EXPECT_EQ(vxcrash_async_task_memcpy(self, uint64_t(uintptr_t(gone)), 0, buffer, 8), VXCRASH_STATUS_NOT_FOUND);
    // Address arithmetic that wraps never reaches the kernel.
    EXPECT_EQ(vxcrash_async_task_memcpy(self, UINT64_MAX - 2, 8, buffer, 1), VXCRASH_STATUS_NO_MEMORY);
    EXPECT_EQ(vxcrash_async_task_memcpy(self, 4, -8, buffer, 1), VXCRASH_STATUS_NO_MEMORY);
}

TEST(VXCrashAsyncMemory, FakeTaskReadsOnlyItsRegions)
{
    const uint8_t first[] = {1, 2, 3, 4};
    const uint8_t second[] = {5, 6};
    const vxcrash_task_region regions[] = {{0x1000, first, 4}, {0x1004, second, 2}};
    const vxcrash_task task = {0, regions, 2};
    uint8_t out[6] = {};
    ASSERT_EQ(vxcrash_async_task_memcpy(&task, 0x1000, 0, out, 6), VXCRASH_STATUS_OK);
    EXPECT_EQ(out[5], 6);
    EXPECT_EQ(vxcrash_async_task_memcpy(&task, 0x1002, 0, out, 5), VXCRASH_STATUS_NOT_FOUND);
    EXPECT_EQ(vxcrash_async_task_memcpy(&task, 0x0FFF, 0, out, 1), VXCRASH_STATUS_NOT_FOUND);
}

TEST(VXCrashAsyncMemory, MemoryObjectStopsAtUnmappedPageUnlessFullRangeIsRequired)
{
    HalfMappedPages pages;
    vxcrash_async_mobject mobj;
    ASSERT_EQ(vxcrash_async_mobject_init(&mobj, vxcrash_async_task_self(), pages.address(16), 2 * pages.page, false),
              VXCRASH_STATUS_OK);
    EXPECT_EQ(vxcrash_async_mobject_length(&mobj), pages.page - 16);
    EXPECT_EQ(vxcrash_async_mobject_base_address(&mobj), pages.address(16));
    // A local copy: changing the original afterwards does not show through.
    pages.base[20] = 'z';
    const auto* p = static_cast<const uint8_t*>(vxcrash_async_mobject_remap_address(&mobj, pages.address(16), 4, 1));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(*p, 'a');
    EXPECT_EQ(vxcrash_async_mobject_remap_address(&mobj, pages.address(16), int64_t(pages.page - 16), 1), nullptr);
    EXPECT_EQ(vxcrash_async_mobject_remap_address(&mobj, pages.address(0), 0, 1), nullptr);
    EXPECT_EQ(vxcrash_async_mobject_remap_address(&mobj, pages.address(16), INT64_MAX, 1), nullptr);
    uint32_t word;
    EXPECT_EQ(vxcrash_async_mobject_read_uint32(&mobj, vxcrash_async_byteorder_little_endian(),
                                                pages.address(pages.page - 2), 0, &word),
              VXCRASH_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(vxcrash_async_mobject_read_uint32(&mobj, vxcrash_async_byteorder_little_endian(), pages.address(16), 0,
                                                &word),
              VXCRASH_STATUS_OK);
    EXPECT_EQ(word, 0x61616161u);
    vxcrash_async_mobject_free(&mobj);

    EXPECT_EQ(vxcrash_async_mobject_init(&mobj, vxcrash_async_task_self(), pages.address(16), 2 * pages.page, true),
              VXCRASH_STATUS_NO_MEMORY);
    EXPECT_EQ(vxcrash_async_mobject_init(&mobj, vxcrash_async_task_self(), pages.address(pages.page), 8, false),
              VXCRASH_STATUS_NO_MEMORY);
}

TEST(VXCrashAsyncMemory, StringAndMemoryRoutinesMatchTheStandardOnes)
{
    struct Case {
        const char* a;
        const char* b;
        size_t n;
    };
    const Case cases[] = {{"abc", "abc", 3}, {"abc", "abd", 3}, {"ab", "abc", 3}, {"\xff", "a", 1},
                          {"abcx", "abcy", 3}, {"a\0x", "a\0y", 3}, {"", "", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.a);
        auto sign = [](int v) { return (v > 0) - (v < 0); };
        EXPECT_EQ(sign(vxcrash_async_strcmp(c.a, c.b)), sign(std::strcmp(c.a, c.b)));
        EXPECT_EQ(sign(vxcrash_async_strncmp(c.a, c.b, c.n)), sign(std::strncmp(c.a, c.b, c.n)));
    }
    uint8_t bytes[4] = {1, 2, 3, 4};
    vxcrash_async_memset(bytes, 9, 0);
    EXPECT_EQ(bytes[0], 1);
    vxcrash_async_memset(bytes + 1, 9, 2);
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 4), (std::vector<uint8_t>{1, 9, 9, 4}));

    uint64_t sum;
    EXPECT_FALSE(vxcrash_async_address_apply_offset(UINT64_MAX, 1, &sum));
    EXPECT_FALSE(vxcrash_async_address_apply_offset(3, -4, &sum));
    EXPECT_FALSE(vxcrash_async_address_apply_offset(0, INT64_MIN, &sum));
    ASSERT_TRUE(vxcrash_async_address_apply_offset(UINT64_MAX, INT64_MIN, &sum));
    EXPECT_EQ(sum, UINT64_MAX - (uint64_t(1) << 63));
}

namespace {

// A pipe that reads back what reached the descriptor so far.
struct Pipe {
    Pipe()
    {
        EXPECT_EQ(pipe2(fds, O_NONBLOCK), 0);
        fcntl(fds[1], F_SETPIPE_SZ, 1 << 16);
    }
    ~Pipe()
    {
        close(fds[0]);
        if (fds[1] >= 0)
            close(fds[1]);
    }
    size_t drain()
    {
        char buffer[4096];
        size_t total = 0;
        ssize_t n;
        while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
            total += size_t(n);
        return total;
    }
    int fds[2] = {-1, -1};
};

} // namespace

TEST(VXCrashAsyncFile, BuffersSmallWritesAndPassesLargeOnesThrough)
{
    Pipe p;
    vxcrash_async_file file;
    vxcrash_async_file_init(&file, p.fds[1], 0);
    std::vector<uint8_t> data(300, 'x');
    ASSERT_TRUE(vxcrash_async_file_write(&file, data.data(), 300));
    EXPECT_EQ(p.drain(), 300u);
    EXPECT_EQ(file.buflen, 0u);

    ASSERT_TRUE(vxcrash_async_file_write(&file, data.data(), 100));
    EXPECT_EQ(p.drain(), 0u);
    ASSERT_TRUE(vxcrash_async_file_write(&file, data.data(), 200));
    EXPECT_EQ(p.drain(), 100u); // the buffered 100 went out first
    EXPECT_EQ(file.buflen, 200u);
    ASSERT_TRUE(vxcrash_async_file_close(&file));
    p.fds[1] = -1;
    EXPECT_EQ(p.drain(), 200u);
}

TEST(VXCrashAsyncFile, LimitAcceptsExactlyTheRemainingBytes)
{
    Pipe p;
    vxcrash_async_file file;
    vxcrash_async_file_init(&file, p.fds[1], 10);
    const char data[] = "0123456789ab";
    ASSERT_TRUE(vxcrash_async_file_write(&file, data, 6));
    EXPECT_FALSE(vxcrash_async_file_write(&file, data, 5));
    ASSERT_TRUE(vxcrash_async_file_write(&file, data, 4));
    EXPECT_FALSE(vxcrash_async_file_write(&file, data, 1));
    ASSERT_TRUE(vxcrash_async_file_flush(&file));
    EXPECT_EQ(p.drain(), 10u);
}

TEST(VXCrashAsyncFile, WriteToAClosedDescriptorFails)
{
    Pipe p;
    close(p.fds[0]);
    p.fds[0] = open("/dev/null", O_RDONLY);
    const int fd = p.fds[1];
    close(fd);
    p.fds[1] = -1;
    vxcrash_async_file file;
    vxcrash_async_file_init(&file, fd, 0);
    EXPECT_TRUE(vxcrash_async_file_write(&file, "abc", 3));
    EXPECT_FALSE(vxcrash_async_file_flush(&file));
    EXPECT_LT(vxcrash_async_writen(fd, "abc", 3), 0);
}

TEST(VXCrashAsyncList, ReaderStandingOnARemovedNodeCanStillMoveOn)
{
    async_list<int> list;
    for (int v : {1, 2, 3})
        list.nasync_append(v);
    list.set_reading(true);
    auto* second = async_list<int>::next(list.head());
    ASSERT_EQ(second->value, 2);
    list.nasync_remove(2);
    list.nasync_remove(42); // not there: nothing changes
    // The unlinked node stays allocated while a reader is active.
    EXPECT_EQ(second->value, 2);
    (void)async_list<int>::next(second);
    list.set_reading(false);

    std::vector<int> seen;
    for (auto* n = list.head(); n; n = async_list<int>::next(n))
        seen.push_back(n->value);
    EXPECT_EQ(seen, (std::vector<int>{1, 3}));

    // The node on the free list is reused, and the tail is right again.
    list.nasync_append(4);
    list.nasync_remove(3);
    list.nasync_append(5);
    seen.clear();
    for (auto* n = list.head(); n; n = async_list<int>::next(n))
        seen.push_back(n->value);
    EXPECT_EQ(seen, (std::vector<int>{1, 4, 5}));
}
