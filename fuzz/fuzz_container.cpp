// Fuzz target of the container reader: loading, the element index, element
// collection and every getter (plain, collections, dense and sparse matrices,
// bitmaps, binary data), the header check, and the updater with
// StripElements. The input is the whole file.
//
// Errors the readers document (kwd::KwdError: a bitmap pixel that is not
// hexadecimal, a missing integer-matrix tag) are expected; anything else that
// escapes, every sanitizer report, a hang or an allocation beyond the
// fuzzer's limits is a finding.

#include <algorithm>
#include <array>
#include <cstdint>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "container/UDataXStorage.h"
#include "platform/KwdError.h"

using kwd::container::TArray2DBool;
using kwd::container::TArray2DFloat;
using kwd::container::TArray2DInt;
using kwd::container::TArray2DString;
using kwd::container::TArray3DFloat;
using kwd::container::TArray3DInt;
using kwd::container::TArray3DString;
using kwd::container::TBitmap;
using kwd::container::TDataXData;
using kwd::container::TDataXStorage;

namespace {

// Sizes of the caller's arrays for the readers that do not size them
// themselves: taken from the tag's dimensions, kept small.
int32_t small(int32_t n) { return std::clamp(n, 0, 12); }

template <typename F>
void expectOnlyKwdErrors(F&& f) {
    try {
        f();
    } catch (const kwd::KwdError&) {
    }
}

void readEveryGetter(TDataXStorage& x, int32_t element, const TDataXData& tag) {
    const std::string& id = tag.Tag;
    (void)x.GetTagValueAsString(element, id, "default");
    (void)x.GetTagValueAsInt(element, id, -7);
    (void)x.GetTagValueAsFloat(element, id, -7.0f);
    (void)x.GetTagValueAsBool(element, id, true);

    std::array<std::string, 9> strings;
    int32_t count = -1;
    x.GetTagValueAsStringCollection(element, id, "a,b", count, strings);
    std::array<float, 9> floats{};
    x.GetTagValueAsFloatCollection(element, id, "", count, floats);

    const int32_t i = small(tag.DimI), j = small(tag.dimJ), k = small(tag.dimK);
    TArray2DFloat f2(i, j);
    (void)x.GetTagValueAsFloatMatrix(element, id, 1.5f, f2);
    TArray2DInt i2(i, j);
    expectOnlyKwdErrors([&] { (void)x.GetTagValueAsIntMatrix(element, id, 3, i2); });
    TArray2DBool b2(i, j);
    expectOnlyKwdErrors([&] { (void)x.GetTagValueAsBoolMatrix(element, id, false, b2); });
    TArray2DString s2(i, j);
    (void)x.GetTagValueAsStringMatrix(element, id, "-", s2);

    TArray3DFloat f3a(i, j, k), f3b(i, j, k);
    (void)x.GetTagValueAsSpareMatrix(element, id, f3a);
    (void)x.GetTagValueAsSpareMatrix2F(element, id, f3a, f3b);
    TArray3DInt i3a(i, j, k), i3b(i, j, k);
    (void)x.GetTagValueAsSpareMatrix2I(element, id, i3a, i3b);
    TArray3DString s3a(i, j, k), s3b(i, j, k), s3c(i, j, k);
    (void)x.GetTagValueAsSpareMatrix1S(element, id, s3a);
    (void)x.GetTagValueAsSpareMatrix3S(element, id, "dflt", s3a, s3b, s3c);

    TBitmap bitmap;
    expectOnlyKwdErrors([&] { (void)x.GetTagValueAsBitmap(element, id, bitmap); });
    std::ostringstream bytes;
    (void)x.GetTagValueAsBinary(id, bytes);
}

// Reads the file through every getter: each distinct element name (the first
// few) is collected, and every tag of the first few elements is read as every
// kind.
void readAll(const std::string& path) {
    TDataXStorage x;
    if (x.InitXFileReader(path) != 1) return;
    std::vector<std::string> names;
    for (int32_t e = 0; e < x.NrElementIndex() && names.size() < 8; ++e) {
        const std::string& name = x.ElementIndex()[size_t(e)].ElementName;
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
    names.push_back("NoSuchElement");
    for (const std::string& name : names) {
        const int32_t n = x.Collectelements(name);
        for (int32_t e = 0; e < std::min(n, 4); ++e) {
            // A copy: a getter never changes the collected tags, but keep the
            // harness independent of that.
            const std::vector<TDataXData> tags = x.Elements()[size_t(e)].Tags;
            for (size_t t = 0; t < std::min<size_t>(tags.size(), 24); ++t)
                readEveryGetter(x, e, tags[t]);
        }
        // Out-of-range element numbers and a missing tag give defaults.
        TDataXData missing;
        missing.Tag = "no_such_tag";
        readEveryGetter(x, 0, missing);
        readEveryGetter(x, n, missing);
        readEveryGetter(x, -1, missing);
    }
    x.SetElementMandatory(true);
    expectOnlyKwdErrors([&] { (void)x.Collectelements("NoSuchElement"); });
}

void readHeader(const std::string& path) {
    TDataXStorage x;
    (void)x.GetDataXFileMetadata(path);
    // The object is closed (or failed) now; collections must refuse.
    (void)x.Collectelements("Header");
}

void update(const std::string& path) {
    TDataXStorage x;
    if (x.InitXFileUpdater(path) != 1) return;
    std::set<std::string> names;
    for (int32_t e = 0; e < x.NrElementIndex() && names.size() < 4; ++e)
        names.insert(x.ElementIndex()[size_t(e)].ElementName);
    for (const std::string& name : names) {
        (void)x.StripElements(name);
        (void)x.StripElements(name);  // again, on the index the first strip left
    }
    x.InitNewElement("FuzzAdded");
    x.AddTagAsString("value", "1");
    (void)x.FinalizeElement();
    std::vector<std::string> lines;
    x.FinalizeXDataFile2List(lines);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kwdfuzz::silenceMessages();
    const std::string path = kwdfuzz::writeInput("input.xml", kwdfuzz::asText(data, size));
    readAll(path);
    readHeader(path);
    update(path);
    return 0;
}
