// Array tags: dense and sparse matrices, bitmaps and binary data, as written
// to a file and read back.

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "support/ContainerFixtures.h"
#include "container/UDataXStorage.h"
#include "platform/FileIO.h"
#include "platform/KwdError.h"

using kwd::container::TArray2DBool;
using kwd::container::TArray2DFloat;
using kwd::container::TArray2DInt;
using kwd::container::TArray2DString;
using kwd::container::TArray3DFloat;
using kwd::container::TArray3DInt;
using kwd::container::TArray3DString;
using kwd::container::TBitmap;
using kwd::container::TDataXInfo;
using kwd::container::TDataXStorage;
using kwd::container::TDataXTextEncoding;

using kwd::test::ScratchFolder;
using Lines = std::vector<std::string>;

namespace {

// Header (lines 0..7), the given element lines from line 8, closing line.
Lines fileWith(const Lines& elements) {
    Lines all = {"<ZAKO-RIN_Datafile>",       "<Header>",
                 "<filetype>ZDX</filetype>",  "<version>1</version>",
                 "<revisiondate>x</revisiondate>", "<remark></remark>",
                 "<encryptionlevel>0</encryptionlevel>", "</Header>"};
    all.insert(all.end(), elements.begin(), elements.end());
    all.push_back("</ZAKO-RIN_Datafile>");
    return all;
}

}  // namespace

class ContainerArrays : public ScratchFolder {
protected:
    // Writes element "E" with the tags `add` adds (plus a plain tag "after"),
    // loads the file into r, collects "E" and returns the lines between the
    // element's opening line and the "after" tag.
    Lines roundTrip(const std::function<void(TDataXStorage&)>& add) {
        const std::string file = path("a.zdx");
        {
            TDataXStorage w;
            TDataXInfo info;
            info.ContentInfo = "ZDX";
            w.SetDataXFileMetadata(info);
            EXPECT_EQ(w.InitXFileWriter(file), 1);
            w.InitNewElement("E");
            add(w);
            w.AddTagAsInt("after", 5);
            EXPECT_EQ(w.FinalizeElement(), 0);
            w.FinalizeXDataFile();
        }
        EXPECT_EQ(r.InitXFileReader(file), 1);
        EXPECT_EQ(r.Collectelements("E"), 1);
        EXPECT_EQ(r.GetTagValueAsInt(0, "after", 0), 5);  // the block ended where it should
        const Lines& all = r.DataXStream();
        EXPECT_GE(all.size(), 12u);
        return Lines(all.begin() + 9, all.end() - 3);
    }
    // Loads hand-written element lines and collects "E".
    void load(const Lines& elementLines) {
        ASSERT_EQ(r.InitXFileReader(writeLines("h.zdx", fileWith(elementLines))), 1);
        ASSERT_EQ(r.Collectelements("E"), 1);
    }
    TDataXStorage r;
};

// ---- dense matrices -------------------------------------------------------------

TEST_F(ContainerArrays, FloatMatrixRoundTripAtFourDecimals) {
    TArray2DFloat m(2, 3);
    m[0][0] = 1.23456f, m[1][0] = -2.0f;
    m[0][1] = 0.00004f, m[1][1] = 1234.5f;
    m[0][2] = -0.5f, m[1][2] = 3.14159f;
    const Lines body = roundTrip([&](TDataXStorage& w) {
        EXPECT_EQ(w.AddTagAsFloatMatrix("m", 2, 3, 4, m), 1);
    });
    EXPECT_EQ(body, (Lines{"     <m type=\"matrix-data\" dataI=\"2\" dataJ=\"3\" signcount=\"4\">",
                           "         1.2346,   -2.0000",
                           "         0.0000, 1234.5000",
                           "        -0.5000,    3.1416",
                           "     </m>"}));

    TArray2DFloat back(5, 5, 9.0f);  // resized to the tag's dimensions
    ASSERT_EQ(r.GetTagValueAsFloatMatrix(0, "m", -1.0f, back), 0);
    ASSERT_EQ(back.sizeI(), 2);
    ASSERT_EQ(back.sizeJ(), 3);
    const float expected[2][3] = {{1.2346f, 0.0f, -0.5f}, {-2.0f, 1234.5f, 3.1416f}};
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 3; ++j) EXPECT_FLOAT_EQ(back[i][j], expected[i][j]) << i << "," << j;

    // Missing tag, plain tag, element out of range: -1, default at the array's own size.
    for (const auto& [element, id] : {std::pair{0, "nope"}, std::pair{0, "after"}, std::pair{1, "m"}}) {
        TArray2DFloat other(2, 2, 9.0f);
        EXPECT_EQ(r.GetTagValueAsFloatMatrix(element, id, -1.0f, other), -1) << id;
        EXPECT_EQ(other.sizeI(), 2);
        EXPECT_EQ(other[1][1], -1.0f) << id;
    }
}

