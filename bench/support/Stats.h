#pragma once
// Summaries of latency samples and the ratios the benchmark tables print. Pure functions.
#include <cstddef>
#include <string>
#include <vector>

namespace bench {

struct Summary {
    std::size_t count = 0;
    double min = 0;
    double median = 0;
    double p99 = 0;
    double max = 0;
    double mean = 0;
};

// Nearest-rank percentile (fraction in [0, 1]) of the samples; 0 when there are none.
double Percentile(std::vector<double> samples, double fraction);
double Median(std::vector<double> samples);
Summary Summarize(std::vector<double> samples);
// numerator / denominator, 0 when the denominator is not positive.
double Ratio(double numerator, double denominator);

// A plain text table: a header row, then rows of cells, columns padded to the widest cell.
class Table {
public:
    explicit Table(std::vector<std::string> header);
    void AddRow(std::vector<std::string> cells);
    std::string Render() const;

private:
    std::vector<std::vector<std::string>> m_rows;
};

// printf-style formatting into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A measured figure with that many decimals, or "n/a" where it could not be had (negative).
std::string Measured(double value, int decimals = 0);

} // namespace bench
