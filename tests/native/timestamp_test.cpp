#include <chrono>
#include <cstdint>
#include <string>

#include "core/auth/timestamp.hpp"
#include "check.hpp"

using namespace std::chrono;

TEST_CASE(unix_seconds_rows) {
    using tp = system_clock::time_point;
    const auto at = [](auto duration) { return tp(duration_cast<system_clock::duration>(duration)); };
    struct Row {
        const char* name;
        tp time;
        bool ok;
        std::uint64_t seconds;
    };
    const Row rows[] = {
        {"the epoch", tp{}, true, 0},
        {"smallest tick after the epoch", tp(system_clock::duration(1)), true, 0},
        {"just under one second", at(nanoseconds(999'999'999)), true, 0},
        {"one second", at(seconds(1)), true, 1},
        {"a whole second", at(seconds(1'700'000'000)), true, 1'700'000'000},
        {"a whole second and a tenth", at(seconds(1'700'000'000) + milliseconds(100)), true, 1'700'000'000},
        {"a whole second and almost all of the next", at(seconds(1'700'000'000) + nanoseconds(999'999'999)), true,
         1'700'000'000},
        {"after 2038", at(seconds(4'102'444'800) + microseconds(1)), true, 4'102'444'800},
        {"smallest tick before the epoch", tp(system_clock::duration(-1)), false, 0},
        {"half a second before the epoch", at(milliseconds(-500)), false, 0},
        {"a day before the epoch", at(hours(-24)), false, 0},
    };
    for (const Row& row : rows) {
        ROW(row.name);
        const auto result = vemrat::core::unix_seconds(row.time);
        CHECK_EQ(result.has_value(), row.ok);
        if (result && row.ok) CHECK_EQ(*result, row.seconds);
        if (!result) CHECK(!result.error().empty());
    }
}

TEST_CASE(unix_timestamp_follows_the_system_clock) {
    const auto before = duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
    const auto taken = vemrat::core::unix_timestamp();
    const auto after = duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
    CHECK(taken.has_value());
    if (!taken) return;
    CHECK(static_cast<std::int64_t>(*taken) >= before);
    CHECK(static_cast<std::int64_t>(*taken) <= after);
    CHECK(after - before <= 1);
    CHECK(*taken > 1'600'000'000u);
}
