#include "Stats.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <numeric>

namespace bench {

double Percentile(std::vector<double> samples, double fraction)
{
    if (samples.empty()) {
        return 0;
    }
    fraction = std::min(1.0, std::max(0.0, fraction));
    // Nearest rank: the smallest sample with at least that fraction of samples at or below it.
    std::size_t rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(samples.size())));
    rank = std::max<std::size_t>(rank, 1);
    const auto nth = samples.begin() + static_cast<std::ptrdiff_t>(rank - 1);
    std::nth_element(samples.begin(), nth, samples.end());
    return *nth;
}

double Median(std::vector<double> samples) { return Percentile(std::move(samples), 0.5); }

Summary Summarize(std::vector<double> samples)
{
    Summary s;
    s.count = samples.size();
    if (samples.empty()) {
        return s;
    }
    std::sort(samples.begin(), samples.end());
    s.min = samples.front();
    s.max = samples.back();
    s.mean = std::accumulate(samples.begin(), samples.end(), 0.0) / static_cast<double>(samples.size());
    s.median = Percentile(samples, 0.5);
    s.p99 = Percentile(samples, 0.99);
    return s;
}

double Ratio(double numerator, double denominator) { return denominator > 0 ? numerator / denominator : 0; }

Table::Table(std::vector<std::string> header) { m_rows.push_back(std::move(header)); }

void Table::AddRow(std::vector<std::string> cells) { m_rows.push_back(std::move(cells)); }

std::string Table::Render() const
{
    std::vector<std::size_t> widths;
    for (const auto& row : m_rows) {
        if (widths.size() < row.size()) {
            widths.resize(row.size(), 0);
        }
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    std::string out;
    auto line = [&](const std::vector<std::string>& row) {
        out += "|";
        for (std::size_t i = 0; i < widths.size(); ++i) {
            const std::string cell = i < row.size() ? row[i] : std::string();
            out += " " + cell + std::string(widths[i] - cell.size(), ' ') + " |";
        }
        out += "\n";
    };
    for (std::size_t r = 0; r < m_rows.size(); ++r) {
        line(m_rows[r]);
        if (r == 0) {
            out += "|";
            for (std::size_t w : widths) {
                out += std::string(w + 2, '-') + "|";
            }
            out += "\n";
        }
    }
    return out;
}

std::string Format(const char* format, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0) {
        return std::string();
    }
    return std::string(buffer, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1));
}

std::string Measured(double value, int decimals)
{
    return value < 0 ? std::string("n/a") : Format("%.*f", decimals, value);
}

} // namespace bench
