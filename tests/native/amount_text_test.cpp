#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "check.hpp"
#include "core/service/amount_text.hpp"

TEST_CASE(amount_text_rows) {
    using limits = std::numeric_limits<double>;
    struct Row {
        const char* name;
        double amount;
        std::string text;
    };
    const Row rows[] = {
        {"10.0", 10.0, "10"},
        {"integer 10", static_cast<double>(10), "10"},
        {"19.99", 19.99, "19.99"},
        {"0.1 + 0.2", 0.1 + 0.2, "0.30000000000000004"},
        {"1e21", 1e21, "1" + std::string(21, '0')},
        {"1e22", 1e22, "1" + std::string(22, '0')},
        {"1e23", 1e23, "1" + std::string(23, '0')},
        {"1.5e-7", 1.5e-7, "0.00000015"},
        {"1e-5", 1e-5, "0.00001"},
        {"-2.5", -2.5, "-2.5"},
        {"0", 0.0, "0"},
        {"-0", -0.0, "-0"},
        {"0.5", 0.5, "0.5"},
        {"123456.789", 123456.789, "123456.789"},
        {"2^53", 9007199254740992.0, "9007199254740992"},
        {"2^53 + 2", 9007199254740994.0, "9007199254740994"},
        {"smallest subnormal", 5e-324, "0." + std::string(323, '0') + "5"},
        {"negative smallest subnormal", -5e-324, "-0." + std::string(323, '0') + "5"},
        {"smallest normal", 2.2250738585072014e-308, "0." + std::string(307, '0') + "22250738585072014"},
        {"largest", 1.7976931348623157e308, "17976931348623157" + std::string(292, '0')},
        {"negative largest", -1.7976931348623157e308, "-17976931348623157" + std::string(292, '0')},
        {"NaN", limits::quiet_NaN(), "NaN"},
        {"negative NaN", -limits::quiet_NaN(), "NaN"},
        {"signalling NaN", limits::signaling_NaN(), "NaN"},
        {"inf", limits::infinity(), "inf"},
        {"-inf", -limits::infinity(), "-inf"},
    };
    for (const Row& row : rows) {
        ROW(row.name);
        CHECK_EQ(vemrat::core::amount_text(row.amount), row.text);
        std::string appended = "amount=";
        vemrat::core::amount_text_into(appended, row.amount);
        CHECK_EQ(appended, "amount=" + row.text);
        if (std::isfinite(row.amount)) {
            double back = 0;
            const std::string& text = row.text;
            const auto result = std::from_chars(text.data(), text.data() + text.size(), back);
            CHECK(result.ec == std::errc{} && result.ptr == text.data() + text.size());
            CHECK(back == row.amount && std::signbit(back) == std::signbit(row.amount));
        }
    }
}