TEST_F(ContainerArrays, FloatMatrixShortLinesAndHugeDimensions) {
    load({"  <E>",
          "     <m type=\"matrix-data\" dataI=\"3\" dataJ=\"2\">",
          "     1.5",
          "     2.5,abc,4.5,99",
          "     </m>",
          "     <huge type=\"matrix-data\" dataI=\"100000\" dataJ=\"100000\">",
          "     1",
          "     </huge>",
          "  </E>"});
    TArray2DFloat m;
    ASSERT_EQ(r.GetTagValueAsFloatMatrix(0, "m", 7.0f, m), 0);
    ASSERT_EQ(m.sizeI(), 3);
    EXPECT_EQ(m[0][0], 1.5f);
    EXPECT_EQ(m[1][0], 7.0f);  // not on the line
    EXPECT_EQ(m[0][1], 2.5f);
    EXPECT_EQ(m[1][1], 0.0f);  // unreadable: what could be read
    EXPECT_EQ(m[2][1], 4.5f);

    TArray2DFloat huge(1, 1, 0.0f);
    EXPECT_EQ(r.GetTagValueAsFloatMatrix(0, "huge", 3.0f, huge), -1);
    EXPECT_EQ(huge.sizeI(), 1);
    EXPECT_EQ(huge[0][0], 3.0f);
}

TEST_F(ContainerArrays, IntMatrixIsWrittenWithTheLastJFirst) {
    TArray2DInt m(3, 2);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 2; ++j) m[i][j] = 10 * i + j - 5;
    const Lines body = roundTrip([&](TDataXStorage& w) {
        EXPECT_EQ(w.AddTagAsIntMatrix("m", 3, 2, 1, m), 1);
    });
    EXPECT_EQ(body, (Lines{"     <m type=\"matrix-data\" dataI=\"3\" dataJ=\"2\">",
                           "     -4,6,16", "     -5,5,15", "     </m>"}));

    TArray2DInt same(3, 2, 0);
    ASSERT_EQ(r.GetTagValueAsIntMatrix(0, "m", 0, same), 0);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 2; ++j) EXPECT_EQ(same[i][j], m[i][j]) << i << "," << j;

    // Not resized: only the cells inside the caller's array are written.
    TArray2DInt small(2, 1, 0);
    ASSERT_EQ(r.GetTagValueAsIntMatrix(0, "m", 0, small), 0);
    EXPECT_EQ(small[0][0], -5);
    EXPECT_EQ(small[1][0], 5);
    TArray2DInt large(4, 3, 0);
    ASSERT_EQ(r.GetTagValueAsIntMatrix(0, "m", 9, large), 0);
    EXPECT_EQ(large[2][1], 16);
    EXPECT_EQ(large[3][0], 9);
    EXPECT_EQ(large[0][2], 9);
}

