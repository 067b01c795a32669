// The inner loop of the partner index: one-byte codes of the 48 means (and
// the 16 luma deviations) of a record, and lower bounds of the distance of two
// records computed from their codes, many codes per instruction sequence.
// Private to src/search: included only by the partner index and by the tests
// that hold every variant against a plain reference.
//
// Every mean m is held as a byte q = clamp(floor(m + offset)) (offset 0 for
// luma, 128 for the colour differences, clamped to 0..255), and so is the
// luma deviation of every cell when its weight is at least 1 (else those
// bytes are 0). Floor and clamp never move two values further apart than one
// unit beyond their distance, so |q_p - q_q| - 1 < |x_p - x_q| for every coded
// value x. Over the n coded values these give lower bounds of the part of D²
// they stand for, S (at most D² when the weights are sound):
//   L1:  SAD - n < sum |x_p - x_q| <= sqrt(n x S)
//   G:   the same over each group of eight bytes, whose parts of S add up:
//        sum over the groups of max(SAD of the group - 8, 0)² <= 8 S
//   L2:  sum min(max(|q_p - q_q| - 1, 0), 127)² <= S
// G is far tighter than L1 where the differences vary from group to group
// (from one channel or band of cells to another), and nearly as cheap: the
// processor's SAD instruction sums groups of eight bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "signature/Signature.h"

