#pragma once
// The owning arrays of the container's array tags (matrices and sparse 3-D
// matrices), apart from the container API that reads and writes them.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

namespace kwd::container {

// Owning rectangular arrays for the array tags, indexed [i][j] and [i][j][k]
// with the last index fastest. resize() sets the sizes (negative counts as 0)
// and every cell; a default-constructed array is empty. Copies are deep.
template <typename T>
class TDataXArray2D {
public:
    TDataXArray2D() = default;
    TDataXArray2D(int32_t nI, int32_t nJ, const T& value = T()) { resize(nI, nJ, value); }
    TDataXArray2D(const TDataXArray2D& other) { *this = other; }
    TDataXArray2D(TDataXArray2D&& other) noexcept { *this = std::move(other); }
    TDataXArray2D& operator=(const TDataXArray2D& other) {
        if (this != &other) {
            std::unique_ptr<T[]> copy(new T[other.size()]);
            std::copy_n(other.fData.get(), other.size(), copy.get());
            fData = std::move(copy);
            fI = other.fI;
            fJ = other.fJ;
        }
        return *this;
    }
    // A moved-from array is empty.
    TDataXArray2D& operator=(TDataXArray2D&& other) noexcept {
        if (this != &other) {
            fData = std::move(other.fData);
            fI = std::exchange(other.fI, 0);
            fJ = std::exchange(other.fJ, 0);
        }
        return *this;
    }

    void resize(int32_t nI, int32_t nJ, const T& value = T()) {
        const int32_t i = nI > 0 ? nI : 0, j = nJ > 0 ? nJ : 0;
        fData.reset(new T[size_t(i) * size_t(j)]);
        fI = i;
        fJ = j;
        fill(value);
    }
    void fill(const T& value) { std::fill_n(fData.get(), size(), value); }

    int32_t sizeI() const { return fI; }
    int32_t sizeJ() const { return fJ; }
    size_t size() const { return size_t(fI) * size_t(fJ); }
    bool contains(int64_t i, int64_t j) const { return i >= 0 && j >= 0 && i < fI && j < fJ; }

    T* operator[](int32_t i) { return fData.get() + size_t(i) * size_t(fJ); }
    const T* operator[](int32_t i) const { return fData.get() + size_t(i) * size_t(fJ); }

private:
    int32_t fI = 0, fJ = 0;
    std::unique_ptr<T[]> fData;
};

template <typename T>
class TDataXArray3D {
public:
    template <typename P>
    struct TPlane {
        P* fBase;
        int32_t fK;
        P* operator[](int32_t j) const { return fBase + size_t(j) * size_t(fK); }
    };

    TDataXArray3D() = default;
    TDataXArray3D(int32_t nI, int32_t nJ, int32_t nK, const T& value = T()) {
        resize(nI, nJ, nK, value);
    }
    TDataXArray3D(const TDataXArray3D& other) { *this = other; }
    TDataXArray3D(TDataXArray3D&& other) noexcept { *this = std::move(other); }
    TDataXArray3D& operator=(const TDataXArray3D& other) {
        if (this != &other) {
            std::unique_ptr<T[]> copy(new T[other.size()]);
            std::copy_n(other.fData.get(), other.size(), copy.get());
            fData = std::move(copy);
            fI = other.fI;
            fJ = other.fJ;
            fK = other.fK;
        }
        return *this;
    }
    // A moved-from array is empty.
    TDataXArray3D& operator=(TDataXArray3D&& other) noexcept {
        if (this != &other) {
            fData = std::move(other.fData);
            fI = std::exchange(other.fI, 0);
            fJ = std::exchange(other.fJ, 0);
            fK = std::exchange(other.fK, 0);
        }
        return *this;
    }

    // Raises std::length_error when the cell count does not fit in memory's range.
    void resize(int32_t nI, int32_t nJ, int32_t nK, const T& value = T()) {
        const int32_t i = nI > 0 ? nI : 0, j = nJ > 0 ? nJ : 0, k = nK > 0 ? nK : 0;
        const size_t plane = size_t(i) * size_t(j);
        if (k != 0 && plane > SIZE_MAX / sizeof(T) / size_t(k))
            throw std::length_error("TDataXArray3D: too many cells");
        fData.reset(new T[plane * size_t(k)]);
        fI = i;
        fJ = j;
        fK = k;
        fill(value);
    }
    void fill(const T& value) { std::fill_n(fData.get(), size(), value); }

    int32_t sizeI() const { return fI; }
    int32_t sizeJ() const { return fJ; }
    int32_t sizeK() const { return fK; }
    size_t size() const { return size_t(fI) * size_t(fJ) * size_t(fK); }
    bool contains(int64_t i, int64_t j, int64_t k) const {
        return i >= 0 && j >= 0 && k >= 0 && i < fI && j < fJ && k < fK;
    }

    TPlane<T> operator[](int32_t i) { return {fData.get() + size_t(i) * size_t(fJ) * size_t(fK), fK}; }
    TPlane<const T> operator[](int32_t i) const {
        return {fData.get() + size_t(i) * size_t(fJ) * size_t(fK), fK};
    }

private:
    int32_t fI = 0, fJ = 0, fK = 0;
    std::unique_ptr<T[]> fData;
};

using TArray2DFloat = TDataXArray2D<float>;
using TArray2DInt = TDataXArray2D<int32_t>;
using TArray2DBool = TDataXArray2D<bool>;
using TArray2DString = TDataXArray2D<std::string>;
using TArray3DFloat = TDataXArray3D<float>;
using TArray3DInt = TDataXArray3D<int32_t>;
// Cells are short strings: the container cuts every cell it reads or writes
// to its first 50 characters (TDataXStorage::kShortStringLength).
using TArray3DString = TDataXArray3D<std::string>;

}  // namespace kwd::container
