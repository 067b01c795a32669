#include "search/FindPartners.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

#include "search/PartnerIndex.h"
#include "settings/Settings.h"

namespace norvane {

DifferenceParams DifferenceParamsFrom(const Settings& settings) {
  DifferenceParams params;
  params.threshold = settings.ThresHold;
  params.weightV = settings.WeightV;
  params.weightA = settings.WeightA;
  return params;
}

double DifferenceLimit(std::int32_t threshold) {
  const std::int64_t t = threshold;
  return static_cast<double>(t * t);
}

std::int64_t AspectValue(const FileRecord& record) {
  return std::int64_t{record.height} * 100 / record.width;
}

double SquaredDistance(const FileRecord& p, const FileRecord& q, const DifferenceParams& params,
                       double limit) {
  return SquaredDistance(p, q, AspectValue(p), AspectValue(q), params, limit);
}

double SquaredDistance(const FileRecord& p, const FileRecord& q, std::int64_t aspectP,
                       std::int64_t aspectQ, const DifferenceParams& params, double limit) {
  return SquaredDistance(p.grid.unpacked(), q.grid, aspectP, aspectQ, params, limit);
}

double SquaredDistance(const SignatureGrid& p, const PackedGrid& q, std::int64_t aspectP,
                       std::int64_t aspectQ, const DifferenceParams& params, double limit) {
  const double aspect = static_cast<double>(aspectP - aspectQ);
  double sum = aspect * params.weightA * aspect;
  for (int c = 0; c < kGridCells; ++c) {
    const SignatureCell& a = p[static_cast<std::size_t>(c)];
    // q's cells are read one at a time: the sum often stops after a few.
    SignatureCell b;
    q.UnpackCell(c, b);
    double d = a.meanY - b.meanY;
    sum += d * d;
    d = a.meanCb - b.meanCb;
    sum += d * d;
    d = a.meanCr - b.meanCr;
    sum += d * d;
    d = a.sdevY - b.sdevY;
    sum += d * d * params.weightV;
    d = a.sdevCb - b.sdevCb;
    sum += d * d * params.weightV;
    d = a.sdevCr - b.sdevCr;
    sum += d * d * params.weightV;
    if (sum > limit) break;
  }
  return sum;
}

double UnroundedDifference(double squaredDistance) { return std::sqrt(squaredDistance) + 1.0; }

std::int32_t StoredDifference(double unrounded) {
  // Not a number only arises from a negative weight (D² below 0); a cast of
  // it would be undefined, so it is held at the largest value as well.
  if (!(unrounded < 2147483647.0)) return INT32_MAX;
  return static_cast<std::int32_t>(unrounded);
}

PartnerChoice ChoosePartnerPairwise(const FileList& records, const DifferenceParams& params, int j) {
  const double limit = DifferenceLimit(params.threshold);
  const int n = static_cast<int>(records.size());
  PartnerChoice best;
  const FileRecord& row = records[static_cast<std::size_t>(j)];
  if (row.width <= 0) return best;
  // A later candidate replaces the current partner only when its difference
  // is strictly smaller, so among equally good candidates the earliest wins,
  // and an identical image (difference 0) displaces a merely similar one.
  const SignatureGrid grid = row.grid.unpacked();
  const std::int64_t aspect = AspectValue(row);
  for (int i = j + 1; i < n; ++i) {
    const FileRecord& candidate = records[static_cast<std::size_t>(i)];
    if (candidate.width <= 0) continue;
    if (row.digest == candidate.digest) {
      if (best.partner == -1 || best.difference > 0) {
        best.partner = i;
        best.difference = 0;
      }
      continue;
    }
    const double d2 = SquaredDistance(grid, candidate.grid, aspect, AspectValue(candidate), params, limit);
    if (!IsSimilar(d2, limit)) continue;
    const double a = UnroundedDifference(d2);
    if (best.partner == -1 || a < static_cast<double>(best.difference)) {
      best.partner = i;
      best.difference = StoredDifference(a);
    }
  }
  return best;
}

std::vector<PartnerChoice> ChoosePartnersPairwise(const FileList& records,
                                                  const DifferenceParams& params) {
  std::vector<PartnerChoice> choices(records.size());
  for (std::size_t j = 0; j < records.size(); ++j) {
    choices[j] = ChoosePartnerPairwise(records, params, static_cast<int>(j));
  }
  return choices;
}

namespace {

// Below this many records the threads cost more than they save.
constexpr int kMinParallelRecords = 4096;
// Longest wait of the calling thread between two calls of PumpMessages.
constexpr auto kPumpInterval = std::chrono::milliseconds(50);

// Joins the workers on every way out of the scope.
class Workers {
 public:
  Workers() = default;
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;
  ~Workers() {
    for (std::thread& t : threads_) t.join();
  }
  template <typename F>
  void Start(int count, F body) {
    for (int w = 0; w < count; ++w) threads_.emplace_back(body);
  }

