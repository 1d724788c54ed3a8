// TDataXStorage: array-valued tags. Dense 2-D matrices and sparse 3-D
// matrices, bitmaps and binary data are written as block tags (or, for binary
// data, a plain tag of Base64 text) and read straight from the loaded lines
// within the line range the reader recorded for the tag.

#include <array>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <iterator>

#include "container/UDataXStorage.h"
#include "platform/KwdError.h"

namespace kwd::container {

namespace {

constexpr char kBlank = ' ';
constexpr char kQuote = '"';

std::string intText(int64_t value) {
    char buf[24];
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, res.ptr);
}

// Right-aligns text in width characters with leading blanks.
std::string rightAligned(std::string text, size_t width) {
    if (text.size() < width) text.insert(0, width - text.size(), kBlank);
    return text;
}

// One item of a string matrix line: quoted when it holds a character up to
// the blank, a double quote or a comma, every inner double quote doubled.
std::string quotedItem(const std::string& item) {
    const bool quote = std::any_of(item.begin(), item.end(), [](char c) {
        return static_cast<unsigned char>(c) <= static_cast<unsigned char>(kBlank) ||
               c == kQuote || c == ',';
    });
    if (!quote) return item;
    std::string out(1, kQuote);
    for (char c : item) {
        out += c;
        if (c == kQuote) out += kQuote;
    }
    out += kQuote;
    return out;
}

// Removes leading and trailing characters up to the blank.
std::string trimmed(const std::string& text) {
    const auto isSpace = [](char c) {
        return static_cast<unsigned char>(c) <= static_cast<unsigned char>(kBlank);
    };
    size_t b = 0, e = text.size();
    while (b < e && isSpace(text[b])) ++b;
    while (e > b && isSpace(text[e - 1])) --e;
    return text.substr(b, e - b);
}

std::string shortString(const std::string& text) {
    return text.substr(0, size_t(TDataXStorage::kShortStringLength));
}

// Nearest integer, a half to the even neighbour, saturated to 32 bits.
int32_t roundHalfEven(double value) {
    if (!(value > double(INT32_MIN) - 0.5)) return INT32_MIN;
    if (!(value < double(INT32_MAX) + 0.5)) return INT32_MAX;
    const double lower = std::floor(value);
    const double fraction = value - lower;
    double result = lower;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(lower, 2.0) != 0.0)) result = lower + 1.0;
    return int32_t(std::clamp(result, double(INT32_MIN), double(INT32_MAX)));
}

// Attribute text: a blank, the name, "=" and the value in double quotes.
std::string attribute(const std::string& name, const std::string& value) {
    return " " + name + "=\"" + value + "\"";
}

std::string sparseAttributes(int32_t ii, int32_t jj, int32_t kk, const std::string& defaultText) {
    return attribute("type", "sparematrix-3D") + attribute("dataI", intText(ii)) +
           attribute("dataJ", intText(jj)) + attribute("zlayers", intText(kk)) +
           attribute("defaultValue", defaultText);
}

template <typename A>
bool holds2D(const A& array, int32_t ii, int32_t jj) {
    return array.sizeI() >= ii && array.sizeJ() >= jj;
}

template <typename A>
bool holds3D(const A& array, int32_t ii, int32_t jj, int32_t kk) {
    return array.sizeI() >= ii && array.sizeJ() >= jj && array.sizeK() >= kk;
}

// The sparse data lines: one per cell (k outermost, then j, i innermost) for
// which differs(i, j, k) holds, "i,j,k" followed by values(i, j, k).
template <typename Differs, typename Values>
std::vector<std::string> sparseLines(int32_t ii, int32_t jj, int32_t kk, Differs differs,
                                     Values values) {
    std::vector<std::string> lines;
    for (int32_t k = 0; k < kk; ++k)
        for (int32_t j = 0; j < jj; ++j)
            for (int32_t i = 0; i < ii; ++i)
                if (differs(i, j, k))
                    lines.push_back(intText(i) + "," + intText(j) + "," + intText(k) + "," +
                                    values(i, j, k));
    return lines;
}

