// System metrics: the timer and CPU percent with an injected clock and readings, a failed memory reading
// reported as an error, and one sample of this process from /proc.
#include <gtest/gtest.h>

#include <chrono>

#include "dashboard/ProcSelfResourceReader.hpp"
#include "dashboard/SystemMetricsService.hpp"

namespace pelko {
namespace {

using CPUTimes = ProcessResourceReading::CPUTimes;

struct FakeReader final : ProcessResourceReading {
    std::optional<std::uint64_t> resident = 157286400;
    std::optional<CPUTimes> times = CPUTimes{0, 0};
    std::optional<std::uint64_t> residentBytes() const override { return resident; }
    std::optional<CPUTimes> cpuTimes() const override { return times; }
    unsigned activeProcessorCount() const override { return 4; }
};

struct FakeTicker final : SystemMetricsTicking {
    std::chrono::milliseconds interval{0};
    std::function<void()> tick;
    void start(std::chrono::milliseconds every, std::function<void()> handler) override {
        interval = every;
        tick = std::move(handler);
    }
    void cancel() override { tick = nullptr; }
};

struct RecordingEmitter final : SystemMetricsEventEmitting {
    std::vector<SystemMetricsSnapshot> samples;
    std::vector<std::string> errors;
    void emitSystemMetrics(const SystemMetricsSnapshot& snapshot) override { samples.push_back(snapshot); }
    void emitSystemMetricsError(const std::string& message) override { errors.push_back(message); }
};

class SystemMetricsServiceTest : public ::testing::Test {
  protected:
    std::shared_ptr<FakeReader> reader = std::make_shared<FakeReader>();
    FakeTicker* ticker = new FakeTicker;  // owned by the service
    Date now = Date::fromSeconds(1'770'000'000);
    std::shared_ptr<RecordingEmitter> emitter = std::make_shared<RecordingEmitter>();
    SystemMetricsService service{5.0, reader, [this] { return now; }, std::unique_ptr<FakeTicker>(ticker)};

    void SetUp() override { service.setEventEmitter(emitter); }
    // Moves the clock by 5 s and sets the CPU reading, then fires the timer; the sample's CPU percent.
    double tickAfterFiveSeconds(std::optional<CPUTimes> times) {
        now = Date::fromMilliseconds(now.milliseconds() + 5000);
        reader->times = times;
        EXPECT_TRUE(ticker->tick);
        if (ticker->tick) ticker->tick();
        return emitter->samples.back().cpuPercent;
    }
};

TEST_F(SystemMetricsServiceTest, FirstSampleIsImmediateWithZeroCPUAndTicksEveryFiveSeconds) {
    reader->times = CPUTimes{9'000'000, 1'000'000};
    service.start();
    EXPECT_EQ(emitter->samples, (std::vector{SystemMetricsSnapshot{now, 0.0, 150.0}}));
    EXPECT_EQ(ticker->interval, std::chrono::milliseconds(5000));
    // 1.5 s of user and 0.5 s of system time over 5 s: 40 %.
    EXPECT_DOUBLE_EQ(tickAfterFiveSeconds(CPUTimes{10'500'000, 1'500'000}), 40.0);
    // A restart forgets the previous sample (else 5 s of CPU in 5 s would read 100 %); stop ends the ticks.
    now = Date::fromMilliseconds(now.milliseconds() + 5000);
    reader->times = CPUTimes{15'500'000, 1'500'000};
    service.start();
    EXPECT_TRUE(ticker->tick);
    EXPECT_DOUBLE_EQ(emitter->samples.back().cpuPercent, 0.0);
    service.stop();
    EXPECT_FALSE(ticker->tick);
}

TEST_F(SystemMetricsServiceTest, CPUPercentIsCappedNeverNegativeAndSkipsFailedReadings) {
    reader->times = CPUTimes{50'000'000, 50'000'000};
    service.start();
    std::vector<double> percents;
    for (auto times : std::vector<std::optional<CPUTimes>>{
             CPUTimes{70'000'000, 60'000'000},    // 30 s in 5 s is 600 %; four processors allow 400
             CPUTimes{1'000'000, 60'000'000},     // threads that ended made the sums smaller: 0, no wrap
             std::nullopt,                        // a failed reading: 0, and the previous sample stays
             CPUTimes{2'000'000, 61'000'000}}) {  // 2 s over the 10 s since the smaller reading
        percents.push_back(tickAfterFiveSeconds(times));
    }
    EXPECT_EQ(percents, (std::vector<double>{400, 0, 0, 20}));
}

TEST_F(SystemMetricsServiceTest, FailedMemoryReadingIsReportedNotInvented) {
    reader->resident.reset();
    service.start();
    ticker->tick();
    EXPECT_TRUE(emitter->samples.empty());
    EXPECT_EQ(emitter->errors, std::vector<std::string>(2, "Failed to collect system metrics"));
}

TEST(ProcSelfResourceReaderTest, RealProcessSampleIsPlausible) {
    SystemMetricsService service;
    auto emitter = std::make_shared<RecordingEmitter>();
    service.setEventEmitter(emitter);
    service.start();
    ASSERT_EQ(emitter->samples.size(), 1u);
    EXPECT_GT(emitter->samples[0].memoryMB, 1.0);
    EXPECT_LT(emitter->samples[0].memoryMB, 1024.0 * 1024.0);
    EXPECT_TRUE(ProcSelfResourceReader().cpuTimes());
}

}  // namespace
}  // namespace pelko
