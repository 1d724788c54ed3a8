// Inputs the fuzz targets found faults with, kept as they were found (the
// byte strings below), each with the behaviour the reader must show for it.

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "support/ContainerFixtures.h"
#include "container/UDataXStorage.h"
#include "platform/KwdError.h"

using kwd::container::kTagMatrix;
using kwd::container::TArray2DFloat;
using kwd::container::TBitmap;
using kwd::container::TDataXData;
using kwd::container::TDataXStorage;

using kwd::test::ScratchFolder;

namespace {

const std::string kHead =
    "<ZAKO-RIN_Datafile>\r\n<Header>\r\n<filetype>X</filetype>\r\n</Header>\r\n  <E>\r\n";

}  // namespace

class ContainerFuzzRegressions : public ScratchFolder {
protected:
    // Loads the bytes and collects element "E".
    void load(const std::string& bytes) {
        ASSERT_EQ(r.InitXFileReader(writeBytes("f.xml", bytes)), 1);
        ASSERT_EQ(r.Collectelements("E"), 1);
    }
    TDataXStorage r;
};

TEST_F(ContainerFuzzRegressions, MatrixWithTheLowestLineCountIsPassedOver) {
    // dataJ of -2^31: the step onto the block's last line overflowed.
    load(kHead +
         "     <m type=\"matrix-data\" dataI=\"1\" dataJ=\"-2147483648\">\r\n1\r\n     </m>\r\n"
         "     <after> 5 </after>\r\n  </E>\r\n</ZAKO-RIN_Datafile>\r\n");
    EXPECT_EQ(r.GetTagValueAsInt(0, "after", 0), 5);
    const TDataXData& m = r.Elements()[0].Tags[0];
    EXPECT_EQ(m.Tag, "m");
    EXPECT_EQ(m.TagType, kTagMatrix);
    EXPECT_EQ(m.dimJ, INT32_MIN);
    EXPECT_EQ(m.DataStartStreamPos, 6);
    EXPECT_EQ(m.DataEndStreamPos, 6);  // the position did not move
    TArray2DFloat values(2, 2, 9.0f);
    EXPECT_EQ(r.GetTagValueAsFloatMatrix(0, "m", 1.0f, values), 0);
    EXPECT_EQ(values.sizeI(), 1);
    EXPECT_EQ(values.sizeJ(), 0);
}

TEST_F(ContainerFuzzRegressions, RunLengthRowOfAWideBitmapIsNotExpandedAsText) {
    // One run of 10^8 pixels for a row of 2^26: the row was expanded into
    // 400 MB of text (beyond the fuzzer's allocation limit) and then read
    // code by code (beyond its time limit).
    load(kHead +
         "     <b type=\"bitmap\" width=\"67108864\" height=\"1\" rle_compression=\"1\">\r\n"
         " 99999999 FFFFFF\r\n     </b>\r\n  </E>\r\n</ZAKO-RIN_Datafile>\r\n");
    TBitmap bitmap;
    ASSERT_EQ(r.GetTagValueAsBitmap(0, "b", bitmap), 0);
    EXPECT_EQ(bitmap.Width(), 67108864);
    EXPECT_EQ(bitmap.Height(), 1);
    EXPECT_EQ(bitmap.Pixel(0, 0), 0xFFFFFFu);
    EXPECT_EQ(bitmap.Pixel(67108863, 0), 0xFFFFFFu);
}

TEST_F(ContainerFuzzRegressions, RunLengthRowsReadAsTheirExpandedText) {
    // Each row read with run lengths gives the pixels its RleDecodeLine text
    // gives without them, whatever the codes' lengths.
    const std::vector<std::string> rows = {
        " 2 0000FF 1 00FF00",        // whole codes
        " 2 ABC",                    // codes of half a pixel
        " 1 FF 1 0000 3 A",          // codes across pixels, a short last one
        " 9 123456",                 // more than the row holds
        " 0 FFFFFF 1 1 1 ABCDEF0",   // a run of none; a code beyond the row
        " 1 00FF00 2 7",             // a pixel begun and not finished
        " x 00FF00 -3 FFFFFF",       // counts that read as 0 or below
    };
    for (const std::string& row : rows) {
        const std::string expanded = TDataXStorage::RleDecodeLine(row, 4 * 6);
        load(kHead + "     <rle type=\"bitmap\" width=\"4\" height=\"1\" rle_compression=\"1\">\r\n" +
             row + "\r\n     </rle>\r\n     <plain type=\"bitmap\" width=\"4\" height=\"1\" " +
             "rle_compression=\"0\">\r\n" + expanded + "\r\n     </plain>\r\n  </E>\r\n" +
             "</ZAKO-RIN_Datafile>\r\n");
        TBitmap rle, plain;
        ASSERT_EQ(r.GetTagValueAsBitmap(0, "rle", rle), 0) << row;
        ASSERT_EQ(r.GetTagValueAsBitmap(0, "plain", plain), 0) << row;
        EXPECT_EQ(rle, plain) << row << " -> " << expanded;
    }
    // A pixel that is not hexadecimal is named as the expanded text holds it.
    load(kHead + "     <rle type=\"bitmap\" width=\"4\" height=\"1\" rle_compression=\"1\">\r\n" +
         " 1 0000FF 1 12 2 GG\r\n     </rle>\r\n  </E>\r\n</ZAKO-RIN_Datafile>\r\n");
    TBitmap bitmap;
    try {
        r.GetTagValueAsBitmap(0, "rle", bitmap);
        FAIL() << "no error";
    } catch (const kwd::ConversionError& e) {
        EXPECT_EQ(std::string(e.what()), "Pixel code \"12GGGG\" of bitmap tag \"rle\" in file " +
                                             path("f.xml") + " is not a hexadecimal number");
    }
    EXPECT_EQ(bitmap.Pixel(0, 0), 0xFFu);  // the pixels before it are set
}