TEST_F(ContainerArrays, MissingIntMatrixTagRaises) {
    load({"  <E>", "     <p> 1,2 </p>", "  </E>"});
    TArray2DInt m(2, 2, 1);
    try {
        r.GetTagValueAsIntMatrix(0, "grid", 4, m);
        FAIL() << "no error";
    } catch (const kwd::GeneralError& e) {
        EXPECT_STREQ(e.what(), "Exception: Cannot find or decode matrix tag \"grid\" ");
    }
    EXPECT_EQ(m[1][1], 4);  // already set to the default
    // A tag that is no matrix, and an element number out of range, give -1.
    EXPECT_EQ(r.GetTagValueAsIntMatrix(0, "p", 4, m), -1);
    EXPECT_EQ(r.GetTagValueAsIntMatrix(1, "grid", 4, m), -1);

    TArray2DBool b(2, 2, true);
    EXPECT_THROW(r.GetTagValueAsBoolMatrix(0, "grid", true, b), kwd::GeneralError);
    EXPECT_TRUE(b[0][0]);  // left as it was
    EXPECT_EQ(r.GetTagValueAsBoolMatrix(3, "grid", true, b), -1);
    EXPECT_FALSE(b[0][0]);  // the default has no effect
}

TEST_F(ContainerArrays, BoolMatrixIsAnIntegerMatrixOfOnesAndZeros) {
    TArray2DBool m(2, 2, false);
    m[0][0] = true;
    m[1][1] = true;
    const Lines body = roundTrip([&](TDataXStorage& w) {
        EXPECT_EQ(w.AddTagAsBoolMatrix("b", 2, 2, 1, m), 1);
        TArray2DInt twos(2, 1, 2);
        EXPECT_EQ(w.AddTagAsIntMatrix("twos", 2, 1, 1, twos), 2);
    });
    EXPECT_EQ(body[1], "     0,1");
    EXPECT_EQ(body[2], "     1,0");

    TArray2DBool back(3, 3, true);
    ASSERT_EQ(r.GetTagValueAsBoolMatrix(0, "b", true, back), 0);
    EXPECT_TRUE(back[0][0]);
    EXPECT_FALSE(back[1][0]);
    EXPECT_FALSE(back[0][1]);
    EXPECT_TRUE(back[1][1]);
    EXPECT_FALSE(back[2][2]);  // outside the tag: false whatever the default
    ASSERT_EQ(r.GetTagValueAsBoolMatrix(0, "twos", true, back), 0);
    EXPECT_FALSE(back[0][0]);  // 2 is not true
}

TEST_F(ContainerArrays, StringMatrixQuotesWhatNeedsIt) {
    TArray2DString m(3, 2);
    m[0][0] = "plain", m[1][0] = "a b", m[2][0] = "say \"hi\"";
    m[0][1] = "c,d", m[1][1] = "", m[2][1] = "x";
    TArray2DString single(1, 1);
    const Lines body = roundTrip([&](TDataXStorage& w) {
        EXPECT_EQ(w.AddTagAsStringMatrix("s", 3, 2, 5, m), 1);
        EXPECT_EQ(w.AddTagAsStringMatrix("one", 1, 1, 1, single), 2);
    });
    EXPECT_EQ(body, (Lines{"     <s type=\"matrix-data\" dataI=\"3\" dataJ=\"2\">",
                           "     \"c,d\",,x",
                           "     plain,\"a b\",\"say \"\"hi\"\"\"",
                           "     </s>",
                           "     <one type=\"matrix-data\" dataI=\"1\" dataJ=\"1\">",
                           "     \"\"",
                           "     </one>"}));

    TArray2DString back(4, 2, "");
    ASSERT_EQ(r.GetTagValueAsStringMatrix(0, "s", "?", back), 0);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 2; ++j) EXPECT_EQ(back[i][j], m[i][j]) << i << "," << j;
    EXPECT_EQ(back[3][0], "?");
    TArray2DString one(1, 1, "?");
    ASSERT_EQ(r.GetTagValueAsStringMatrix(0, "one", "?", one), 0);
    EXPECT_EQ(one[0][0], "");
    EXPECT_EQ(r.GetTagValueAsStringMatrix(0, "none", "?", one), -1);
    EXPECT_EQ(one[0][0], "?");
}

