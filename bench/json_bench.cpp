// Parse throughput of the JSON reader on given files.
//
// Usage: json_bench [--seconds S] FILE...
// For each file: reads it whole, checks that it parses, then runs parse_json
// in rounds of about S/5 seconds each (default S = 1) and prints one line
//   FILE <TAB> BYTES <TAB> BEST_MB_PER_S <TAB> MEDIAN_MB_PER_S <TAB> NS_PER_PARSE
// with MB = 10^6 bytes. Not a test: numbers depend on the machine and its load.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "core/json/reader.hpp"

namespace {

volatile std::size_t sink;

bool read_file(const char* path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    out = buffer.str();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 1.0;
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else {
            files.push_back(argv[i]);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: json_bench [--seconds S] FILE...\n");
        return 2;
    }
    using clock = std::chrono::steady_clock;
    constexpr int rounds = 5;
    for (const char* path : files) {
        std::string text;
        if (!read_file(path, text)) {
            std::fprintf(stderr, "json_bench: cannot read %s\n", path);
            return 1;
        }
        auto check = vemrat::core::json::parse_json(text);
        if (!check) {
            std::fprintf(stderr, "json_bench: %s does not parse: %s\n", path, check.error().text().c_str());
            return 1;
        }
        // Size a round: parses needed for seconds / rounds.
        std::size_t per_round = 1;
        for (;;) {
            const auto start = clock::now();
            for (std::size_t i = 0; i < per_round; ++i) sink = sink + vemrat::core::json::parse_json(text)->root().size();
            const double took = std::chrono::duration<double>(clock::now() - start).count();
            if (took >= seconds / rounds / 4) {
                per_round = std::max<std::size_t>(1, static_cast<std::size_t>(static_cast<double>(per_round) * (seconds / rounds) / took));
                break;
            }
            per_round *= 2;
        }
        std::vector<double> rates;
        double best_ns = 0;
        for (int r = 0; r < rounds; ++r) {
            const auto start = clock::now();
            for (std::size_t i = 0; i < per_round; ++i) sink = sink + vemrat::core::json::parse_json(text)->root().size();
            const double took = std::chrono::duration<double>(clock::now() - start).count();
            const double rate = static_cast<double>(text.size()) * static_cast<double>(per_round) / took / 1e6;
            rates.push_back(rate);
            const double ns = took * 1e9 / static_cast<double>(per_round);
            if (r == 0 || ns < best_ns) best_ns = ns;
        }
        std::sort(rates.begin(), rates.end());
        std::printf("%s\t%zu\t%.1f\t%.1f\t%.1f\n", path, text.size(), rates.back(), rates[rounds / 2], best_ns);
    }
    return 0;
}
