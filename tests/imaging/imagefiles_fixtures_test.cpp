// Hostile files kept in tests/data: each declares far more than it holds and must be refused
// before memory is taken, or, for a frame placed far outside its screen, drawn clipped.
#include <gtest/gtest.h>

#include "imaging/imagefiles.h"
#include "imaging/imaging_support.h"

using namespace parvula::imaging;
using namespace parvula::imaging::test;

TEST(Fixtures, HostileFilesAreRefusedWithAClearMessage)
{
    struct Case {
        const char* file;
        const char* message;
    };
    const std::vector<Case> cases = {
        { "pal8_height_2147483647.bmp", "65535" },
        { "rle4_data_short_of_2554x18803.bmp", "BMP" },
        { "interlaced_frame_6727x65351_no_data.gif", "128 Megapixel" },
        { "dib_65535x32767_in_198_bytes.ico", "128 Megapixel" },
        { "grey_65500x65500_in_200_bytes.jpg", "128 Megapixel" },
        { "rgb2_width_4294967295_truncated.png", "PNG" },
        { "text_chunk_length_beyond_file.png", "PNG" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        TPicture picture;
        try {
            LoadFromFile(picture, TestDataDir() / c.file);
            ConvertPictureToBitmap(picture);
            ADD_FAILURE() << "decoded";
        } catch (const EImageError& error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
        }
        EXPECT_TRUE(picture.Empty());
    }
}

TEST(Fixtures, FrameFarOutsideTheScreenIsClippedNotGrown)
{
    TPicture picture = Load(TestDataDir() / "frame_far_outside_screen.gif");
    EXPECT_EQ(picture.Width(), 100);
    EXPECT_EQ(picture.Height(), 100);
    ConvertPictureToBitmap(picture);
    ASSERT_NE(picture.Bitmap(), nullptr);
    EXPECT_EQ(picture.Bitmap()->Width(), 100);
}