TEST_F(ContainerArrays, WritersRefuseBadArguments) {
    TDataXStorage w;
    TDataXInfo info;
    info.ContentInfo = "ZDX";
    w.SetDataXFileMetadata(info);
    ASSERT_EQ(w.InitXFileWriter(path("w.zdx")), 1);
    const TArray2DFloat f2(2, 2);
    const TArray2DInt i2(2, 2);
    const TArray2DBool b2(2, 2);
    const TArray2DString s2(2, 2);
    const TArray3DFloat f3(2, 2, 2);
    const TArray3DInt i3(2, 2, 2);
    const TArray3DString s3(2, 2, 2);
    const TBitmap bitmap(2, 2), empty(0, 3);
    const std::vector<std::function<int32_t()>> refused = {
        [&] { return w.AddTagAsFloatMatrix("t", 0, 2, 1, f2); },
        [&] { return w.AddTagAsFloatMatrix("t", 2, -1, 1, f2); },
        [&] { return w.AddTagAsFloatMatrix("t", 2, 2, 0, f2); },
        [&] { return w.AddTagAsFloatMatrix("t", 3, 2, 1, f2); },  // more than the array holds
        [&] { return w.AddTagAsIntMatrix("t", 2, 2, -3, i2); },
        [&] { return w.AddTagAsIntMatrix("t", 2, 3, 1, i2); },
        [&] { return w.AddTagAsBoolMatrix("t", 0, 2, 1, b2); },
        [&] { return w.AddTagAsStringMatrix("t", 2, 2, 0, s2); },
        [&] { return w.AddTagAsStringMatrix("t", 2, 2, 6, s2); },
        [&] { return w.AddTagAsSpareMatrix("t", 2, 2, 0, 0.0f, f3); },
        [&] { return w.AddTagAsSpareMatrix("t", 2, 2, 3, 0.0f, f3); },
        [&] { return w.AddTagAsSpareMatrix1S("t", -1, 2, 2, "", s3); },
        [&] { return w.AddTagAsSpareMatrix2F("t", 2, 0, 2, 0.0f, f3, f3); },
        [&] { return w.AddTagAsSpareMatrix2F("t", 2, 2, 2, 0.0f, f3, TArray3DFloat(2, 2, 1)); },
        [&] { return w.AddTagAsSpareMatrix2I("t", 0, 2, 2, 0, i3, i3); },
        [&] { return w.AddTagAsSpareMatrix3S("t", 2, 2, 0, "", s3, s3, s3); },
        [&] { return w.AddTagAsBitmap("t", false, nullptr); },
        [&] { return w.AddTagAsBitmap("t", true, &empty); },
    };
    // Without an open element: -1 for arguments that are fine.
    EXPECT_EQ(w.AddTagAsIntMatrix("t", 2, 2, 1, i2), -1);
    EXPECT_EQ(w.AddTagAsBitmap("t", false, &bitmap), -1);
    w.InitNewElement("E");
    for (size_t k = 0; k < refused.size(); ++k) EXPECT_EQ(refused[k](), -2) << k;
    EXPECT_EQ(w.Elements()[1].NrTags, 0);
    EXPECT_EQ(w.AddTagAsStringMatrix("t", 2, 2, 5, s2), 1);
    EXPECT_EQ(w.AddTagAsSpareMatrix3S("t", 2, 2, 2, "", s3, s3, s3), 2);
}

// ---- sparse matrices ------------------------------------------------------------

