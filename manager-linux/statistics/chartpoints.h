// The points of the statistics charts. Each of the four time scales takes a
// point every `factor` records (1, 6, 60, 360: one a second, then every 6,
// 60 and 360 seconds) from the difference to the record of its last point,
// in two modes: per second, and as a share in percent. A chart keeps
// 100 x factor seconds of points.
#pragma once

#include <array>
#include <vector>

#include "NettlebeamAPI.h"

class ChartPoints {
  public:
    static constexpr int kScales = 4;
    static constexpr int kModes = 2;  // 0 per second, 1 percentage
    static constexpr int kSeries = 9;
    static constexpr int kGraphs = kScales * kModes * kSeries;
    static constexpr std::array<int, kScales> kFactors{1, 6, 60, 360};

    // One value per port, mode and series.
    using Values = std::array<std::array<std::array<double, kSeries>, kModes>, 2>;
    struct Point {
        int scale = 0;
        Values values{};
    };

    // The graph of a plot that shows one scale, mode and series.
    static constexpr int graphIndex(int scale, int mode, int series) {
        return 18 * scale + 9 * mode + series;
    }
    static constexpr double spanSeconds(int scale) { return 100.0 * kFactors[scale]; }
    static constexpr double tickSeconds(int scale) { return 10.0 * kFactors[scale]; }

    // The points due with `current`; `usageNow` is each port's bandwidth
    // usage since the previous record (series 8 of the percentage mode on
    // every scale). The first record after a restart only becomes the
    // reference. A scale whose interval took no time gets no point: a rate
    // over it has no value.
    std::vector<Point> update(const NettlebeamApiStatistics& current,
                              const std::array<double, 2>& usageNow);
    // The next record becomes the reference of every scale.
    void restart() { restart_ = true; }

  private:
    bool restart_ = true;
    std::array<int, kScales> countdown_{};
    std::array<NettlebeamApiStatistics, kScales> scaleRecord_{};
};
