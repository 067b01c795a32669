#include "search/FindPartners.h"

#include <cmath>
#include <cstddef>

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
  const double aspect = static_cast<double>(AspectValue(p) - AspectValue(q));
  double sum = aspect * params.weightA * aspect;
  for (int c = 0; c < kGridCells; ++c) {
    const SignatureCell& a = p.grid[static_cast<std::size_t>(c)];
    const SignatureCell& b = q.grid[static_cast<std::size_t>(c)];
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
  if (unrounded >= 2147483647.0) return INT32_MAX;
  return static_cast<std::int32_t>(unrounded);
}

namespace {

// Chooses the partner of every record. A later candidate replaces the current
// partner only when its difference is strictly smaller, so among equally
// good candidates the earliest wins, and an identical image (difference 0)
// displaces a merely similar one.
void ChoosePartners(FileList& records, const DifferenceParams& params, SearchView& view) {
  const double limit = DifferenceLimit(params.threshold);
  const int n = static_cast<int>(records.size());
  for (FileRecord& r : records) r.partner = -1;

  for (int j = 0; j < n; ++j) {
    FileRecord& row = records[static_cast<std::size_t>(j)];
    if (row.width <= 0) continue;
    for (int i = j + 1; i < n; ++i) {
      const FileRecord& candidate = records[static_cast<std::size_t>(i)];
      if (candidate.width <= 0) continue;
      if (row.digest == candidate.digest) {
        if (row.partner == -1 || row.difference > 0) {
          row.partner = i;
          row.difference = 0;
        }
        continue;
      }
      const double d2 = SquaredDistance(row, candidate, params, limit);
      if (!IsSimilar(d2, limit)) continue;
      const double a = UnroundedDifference(d2);
      if (row.partner == -1 || a < static_cast<double>(row.difference)) {
        row.partner = i;
        row.difference = StoredDifference(a);
      }
    }
    if (j % 10 == 0) {
      view.SetStatusText(ComparingStatus(j + 1, n));
      view.PumpMessages();
    }
  }
}

// Writes the partner columns of every row from the record its column 0 names.
void WritePartnerColumns(const FileList& records, SearchView& view) {
  const int n = static_cast<int>(records.size());
  for (int k = 0; k < n; ++k) {
    view.ListSetText(k, kColumnPartnerName, "");
    view.ListSetText(k, kColumnDifference, "");
    view.ListSetText(k, kColumnPartner, "");
    const std::optional<int> position = ReadDecimal(view.ListGetText(k, kColumnPosition));
    if (!position || *position < 0 || *position >= n) continue;
    const FileRecord& record = records[static_cast<std::size_t>(*position)];
    if (record.partner < 0 || record.partner >= n) continue;
    view.ListSetText(k, kColumnPartnerName, records[static_cast<std::size_t>(record.partner)].name);
    view.ListSetText(k, kColumnDifference, DecimalText(record.difference));
    view.ListSetText(k, kColumnPartner, DecimalText(record.partner));
  }
}

}  // namespace

int FindPartners(FileList& records, const DifferenceParams& params, SearchView& view) {
  ChoosePartners(records, params, view);
  WritePartnerColumns(records, view);
  view.ListKeepSelectionVisible();
  return 0;
}

int FindPartners(FileList& records, const Settings& settings, SearchView& view) {
  return FindPartners(records, DifferenceParamsFrom(settings), view);
}

}  // namespace norvane