TEST_F(ContainerArrays, SparseFloatMatrixWritesCellsOffTheDefault) {
    TArray3DFloat m(2, 2, 2, 0.0f);
    m[1][0][0] = 1.5f;
    m[0][1][1] = -2.25f;
    m[1][1][0] = 0.125f;
    const TArray3DFloat flat(2, 2, 2, 3.0f), fraction(1, 1, 1, 2.5f);
    const Lines body = roundTrip([&](TDataXStorage& w) {
        w.AddTagAsSpareMatrix("s", 2, 2, 2, 0.0f, m);
        w.AddTagAsSpareMatrix("flat", 2, 2, 2, 3.0f, flat);
        w.AddTagAsSpareMatrix("fraction", 1, 1, 1, 2.5f, fraction);
    });
    EXPECT_EQ(body,
              (Lines{"     <s type=\"sparematrix-3D\" dataI=\"2\" dataJ=\"2\" zlayers=\"2\" defaultValue=\"0.00000\">",
                     "     1,0,0,1.50000", "     1,1,0,0.12500", "     0,1,1,-2.25000", "     </s>",
                     "     <flat type=\"sparematrix-3D\" dataI=\"2\" dataJ=\"2\" zlayers=\"2\" defaultValue=\"3.00000\">",
                     "     </flat>",
                     "     <fraction type=\"sparematrix-3D\" dataI=\"1\" dataJ=\"1\" zlayers=\"1\" defaultValue=\"2.50000\">",
                     "     </fraction>"}));
    // The reader looks for "rows" and "columns", which the writer never writes.
    EXPECT_EQ(r.Elements()[0].Tags[0].DimI, -1);
    EXPECT_EQ(r.Elements()[0].Tags[0].dimJ, -1);

    TArray3DFloat back(2, 2, 2, 9.0f);
    ASSERT_EQ(r.GetTagValueAsSpareMatrix(0, "s", back), 1);
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j)
            for (int k = 0; k < 2; ++k) EXPECT_EQ(back[i][j][k], m[i][j][k]) << i << j << k;
    TArray3DFloat small(1, 1, 1, 9.0f);  // cells outside the array are passed over
    ASSERT_EQ(r.GetTagValueAsSpareMatrix(0, "s", small), 1);
    EXPECT_EQ(small[0][0][0], 0.0f);

    ASSERT_EQ(r.GetTagValueAsSpareMatrix(0, "flat", back), 1);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(back[i][1][1], 3.0f);
    ASSERT_EQ(r.GetTagValueAsSpareMatrix(0, "fraction", back), 1);
    EXPECT_EQ(back[1][0][1], 2.5f);  // the default keeps its fraction

    // Missing or plain tag: -1, the array untouched.
    back.fill(9.0f);
    EXPECT_EQ(r.GetTagValueAsSpareMatrix(0, "none", back), -1);
    EXPECT_EQ(r.GetTagValueAsSpareMatrix(0, "after", back), -1);
    EXPECT_EQ(back[0][0][0], 9.0f);
}

TEST_F(ContainerArrays, SparseIntegerDefaultsAndRounding) {
    TArray3DInt a(2, 1, 1, 5), b(2, 1, 1, 5);
    a[1][0][0] = 7;
    TArray3DInt c(1, 1, 1, 123), d(1, 1, 1, 123);
    const Lines body = roundTrip([&](TDataXStorage& w) {
        w.AddTagAsSpareMatrix2I("small", 2, 1, 1, 5, a, b);
        w.AddTagAsSpareMatrix2I("wide", 1, 1, 1, 123, c, d);
    });
    EXPECT_EQ(body[0], "     <small type=\"sparematrix-3D\" dataI=\"2\" dataJ=\"1\" zlayers=\"1\" defaultValue=\"  5\">");
    EXPECT_EQ(body[1], "     1,0,0,7,5");
    EXPECT_EQ(body[3], "     <wide type=\"sparematrix-3D\" dataI=\"1\" dataJ=\"1\" zlayers=\"1\" defaultValue=\"123\">");

    TArray3DInt x(2, 1, 1, 9), y(2, 1, 1, 9);
    ASSERT_EQ(r.GetTagValueAsSpareMatrix2I(0, "small", x, y), 1);
    EXPECT_EQ(x[0][0][0], 5);  // the padded default reads as the number it is
    EXPECT_EQ(y[0][0][0], 5);
    EXPECT_EQ(x[1][0][0], 7);
    EXPECT_EQ(y[1][0][0], 5);
    ASSERT_EQ(r.GetTagValueAsSpareMatrix2I(0, "wide", x, y), 1);
    EXPECT_EQ(x[1][0][0], 123);

    load({"  <E>",
          "     <s type=\"sparematrix-3D\" dataI=\"4\" dataJ=\"1\" zlayers=\"1\" defaultValue=\"-4\">",
          "     0,0,0,2.5,3.5",
          "     1,0,0,-2.5,-3.5",
          "     2,0,0,7x,8.5",
          "     3,0,0,7,abc",
          "     3,0,0",
          "     9,0,0,1,1",
          "     </s>",
          "  </E>"});
    TArray3DInt p(4, 1, 1, 0), q(4, 1, 1, 0);
    ASSERT_EQ(r.GetTagValueAsSpareMatrix2I(0, "s", p, q), 1);
    const int expectedP[4] = {2, -2, 7, -4}, expectedQ[4] = {4, -4, 8, -4};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(p[i][0][0], expectedP[i]) << i;
        EXPECT_EQ(q[i][0][0], expectedQ[i]) << i;
    }
    // The same lines as two float arrays: the last value decides.
    TArray3DFloat f(4, 1, 1, 0.0f), g(4, 1, 1, 0.0f);
    ASSERT_EQ(r.GetTagValueAsSpareMatrix2F(0, "s", f, g), 1);
    EXPECT_EQ(f[0][0][0], 2.5f);
    EXPECT_EQ(g[1][0][0], -3.5f);
    EXPECT_EQ(f[2][0][0], 7.0f);
    EXPECT_EQ(f[3][0][0], -4.0f);
}

