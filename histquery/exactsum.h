// A sum of products value x seconds that comes out the same whatever the
// order of its terms.
//
// The chart's time-weighted mean sums a value times the seconds it held, row
// after row. Floating-point addition rounds after every term, so a sum made
// bucket by bucket (the summary) and one made row by row would differ in the
// last digits. Here every product is taken exactly (a double's 53 bits times
// at most 32 bits of seconds) onto a fixed grid of 2^-64 and added as a
// 128-bit integer: integer addition does not round, so any grouping of the
// same terms gives the same bits. Parts of a product below 2^-64 are cut off,
// the same way in every grouping; sums beyond 2^63 are outside the range of
// any history (a meter at a million for a century of seconds is 3e15).
#pragma once

#include <cmath>
#include <cstdint>

class ExactSum {
 public:
  // Adds value * factor (factor: seconds or 1, at most 2^32 in magnitude).
  void Add(double value, int64_t factor) {
    if (value == 0 || factor == 0 || !std::isfinite(value)) return;
    bool negative = (value < 0) != (factor < 0);
    int exponent = 0;
    double fraction = std::frexp(std::fabs(value), &exponent);  // [0.5, 1)
    uint64_t mantissa = static_cast<uint64_t>(std::ldexp(fraction, 53));
    uint64_t times = static_cast<uint64_t>(factor < 0 ? -factor : factor);
    // mantissa * times as 128 bits, then placed 64 bits above the point.
    uint64_t low = (mantissa & 0xFFFFFFFFu) * times;
    uint64_t high = (mantissa >> 32) * times;
    uint64_t productLow = low + (high << 32);
    uint64_t productHigh = (high >> 32) + (productLow < low ? 1 : 0);
    Shift(productHigh, productLow, exponent - 53 + 64);
    if (negative) {
      productLow = ~productLow + 1;
      productHigh = ~productHigh + (productLow == 0 ? 1 : 0);
    }
    uint64_t sum = low_ + productLow;
    high_ += productHigh + (sum < low_ ? 1 : 0);
    low_ = sum;
  }

  void Add(const ExactSum& other) {
    uint64_t sum = low_ + other.low_;
    high_ += other.high_ + (sum < low_ ? 1 : 0);
    low_ = sum;
  }

  double ToDouble() const {
    bool negative = (high_ >> 63) != 0;
    uint64_t high = high_;
    uint64_t low = low_;
    if (negative) {
      low = ~low + 1;
      high = ~high + (low == 0 ? 1 : 0);
    }
    double magnitude = static_cast<double>(high) + std::ldexp(static_cast<double>(low), -64);
    return negative ? -magnitude : magnitude;
  }

  uint64_t HighBits() const { return high_; }
  uint64_t LowBits() const { return low_; }
  static ExactSum FromBits(uint64_t high, uint64_t low) {
    ExactSum sum;
    sum.high_ = high;
    sum.low_ = low;
    return sum;
  }

 private:
  // (high, low) shifted left by `by` bits (right where negative), bits
  // beyond either end dropped.
  static void Shift(uint64_t& high, uint64_t& low, int by) {
    if (by >= 128 || by <= -128) {
      high = low = 0;
    } else if (by >= 64) {
      high = low << (by - 64);
      low = 0;
    } else if (by > 0) {
      high = (high << by) | (low >> (64 - by));
      low <<= by;
    } else if (by <= -64) {
      low = high >> (-by - 64);
      high = 0;
    } else if (by < 0) {
      low = (low >> -by) | (high << (64 + by));
      high >>= -by;
    }
  }

  // Two's complement, 64 bits above and 64 below the point.
  uint64_t high_ = 0;
  uint64_t low_ = 0;
};