// Cell position of a sparse line (items 0 to 2 read as integers).
struct SparseCell {
    int32_t i, j, k;
};
SparseCell sparseCell(const std::vector<std::string>& items) {
    return {TDataXStorage::ReadIntegerText(items[0]), TDataXStorage::ReadIntegerText(items[1]),
            TDataXStorage::ReadIntegerText(items[2])};
}

template <typename A>
bool inside(const A& array, const SparseCell& c) {
    return array.contains(c.i, c.j, c.k);
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

std::string pixelCode(uint32_t colour) {
    std::string code(6, '0');
    for (int d = 5; d >= 0; --d) {
        code[size_t(d)] = kHexDigits[colour & 0xF];
        colour >>= 4;
    }
    return code;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Sets the pixels of row y from its run-length text: the words in pairs
// (count, code), each code repeated count times, the result read as
// six-character pixel codes from the left (a short last code reads as what it
// holds), exactly as RleDecodeLine's text would be read. The expanded text is
// never built: a run of one pixel code fills its pixels at once, so a short
// row that covers a wide bitmap costs neither the text's memory nor a pass
// over it. fail(code) is called for a code that is not hexadecimal.
template <typename Fail>
void setRlePixels(const std::string& text, int32_t y, TBitmap& bitmap, Fail fail) {
    std::vector<std::string> words;  // split as RleDecodeLine splits
    std::string word;
    for (char c : text) {
        if (c == kBlank || c == ',' || c == '|') {
            if (!word.empty()) words.push_back(std::move(word));
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(std::move(word));

    const int32_t width = bitmap.Width();
    int32_t x = 0;
    std::string pending;  // characters of the pixel being assembled (fewer than 6)
    const auto colourOf = [&](const std::string& code) {
        uint32_t colour = 0;
        for (char c : code) {
            const int d = hexValue(c);
            if (d < 0) fail(code);
            colour = (colour << 4) | uint32_t(d);
        }
        return colour;
    };
    for (size_t k = 0; k + 1 < words.size() && x < width; k += 2) {
        const std::string& code = words[k + 1];
        const int64_t repeat = std::max(TDataXStorage::ReadIntegerText(words[k]), 0);
        if (repeat == 0) continue;
        if (pending.empty() && code.size() == 6) {
            const uint32_t colour = colourOf(code);
            const int64_t n = std::min<int64_t>(repeat, width - x);
            for (int64_t r = 0; r < n; ++r) bitmap.SetPixel(x++, y, colour);
            continue;
        }
        for (int64_t r = 0; r < repeat && x < width; ++r) {
            for (size_t c = 0; c < code.size() && x < width; ++c) {
                pending += code[c];
                if (pending.size() == 6) {
                    bitmap.SetPixel(x++, y, colourOf(pending));
                    pending.clear();
                }
            }
        }
    }
    if (!pending.empty() && x < width) bitmap.SetPixel(x, y, colourOf(pending));
}

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t kBase64LineLength = 76;

}  // namespace

// ---- shared --------------------------------------------------------------------

int32_t TDataXStorage::StoreBlockTag(const std::string& tagWithAttributes, int32_t tagType,
                                     const std::string& data, std::vector<std::string> lines) {
    TDataXData record;
    record.Tag = tagWithAttributes;
    record.TagType = tagType;
    record.Data = data;
    record.DataLines = std::move(lines);
    return StoreTag(std::move(record));
}

const TDataXData* TDataXStorage::FindTagOfType(int32_t elementindex, const std::string& ID,
                                               int32_t tagType) const {
    const TDataXData* tag = FindTag(elementindex, ID);
    return (tag != nullptr && tag->TagType == tagType) ? tag : nullptr;
}

const std::string* TDataXStorage::StreamLine(int64_t index) const {
    if (index < 0 || index >= int64_t(_DataXStream.size())) return nullptr;
    return &_DataXStream[size_t(index)];
}

std::vector<std::vector<std::string>> TDataXStorage::SparseLines(const TDataXData& tag) const {
    std::vector<std::vector<std::string>> lines;
    for (int64_t at = tag.DataStartStreamPos; at <= tag.DataEndStreamPos; ++at) {
        const std::string* line = StreamLine(at);
        if (line == nullptr) break;
        lines.push_back(SplitCommaList(*line));
    }
    return lines;
}

// ---- dense matrices: writers ---------------------------------------------------------

int32_t TDataXStorage::AddTagAsFloatMatrix(const std::string& tagname, int32_t _II, int32_t _JJ,
                                           int32_t _signcount, const TArray2DFloat& Array2DFloat) {
    if (_II <= 0 || _JJ <= 0 || _signcount <= 0 || !holds2D(Array2DFloat, _II, _JJ)) return -2;
    if (_thisElementTag.empty()) return -1;
    std::vector<std::string> lines;
    lines.reserve(size_t(_JJ));
    for (int32_t j = 0; j < _JJ; ++j) {
        std::string line;
        for (int32_t i = 0; i < _II; ++i) {
            if (i > 0) line += ',';
            line += rightAligned(FormatFloatFixed(Array2DFloat[i][j], 4), 10);
        }
        lines.push_back(std::move(line));
    }
    const std::string tag = tagname + attribute("type", "matrix-data") +
                            attribute("dataI", intText(_II)) + attribute("dataJ", intText(_JJ)) +
                            attribute("signcount", intText(_signcount));
    return StoreBlockTag(tag, kTagMatrix, "(matrix)", std::move(lines));
}

int32_t TDataXStorage::AddTagAsIntMatrix(const std::string& tagname, int32_t _II, int32_t _JJ,
                                         int32_t _signcount, const TArray2DInt& Array2DInt) {
    if (_II <= 0 || _JJ <= 0 || _signcount <= 0 || !holds2D(Array2DInt, _II, _JJ)) return -2;
    if (_thisElementTag.empty()) return -1;
    std::vector<std::string> lines;
    lines.reserve(size_t(_JJ));
    for (int32_t j = _JJ - 1; j >= 0; --j) {  // the first line holds the last j
        std::string line;
        for (int32_t i = 0; i < _II; ++i) {
            if (i > 0) line += ',';
            line += intText(Array2DInt[i][j]);
        }
        lines.push_back(std::move(line));
    }
    const std::string tag = tagname + attribute("type", "matrix-data") +
                            attribute("dataI", intText(_II)) + attribute("dataJ", intText(_JJ));
    return StoreBlockTag(tag, kTagMatrix, "(matrix)", std::move(lines));
}

int32_t TDataXStorage::AddTagAsBoolMatrix(const std::string& tagname, int32_t _II, int32_t _JJ,
                                          int32_t _signcount, const TArray2DBool& Array2DBool) {
    if (_II <= 0 || _JJ <= 0 || _signcount <= 0 || !holds2D(Array2DBool, _II, _JJ)) return -2;
    TArray2DInt values(_II, _JJ, 0);
    for (int32_t i = 0; i < _II; ++i)
        for (int32_t j = 0; j < _JJ; ++j) values[i][j] = Array2DBool[i][j] ? 1 : 0;
    return AddTagAsIntMatrix(tagname, _II, _JJ, _signcount, values);
}

int32_t TDataXStorage::AddTagAsStringMatrix(const std::string& tagname, int32_t _II, int32_t _JJ,
                                            int32_t _signcount,
                                            const TArray2DString& Array2DString) {
    if (_II <= 0 || _JJ <= 0 || _signcount < 1 || _signcount > 5 ||
        !holds2D(Array2DString, _II, _JJ))
        return -2;
    if (_thisElementTag.empty()) return -1;
    std::vector<std::string> lines;
    lines.reserve(size_t(_JJ));
    for (int32_t j = _JJ - 1; j >= 0; --j) {
        std::string line;
        if (_II == 1 && Array2DString[0][j].empty()) {
            line = "\"\"";  // a single empty item
        } else {
            for (int32_t i = 0; i < _II; ++i) {
                if (i > 0) line += ',';
                line += quotedItem(Array2DString[i][j]);
            }
        }
        lines.push_back(std::move(line));
    }
    const std::string tag = tagname + attribute("type", "matrix-data") +
                            attribute("dataI", intText(_II)) + attribute("dataJ", intText(_JJ));
    return StoreBlockTag(tag, kTagMatrix, "(matrix)", std::move(lines));
}

// ---- dense matrices: readers ---------------------------------------------------------

int32_t TDataXStorage::GetTagValueAsFloatMatrix(int32_t elementindex, const std::string& ID,
                                                float DefaultValue, TArray2DFloat& Array2DFloat) {
    Array2DFloat.fill(DefaultValue);
    const TDataXData* tag = FindTagOfType(elementindex, ID, kTagMatrix);
    if (tag == nullptr) return -1;
    const int32_t dimI = std::max(tag->DimI, 0), dimJ = std::max(tag->dimJ, 0);
    if (int64_t(dimI) * int64_t(dimJ) > kMaxBlockCells) return -1;
    Array2DFloat.resize(dimI, dimJ, DefaultValue);
    for (int32_t j = 0; j < dimJ; ++j) {
        const std::string* line = StreamLine(int64_t(tag->DataStartStreamPos) + j);
        if (line == nullptr) break;
        const std::vector<std::string> items = SplitCommaList(*line, kMaxMatrixItems);
        const int32_t count = std::min(dimI, int32_t(items.size()));
        for (int32_t i = 0; i < count; ++i) Array2DFloat[i][j] = ReadFloatText(items[size_t(i)]);
    }
    return 0;
}

int32_t TDataXStorage::GetTagValueAsIntMatrix(int32_t elementindex, const std::string& ID,
                                              int32_t DefaultValue, TArray2DInt& Array2DInt) {
    Array2DInt.fill(DefaultValue);
    if (elementindex < 0 || elementindex >= _nrElements) return -1;
    const TDataXData* tag = FindTag(elementindex, ID);
    if (tag == nullptr)
        throw kwd::GeneralError("Exception: Cannot find or decode matrix tag \"" + ID + "\" ");
    if (tag->TagType != kTagMatrix) return -1;
    const int32_t dimJ = tag->dimJ;
    for (int32_t j = 0; j < dimJ; ++j) {
        const std::string* line = StreamLine(int64_t(tag->DataStartStreamPos) + j);
        if (line == nullptr) break;
        const int32_t cellJ = dimJ - 1 - j;  // the writer starts with the last j
        if (cellJ >= Array2DInt.sizeJ()) continue;
        const std::vector<std::string> items = SplitCommaList(*line, kMaxMatrixItems);
        const int32_t count =
            std::min({tag->DimI, int32_t(items.size()), Array2DInt.sizeI()});
        for (int32_t i = 0; i < count; ++i) Array2DInt[i][cellJ] = ReadIntegerText(items[size_t(i)]);
    }
    return 0;
}

int32_t TDataXStorage::GetTagValueAsBoolMatrix(int32_t elementindex, const std::string& ID,
                                               bool /*DefaultValue*/, TArray2DBool& Array2DBool) {
    TArray2DInt values(Array2DBool.sizeI(), Array2DBool.sizeJ(), 0);
    const int32_t result = GetTagValueAsIntMatrix(elementindex, ID, 0, values);
    for (int32_t i = 0; i < values.sizeI(); ++i)
        for (int32_t j = 0; j < values.sizeJ(); ++j) Array2DBool[i][j] = values[i][j] == 1;
    return result;
}

int32_t TDataXStorage::GetTagValueAsStringMatrix(int32_t elementindex, const std::string& ID,
                                                 const std::string& DefaultValue,
                                                 TArray2DString& Array2DString) {
    Array2DString.fill(DefaultValue);
    const TDataXData* tag = FindTagOfType(elementindex, ID, kTagMatrix);
    if (tag == nullptr) return -1;
    const int32_t dimJ = tag->dimJ;
    for (int32_t j = 0; j < dimJ; ++j) {
        const std::string* line = StreamLine(int64_t(tag->DataStartStreamPos) + j);
        if (line == nullptr) break;
        const int32_t cellJ = dimJ - 1 - j;
        if (cellJ >= Array2DString.sizeJ()) continue;
        const std::vector<std::string> items = SplitCommaList(trimmed(*line), kMaxMatrixItems);
        const int32_t count =
            std::min({tag->DimI, int32_t(items.size()), Array2DString.sizeI()});
        for (int32_t i = 0; i < count; ++i) Array2DString[i][cellJ] = items[size_t(i)];
    }
    return 0;
}

// ---- sparse matrices: writers --------------------------------------------------------

int32_t TDataXStorage::AddTagAsSpareMatrix(const std::string& tagname, int32_t _II, int32_t _JJ,
                                           int32_t _KK, float DefaultValue,
                                           const TArray3DFloat& Array3DFloat) {
    if (_II <= 0 || _JJ <= 0 || _KK <= 0 || !holds3D(Array3DFloat, _II, _JJ, _KK)) return -2;
    if (_thisElementTag.empty()) return -1;
    std::vector<std::string> lines = sparseLines(
        _II, _JJ, _KK, [&](int32_t i, int32_t j, int32_t k) { return Array3DFloat[i][j][k] != DefaultValue; },
        [&](int32_t i, int32_t j, int32_t k) { return FormatFloat5(Array3DFloat[i][j][k]); });
    return StoreBlockTag(tagname + sparseAttributes(_II, _JJ, _KK, FormatFloat5(DefaultValue)),
                         kTagSparse3D, "(matrix)", std::move(lines));
}

int32_t TDataXStorage::AddTagAsSpareMatrix1S(const std::string& tagname, int32_t _II, int32_t _JJ,
                                             int32_t _KK, const std::string& DefaultValue,
                                             const TArray3DString& Array3DString) {
    if (_II <= 0 || _JJ <= 0 || _KK <= 0 || !holds3D(Array3DString, _II, _JJ, _KK)) return -2;
    if (_thisElementTag.empty()) return -1;
    std::vector<std::string> lines = sparseLines(
        _II, _JJ, _KK,
        [&](int32_t i, int32_t j, int32_t k) { return shortString(Array3DString[i][j][k]) != DefaultValue; },
        [&](int32_t i, int32_t j, int32_t k) { return shortString(Array3DString[i][j][k]); });
    return StoreBlockTag(tagname + sparseAttributes(_II, _JJ, _KK, DefaultValue), kTagSparse3D,
                         "(matrix)", std::move(lines));
}

int32_t TDataXStorage::AddTagAsSpareMatrix2F(const std::string& tagname, int32_t _II, int32_t _JJ,
                                             int32_t _KK, float DefaultValue,
                                             const TArray3DFloat& Array3DFloat1,
                                             const TArray3DFloat& Array3DFloat2) {
    if (_II <= 0 || _JJ <= 0 || _KK <= 0 || !holds3D(Array3DFloat1, _II, _JJ, _KK) ||
        !holds3D(Array3DFloat2, _II, _JJ, _KK))
        return -2;
    if (_thisElementTag.empty()) return -1;
    std::vector<std::string> lines = sparseLines(
        _II, _JJ, _KK,
        [&](int32_t i, int32_t j, int32_t k) {
            return Array3DFloat1[i][j][k] != DefaultValue || Array3DFloat2[i][j][k] != DefaultValue;
        },
        [&](int32_t i, int32_t j, int32_t k) {
            return FormatFloat5(Array3DFloat1[i][j][k]) + "," + FormatFloat5(Array3DFloat2[i][j][k]);
        });
    return StoreBlockTag(tagname + sparseAttributes(_II, _JJ, _KK, FormatFloat5(DefaultValue)),
                         kTagSparse3D, "(matrix)", std::move(lines));
}

int32_t TDataXStorage::AddTagAsSpareMatrix2I(const std::string& tagname, int32_t _II, int32_t _JJ,
                                             int32_t _KK, int32_t DefaultValue,
                                             const TArray3DInt& Array3DInt1,
                                             const TArray3DInt& Array3DInt2) {
    if (_II <= 0 || _JJ <= 0 || _KK <= 0 || !holds3D(Array3DInt1, _II, _JJ, _KK) ||
        !holds3D(Array3DInt2, _II, _JJ, _KK))
        return -2;
    if (_thisElementTag.empty()) return -1;
    std::vector<std::string> lines = sparseLines(
        _II, _JJ, _KK,
        [&](int32_t i, int32_t j, int32_t k) {
            return Array3DInt1[i][j][k] != DefaultValue || Array3DInt2[i][j][k] != DefaultValue;
        },
        [&](int32_t i, int32_t j, int32_t k) {
            return intText(Array3DInt1[i][j][k]) + "," + intText(Array3DInt2[i][j][k]);
        });
    // The default is right-aligned in three characters.
    return StoreBlockTag(
        tagname + sparseAttributes(_II, _JJ, _KK, rightAligned(intText(DefaultValue), 3)),
        kTagSparse3D, "(matrix)", std::move(lines));
}

int32_t TDataXStorage::AddTagAsSpareMatrix3S(const std::string& tagname, int32_t _II, int32_t _JJ,
                                             int32_t _KK, const std::string& DefaultValue,
                                             const TArray3DString& Array3DString1,
                                             const TArray3DString& Array3DString2,
                                             const TArray3DString& Array3DString3) {
    if (_II <= 0 || _JJ <= 0 || _KK <= 0 || !holds3D(Array3DString1, _II, _JJ, _KK) ||
        !holds3D(Array3DString2, _II, _JJ, _KK) || !holds3D(Array3DString3, _II, _JJ, _KK))
        return -2;
    if (_thisElementTag.empty()) return -1;
    std::vector<std::string> lines = sparseLines(
        _II, _JJ, _KK,
        [&](int32_t i, int32_t j, int32_t k) {
            return shortString(Array3DString1[i][j][k]) != DefaultValue ||
                   shortString(Array3DString2[i][j][k]) != DefaultValue ||
                   shortString(Array3DString3[i][j][k]) != DefaultValue;
        },
        [&](int32_t i, int32_t j, int32_t k) {
            return shortString(Array3DString1[i][j][k]) + "," + shortString(Array3DString2[i][j][k]) +
                   "," + shortString(Array3DString3[i][j][k]);
        });
    return StoreBlockTag(tagname + sparseAttributes(_II, _JJ, _KK, DefaultValue), kTagSparse3D,
                         "(matrix)", std::move(lines));
}

// ---- sparse matrices: readers --------------------------------------------------------

int32_t TDataXStorage::GetTagValueAsSpareMatrix(int32_t elementindex, const std::string& ID,
                                                TArray3DFloat& Array3DFloat) {
    const TDataXData* tag = FindTagOfType(elementindex, ID, kTagSparse3D);
    if (tag == nullptr) return -1;
    Array3DFloat.fill(tag->ValueA);
    for (const std::vector<std::string>& items : SparseLines(*tag)) {
        if (items.size() < 4) continue;
        const SparseCell c = sparseCell(items);
        bool complete = false;
        const float value = ReadFloatText(items[3], &complete);
        if (complete && inside(Array3DFloat, c)) Array3DFloat[c.i][c.j][c.k] = value;
    }
    return 1;
}

int32_t TDataXStorage::GetTagValueAsSpareMatrix1S(int32_t elementindex, const std::string& ID,
                                                  TArray3DString& Array3DString) {
    const TDataXData* tag = FindTagOfType(elementindex, ID, kTagSparse3D);
    if (tag == nullptr) return -1;
    Array3DString.fill(std::string());
    for (const std::vector<std::string>& items : SparseLines(*tag)) {
        if (items.size() < 4) continue;
        const SparseCell c = sparseCell(items);
        if (inside(Array3DString, c)) Array3DString[c.i][c.j][c.k] = shortString(items[3]);
    }
    return 1;
}

int32_t TDataXStorage::GetTagValueAsSpareMatrix2F(int32_t elementindex, const std::string& ID,
                                                  TArray3DFloat& Array3DFloat1,
                                                  TArray3DFloat& Array3DFloat2) {
    const TDataXData* tag = FindTagOfType(elementindex, ID, kTagSparse3D);
    if (tag == nullptr) return -1;
    Array3DFloat1.fill(tag->ValueA);
    Array3DFloat2.fill(tag->ValueA);
    for (const std::vector<std::string>& items : SparseLines(*tag)) {
        if (items.size() < 5) continue;
        bool complete = false;
        const float second = ReadFloatText(items[4], &complete);
        if (!complete) continue;  // only the last value is tested
        const SparseCell c = sparseCell(items);
        if (inside(Array3DFloat1, c)) Array3DFloat1[c.i][c.j][c.k] = ReadFloatText(items[3]);
        if (inside(Array3DFloat2, c)) Array3DFloat2[c.i][c.j][c.k] = second;
    }
    return 1;
}

int32_t TDataXStorage::GetTagValueAsSpareMatrix2I(int32_t elementindex, const std::string& ID,
                                                  TArray3DInt& Array3DInt1,
                                                  TArray3DInt& Array3DInt2) {
    const TDataXData* tag = FindTagOfType(elementindex, ID, kTagSparse3D);
    if (tag == nullptr) return -1;
    const int32_t fill = roundHalfEven(tag->ValueA);
    Array3DInt1.fill(fill);
    Array3DInt2.fill(fill);
    for (const std::vector<std::string>& items : SparseLines(*tag)) {
        if (items.size() < 5) continue;
        bool complete = false;
        const float second = ReadFloatText(items[4], &complete);
        if (!complete) continue;  // only the last value is tested
        const SparseCell c = sparseCell(items);
        if (inside(Array3DInt1, c)) Array3DInt1[c.i][c.j][c.k] = roundHalfEven(ReadFloatText(items[3]));
        if (inside(Array3DInt2, c)) Array3DInt2[c.i][c.j][c.k] = roundHalfEven(second);
    }
    return 1;
}

int32_t TDataXStorage::GetTagValueAsSpareMatrix3S(int32_t elementindex, const std::string& ID,
                                                  const std::string& DefaultValue,
                                                  TArray3DString& Array3DString1,
                                                  TArray3DString& Array3DString2,
                                                  TArray3DString& Array3DString3) {
    const TDataXData* tag = FindTagOfType(elementindex, ID, kTagSparse3D);
    if (tag == nullptr) return -1;
    const std::string fill = shortString(DefaultValue);
    Array3DString1.fill(fill);
    Array3DString2.fill(fill);
    Array3DString3.fill(fill);
    for (const std::vector<std::string>& items : SparseLines(*tag)) {
        if (items.size() < 6) continue;
        const SparseCell c = sparseCell(items);
        if (inside(Array3DString1, c)) Array3DString1[c.i][c.j][c.k] = shortString(items[3]);
        if (inside(Array3DString2, c)) Array3DString2[c.i][c.j][c.k] = shortString(items[4]);
        if (inside(Array3DString3, c)) Array3DString3[c.i][c.j][c.k] = shortString(items[5]);
    }
    return 1;
}

// ---- bitmaps ---------------------------------------------------------------------

std::string TDataXStorage::RleEncodeLine(const std::string& codes) {
    std::string out;
    const size_t count = codes.size() / 6;
    size_t k = 0;
    while (k < count) {
        const std::string_view code(codes.data() + 6 * k, 6);
        size_t run = 1;
        while (k + run < count && std::string_view(codes.data() + 6 * (k + run), 6) == code) ++run;
        out += " " + intText(int64_t(run)) + " ";
        out += code;
        k += run;
    }
    return out;
}

std::string TDataXStorage::RleDecodeLine(const std::string& text, size_t maxLength) {
    // The words as SplitTokens sees them, without its limit of 51 words, so
    // rows of more than 25 runs decode in full.
    std::vector<std::string> words;
    std::string word;
    for (char c : text) {
        if (c == kBlank || c == ',' || c == '|') {
            if (!word.empty()) words.push_back(std::move(word));
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(std::move(word));

    std::string out;
    for (size_t k = 0; k + 1 < words.size() && out.size() < maxLength; k += 2) {
        const std::string& code = words[k + 1];
        const int64_t repeat = std::max(ReadIntegerText(words[k]), 0);
        for (int64_t r = 0; r < repeat && out.size() < maxLength; ++r) out += code;
    }
    return out;
}

int32_t TDataXStorage::AddTagAsBitmap(const std::string& tagname, bool RLE,
                                      const TBitmap* _Bitmap) {
    if (_Bitmap == nullptr || _Bitmap->Width() <= 0 || _Bitmap->Height() <= 0) return -2;
    if (_thisElementTag.empty()) return -1;
    std::vector<std::string> lines;
    lines.reserve(size_t(_Bitmap->Height()));
    for (int32_t y = 0; y < _Bitmap->Height(); ++y) {
        std::string codes;
        codes.reserve(size_t(_Bitmap->Width()) * 6);
        for (int32_t x = 0; x < _Bitmap->Width(); ++x) codes += pixelCode(_Bitmap->Pixel(x, y));
        lines.push_back(RLE ? RleEncodeLine(codes) : std::move(codes));
    }
    const std::string tag = tagname + attribute("type", "bitmap") +
                            attribute("width", intText(_Bitmap->Width())) +
                            attribute("height", intText(_Bitmap->Height())) +
                            attribute("rle_compression", RLE ? "1" : "0");
    return StoreBlockTag(tag, kTagBitmap, "(bitmap)", std::move(lines));
}

int32_t TDataXStorage::GetTagValueAsBitmap(int32_t elementindex, const std::string& ID,
                                           TBitmap& _Bitmap) {
    const TDataXData* tag = FindTagOfType(elementindex, ID, kTagBitmap);
    if (tag == nullptr) return -1;
    const int32_t width = std::max(tag->DimI, 0), height = std::max(tag->dimJ, 0);
    if (int64_t(width) * int64_t(height) > kMaxBlockCells) return -1;
    _Bitmap.SetSize(width, height);
    const auto fail = [&](const std::string& code) {
        throw kwd::ConversionError("Pixel code \"" + code + "\" of bitmap tag \"" + ID +
                                   "\" in file " + _DataXStreamFilename +
                                   " is not a hexadecimal number");
    };
    for (int32_t y = 0; y < height; ++y) {
        const std::string* line = StreamLine(int64_t(tag->DataStartStreamPos) + y);
        if (line == nullptr) break;
        const std::string row =
            line->substr(std::min(line->find_first_not_of(kBlank), line->size()));
        if (tag->Compression == 1) {
            setRlePixels(row, y, _Bitmap, fail);
            continue;
        }
        for (int32_t x = 0; x < width && size_t(x) * 6 < row.size(); ++x) {
            const std::string code = row.substr(size_t(x) * 6, 6);
            uint32_t colour = 0;
            for (char c : code) {
                const int d = hexValue(c);
                if (d < 0) fail(code);
                colour = (colour << 4) | uint32_t(d);
            }
            _Bitmap.SetPixel(x, y, colour);
        }
    }
    return 0;
}

// ---- binary data -------------------------------------------------------------------

std::string TDataXStorage::EncodeBase64Mime(std::string_view bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4 + bytes.size() / 57 * 2);
    size_t column = 0;
    const auto put = [&](char c) {
        if (column == kBase64LineLength) {
            text += "\r\n";
            column = 0;
        }
        text += c;
        ++column;
    };
    for (size_t k = 0; k < bytes.size(); k += 3) {
        const size_t n = std::min<size_t>(3, bytes.size() - k);
        uint32_t group = 0;
        for (size_t b = 0; b < 3; ++b)
            group = (group << 8) | (b < n ? static_cast<unsigned char>(bytes[k + b]) : 0u);
        for (size_t c = 0; c < 4; ++c)
            put(c <= n ? kBase64Alphabet[(group >> (18 - 6 * c)) & 0x3F] : '=');
    }
    return text;
}

std::string TDataXStorage::DecodeBase64(std::string_view text) {
    std::array<int, 256> value{};
    value.fill(-1);
    for (int k = 0; k < 64; ++k) value[static_cast<unsigned char>(kBase64Alphabet[k])] = k;
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        if (c == '=') break;
        const int v = value[static_cast<unsigned char>(c)];
        if (v < 0) continue;
        bits = (bits << 6) | uint32_t(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes += char((bits >> count) & 0xFF);
        }
    }
    return bytes;
}

int32_t TDataXStorage::AddTagAsBinary(const std::string& tagname, std::istream& aStream) {
    aStream.clear();
    aStream.seekg(0);
    aStream.clear();  // a stream that cannot seek is read from where it stands
    const std::string bytes((std::istreambuf_iterator<char>(aStream)), std::istreambuf_iterator<char>());
    return AddTagAsString(tagname, EncodeBase64Mime(bytes));
}

int32_t TDataXStorage::GetTagValueAsBinary(const std::string& ID, std::ostream& aStream) {
    aStream.clear();
    aStream.seekp(0);
    const std::string text = GetTagValueAsString(0, ID, "");
    if (!text.empty()) {
        const std::string bytes = DecodeBase64(text);
        aStream.write(bytes.data(), std::streamsize(bytes.size()));
    }
    const std::streamoff position = aStream.tellp();
    return position < 0 ? 0 : int32_t(std::min<std::streamoff>(position, INT32_MAX));
}

}  // namespace kwd::container