TEST_F(ContainerArrays, SparseTwoFloatRoundTrip) {
    TArray3DFloat a(1, 2, 2, 1.0f), b(1, 2, 2, 1.0f);
    a[0][0][1] = 4.0f;
    b[0][1][0] = -0.5f;
    const Lines body = roundTrip([&](TDataXStorage& w) {
        w.AddTagAsSpareMatrix2F("s", 1, 2, 2, 1.0f, a, b);
    });
    EXPECT_EQ(body, (Lines{"     <s type=\"sparematrix-3D\" dataI=\"1\" dataJ=\"2\" zlayers=\"2\" defaultValue=\"1.00000\">",
                           "     0,1,0,1.00000,-0.50000", "     0,0,1,4.00000,1.00000", "     </s>"}));
    TArray3DFloat x(1, 2, 2), y(1, 2, 2);
    ASSERT_EQ(r.GetTagValueAsSpareMatrix2F(0, "s", x, y), 1);
    for (int j = 0; j < 2; ++j)
        for (int k = 0; k < 2; ++k) {
            EXPECT_EQ(x[0][j][k], a[0][j][k]);
            EXPECT_EQ(y[0][j][k], b[0][j][k]);
        }
}

TEST_F(ContainerArrays, SparseStringsAreShortAndSplitAtCommas) {
    const std::string sixty(60, 'z');
    TArray3DString s(2, 1, 1, "none");
    s[0][0][0] = "a,b";
    s[1][0][0] = sixty;
    TArray3DString t1(1, 1, 1, "d"), t2(1, 1, 1, "d"), t3(1, 1, 1, "d");
    t2[0][0][0] = "two";
    const Lines body = roundTrip([&](TDataXStorage& w) {
        w.AddTagAsSpareMatrix1S("one", 2, 1, 1, "none", s);
        w.AddTagAsSpareMatrix3S("three", 1, 1, 1, "d", t1, t2, t3);
    });
    EXPECT_EQ(body[1], "     0,0,0,a,b");
    EXPECT_EQ(body[2], "     1,0,0," + std::string(50, 'z'));
    EXPECT_EQ(body[5], "     0,0,0,d,two,d");

    TArray3DString back(3, 1, 1, "x");
    ASSERT_EQ(r.GetTagValueAsSpareMatrix1S(0, "one", back), 1);
    EXPECT_EQ(back[0][0][0], "a");  // only the part before the comma
    EXPECT_EQ(back[1][0][0], std::string(50, 'z'));
    EXPECT_EQ(back[2][0][0], "");  // emptied first, not the tag's default

    TArray3DString a(1, 1, 2), b(1, 1, 2), c(1, 1, 2);
    ASSERT_EQ(r.GetTagValueAsSpareMatrix3S(0, "three", sixty, a, b, c), 1);
    EXPECT_EQ(a[0][0][0], "d");
    EXPECT_EQ(b[0][0][0], "two");
    EXPECT_EQ(c[0][0][1], std::string(50, 'z'));  // the caller's default, cut
    EXPECT_EQ(r.GetTagValueAsSpareMatrix3S(0, "none", "q", a, b, c), -1);
    EXPECT_EQ(a[0][0][1], std::string(50, 'z'));
}