namespace norvane::partner {

inline constexpr int kCodedMeans = 3 * kGridCells;  // 48
inline constexpr int kCodeBytes = 64;               // the means, then the luma deviations

// The code of one record: 16 luma means, 16 Cb means, 16 Cr means, 16 luma
// deviations or zeros.
struct alignas(64) MeanCode {
  std::uint8_t bytes[kCodeBytes] = {};
};

// The code of a grid whose means are finite; the luma deviations are coded
// when `withLumaDeviations` (a deviation that is not a number as 0: only the
// pairs it makes never similar can lose from that).
MeanCode EncodeMeans(const SignatureGrid& grid, bool withLumaDeviations);

// The G bound above over all bytes of two codes (at most 8 x 2040²).
std::int32_t CodeGroupedBound(const MeanCode& a, const MeanCode& b);

// The L2 bound above over all bytes of two codes (at most 64 x 127²).
std::int32_t CodeSquaredLowerBound(const MeanCode& a, const MeanCode& b);

// The query's side of a finer bound for the candidates that pass the code
// bounds: how far every coded value v of the query lies beyond its code
// byte, in whole sixteenths (0 to 15; 15 for a value above the code range),
// so that X = 16 x code + fraction is within a sixteenth below 16 v. A
// candidate's code byte q says its value lies in [q, q + 1), below 1 for
// q = 0 and from 255 on for q = 255; the distance from the query's value to
// that interval, rather than the code difference less one, loses less than
// a unit per value. Value k's fraction is the low half of byte k for k < 32,
// else the high half of byte k - 32.
struct FineFractions {
  std::uint8_t nibbles[kCodeBytes / 2] = {};
};
FineFractions EncodeFractions(const SignatureGrid& grid, bool withLumaDeviations);

// Sum over the coded values of d², d the distance in sixteenths from X to
// the candidate's interval, less the sixteenth X may lie below 16 v:
// d <= 16 |v_p - v_q|, so the sum is at most 256 S.
std::int32_t FineSquaredBoundPortable(const MeanCode& query, const FineFractions& fractions,
                                      const MeanCode& code);
// The same with AVX2 (only when CpuHasAvx2()) and AVX-512 (only when CpuHasAvx512()).
std::int32_t FineSquaredBoundAvx2(const MeanCode& query, const FineFractions& fractions, const MeanCode& code);
std::int32_t FineSquaredBoundAvx512(const MeanCode& query, const FineFractions& fractions, const MeanCode& code);
// The fastest variant this processor runs.
std::int32_t FineSquaredBound(const MeanCode& query, const FineFractions& fractions, const MeanCode& code);

// A code that passed FilterCodes: its offset and its CodeSquaredLowerBound.
struct PassedCode {
  std::uint32_t offset;
  std::int32_t squared;
};

// The vector filters read whole groups of codes: up to kCodeSlack codes
// past codes[count - 1] must be readable (their values do not matter).
inline constexpr std::size_t kCodeSlack = 7;

// Writes into `out`, in increasing order of k, the codes[k], 0 <= k < count,
// with CodeGroupedBound(query, codes[k]) <= groupedLimit and CodeSquaredLowerBound(query,
// codes[k]) <= squaredLimit, and returns how many; `out` must have room for
// `count` entries. With `picks`, the codes looked at are codes[picks[k]]
// instead, and the offsets written are picks[k]; the vector variants then
// read up to kCodeSlack picks past picks[count - 1], which must name
// readable codes.
std::size_t FilterCodesPortable(const MeanCode& query, const MeanCode* codes, std::size_t count,
                                const std::uint32_t* picks, std::int32_t groupedLimit, std::int32_t squaredLimit,
                                PassedCode* out);
// The same with AVX2 instructions; only when CpuHasAvx2().
std::size_t FilterCodesAvx2(const MeanCode& query, const MeanCode* codes, std::size_t count,
                            const std::uint32_t* picks, std::int32_t groupedLimit, std::int32_t squaredLimit,
                            PassedCode* out);

// The same with AVX-512 instructions; only when CpuHasAvx512().
std::size_t FilterCodesAvx512(const MeanCode& query, const MeanCode* codes, std::size_t count,
                              const std::uint32_t* picks, std::int32_t groupedLimit, std::int32_t squaredLimit,
                              PassedCode* out);

// Codes may also be held split: the first kFrontBytes of each (the luma and
// Cb means) in one array, the rest in another, so that a filter can read the
// fronts alone, half the bytes, and turn most candidates away by them. Over
// the 32 values of a front, as L1 above: front SAD - 32 < sqrt(32 x S).
inline constexpr int kFrontBytes = kCodeBytes / 2;
inline constexpr std::size_t kFrontSlack = 15;

// The SAD of the first kFrontBytes of the query and of a front.
int FrontSad(const MeanCode& query, const std::uint8_t* front);
// Code k of split codes, whole.
MeanCode JoinHalves(const std::uint8_t* fronts, const std::uint8_t* backs, std::size_t k);

// As FilterCodes, for the codes whose front SAD is also at most frontLimit;
// code k is fronts[32 k ..] followed by backs[32 k ..]. The vector variants
// read up to kFrontSlack fronts past the last (their values do not matter).
std::size_t FilterSplitCodesPortable(const MeanCode& query, const std::uint8_t* fronts,
                                     const std::uint8_t* backs, std::size_t count, int frontLimit,
                                     std::int32_t groupedLimit, std::int32_t squaredLimit, PassedCode* out);
std::size_t FilterSplitCodesAvx2(const MeanCode& query, const std::uint8_t* fronts,
                                 const std::uint8_t* backs, std::size_t count, int frontLimit,
                                 std::int32_t groupedLimit, std::int32_t squaredLimit, PassedCode* out);
std::size_t FilterSplitCodesAvx512(const MeanCode& query, const std::uint8_t* fronts,
                                   const std::uint8_t* backs, std::size_t count, int frontLimit,
                                   std::int32_t groupedLimit, std::int32_t squaredLimit, PassedCode* out);
std::size_t FilterSplitCodes(const MeanCode& query, const std::uint8_t* fronts, const std::uint8_t* backs,
                             std::size_t count, int frontLimit, std::int32_t groupedLimit, std::int32_t squaredLimit,
                             PassedCode* out);

// The fastest variant this processor runs.
std::size_t FilterCodes(const MeanCode& query, const MeanCode* codes, std::size_t count, const std::uint32_t* picks,
                        std::int32_t groupedLimit, std::int32_t squaredLimit, PassedCode* out);

// A cheaper test that comes before the codes: every entry of the index holds
// three of its projections as floats, and an entry further from the record
// than a radius in those three (each error of the floats allowed for by the
// caller's radius) cannot be similar to it.
struct BallCenter {
  float a = 0, b = 0, c = 0;
  float radius2 = 0;  // the squared radius
};
// The vector variants read up to kBallSlack values past the last.
inline constexpr std::size_t kBallSlack = 15;

// Writes into `out`, in increasing order, first + k for every k, 0 <= k <
// count, with (a[k] - a)² + (b[k] - b)² + (c[k] - c)² <= radius2, computed in
// floats in that order, and returns how many; `out` must have room for
// count + kBallSlack entries.
std::size_t WithinBallPortable(const float* a, const float* b, const float* c, std::size_t count,
                               const BallCenter& center, std::uint32_t first, std::uint32_t* out);
std::size_t WithinBallAvx2(const float* a, const float* b, const float* c, std::size_t count,
                           const BallCenter& center, std::uint32_t first, std::uint32_t* out);
std::size_t WithinBallAvx512(const float* a, const float* b, const float* c, std::size_t count,
                             const BallCenter& center, std::uint32_t first, std::uint32_t* out);
std::size_t WithinBall(const float* a, const float* b, const float* c, std::size_t count, const BallCenter& center,
                       std::uint32_t first, std::uint32_t* out);

}  // namespace norvane::partner
