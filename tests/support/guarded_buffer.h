// A 32-byte aligned test buffer framed by guard values, for checking that a
// kernel writes nothing outside the extent it was given.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

// Bitwise equality, except that any two NaNs match (payloads may differ).
inline bool SameValue(double a, double b) {
    if (std::isnan(a) && std::isnan(b)) return true;
    return std::memcmp(&a, &b, sizeof a) == 0;
}

class GuardedBuffer {
public:
    static constexpr int kGuard = 8;  // doubles before and after the data
    static constexpr double kGuardValue = -987654.321;

    // `count` doubles at a 32-byte aligned address, all set to `fill`.
    explicit GuardedBuffer(std::size_t count, double fill = kGuardValue) : count_(count) {
        const std::size_t total = count + 2 * kGuard;
        const std::size_t bytes = (total * sizeof(double) + 31) / 32 * 32;
        storage_.reset(static_cast<double*>(std::aligned_alloc(32, bytes)));
        for (std::size_t i = 0; i < total; ++i) storage_.get()[i] = kGuardValue;
        for (std::size_t i = 0; i < count; ++i) data()[i] = fill;
    }
    // A copy of `values`, framed by guards.
    explicit GuardedBuffer(const std::vector<double>& values) : GuardedBuffer(values.size()) {
        for (std::size_t i = 0; i < values.size(); ++i) data()[i] = values[i];
    }
    double* data() { return storage_.get() + kGuard; }
    const double* data() const { return storage_.get() + kGuard; }
    double& operator[](std::size_t i) { return data()[i]; }
    double operator[](std::size_t i) const { return data()[i]; }
    std::size_t size() const { return count_; }
    std::vector<double> Contents() const { return {data(), data() + count_}; }
    bool GuardsIntact() const { return !FirstWrittenGuard(); }
    // Where, counted from data(), the first guard that lost its value lies:
    // -kGuard .. -1 before the data, size() .. size() + kGuard - 1 after it.
    std::optional<std::ptrdiff_t> FirstWrittenGuard() const {
        const auto written = [this](std::ptrdiff_t n) {
            return !SameValue(data()[n], kGuardValue);
        };
        for (std::ptrdiff_t n = -kGuard; n < 0; ++n) {
            if (written(n)) return n;
        }
        const auto end = static_cast<std::ptrdiff_t>(count_);
        for (std::ptrdiff_t n = end; n < end + kGuard; ++n) {
            if (written(n)) return n;
        }
        return std::nullopt;
    }

private:
    struct FreeDeleter {
        void operator()(double* p) const { std::free(p); }
    };
    std::size_t count_;
    std::unique_ptr<double, FreeDeleter> storage_;
};