// ---- bitmaps ----------------------------------------------------------------

TEST_F(ContainerArrays, BitmapRoundTripWithAndWithoutRunLengths) {
    TBitmap bitmap(3, 2, TBitmap::Rgb(255, 0, 0));
    bitmap.SetPixel(0, 1, TBitmap::Rgb(0, 0, 255));
    bitmap.SetPixel(1, 1, TBitmap::Rgb(0, 0, 255));
    bitmap.SetPixel(2, 1, TBitmap::Rgb(0x12, 0x34, 0xAB));
    const Lines body = roundTrip([&](TDataXStorage& w) {
        EXPECT_EQ(w.AddTagAsBitmap("plain", false, &bitmap), 1);
        EXPECT_EQ(w.AddTagAsBitmap("rle", true, &bitmap), 2);
    });
    EXPECT_EQ(body, (Lines{"     <plain type=\"bitmap\" width=\"3\" height=\"2\" rle_compression=\"0\">",
                           "     0000FF0000FF0000FF",
                           "     FF0000FF0000AB3412",
                           "     </plain>",
                           "     <rle type=\"bitmap\" width=\"3\" height=\"2\" rle_compression=\"1\">",
                           "      3 0000FF",
                           "      2 FF0000 1 AB3412",
                           "     </rle>"}));
    for (const std::string name : {"plain", "rle"}) {
        TBitmap back(1, 1);
        ASSERT_EQ(r.GetTagValueAsBitmap(0, name, back), 0) << name;
        EXPECT_EQ(back, bitmap) << name;
    }
    TBitmap untouched(1, 1, 5);
    EXPECT_EQ(r.GetTagValueAsBitmap(0, "after", untouched), -1);
    EXPECT_EQ(r.GetTagValueAsBitmap(0, "none", untouched), -1);
    EXPECT_EQ(untouched.Pixel(0, 0), 5u);
}

TEST_F(ContainerArrays, RunLengthRowsOfManyRunsDecodeInFull) {
    // Forty runs: more words than the 51 that SplitTokens hands out.
    TBitmap bitmap(80, 1);
    for (int32_t x = 0; x < 80; ++x) bitmap.SetPixel(x, 0, (x / 2) % 2 == 0 ? 0x00FF00u : 0x0000FFu);
    roundTrip([&](TDataXStorage& w) { w.AddTagAsBitmap("rle", true, &bitmap); });
    TBitmap back;
    ASSERT_EQ(r.GetTagValueAsBitmap(0, "rle", back), 0);
    EXPECT_EQ(back, bitmap);
    EXPECT_EQ(TDataXStorage::RleDecodeLine("2 AB 3 C| 1,D 9", 100), "ABABCCCD");
    EXPECT_EQ(TDataXStorage::RleDecodeLine("2000000000 ABCDEF", 12), "ABCDEFABCDEF");
}

