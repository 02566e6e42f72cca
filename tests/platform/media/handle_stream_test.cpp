#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "media_test_support.h"
#include "platform/media/handle_stream.h"

namespace kiv::media {
namespace {

// A sparse file of 5 GiB with a marker 4.5 GiB in: positions and sizes past
// 32 bits must come through whole.
TEST(MediaHandleStream, SeeksAndSizesPastFourGigabytes) {
    test::TempDir dir;
    std::string path = dir.File("big.bin");
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    const QWORD size = 5ull << 30, marker = (9ull << 30) / 2;
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
        ::close(fd);
        GTEST_SKIP() << "the temporary folder cannot hold a sparse 5 GiB file";
    }
    ASSERT_EQ(::pwrite(fd, "MARK", 4, static_cast<off_t>(marker)), 4);

    HandleStream s(fd);
    QWORD pos = 0, total = 0;
    ASSERT_EQ(s.Stat(&total), S_OK);
    EXPECT_EQ(total, size);
    ASSERT_EQ(s.Seek(static_cast<LONGLONG>(marker), STREAM_SEEK_SET, &pos), S_OK);
    EXPECT_EQ(pos, marker);
    char buf[4] = {};
    ULONG got = 0;
    ASSERT_EQ(s.Read(buf, 4, &got), S_OK);
    ASSERT_EQ(got, 4u);
    EXPECT_EQ(std::string(buf, 4), "MARK");
    ASSERT_EQ(s.Seek(-4, STREAM_SEEK_CUR, &pos), S_OK);
    EXPECT_EQ(pos, marker);
    ASSERT_EQ(s.Seek(-1, STREAM_SEEK_END, &pos), S_OK);
    EXPECT_EQ(pos, size - 1);
    ASSERT_EQ(s.Read(buf, 4, &got), S_OK);
    EXPECT_EQ(got, 1u);
    ASSERT_EQ(s.Read(buf, 4, &got), S_OK);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(s.Seek(0, 3, &pos), E_INVALIDARG);
    EXPECT_EQ(s.Seek(-1, STREAM_SEEK_SET, &pos), HRESULT_FROM_WIN32(EINVAL));
    ::close(fd);
}

}  // namespace
}  // namespace kiv::media
