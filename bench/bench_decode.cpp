// Decoding speed of a full answer: N persons (default 2500, the default
// capacity) as 24-byte records and as 29-byte records with DT bytes. Prints
// the median time of one full decode and the line count.
//
//   bench_decode [persons]

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "link/AnswerDecode.h"

namespace {

constexpr int kRuns = 51;
constexpr int kDefaultPersons = 2500;
constexpr int kMaxPersons = 1000000;

// An 'R' answer of `persons` records with varied meal codes (valid for the
// default 4 breakfasts and 6 dinners).
std::vector<uint8_t> BuildAnswer(int persons, int recordSize) {
  std::vector<uint8_t> block(static_cast<size_t>(persons) * recordSize);
  for (int p = 0; p < persons; ++p) {
    uint8_t* record = block.data() + static_cast<size_t>(p) * recordSize;
    const int number = p + 1;
    record[0] = 'R';
    record[1] = static_cast<uint8_t>(number >> 8);
    record[2] = static_cast<uint8_t>(number & 0xFF);
    for (int i = 3; i < 7; ++i) record[i] = static_cast<uint8_t>(p * 7 + i);
    record[7] = '0';
    for (int day = 0; day < kRecordDayCount; ++day) record[8 + day] = static_cast<uint8_t>((p + day * 17) % 240);
    for (int i = 22; i < recordSize; ++i) record[i] = static_cast<uint8_t>(i);
  }
  return block;
}

double MedianDecodeMs(const std::vector<uint8_t>& block, bool useDT, size_t& lineCount) {
  std::vector<double> times;
  for (int run = 0; run < kRuns; ++run) {
    const auto start = std::chrono::steady_clock::now();
    CodingSettings coding;
    coding.UseDT = useDT;
    const BlockDecode decoded = DecodeAnswerBlock(block.data(), static_cast<int>(block.size()), coding);
    const auto end = std::chrono::steady_clock::now();
    times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    lineCount = decoded.Lines.size();
  }
  std::nth_element(times.begin(), times.begin() + kRuns / 2, times.end());
  return times[kRuns / 2];
}

void Report(int persons, bool useDT) {
  const int recordSize = useDT ? kPersonRecordSizeDT : kPersonRecordSize;
  const std::vector<uint8_t> block = BuildAnswer(persons, recordSize);
  size_t lines = 0;
  const double ms = MedianDecodeMs(block, useDT, lines);
  std::printf("%d persons, %zu bytes (%d-byte records%s): median %.3f ms per decode over %d runs, %zu lines\n", persons,
              block.size(), recordSize, useDT ? ", DT" : "", ms, kRuns, lines);
}

}  // namespace

int main(int argc, char** argv) {
  int persons = kDefaultPersons;
  if (argc > 1) {
    char* end = nullptr;
    const long value = std::strtol(argv[1], &end, 10);
    if (*end != '\0' || value < 1 || value > kMaxPersons) {
      std::fprintf(stderr, "usage: bench_decode [persons 1..%d]\n", kMaxPersons);
      return 2;
    }
    persons = static_cast<int>(value);
  }
  Report(persons, false);
  Report(persons, true);
  std::printf("target: a full answer of 2500 persons decoded in under 5 ms\n");
  return 0;
}