TEST_F(ContainerArrays, BitmapPixelCodeThatIsNotHexRaises) {
    load({"  <E>",
          "     <bm type=\"bitmap\" width=\"3\" height=\"2\" rle_compression=\"0\">",
          "     0000ff00GG00000000",
          "     000001",
          "     </bm>",
          "     <short type=\"bitmap\" width=\"3\" height=\"2\" rle_compression=\"0\">",
          "     00000100000",
          "     ",
          "     </short>",
          "  </E>"});
    TBitmap bitmap;
    try {
        r.GetTagValueAsBitmap(0, "bm", bitmap);
        FAIL() << "no error";
    } catch (const kwd::ConversionError& e) {
        EXPECT_EQ(std::string(e.what()), "Pixel code \"00GG00\" of bitmap tag \"bm\" in file " +
                                             path("h.zdx") + " is not a hexadecimal number");
    }
    // Rows too short leave pixels black.
    ASSERT_EQ(r.GetTagValueAsBitmap(0, "short", bitmap), 0);
    EXPECT_EQ(bitmap.Pixel(0, 0), 1u);
    EXPECT_EQ(bitmap.Pixel(1, 0), 0u);  // "00000": a code cut short still reads
    EXPECT_EQ(bitmap.Pixel(2, 0), 0u);
    EXPECT_EQ(bitmap.Pixel(0, 1), 0u);
    EXPECT_EQ(bitmap.Height(), 2);

    // A file cut short inside the block: the rows it lacks stay black.
    Lines cut = fileWith({"  <E>", "     <bm type=\"bitmap\" width=\"2\" height=\"3\" rle_compression=\"0\">",
                          "     0000020000FF"});
    cut.pop_back();
    ASSERT_EQ(r.InitXFileReader(writeLines("cut.zdx", cut)), 1);
    ASSERT_EQ(r.Collectelements("E"), 1);
    TBitmap partial(1, 1, 7);
    ASSERT_EQ(r.GetTagValueAsBitmap(0, "bm", partial), 0);
    EXPECT_EQ(partial.Height(), 3);
    EXPECT_EQ(partial.Pixel(0, 0), 2u);
    EXPECT_EQ(partial.Pixel(1, 0), 0xFFu);
    EXPECT_EQ(partial.Pixel(0, 2), 0u);
}

// ---- binary data ------------------------------------------------------------

TEST_F(ContainerArrays, HundredBytesOfBinaryOverTwoLines) {
    std::string bytes;
    for (int k = 0; k < 100; ++k) bytes += char(k * 7 + 3);
    std::stringstream source(bytes);
    source.seekg(40);  // encoded from the start whatever the position
    const std::string base64 = TDataXStorage::EncodeBase64Mime(bytes);
    ASSERT_EQ(base64.size(), 136u + 2u);
    ASSERT_EQ(base64.substr(76, 2), "\r\n");
    roundTrip([&](TDataXStorage& w) { EXPECT_EQ(w.AddTagAsBinary("bin", source), 1); });

    const Lines onDisk = [&] {
        TDataXTextEncoding encoding;
        return TDataXStorage::DecodeTextLines(kwd::readWholeFile(path("a.zdx")), encoding);
    }();
    ASSERT_EQ(onDisk.size(), 14u);
    EXPECT_EQ(onDisk[9], "     <bin> " + base64.substr(0, 76));
    EXPECT_EQ(onDisk[10], base64.substr(78) + " </bin>");

    std::stringstream target(std::string(120, 'x'));
    EXPECT_EQ(r.GetTagValueAsBinary("bin", target), 100);
    EXPECT_EQ(target.str(), bytes + std::string(20, 'x'));  // not truncated
    EXPECT_EQ(r.GetTagValueAsBinary("none", target), 0);
}

TEST(ContainerBase64, KnownTexts) {
    EXPECT_EQ(TDataXStorage::EncodeBase64Mime(""), "");
    EXPECT_EQ(TDataXStorage::EncodeBase64Mime("M"), "TQ==");
    EXPECT_EQ(TDataXStorage::EncodeBase64Mime("Ma"), "TWE=");
    EXPECT_EQ(TDataXStorage::EncodeBase64Mime("Man"), "TWFu");
    EXPECT_EQ(TDataXStorage::EncodeBase64Mime(std::string(57, '\xFF')), std::string(76, '/'));
    EXPECT_EQ(TDataXStorage::DecodeBase64("TW Fu\r\nTQ=="), "ManM");
    EXPECT_EQ(TDataXStorage::DecodeBase64("TWE="), "Ma");
}