 private:
  std::vector<std::thread> threads_;
};

// Progress after record j as the pair-by-pair loop has always shown it:
// every tenth position, records with width 0 excepted. True when shown.
bool ShowProgress(const FileList& records, int j, SearchView* view) {
  if (view == nullptr || records[static_cast<std::size_t>(j)].width <= 0 || j % 10 != 0) {
    return false;
  }
  view->SetStatusText(ComparingStatus(j + 1, static_cast<int>(records.size())));
  view->PumpMessages();
  return true;
}

}  // namespace

namespace {

// ChoosePartners, each choice handed to take(position, choice) as soon as it
// is made (by the worker that made it), rather than kept in a list.
template <typename Take>
void ChooseEach(const FileList& records, const DifferenceParams& params, int workers, SearchView* view,
                const Take& take) {
  const int n = static_cast<int>(records.size());
  const PartnerIndex index(records, params, n < kMinParallelRecords ? 1 : workers);
  if (workers <= 1 || n < kMinParallelRecords) {
    for (int j = 0; j < n; ++j) {
      take(j, index.Choose(j));
      ShowProgress(records, j, view);
    }
    return;
  }

  // Workers take blocks of outer records in increasing order and write only
  // their own records' choices; the calling thread follows the finished
  // prefix and shows its progress, so the view sees the same sequence as a
  // loop over the records in order.
  const int chunks = index.blocks();
  const int chunkSize = index.blockSize();
  std::atomic<int> next{0};
  std::vector<std::atomic<bool>> done(static_cast<std::size_t>(chunks));
  std::mutex mutex;
  std::condition_variable finished;
  {
    Workers pool;
    pool.Start(std::min(workers, chunks), [&] {
      std::vector<PartnerChoice> choices(static_cast<std::size_t>(chunkSize));
      for (;;) {
        const int chunk = next.fetch_add(1, std::memory_order_relaxed);
        if (chunk >= chunks) return;
        index.ChooseBlock(chunk, choices);
        const int start = chunk * chunkSize, end = std::min(n, start + chunkSize);
        for (int j = start; j < end; ++j) take(j, choices[static_cast<std::size_t>(j - start)]);
        done[static_cast<std::size_t>(chunk)].store(true, std::memory_order_release);
        { const std::lock_guard<std::mutex> lock(mutex); }
        finished.notify_one();
      }
    });

    auto lastPump = std::chrono::steady_clock::now();
    for (int shown = 0; shown < chunks;) {
      if (done[static_cast<std::size_t>(shown)].load(std::memory_order_acquire)) {
        const int end = std::min(n, (shown + 1) * chunkSize);
        for (int j = shown * chunkSize; j < end; ++j) {
          if (ShowProgress(records, j, view)) lastPump = std::chrono::steady_clock::now();
        }
        ++shown;
        continue;
      }
      std::unique_lock<std::mutex> lock(mutex);
      finished.wait_until(lock, lastPump + kPumpInterval, [&] {
        return done[static_cast<std::size_t>(shown)].load(std::memory_order_acquire);
      });
      lock.unlock();
      if (view != nullptr && std::chrono::steady_clock::now() - lastPump >= kPumpInterval) {
        view->PumpMessages();
        lastPump = std::chrono::steady_clock::now();
      }
    }
  }
}

}  // namespace

std::vector<PartnerChoice> ChoosePartners(const FileList& records, const DifferenceParams& params,
                                          int workers, SearchView* view) {
  std::vector<PartnerChoice> choices(records.size());
  ChooseEach(records, params, workers, view,
             [&](int j, const PartnerChoice& choice) { choices[static_cast<std::size_t>(j)] = choice; });
  return choices;
}

namespace {

// Chooses the partner of every record on every hardware thread, straight
// into the records: a list of the choices would take 8 bytes per record at
// the peak of a search. The workers write only these two fields, which the
// index never reads.
void ChoosePartnersForAll(FileList& records, const DifferenceParams& params, SearchView& view) {
  const unsigned hardware = std::thread::hardware_concurrency();
  ChooseEach(records, params, hardware == 0 ? 1 : static_cast<int>(hardware), &view,
             [&](int j, const PartnerChoice& choice) {
               FileRecord& record = records[static_cast<std::size_t>(j)];
               record.partner = choice.partner;
               record.difference = choice.difference;
             });
}

// Writes the partner columns of every row from the record its column 0 names.
void WritePartnerColumns(const FileList& records, SearchView& view) {
  const int n = static_cast<int>(records.size());
  for (int k = 0; k < n; ++k) {
    view.ListSetText(k, kColumnPartnerName, "");
    view.ListSetText(k, kColumnDifference, "");
    view.ListSetText(k, kColumnPartner, "");
    const std::optional<int> position = RecordOfCell(view.ListGetText(k, kColumnPosition), records.size());
    if (!position) continue;
    const FileRecord& record = records[static_cast<std::size_t>(*position)];
    if (record.partner < 0 || record.partner >= n) continue;
    view.ListSetText(k, kColumnPartnerName, records[static_cast<std::size_t>(record.partner)].name);
    view.ListSetText(k, kColumnDifference, DecimalText(record.difference));
    view.ListSetText(k, kColumnPartner, DecimalText(record.partner));
  }
}

}  // namespace

int FindPartners(FileList& records, const DifferenceParams& params, SearchView& view) {
  ChoosePartnersForAll(records, params, view);
  WritePartnerColumns(records, view);
  view.ListKeepSelectionVisible();
  return 0;
}

int FindPartners(FileList& records, const Settings& settings, SearchView& view) {
  return FindPartners(records, DifferenceParamsFrom(settings), view);
}

}  // namespace norvane
